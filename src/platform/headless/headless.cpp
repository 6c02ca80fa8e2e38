#include "platform/headless/headless.h"

#include <algorithm>
#include <cstring>

namespace {

bool is_input(MessageKind kind) {
  switch (kind) {
    case MSG_KEY_DOWN: case MSG_MOUSE_MOVE: case MSG_LEFT_DOWN: case MSG_LEFT_UP:
    case MSG_LEFT_DOUBLE: case MSG_RIGHT_DOWN: case MSG_RIGHT_DOUBLE: case MSG_DROP_FILES:
      return true;
    default:
      return false;
  }
}

}  // namespace

HeadlessPlatform::HeadlessPlatform(int32_t width, int32_t height)
    : work_width_(width), work_height_(height) {}

HeadlessPlatform::~HeadlessPlatform() = default;

HeadlessPlatform::Window* HeadlessPlatform::find(PlatformWindow window) {
  for (Window& w : windows_)
    if (w.id == window && w.alive) return &w;
  return nullptr;
}

const HeadlessPlatform::Window* HeadlessPlatform::find(PlatformWindow window) const {
  for (const Window& w : windows_)
    if (w.id == window && w.alive) return &w;
  return nullptr;
}

void HeadlessPlatform::resize_buffer(Window* w, int32_t width, int32_t height) {
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
  const int32_t keep = std::min(width, w->width);
  for (int32_t y = 0; keep > 0 && y < std::min(height, w->height); ++y)
    std::memcpy(pixels.data() + static_cast<size_t>(y) * width, w->pixels.data() + static_cast<size_t>(y) * w->width,
                sizeof(uint32_t) * keep);
  w->pixels.swap(pixels);
  w->width = width;
  w->height = height;
  w->clip = PlatformRect{0, 0, width, height};
}

PlatformWindow HeadlessPlatform::create_main_window(const char* title, WindowProc proc) {
  if (exited_ || creation_fails_) return 0;
  Window w;
  w.id = windows_.size() + 1;
  w.proc = proc;
  w.title = title;
  resize_buffer(&w, work_width_, work_height_);
  windows_.push_back(std::move(w));
  if (main_ == 0) main_ = windows_.back().id;
  return windows_.back().id;
}

PlatformWindow HeadlessPlatform::create_document_window(PlatformWindow parent, WindowProc proc) {
  Window* p = find(parent);
  if (p == nullptr || creation_fails_) return 0;
  Window w;
  w.id = windows_.size() + 1;
  w.parent = parent;
  w.proc = proc;
  resize_buffer(&w, p->width, p->height);
  w.update.push_back(PlatformRect{0, 0, w.width, w.height});  // a new window needs painting
  windows_.push_back(std::move(w));
  if (document_ == 0) document_ = windows_.back().id;
  return windows_.back().id;
}

void HeadlessPlatform::destroy_window(PlatformWindow window) {
  Window* w = find(window);
  if (w == nullptr) return;
  Message m;
  m.kind = MSG_DESTROY;
  m.window = window;
  deliver(m);
  if ((w = find(window)) != nullptr) w->alive = false;
}

void HeadlessPlatform::set_title(PlatformWindow window, const char* text) {
  if (Window* w = find(window)) w->title = text;
}

void HeadlessPlatform::client_size(PlatformWindow window, int32_t* width, int32_t* height) {
  const Window* w = find(window);
  *width = w != nullptr ? w->width : 0;
  *height = w != nullptr ? w->height : 0;
}

void HeadlessPlatform::set_focus(PlatformWindow window) {
  if (find(window) != nullptr) focus_ = window;
}

void HeadlessPlatform::begin_paint(PlatformWindow window) {
  if (Window* w = find(window)) w->clip = PlatformRect{0, 0, w->width, w->height};
}

void HeadlessPlatform::end_paint(PlatformWindow window) {
  if (Window* w = find(window)) w->clip = PlatformRect{0, 0, w->width, w->height};
}

void HeadlessPlatform::set_clip(PlatformWindow window, const PlatformRect& rect) {
  if (Window* w = find(window)) w->clip = platform_rect_intersect(rect, PlatformRect{0, 0, w->width, w->height});
}

void HeadlessPlatform::fill_rect(PlatformWindow window, const PlatformRect& rect, uint32_t colour) {
  Window* w = find(window);
  if (w == nullptr) return;
  PlatformRect r = platform_rect_intersect(rect, w->clip);
  if (platform_rect_empty(r)) return;
  for (int32_t y = r.top; y < r.bottom; ++y)
    std::fill_n(&w->pixels[static_cast<size_t>(y) * w->width + r.left], r.right - r.left, colour);
  painted_ += int64_t{r.right - r.left} * (r.bottom - r.top);
}

