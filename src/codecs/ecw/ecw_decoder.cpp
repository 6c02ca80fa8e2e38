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

// One decode: the library's view of the file and the working arrays. Going out of scope
// closes the view, so that a refusal or a memory failure leaves no open view behind; the
// result of closing is not an error: by then the picture has been read or the load has
// already failed.
struct EcwDecode {
  const EcwLibrary* lib = nullptr;
  void* view = nullptr;
  uint32_t* band_list = nullptr;
  uint8_t** lines = nullptr;
  EcwDecode() = default;
  EcwDecode(const EcwDecode&) = delete;
  EcwDecode& operator=(const EcwDecode&) = delete;
  ~EcwDecode() {
    if (view != nullptr) lib->close_view(view, 1);
    mem_free(&band_list);
    mem_free(&lines);
  }
};

// Sets the error of a failed step unless an earlier one is already set.
void fail(int32_t error) {
  if (g_error == 0) g_error = error;
}

}  // namespace

void decode_ecw(ImageRecord* image, Handle group) {
  EcwDecode d;
  d.lib = ecw_library();
  if (d.lib == nullptr) return;  // g_error 7 and the log line come from the loader

  void* view = nullptr;
  if (d.lib->open_view(image->name, &view, nullptr) != 0 || view == nullptr) {
    g_error = ERR_LOADING;
    return;
  }
  d.view = view;

  void* info = nullptr;
  if (d.lib->get_file_info(d.view, &info) != 0 || info == nullptr) return fail(ERR_LOADING);
  // The information starts with a 32-bit width, a 32-bit height and a 16-bit band count.
  uint32_t width, height;
  uint16_t bands;
  std::memcpy(&width, static_cast<const uint8_t*>(info), 4);
  std::memcpy(&height, static_cast<const uint8_t*>(info) + 4, 4);
  std::memcpy(&bands, static_cast<const uint8_t*>(info) + 8, 2);
  if (bands == 0 || bands > kMaxBands || width == 0 || height == 0) return fail(ERR_LOADING);
  // Rows are padded to 4 bytes and the record's sizes are signed 32-bit numbers.
  if (width > uint32_t{INT32_MAX} - 3 || height > uint32_t{INT32_MAX}) return fail(ERR_MEMORY);

  image->description = DESC_ECW;
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(height);
  image->planes = bands;
  image->pixel_bytes = 1;
  image->bits = 8;
  if (mem_alloc(&d.band_list, sizeof(uint32_t) * bands) == nullptr) return fail(ERR_MEMORY);
  for (uint32_t b = 0; b < bands; ++b) d.band_list[b] = b;

  if (d.lib->set_view(d.view, bands, d.band_list, 0, 0, width - 1, height - 1, width, height) != 0)
    return fail(ERR_LOADING);

  image->row_bytes = static_cast<int32_t>((width + 3) & ~uint32_t{3});
  // One plane must already fit in 32 bits; checking it first keeps the size product of all
  // planes well inside 64 bits.
  if (uint64_t{uint32_t(image->row_bytes)} * height > UINT32_MAX) return fail(ERR_MEMORY);
  if (!image_set_pixel_size(image, bands)) return fail(ERR_MEMORY);
  image_alloc_pixels(image, group);
  if (g_error != 0) return;

  if (mem_alloc(&d.lines, sizeof(uint8_t*) * bands) == nullptr) return fail(ERR_MEMORY);
  if (bands == 1) palette_set_identity(image);

  // Band b lands in plane b; the pointers are set afresh for every row so that nothing the
  // library does to the array can move a write outside the pixel block.
  const size_t row_bytes = static_cast<size_t>(image->row_bytes);
  const size_t plane_bytes = row_bytes * height;
  const size_t padding = row_bytes - width;
  for (uint32_t row = 0; row < height; ++row) {
    uint8_t* start = image->pixels + row * row_bytes;
    for (uint32_t b = 0; b < bands; ++b) d.lines[b] = start + b * plane_bytes;
    if (d.lib->read_line(d.view, d.lines) != 0) return fail(ERR_LOADING);
    // The library writes `width` samples per band; the padding is cleared so exports are stable.
    if (padding != 0)
      for (uint32_t b = 0; b < bands; ++b) std::memset(start + b * plane_bytes + width, 0, padding);
  }
}
