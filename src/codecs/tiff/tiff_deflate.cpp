// TIFF Deflate (Adobe and the older code alike): each strip or tile is one zlib stream.
#include "codecs/png/inflate.h"
#include "codecs/tiff/tiff_internal.h"
#include "core/errors.h"

void tiff_strip_deflate(TiffState& tiff, const TiffChunk& chunk, const TiffRows& rows) {
  const int64_t capacity = rows.bytes_per_row * rows.coded_rows;
  uint8_t* out = tiff.tile_buffer(capacity + 16);
  if (out == nullptr) return;
  const size_t produced = inflate_zlib(chunk.data, static_cast<size_t>(chunk.size), out, static_cast<size_t>(capacity));
  if (g_error != 0) return;
  tiff_land_output(tiff, out, static_cast<int64_t>(produced), rows);
}