void HeadlessPlatform::blit(PlatformWindow window, int32_t x, int32_t y, int32_t width,
                            int32_t height, int32_t stride, const uint32_t* pixels) {
  Window* w = find(window);
  if (w == nullptr || pixels == nullptr) return;
  PlatformRect r = platform_rect_intersect(PlatformRect{x, y, x + width, y + height}, w->clip);
  if (platform_rect_empty(r)) return;
  for (int32_t row = r.top; row < r.bottom; ++row)
    std::memcpy(&w->pixels[static_cast<size_t>(row) * w->width + r.left],
                pixels + static_cast<size_t>(row - y) * stride + (r.left - x),
                sizeof(uint32_t) * (r.right - r.left));
  painted_ += int64_t{r.right - r.left} * (r.bottom - r.top);
}

bool HeadlessPlatform::scroll(PlatformWindow window, int32_t dx, int32_t dy,
                              std::vector<PlatformRect>* uncovered) {
  uncovered->clear();
  Window* w = find(window);
  if (w == nullptr) return false;
  const int32_t W = w->width, H = w->height;
  if (dx == 0 && dy == 0) return true;
  if (dx >= W || -dx >= W || dy >= H || -dy >= H) {
    uncovered->push_back(PlatformRect{0, 0, W, H});
    return true;
  }
  std::vector<uint32_t> moved(w->pixels.size(), 0);
  for (int32_t y = 0; y < H; ++y) {
    int32_t sy = y - dy;
    if (sy < 0 || sy >= H) continue;
    for (int32_t x = std::max(0, dx); x < std::min(W, W + dx); ++x)
      moved[static_cast<size_t>(y) * W + x] = w->pixels[static_cast<size_t>(sy) * W + (x - dx)];
  }
  w->pixels.swap(moved);
  // Pending paint areas move with the pixels (and stay where they were).
  std::vector<PlatformRect> update = w->update;
  for (PlatformRect r : update) add_update(w, PlatformRect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy});
  if (dy > 0) uncovered->push_back(PlatformRect{0, 0, W, dy});
  if (dy < 0) uncovered->push_back(PlatformRect{0, H + dy, W, H});
  int32_t top = std::max(0, dy), bottom = std::min(H, H + dy);
  if (dx > 0) uncovered->push_back(PlatformRect{0, top, dx, bottom});
  if (dx < 0) uncovered->push_back(PlatformRect{W + dx, top, W, bottom});
  return true;
}

void HeadlessPlatform::add_update(Window* w, PlatformRect rect) {
  rect = platform_rect_intersect(rect, PlatformRect{0, 0, w->width, w->height});
  if (platform_rect_empty(rect)) return;
  for (const PlatformRect& r : w->update)
    if (platform_rect_contains(r, rect)) return;
  std::erase_if(w->update, [&](const PlatformRect& r) { return platform_rect_contains(rect, r); });
  w->update.push_back(rect);
  if (w->update.size() > 32) {  // too many pieces: one bounding rectangle
    PlatformRect all = w->update[0];
    for (const PlatformRect& r : w->update)
      all = PlatformRect{std::min(all.left, r.left), std::min(all.top, r.top),
                         std::max(all.right, r.right), std::max(all.bottom, r.bottom)};
    w->update.assign(1, all);
  }
}

void HeadlessPlatform::invalidate(PlatformWindow window, const PlatformRect& rect) {
  if (Window* w = find(window)) add_update(w, rect);
}

void HeadlessPlatform::set_palette(PlatformWindow, const uint32_t* entries, int32_t count) {
  palette_.assign(entries, entries + count);
}

int HeadlessPlatform::run_message_loop() {
  pump();
  return exit_code_;
}

bool HeadlessPlatform::input_waiting() {
  if (input_flag_) return true;
  for (const Message& m : queue_)
    if (is_input(m.kind)) return true;
  return false;
}

bool HeadlessPlatform::mouse_move_waiting(PlatformWindow window) {
  for (const Message& m : queue_)
    if (m.kind == MSG_MOUSE_MOVE && m.window == window) return true;
  return false;
}

void HeadlessPlatform::set_timer(PlatformWindow window, int32_t id, uint32_t delay_ms) {
  kill_timer(window, id);
  timers_.push_back(Timer{window, id, now_ + delay_ms, timer_order_++});
}

void HeadlessPlatform::kill_timer(PlatformWindow window, int32_t id) {
  std::erase_if(timers_, [&](const Timer& t) { return t.window == window && t.id == id; });
}

uint64_t HeadlessPlatform::clock_ms() {
  uint64_t now = now_;
  now_ += clock_step_;
  return now;
}

void HeadlessPlatform::work_area(int32_t* width, int32_t* height) {
  *width = work_width_;
  *height = work_height_;
}

void HeadlessPlatform::message_box(const char* text, const char* caption) {
  boxes_.push_back(std::string(caption) + "\n" + text);
}

void HeadlessPlatform::exit_process(int code) {
  exited_ = true;
  exit_code_ = code;
  queue_.clear();
  timers_.clear();
  throw HeadlessExit{code};
}

bool HeadlessPlatform::guard(const std::function<void()>& work) {
  if (exited_) return false;
  try {
    work();
  } catch (const HeadlessExit&) {
    return false;
  }
  return !exited_;
}

void HeadlessPlatform::deliver(const Message& message) {
  Window* w = find(message.window);
  if (w == nullptr || w->proc == nullptr) return;
  w->proc(message);
}

