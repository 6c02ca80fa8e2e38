#include "codecs/decoders.h"
#include "core/errors.h"

// Not written yet: the format is refused as unknown.
void decode_bmp(ImageRecord*, Handle) { g_error = ERR_UNKNOWN_FORMAT; }
