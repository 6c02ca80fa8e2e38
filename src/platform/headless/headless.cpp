#include "platform/headless/headless.h"

#include <algorithm>

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

PlatformWindow HeadlessPlatform::add_window(Window w) {
  w.id = windows_.size() + 1;
  windows_.push_back(std::move(w));
  return windows_.back().id;
}

PlatformWindow HeadlessPlatform::create_main_window(const char* title, WindowProc proc) {
  if (exited_ || creation_fails_) return 0;
  Window w;
  w.proc = proc;
  w.title = title;
  w.frame.resize(work_width_, work_height_);
  const PlatformWindow id = add_window(std::move(w));
  if (main_ == 0) main_ = id;
  return id;
}

PlatformWindow HeadlessPlatform::create_document_window(PlatformWindow parent, WindowProc proc) {
  Window* p = find(parent);
  if (p == nullptr || creation_fails_) return 0;
  Window w;
  w.parent = parent;
  w.proc = proc;
  w.frame.resize(p->frame.width(), p->frame.height());
  w.frame.invalidate(PlatformRect{0, 0, w.frame.width(), w.frame.height()});  // a new window needs painting
  const PlatformWindow id = add_window(std::move(w));
  if (document_ == 0) document_ = id;
  return id;
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
  *width = w != nullptr ? w->frame.width() : 0;
  *height = w != nullptr ? w->frame.height() : 0;
}

void HeadlessPlatform::set_focus(PlatformWindow window) {
  if (find(window) != nullptr) focus_ = window;
}

void HeadlessPlatform::begin_paint(PlatformWindow window) {
  if (Window* w = find(window)) w->frame.reset_clip();
}

void HeadlessPlatform::end_paint(PlatformWindow window) {
  if (Window* w = find(window)) w->frame.reset_clip();
}

void HeadlessPlatform::set_clip(PlatformWindow window, const PlatformRect& rect) {
  if (Window* w = find(window)) w->frame.set_clip(rect);
}

void HeadlessPlatform::fill_rect(PlatformWindow window, const PlatformRect& rect, uint32_t colour) {
  if (Window* w = find(window)) painted_ += w->frame.fill(rect, colour);
}

void HeadlessPlatform::blit(PlatformWindow window, int32_t x, int32_t y, int32_t width,
                            int32_t height, int32_t stride, const uint32_t* pixels) {
  if (Window* w = find(window)) painted_ += w->frame.blit(x, y, width, height, stride, pixels);
}

bool HeadlessPlatform::scroll(PlatformWindow window, int32_t dx, int32_t dy,
                              std::vector<PlatformRect>* uncovered) {
  uncovered->clear();
  Window* w = find(window);
  if (w == nullptr) return false;
  w->frame.scroll(dx, dy, uncovered);
  return true;
}

void HeadlessPlatform::invalidate(PlatformWindow window, const PlatformRect& rect) {
  if (Window* w = find(window)) w->frame.invalidate(rect);
}

void HeadlessPlatform::set_palette(PlatformWindow, const uint32_t* entries, int32_t count) {
  palette_.assign(entries, entries + count);
}

int HeadlessPlatform::run_message_loop() {
  pump();
  return exit_code_;
}

bool HeadlessPlatform::input_waiting() {
  return input_flag_ || queue_.holds_input();
}

bool HeadlessPlatform::mouse_move_waiting(PlatformWindow window) {
  return queue_.holds_mouse_move(window);
}

void HeadlessPlatform::set_timer(PlatformWindow window, int32_t id, uint32_t delay_ms) {
  timers_.set(window, id, now_ + delay_ms);
}

void HeadlessPlatform::kill_timer(PlatformWindow window, int32_t id) {
  timers_.kill(window, id);
}

uint64_t HeadlessPlatform::clock_ms() {
  uint64_t now = now_;
  now_ += clock_step_;
  return now;
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
  if (!exited_) queue_.post(message);
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
      w.frame.resize(width, height);
      if (w.parent != 0) w.frame.invalidate(PlatformRect{0, 0, width, height});
    }
  }
  Message m;
  m.kind = MSG_SIZE;
  m.window = main_;
  m.code = size_kind;
  post(m);
}

bool HeadlessPlatform::step() {
  Message m;
  if (queue_.take(&m)) {
    deliver(m);
    return true;
  }
  for (Window& w : windows_) {
    if (!w.alive || !w.frame.has_update()) continue;
    m.kind = MSG_PAINT;
    m.window = w.id;
    m.rects = w.frame.take_update();
    deliver(m);
    return true;
  }
  if (input_flag_) return false;  // the waiting input would come before any timer
  m.kind = MSG_TIMER;
  if (!timers_.take_due(now_, &m.window, &m.code)) return false;  // timers fire once
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
  Message m;
  m.kind = MSG_TIMER;
  m.code = id;
  if (!timers_.take_id(id, &m.window)) return false;
  guard([&] { deliver(m); });
  return true;
}

void HeadlessPlatform::advance(uint64_t ms) {
  // Timers of 0 ms that start themselves again never let time move on: the work done at
  // one instant is bounded.
  constexpr int64_t kMessagesPerInstant = 10000;
  const uint64_t target = now_ + ms;
  pump(kMessagesPerInstant);
  for (int rounds = 0; rounds < 100000 && !exited_; ++rounds) {
    const uint64_t next = timers_.next_due();
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
  return timers_.pending_id(id, due);
}

const std::string& HeadlessPlatform::title(PlatformWindow window) const {
  static const std::string none;
  const Window* w = find(window);
  return w != nullptr ? w->title : none;
}

const std::vector<uint32_t>& HeadlessPlatform::pixels(PlatformWindow window) const {
  static const std::vector<uint32_t> none;
  const Window* w = find(window);
  return w != nullptr ? w->frame.pixels() : none;
}

int32_t HeadlessPlatform::width(PlatformWindow window) const {
  const Window* w = find(window);
  return w != nullptr ? w->frame.width() : 0;
}

int32_t HeadlessPlatform::height(PlatformWindow window) const {
  const Window* w = find(window);
  return w != nullptr ? w->frame.height() : 0;
}

void HeadlessPlatform::clear_pixels(PlatformWindow window, uint32_t colour) {
  if (Window* w = find(window)) w->frame.clear(colour);
}