void HeadlessPlatform::post(const Message& message) {
  if (!exited_) queue_.push_back(message);
}

void HeadlessPlatform::key(int32_t code) {
  Message m;
  m.kind = MSG_KEY_DOWN;
  m.window = main_;
  m.code = code;
  post(m);
}

void HeadlessPlatform::mouse(MessageKind kind, int32_t x, int32_t y, bool left_button) {
  Message m;
  m.kind = kind;
  m.window = document_;
  m.x = x;
  m.y = y;
  m.left_button = left_button;
  post(m);
}

void HeadlessPlatform::drop(const std::vector<std::string>& paths) {
  Message m;
  m.kind = MSG_DROP_FILES;
  m.window = document_;
  m.paths = paths;
  post(m);
}

void HeadlessPlatform::resize(int32_t width, int32_t height, int32_t size_kind) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (size_kind != SIZE_MINIMISED) {
    for (Window& w : windows_) {
      if (!w.alive) continue;
      resize_buffer(&w, width, height);
      if (w.parent != 0) {
        w.update.clear();
        add_update(&w, PlatformRect{0, 0, width, height});
      }
    }
  }
  Message m;
  m.kind = MSG_SIZE;
  m.window = main_;
  m.code = size_kind;
  post(m);
}

int HeadlessPlatform::next_due_timer() const {
  int best = -1;
  for (size_t i = 0; i < timers_.size(); ++i) {
    if (timers_[i].due > now_) continue;
    if (best < 0 || timers_[i].due < timers_[best].due ||
        (timers_[i].due == timers_[best].due && timers_[i].order < timers_[best].order))
      best = static_cast<int>(i);
  }
  return best;
}

bool HeadlessPlatform::step() {
  if (!queue_.empty()) {
    Message m = std::move(queue_.front());
    queue_.pop_front();
    deliver(m);
    return true;
  }
  for (Window& w : windows_) {
    if (!w.alive || w.update.empty()) continue;
    Message m;
    m.kind = MSG_PAINT;
    m.window = w.id;
    m.rects.swap(w.update);
    deliver(m);
    return true;
  }
  if (input_flag_) return false;  // the waiting input would come before any timer
  int due = next_due_timer();
  if (due < 0) return false;
  Message m;
  m.kind = MSG_TIMER;
  m.window = timers_[due].window;
  m.code = timers_[due].id;
  timers_.erase(timers_.begin() + due);  // timers fire once
  deliver(m);
  return true;
}

bool HeadlessPlatform::pump(int64_t max_messages) {
  return guard([&] {
    for (int64_t n = 0; n < max_messages && step(); ++n) {
    }
  });
}

bool HeadlessPlatform::fire_timer(int32_t id) {
  for (const Timer& t : timers_) {
    if (t.id != id) continue;
    Message m;
    m.kind = MSG_TIMER;
    m.window = t.window;
    m.code = id;
    kill_timer(t.window, id);
    guard([&] { deliver(m); });
    return true;
  }
  return false;
}

void HeadlessPlatform::advance(uint64_t ms) {
  // Timers of 0 ms that start themselves again never let time move on: the work done at
  // one instant is bounded.
  constexpr int64_t kMessagesPerInstant = 10000;
  const uint64_t target = now_ + ms;
  pump(kMessagesPerInstant);
  for (int rounds = 0; rounds < 100000 && !exited_; ++rounds) {
    uint64_t next = UINT64_MAX;
    for (const Timer& t : timers_) next = std::min(next, t.due);
    if (next > target) break;
    if (next <= now_ && rounds > 0) {
      now_ = std::min(target, now_ + 1);  // the same instant again: let a millisecond pass
      if (now_ == target) break;
    }
    now_ = std::max(now_, next);
    pump(kMessagesPerInstant);
  }
  now_ = std::max(now_, target);
  pump(kMessagesPerInstant);
}

bool HeadlessPlatform::timer_pending(int32_t id, uint64_t* due) const {
  for (const Timer& t : timers_) {
    if (t.id != id) continue;
    if (due != nullptr) *due = t.due;
    return true;
  }
  return false;
}

const std::string& HeadlessPlatform::title(PlatformWindow window) const {
  static const std::string none;
  const Window* w = find(window);
  return w != nullptr ? w->title : none;
}

const std::vector<uint32_t>& HeadlessPlatform::pixels(PlatformWindow window) const {
  static const std::vector<uint32_t> none;
  const Window* w = find(window);
  return w != nullptr ? w->pixels : none;
}

int32_t HeadlessPlatform::width(PlatformWindow window) const {
  const Window* w = find(window);
  return w != nullptr ? w->width : 0;
}

int32_t HeadlessPlatform::height(PlatformWindow window) const {
  const Window* w = find(window);
  return w != nullptr ? w->height : 0;
}

void HeadlessPlatform::clear_pixels(PlatformWindow window, uint32_t colour) {
  if (Window* w = find(window)) std::fill(w->pixels.begin(), w->pixels.end(), colour);
}
