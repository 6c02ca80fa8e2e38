// ECW pictures are decoded by the vendor's library: open a view on the file, ask for its size
// and band count, set a view of every band over the whole picture at full size, and read it
// row by row into one 8-bit plane per band.
#include <cstdint>
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/ecw/ecw_library.h"
#include "core/errors.h"
#include "core/memory.h"
#include "image/image.h"

namespace {

// More bands than this is not a picture we can show; the library's answer is refused.
constexpr uint32_t kMaxBands = 256;

// Working state of the one file being decoded.
const EcwLibrary* g_lib = nullptr;
void* g_view = nullptr;
uint32_t* g_band_list = nullptr;
uint8_t** g_lines = nullptr;

// Releases the view and the working arrays; every exit of the decoder goes through here so
// that a refusal or a memory failure leaves no open view behind. The result of closing is
// not an error: by then the picture has been read or the load has already failed.
void finish(int32_t error) {
  if (g_view != nullptr) {
    g_lib->close_view(g_view, 1);
    g_view = nullptr;
  }
  mem_free(&g_band_list);
  mem_free(&g_lines);
  if (error != 0 && g_error == 0) g_error = error;
}

}  // namespace

void decode_ecw(ImageRecord* image, Handle group) {
  g_lib = ecw_library();
  if (g_lib == nullptr) return;  // g_error 7 and the log line come from the loader

  void* view = nullptr;
  if (g_lib->open_view(image->name, &view, nullptr) != 0 || view == nullptr) {
    g_error = ERR_LOADING;
    return;
  }
  g_view = view;

  void* info = nullptr;
  if (g_lib->get_file_info(g_view, &info) != 0 || info == nullptr) return finish(ERR_LOADING);
  // The information starts with a 32-bit width, a 32-bit height and a 16-bit band count.
  uint32_t width, height;
  uint16_t bands;
  std::memcpy(&width, static_cast<const uint8_t*>(info), 4);
  std::memcpy(&height, static_cast<const uint8_t*>(info) + 4, 4);
  std::memcpy(&bands, static_cast<const uint8_t*>(info) + 8, 2);
  if (bands == 0 || bands > kMaxBands || width == 0 || height == 0) return finish(ERR_LOADING);
  // Rows are padded to 4 bytes and the record's sizes are signed 32-bit numbers.
  if (width > uint32_t{INT32_MAX} - 3 || height > uint32_t{INT32_MAX}) return finish(ERR_MEMORY);

  image->description = DESC_ECW;
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(height);
  image->planes = bands;
  image->pixel_bytes = 1;
  image->bits = 8;
  if (mem_alloc(&g_band_list, sizeof(uint32_t) * bands) == nullptr) return finish(ERR_MEMORY);
  for (uint32_t b = 0; b < bands; ++b) g_band_list[b] = b;

  if (g_lib->set_view(g_view, bands, g_band_list, 0, 0, width - 1, height - 1, width, height) != 0)
    return finish(ERR_LOADING);

  image->row_bytes = static_cast<int32_t>((width + 3) & ~uint32_t{3});
  // One plane must already fit in 32 bits; checking it first keeps the size product of all
  // planes well inside 64 bits.
  if (uint64_t{uint32_t(image->row_bytes)} * height > UINT32_MAX) return finish(ERR_MEMORY);
  if (!image_set_pixel_size(image, bands)) return finish(ERR_MEMORY);
  image_alloc_pixels(image, group);
  if (g_error != 0) return finish(0);

  if (mem_alloc(&g_lines, sizeof(uint8_t*) * bands) == nullptr) return finish(ERR_MEMORY);
  if (bands == 1) palette_set_identity(image);

  // Band b lands in plane b; the pointers are set afresh for every row so that nothing the
  // library does to the array can move a write outside the pixel block.
  const size_t row_bytes = static_cast<size_t>(image->row_bytes);
  const size_t plane_bytes = row_bytes * height;
  const size_t padding = row_bytes - width;
  for (uint32_t row = 0; row < height; ++row) {
    uint8_t* start = image->pixels + row * row_bytes;
    for (uint32_t b = 0; b < bands; ++b) g_lines[b] = start + b * plane_bytes;
    if (g_lib->read_line(g_view, g_lines) != 0) return finish(ERR_LOADING);
    // The library writes `width` samples per band; the padding is cleared so exports are stable.
    if (padding != 0)
      for (uint32_t b = 0; b < bands; ++b) std::memset(start + b * plane_bytes + width, 0, padding);
  }
  finish(0);
}
