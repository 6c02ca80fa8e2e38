/* Shared by the stand-in ECW library and the tests that read through it: the layout of the
   little files it serves and the synthetic samples it returns. */
#ifndef NCS_ECW_STANDIN_H
#define NCS_ECW_STANDIN_H
#include <stdint.h>

/* A stand-in file, little-endian:
     0  65 02 01        the ECW magic
     3  u8  fail_call   0 none, else the call that refuses (STANDIN_CALL_OPEN to _CLOSE)
     4  u32 width       what the file information reports
     8  u32 height
    12  u16 bands
    14  u32 fail_row    with STANDIN_CALL_READ: the row whose read fails
    18  u8  seed        shifts the samples
    19  u8  flags       STANDIN_NULL_* below
   Shorter files, or files without the magic, are refused by the open call. */
enum {
  STANDIN_HEADER_SIZE = 20,
  STANDIN_NULL_INFO = 1, /* the information call succeeds but gives no information */
  STANDIN_NULL_VIEW = 2  /* the open call succeeds but gives no view */
};

/* The five calls, as the file's fail_call names them and as indexes of ncs_standin_calls. */
enum {
  STANDIN_CALL_OPEN = 1,
  STANDIN_CALL_INFO = 2,
  STANDIN_CALL_SET_VIEW = 3,
  STANDIN_CALL_READ = 4,
  STANDIN_CALL_CLOSE = 5,
  STANDIN_CALL_BAD_ARGUMENTS = 6 /* calls refused because of unexpected arguments */
};

static inline uint8_t standin_sample(uint32_t band, uint32_t x, uint32_t y, uint8_t seed) {
  return (uint8_t)(x * 5u + y * 11u + band * 83u + seed + ((x * y) >> 3));
}

#endif
