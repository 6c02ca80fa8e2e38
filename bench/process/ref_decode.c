/* The reference side of the whole-process benchmark: decodes one file completely into memory
 * with the reference library for its format, as a minimal viewer would, and prints its size.
 * Usage: ref_decode FILE (the format is taken from the extension). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNM
#include <stb/stb_image.h>

static int ends_with(const char *s, const char *suffix) {
  size_t n = strlen(s), m = strlen(suffix);
  return n >= m && strcmp(s + n - m, suffix) == 0;
}

static int decode_jpeg(const char *path) {
  FILE *f = fopen(path, "rb");
  if (!f) return 1;
  struct jpeg_decompress_struct cinfo;
  struct jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  size_t stride = (size_t)cinfo.output_width * cinfo.output_components;
  unsigned char *pixels = malloc(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  printf("%ux%u\n", cinfo.output_width, cinfo.output_height);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  free(pixels);
  fclose(f);
  return 0;
}

static int decode_png(const char *path) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) return 1;
  /* Palette pictures stay indexed, as a viewer with a palette display would keep them. */
  if (image.format & PNG_FORMAT_FLAG_COLORMAP) image.format = PNG_FORMAT_RGB_COLORMAP;
  unsigned char *pixels = malloc(PNG_IMAGE_SIZE(image));
  unsigned char colormap[256 * 4];
  if (!png_image_finish_read(&image, NULL, pixels, 0, colormap)) return 1;
  printf("%ux%u\n", image.width, image.height);
  free(pixels);
  return 0;
}

static int decode_gif(const char *path) {
  int error = 0;
  GifFileType *gif = DGifOpenFileName(path, &error);
  if (!gif || DGifSlurp(gif) != GIF_OK) return 1;
  printf("%dx%d\n", gif->SWidth, gif->SHeight);
  DGifCloseFile(gif, &error);
  return 0;
}

static int decode_tiff(const char *path) {
  TIFF *tif = TIFFOpen(path, "r");
  if (!tif) return 1;
  tmsize_t strip_size = TIFFStripSize(tif);
  uint32_t strips = TIFFNumberOfStrips(tif);
  unsigned char *pixels = malloc((size_t)strip_size * strips);
  for (uint32_t s = 0; s < strips; ++s)
    if (TIFFReadEncodedStrip(tif, s, pixels + (size_t)s * strip_size, strip_size) < 0) return 1;
  uint32_t w = 0, h = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  printf("%ux%u\n", w, h);
  free(pixels);
  TIFFClose(tif);
  return 0;
}

static int decode_pnm(const char *path) {
  int w, h, n;
  unsigned char *pixels = stbi_load(path, &w, &h, &n, 0);
  if (!pixels) return 1;
  printf("%dx%d\n", w, h);
  stbi_image_free(pixels);
  return 0;
}

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  const char *path = argv[1];
  if (ends_with(path, ".jpg")) return decode_jpeg(path);
  if (ends_with(path, ".png")) return decode_png(path);
  if (ends_with(path, ".gif")) return decode_gif(path);
  if (ends_with(path, ".tif")) return decode_tiff(path);
  if (ends_with(path, ".ppm") || ends_with(path, ".pgm")) return decode_pnm(path);
  return 2;
}
