// The decoders, one per format, called by the load dispatch. Each reads its file through the
// input stream, fills the image record (and may add further images to the group), and on
// failure sets g_error and returns; the dispatcher then destroys what was made.
#pragma once
#include <cstdint>

#include "core/registry.h"

struct ImageRecord;

void decode_bmp(ImageRecord* image, Handle group);
void decode_jpeg(ImageRecord* image, Handle group);
// A JPEG stream held in memory (TIFF strips and tiles) into `image`, which belongs to no
// group; with `ycbcr` false the components are kept as they stand (R, G, B or C, M, Y, K).
void decode_jpeg_memory(ImageRecord* image, const uint8_t* data, int64_t size, bool ycbcr);
void decode_gif(ImageRecord** image, Handle group);  // may leave *image null
void decode_tiff(ImageRecord* image, Handle group);
void decode_png(ImageRecord* image, Handle group);
void decode_xpm(ImageRecord* image, Handle group);
void decode_pnm(ImageRecord* image, int32_t description, Handle group);
void decode_pcx(ImageRecord* image, Handle group);
void decode_sun(ImageRecord* image, Handle group);
void decode_targa(ImageRecord* image, Handle group);
void decode_ecw(ImageRecord* image, Handle group);
