// TIFF JPEG (Compression 7): each strip or tile is a JPEG stream; the tables it shares with
// the others stand once in the directory. The JPEG decoder turns it into planes, which are
// interleaved again and landed like uncompressed rows.
#include <cstring>

#include "codecs/decoders.h"
#include "codecs/tiff/tiff_internal.h"
#include "core/errors.h"
#include "image/image.h"

namespace {

bool starts_with_marker(const uint8_t* data, int64_t size, uint8_t marker) {
  return size >= 2 && data[0] == 0xFF && data[1] == marker;
}

// The tables without their end of image, then the strip without its start of image.
const uint8_t* joined_stream(TiffState& tiff, const TiffChunk& chunk, int64_t* size) {
  if (tiff.jpeg_tables_size == 0) {
    *size = chunk.size;
    return chunk.data;
  }
  TiffChunk tables;
  if (!tiff_file_block(tiff, tiff.jpeg_tables_offset, tiff.jpeg_tables_size, &tables)) return nullptr;
  int64_t head = tables.size;
  if (head >= 2 && tables.data[head - 2] == 0xFF && tables.data[head - 1] == 0xD9) head -= 2;
  const int64_t skip = starts_with_marker(chunk.data, chunk.size, 0xD8) ? 2 : 0;
  *size = head + chunk.size - skip;
  uint8_t* out = tiff.tile_buffer(*size);
  if (out == nullptr) return nullptr;
  std::memcpy(out, tables.data, static_cast<size_t>(head));
  std::memcpy(out + head, chunk.data + skip, static_cast<size_t>(chunk.size - skip));
  return out;
}

// True when the frame header, found by walking the marker segments, describes a picture no
// larger than the strip or tile: a larger one would only cost memory and time.
bool frame_fits(const uint8_t* data, int64_t size, int64_t width, int64_t height) {
  int64_t at = 2;
  while (at + 4 <= size && data[at] == 0xFF) {
    const uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    const int64_t length = data[at + 2] << 8 | data[at + 3];
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (at + 9 > size) return false;
      return (data[at + 5] << 8 | data[at + 6]) <= height && (data[at + 7] << 8 | data[at + 8]) <= width;
    }
    at += 2 + length;
  }
  return true;  // no frame header: the decoder says what is wrong
}

}  // namespace

void tiff_strip_jpeg(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows) {
  int64_t size;
  const uint8_t* stream = joined_stream(tiff, chunk, &size);
  if (stream == nullptr) return;
  if (!starts_with_marker(stream, size, 0xD8) || !frame_fits(stream, size, rows.row_pixels, tiff.rows_per_strip)) {
    g_error = ERR_INVALID_FILE;
    return;
  }
  Handle handle;
  ImageRecord* part = image_create_like(tiff.image, &handle);
  if (part == nullptr) return;
  // YCbCr data are turned into RGB by the JPEG decoder; RGB, grey and CMYK come as stored.
  decode_jpeg_memory(part, stream, size, tiff.colour_model == kYcbcrModel);
  const int32_t samples = static_cast<int32_t>(rows.bytes_per_row / rows.row_pixels);
  if (g_error == 0 && part->planes != samples) g_error = ERR_INVALID_FILE;
  uint8_t* row = g_error == 0 ? tiff.buffer(kCodedRowBuffer, rows.bytes_per_row) : nullptr;
  if (row != nullptr) {
    // Interleave the planes; columns and rows the JPEG picture does not cover read as 0.
    const int64_t plane_size = int64_t{part->row_bytes} * part->height;
    const int32_t width = part->width < rows.row_pixels ? part->width : rows.row_pixels;
    std::memset(row, 0, static_cast<size_t>(rows.bytes_per_row));
    for (int32_t r = 0; r < rows.coded_rows && r < part->height; ++r) {
      for (int32_t c = 0; c < samples; ++c) {
        const uint8_t* from = part->pixels + c * plane_size + int64_t{r} * part->row_bytes;
        for (int32_t x = 0; x < width; ++x) row[int64_t{x} * samples + c] = from[x];
      }
      tiff_land_row(tiff, row, r, false);
    }
  }
  const int32_t error = g_error;
  g_error = 0;
  image_destroy(handle);
  if (error != 0) g_error = error;
}
