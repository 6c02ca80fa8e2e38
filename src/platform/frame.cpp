#include "platform/frame.h"

#include <algorithm>
#include <cstring>

namespace {

PlatformRect bounds(const PlatformRect& a, const PlatformRect& b) {
  return PlatformRect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                      std::max(a.bottom, b.bottom)};
}

int64_t area(const PlatformRect& r) { return int64_t{r.right - r.left} * (r.bottom - r.top); }

// A list longer than this becomes its bounding rectangle: painting a little more beats
// tracking many pieces.
constexpr size_t kMaxRects = 32;

}  // namespace

void Frame::resize(int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
  const int32_t keep = std::min(width, width_);
  for (int32_t y = 0; keep > 0 && y < std::min(height, height_); ++y)
    std::memcpy(pixels.data() + static_cast<size_t>(y) * width, pixels_.data() + static_cast<size_t>(y) * width_,
                sizeof(uint32_t) * keep);
  pixels_.swap(pixels);
  width_ = width;
  height_ = height;
  reset_clip();
  const PlatformRect all{0, 0, width_, height_};
  for (auto* list : {&dirty_, &update_}) {
    for (PlatformRect& r : *list) r = platform_rect_intersect(r, all);
    std::erase_if(*list, platform_rect_empty);
  }
}

void Frame::set_clip(const PlatformRect& rect) {
  clip_ = platform_rect_intersect(rect, PlatformRect{0, 0, width_, height_});
}

void Frame::reset_clip() { clip_ = PlatformRect{0, 0, width_, height_}; }

void Frame::clear(uint32_t colour) { std::fill(pixels_.begin(), pixels_.end(), colour); }

int64_t Frame::fill(const PlatformRect& rect, uint32_t colour) {
  const PlatformRect r = platform_rect_intersect(rect, clip_);
  if (platform_rect_empty(r)) return 0;
  for (int32_t y = r.top; y < r.bottom; ++y)
    std::fill_n(&pixels_[static_cast<size_t>(y) * width_ + r.left], r.right - r.left, colour);
  mark_dirty(r);
  return area(r);
}

int64_t Frame::blit(int32_t x, int32_t y, int32_t width, int32_t height, int32_t stride,
                    const uint32_t* pixels) {
  if (pixels == nullptr || width <= 0 || height <= 0) return 0;
  const PlatformRect r = platform_rect_intersect(PlatformRect{x, y, x + width, y + height}, clip_);
  if (platform_rect_empty(r)) return 0;
  for (int32_t row = r.top; row < r.bottom; ++row)
    std::memcpy(&pixels_[static_cast<size_t>(row) * width_ + r.left],
                pixels + static_cast<size_t>(row - y) * stride + (r.left - x),
                sizeof(uint32_t) * (r.right - r.left));
  mark_dirty(r);
  return area(r);
}

void Frame::scroll(int32_t dx, int32_t dy, std::vector<PlatformRect>* uncovered) {
  uncovered->clear();
  const int32_t W = width_, H = height_;
  if (W == 0 || H == 0 || (dx == 0 && dy == 0)) return;
  const PlatformRect all{0, 0, W, H};
  if (dx >= W || -dx >= W || dy >= H || -dy >= H) {
    std::fill(pixels_.begin(), pixels_.end(), 0);
    uncovered->push_back(all);
    update_.clear();
    mark_dirty(all);
    return;
  }
  // Rows move in place, in the order that never overwrites a row still to be read.
  const int32_t x0 = std::max(0, dx), x1 = std::min(W, W + dx), span = x1 - x0;
  auto move_row = [&](int32_t y) {
    uint32_t* row = &pixels_[static_cast<size_t>(y) * W];
    const uint32_t* from = &pixels_[static_cast<size_t>(y - dy) * W];
    std::memmove(row + x0, from + (x0 - dx), sizeof(uint32_t) * span);
  };
  if (dy > 0)
    for (int32_t y = H - 1; y >= dy; --y) move_row(y);
  else
    for (int32_t y = 0; y < H + dy; ++y) move_row(y);
  if (dy > 0) uncovered->push_back(PlatformRect{0, 0, W, dy});
  if (dy < 0) uncovered->push_back(PlatformRect{0, H + dy, W, H});
  const int32_t top = std::max(0, dy), bottom = std::min(H, H + dy);
  if (dx > 0) uncovered->push_back(PlatformRect{0, top, dx, bottom});
  if (dx < 0) uncovered->push_back(PlatformRect{W + dx, top, W, bottom});
  for (const PlatformRect& r : *uncovered)
    for (int32_t y = r.top; y < r.bottom; ++y)
      std::fill_n(&pixels_[static_cast<size_t>(y) * W + r.left], r.right - r.left, 0u);
  // What was waiting to be painted moves with the pixels.
  std::vector<PlatformRect> moved;
  for (const PlatformRect& r : update_)
    add_rect(&moved, PlatformRect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}, W, H);
  update_.swap(moved);
  mark_dirty(all);
}

void Frame::add_rect(std::vector<PlatformRect>* list, PlatformRect rect, int32_t width,
                        int32_t height) {
  rect = platform_rect_intersect(rect, PlatformRect{0, 0, width, height});
  if (platform_rect_empty(rect)) return;
  for (const PlatformRect& r : *list)
    if (platform_rect_contains(r, rect)) return;
  std::erase_if(*list, [&](const PlatformRect& r) { return platform_rect_contains(rect, r); });
  list->push_back(rect);
  if (list->size() > kMaxRects) {
    PlatformRect all = (*list)[0];
    for (const PlatformRect& r : *list) all = bounds(all, r);
    list->assign(1, all);
  }
}

void Frame::mark_dirty(const PlatformRect& rect) { add_rect(&dirty_, rect, width_, height_); }

std::vector<PlatformRect> Frame::take_dirty() {
  std::vector<PlatformRect> out;
  out.swap(dirty_);
  return out;
}

void Frame::invalidate(const PlatformRect& rect) { add_rect(&update_, rect, width_, height_); }

std::vector<PlatformRect> Frame::take_update() {
  std::vector<PlatformRect> out;
  out.swap(update_);
  return out;
}
