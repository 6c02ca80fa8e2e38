#include "codecs/gif/gif_test_util.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "codecs/raster_test_support.h"
#include "core/group.h"
#include "support/test_support.h"

namespace gif_test {

std::vector<int> lzw_encode(const std::vector<uint8_t>& pixels, int minimum_size,
                            bool clear_when_full) {
  const int clear = 1 << minimum_size, end = clear + 1;
  std::vector<int> codes{clear};
  std::unordered_map<uint32_t, int> table;
  int next = end + 1;
  int prefix = -1;
  for (uint8_t b : pixels) {
    if (prefix < 0) {
      prefix = b;
      continue;
    }
    uint32_t key = uint32_t(prefix) << 8 | b;
    auto found = table.find(key);
    if (found != table.end()) {
      prefix = found->second;
      continue;
    }
    codes.push_back(prefix);
    if (next < 4096) {
      table[key] = next++;
    } else if (clear_when_full) {
      codes.push_back(clear);
      table.clear();
      next = end + 1;
    }
    prefix = b;
  }
  if (prefix >= 0) codes.push_back(prefix);
  codes.push_back(end);
  return codes;
}

std::vector<uint8_t> sub_blocks(const std::vector<uint8_t>& data, const std::vector<int>& sizes) {
  std::vector<uint8_t> out;
  for (size_t at = 0, turn = 0; at < data.size();) {
    size_t n = sizes.empty() ? 255 : size_t(sizes[turn++ % sizes.size()]);
    if (n > data.size() - at) n = data.size() - at;
    out.push_back(uint8_t(n));
    out.insert(out.end(), data.begin() + long(at), data.begin() + long(at + n));
    at += n;
  }
  return out;
}

Builder& Builder::screen(int width, int height, int bits, const std::vector<uint8_t>& palette,
                         const char* version) {
  const uint32_t flags = (palette.empty() ? 0 : 0x80) | ((bits - 1) & 7);
  bytes.clear();
  // The background index and the aspect ratio are 0.
  raw(Bytes("GIF").text(version).u16le(width).u16le(height).u8(flags).u16le(0).data);
  return raw(palette);
}

Builder& Builder::control(int disposal, bool transparent, int index, int delay, bool user) {
  const uint32_t flags = (disposal & 7) << 2 | (user ? 2 : 0) | (transparent ? 1 : 0);
  return raw(Bytes().raw({0x21, 0xF9, 4}).u8(flags).u16le(delay).u8(index).u8(0).data);
}

Builder& Builder::loops(int count) {
  return raw(Bytes().raw({0x21, 0xFF, 11}).text("NETSCAPE2.0").raw({3, 1}).u16le(count).u8(0).data);
}

Builder& Builder::comment(const std::string& text) {
  return raw(Bytes().raw({0x21, 0xFE, uint8_t(text.size())}).text(text).u8(0).data);
}

Builder& Builder::image(int left, int top, int width, int height,
                        const std::vector<uint8_t>& data, int minimum_size,
                        const std::vector<int>& block_sizes, bool interlaced,
                        const std::vector<uint8_t>& local_palette, int local_bits,
                        bool terminator) {
  uint8_t packed = interlaced ? 0x40 : 0;
  if (!local_palette.empty()) packed |= uint8_t(0x80 | ((local_bits - 1) & 7));
  raw(Bytes().u8(0x2C).u16le(left).u16le(top).u16le(width).u16le(height).u8(packed).data);
  raw(local_palette);
  bytes.push_back(uint8_t(minimum_size));
  raw(sub_blocks(data, block_sizes));
  if (terminator) bytes.push_back(0);
  return *this;
}

Builder& Builder::pixels(int left, int top, int width, int height,
                         const std::vector<uint8_t>& indexes, int minimum_size, bool interlaced,
                         const std::vector<uint8_t>& local_palette, int local_bits) {
  return image(left, top, width, height, pack_codes(minimum_size, lzw_encode(indexes, minimum_size)),
               minimum_size, {}, interlaced, local_palette, local_bits);
}

Builder& Builder::raw(const std::vector<uint8_t>& more) {
  bytes.insert(bytes.end(), more.begin(), more.end());
  return *this;
}

Builder& Builder::trailer() {
  bytes.push_back(0x3B);
  return *this;
}

std::vector<uint8_t> test_palette(int count) {
  Bytes p;
  for (int i = 0; i < count; ++i) p.u8(i * 3).u8(i * 5).u8(i * 7);
  return p.data;
}

namespace {

void copy_palette(const ColorMapObject* map, uint8_t* palette) {
  for (int i = 0; i < map->ColorCount && i < 256; ++i) {
    palette[3 * i] = map->Colors[i].Red;
    palette[3 * i + 1] = map->Colors[i].Green;
    palette[3 * i + 2] = map->Colors[i].Blue;
  }
}

uint32_t rgb_of(const uint8_t* palette, int index) {
  return uint32_t(palette[3 * index]) << 16 | uint32_t(palette[3 * index + 1]) << 8 |
         palette[3 * index + 2];
}

// Frames composed from giflib's decoding: every frame a full picture in 0x00RRGGBB.
struct ReferenceFrame {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> rgb;
  bool has_control = false;
  int disposal = 0;
  int delay = 0;
  bool user_input = false;
};

bool giflib_reference(const std::vector<uint8_t>& file, std::vector<ReferenceFrame>* frames) {
  if (file.size() < 13) return false;
  int error = 0;
  GifFileType* gif = DGifOpenFileName(write_temp_file("giflib.gif", file).c_str(), &error);
  if (gif == nullptr) return false;
  if (DGifSlurp(gif) != GIF_OK) {
    DGifCloseFile(gif, &error);
    return false;
  }
  // The global palette with the background made its white entry.
  const int bits = (file[10] & 7) + 1;
  int count = 1 << bits;
  uint8_t global[3 * 256] = {};
  if (gif->SColorMap != nullptr) copy_palette(gif->SColorMap, global);
  int background = -1, nearest = 0, best = 1 << 20;
  for (int i = 0; i < count && background < 0; ++i) {
    int dr = 255 - global[3 * i], dg = 255 - global[3 * i + 1], db = 255 - global[3 * i + 2];
    int d = dr * dr + dg * dg + db * db;
    if (d == 0) background = i;
    if (d < best) best = d, nearest = i;
  }
  if (background < 0 && count == 256) background = nearest;
  if (background < 0) background = count, std::memset(global + 3 * count, 255, 3);

  // Pictures are composed in colours: each frame is drawn with its own palette over the
  // colours of the picture it starts from.
  const uint32_t background_rgb = rgb_of(global, background);
  int width = gif->SWidth, height = gif->SHeight;
  std::vector<uint32_t> picture;
  int disposal_state = 0, control_disposal = 0;
  bool any_control = false, transparent = false;
  int transparent_index = 0;
  frames->clear();
  for (int n = 0; n < gif->ImageCount; ++n) {
    const SavedImage& image = gif->SavedImages[n];
    const GifImageDesc& d = image.ImageDesc;
    ReferenceFrame frame;
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(gif, n, &gcb) == GIF_OK) {
      any_control = true;
      frame.has_control = true;
      control_disposal = gcb.DisposalMode;
      transparent = gcb.TransparentColor != NO_TRANSPARENT_COLOR;
      if (transparent) transparent_index = gcb.TransparentColor;
      frame.disposal = gcb.DisposalMode;
      frame.delay = gcb.DelayTime;
      frame.user_input = gcb.UserInputFlag;
    }
    uint8_t palette[3 * 256] = {};
    if (d.ColorMap != nullptr)
      copy_palette(d.ColorMap, palette);
    else
      std::memcpy(palette, global, sizeof palette);
    int new_width = std::max(width, d.Width), new_height = std::max(height, d.Height);
    bool enlarged = new_width != width || new_height != height;
    width = new_width;
    height = new_height;
    if (picture.empty() || enlarged || disposal_state == 2)
      picture.assign(size_t(width) * height, background_rgb);
    for (int r = 0; r < d.Height; ++r)
      for (int c = 0; c < d.Width; ++c) {
        int row = d.Top + r, col = d.Left + c;
        if (row >= height || col >= width) continue;
        uint8_t v = image.RasterBits[size_t(r) * d.Width + c];
        if (transparent && v == transparent_index) continue;
        picture[size_t(row) * width + col] = rgb_of(palette, v);
      }
    frame.width = width;
    frame.height = height;
    frame.rgb = picture;
    frames->push_back(frame);
    if (any_control) disposal_state = control_disposal;
  }
  DGifCloseFile(gif, &error);
  return true;
}

std::string compare_loaded(const std::vector<uint8_t>& file, const LoadResult& loaded) {
  std::vector<ReferenceFrame> reference;
  if (!giflib_reference(file, &reference)) return "giflib cannot read the file";
  if (loaded.error != 0) return "load error " + std::to_string(loaded.error);
  if (loaded.images.size() != reference.size())
    return "frames " + std::to_string(loaded.images.size()) + " instead of " +
           std::to_string(reference.size());
  for (size_t n = 0; n < reference.size(); ++n) {
    const ImageRecord* image = loaded.images[n];
    const ReferenceFrame& want = reference[n];
    std::string at = "frame " + std::to_string(n) + ": ";
    if (image->width != want.width || image->height != want.height)
      return at + "size " + std::to_string(image->width) + "x" + std::to_string(image->height);
    const std::vector<uint32_t> got = image_rgb(image);
    const size_t i = std::mismatch(got.begin(), got.end(), want.rgb.begin()).first - got.begin();
    if (i < got.size())
      return at + "pixel (" + std::to_string(i % want.width) + ", " + std::to_string(i / want.width) + ") differs";
  }
  // One control per frame that has an extension, in file order, with that extension's
  // fields; it names the last image before the next extension.
  const std::vector<FrameControl*> controls = frame_controls(loaded.group);
  size_t next_control = 0;
  for (size_t n = 0; n < reference.size(); ++n) {
    const ReferenceFrame& want = reference[n];
    if (!want.has_control) continue;
    std::string at = "frame " + std::to_string(n) + ": ";
    if (next_control >= controls.size()) return at + "no frame control";
    const FrameControl* found = controls[next_control++];
    size_t last = n;
    while (last + 1 < reference.size() && !reference[last + 1].has_control) ++last;
    if (found->image != loaded.images[last]->handle) return at + "control names another image";
    if (found->disposal != want.disposal || found->delay != want.delay ||
        (found->user_input != 0) != want.user_input)
      return at + "frame control fields differ";
  }
  return "";
}

}  // namespace

std::string compare_with_giflib(const std::vector<uint8_t>& file) {
  LoadResult loaded = load_bytes("compared.gif", file);
  std::string result = compare_loaded(file, loaded);
  group_destroy_members(loaded.group);  // leaves no image to the caller's counts
  group_destroy(loaded.group);
  return result;
}

}  // namespace gif_test
