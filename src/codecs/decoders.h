// The decoders, one per format, called by the load dispatch. Each reads the file's bytes
// through the reader it is given, fills the image record (and may add further images to the
// group), and on failure sets g_error and returns; the dispatcher then destroys what was made.
// Nothing a decode uses outlives the call.
#pragma once
#include <cstdint>

#include "core/registry.h"
#include "io/byte_reader.h"

struct ImageRecord;

void decode_bmp(ImageRecord* image, Handle group, ByteReader& in);
void decode_jpeg(ImageRecord* image, Handle group, ByteReader& in);
// A JPEG stream held in memory (TIFF strips and tiles) into `image`, which belongs to no
// group; with `ycbcr` false the components are kept as they stand (R, G, B or C, M, Y, K).
void decode_jpeg_memory(ImageRecord* image, const uint8_t* data, int64_t size, bool ycbcr);
void decode_gif(ImageRecord** image, Handle group, ByteReader& in);  // may leave *image null
void decode_tiff(ImageRecord* image, Handle group, ByteReader& in);
void decode_png(ImageRecord* image, Handle group, ByteReader& in);
void decode_xpm(ImageRecord* image, Handle group, ByteReader& in);
void decode_pnm(ImageRecord* image, int32_t description, Handle group, ByteReader& in);
void decode_pcx(ImageRecord* image, Handle group, ByteReader& in);
void decode_sun(ImageRecord* image, Handle group, ByteReader& in);
void decode_targa(ImageRecord* image, Handle group, ByteReader& in);
// The vendor library reads the file itself, by the record's name.
void decode_ecw(ImageRecord* image, Handle group);
