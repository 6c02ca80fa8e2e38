#include "platform/sdl/sdl_platform.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/fs.h"

namespace {

bool named_display() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

// Whether SDL's queue holds an event that `wanted` accepts, leaving the queue as it is.
template <class Wanted>
bool sdl_queue_holds(Wanted wanted) {
  SDL_PumpEvents();
  SDL_Event events[128];
  const int n = SDL_PeepEvents(events, 128, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
  for (int i = 0; i < n; ++i)
    if (wanted(events[i].type)) return true;
  return false;
}

}  // namespace

bool sdl_video_start() {
  if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return true;
  if (!named_display()) return false;
  // The window surface is written by the CPU: no GPU renderer behind it.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  // A desktop's compositor stays on; the viewer is not a game.
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
#ifdef SDL_HINT_VIDEODRIVER
  // Only X is named: no attempt at Wayland, whose library complains aloud when it fails.
  if ((asked == nullptr || asked[0] == '\0') && (wayland == nullptr || wayland[0] == '\0'))
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
#endif
  auto refuse = [&] {
    const char* display = std::getenv("DISPLAY");
    SDL_SetError("cannot connect to display %s", display != nullptr && display[0] != '\0' ? display : wayland);
    return false;
  };
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return refuse();
  // Without a usable desktop SDL falls back to drawing off screen, where nobody would see
  // the window: only a desktop's driver counts, unless one was asked for by name.
  const char* driver = SDL_GetCurrentVideoDriver();
  if ((asked != nullptr && asked[0] != '\0') ||
      (driver != nullptr && (std::strcmp(driver, "x11") == 0 || std::strcmp(driver, "wayland") == 0)))
    return true;
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return refuse();
}

SdlPlatform::SdlPlatform() = default;

SdlPlatform::~SdlPlatform() {
  if (window_ != nullptr) SDL_DestroyWindow(window_);
}

PlatformWindow SdlPlatform::create_main_window(const char* title, WindowProc proc) {
  if (window_ != nullptr || !sdl_video_start()) return 0;
  SDL_Rect area{SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 800, 600};
  SDL_Rect usable;
  if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0) area = usable;
  window_ = SDL_CreateWindow(title, area.x, area.y, area.w, area.h,
                             SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_MAXIMIZED);
  if (window_ == nullptr) return 0;
  SDL_StopTextInput();  // keys only: no input method in the way
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  title_ = title;
  main_proc_ = proc;
  main_alive_ = true;
  if (!icon_.empty()) {
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
        icon_.data(), icon_width_, icon_height_, 32, icon_width_ * 4, SDL_PIXELFORMAT_RGB888);
    if (surface != nullptr) {
      SDL_SetWindowIcon(window_, surface);
      SDL_FreeSurface(surface);
      icon_set_ = true;
    }
  }
  sync_size();
  return kMain;
}

PlatformWindow SdlPlatform::create_document_window(PlatformWindow parent, WindowProc proc) {
  if (parent != kMain || !main_alive_ || document_alive_) return 0;
  document_proc_ = proc;
  document_alive_ = true;
  frame_.invalidate(PlatformRect{0, 0, frame_.width(), frame_.height()});  // a new window needs painting
  return kDocument;
}

bool SdlPlatform::alive(PlatformWindow window) const {
  return (window == kMain && main_alive_) || (window == kDocument && document_alive_);
}

WindowProc SdlPlatform::proc_of(PlatformWindow window) const {
  if (!alive(window)) return nullptr;
  return window == kMain ? main_proc_ : document_proc_;
}

void SdlPlatform::destroy_window(PlatformWindow window) {
  if (!alive(window)) return;
  Message m;
  m.kind = MSG_DESTROY;
  m.window = window;
  deliver(m);
  if (window == kDocument) {
    document_alive_ = false;
    return;
  }
  // The main window takes its client area, the document window, with it.
  main_alive_ = false;
  if (document_alive_) {
    m.window = kDocument;
    deliver(m);
    document_alive_ = false;
  }
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  window_ = nullptr;
}

void SdlPlatform::set_title(PlatformWindow window, const char* text) {
  if (window != kMain || !main_alive_) return;  // the document window shows no title
  title_ = text;
  SDL_SetWindowTitle(window_, text);
}

void SdlPlatform::client_size(PlatformWindow window, int32_t* width, int32_t* height) {
  const bool ok = alive(window);
  *width = ok ? frame_.width() : 0;
  *height = ok ? frame_.height() : 0;
}

// Both windows are the one OS window, which already has the keyboard whenever the desktop
// gives it to the program; taking it back from other programs is not ours to do.
void SdlPlatform::set_focus(PlatformWindow) {}

void SdlPlatform::begin_paint(PlatformWindow window) {
  if (window != kDocument || !document_alive_) return;
  ++paint_depth_;
  frame_.reset_clip();
}

void SdlPlatform::end_paint(PlatformWindow window) {
  if (window != kDocument || !document_alive_ || paint_depth_ == 0) return;
  frame_.reset_clip();
  if (--paint_depth_ == 0) present();
}

void SdlPlatform::set_clip(PlatformWindow window, const PlatformRect& rect) {
  if (window == kDocument && document_alive_) frame_.set_clip(rect);
}

void SdlPlatform::fill_rect(PlatformWindow window, const PlatformRect& rect, uint32_t colour) {
  if (window == kDocument && document_alive_) frame_.fill(rect, colour);
}

void SdlPlatform::blit(PlatformWindow window, int32_t x, int32_t y, int32_t width, int32_t height,
                       int32_t stride, const uint32_t* pixels) {
  if (window == kDocument && document_alive_) frame_.blit(x, y, width, height, stride, pixels);
}

bool SdlPlatform::scroll(PlatformWindow window, int32_t dx, int32_t dy,
                         std::vector<PlatformRect>* uncovered) {
  uncovered->clear();
  if (window != kDocument || !document_alive_) return false;
  // The moved pixels are presented with the paint of the uncovered strips that follows (or
  // when the loop next goes idle), so the strips never flash black.
  frame_.scroll(dx, dy, uncovered);
  return true;
}

void SdlPlatform::invalidate(PlatformWindow window, const PlatformRect& rect) {
  if (window == kDocument && document_alive_) frame_.invalidate(rect);
}

void SdlPlatform::set_palette(PlatformWindow, const uint32_t*, int32_t) {}  // true colour

void SdlPlatform::present() {
  if (window_ == nullptr || !frame_.has_dirty()) return;
  std::vector<PlatformRect> dirty = frame_.take_dirty();
  SDL_Surface* target = SDL_GetWindowSurface(window_);
  if (target == nullptr || frame_.width() == 0 || frame_.height() == 0) return;
  SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(
      frame_.data(), frame_.width(), frame_.height(), 32, frame_.width() * 4, SDL_PIXELFORMAT_RGB888);
  if (source == nullptr) return;
  std::vector<SDL_Rect> rects;
  for (const PlatformRect& r : dirty) {
    SDL_Rect from{r.left, r.top, r.right - r.left, r.bottom - r.top};
    SDL_Rect to = from;  // SDL_BlitSurface writes the clipped rectangle back
    if (SDL_BlitSurface(source, &from, target, &to) == 0 && to.w > 0 && to.h > 0) rects.push_back(to);
  }
  SDL_FreeSurface(source);
  if (!rects.empty()) SDL_UpdateWindowSurfaceRects(window_, rects.data(), static_cast<int>(rects.size()));
}

void SdlPlatform::sync_size() {
  if (window_ == nullptr) return;
  int width = 0, height = 0;
  SDL_GetWindowSize(window_, &width, &height);
  if (width == frame_.width() && height == frame_.height()) return;
  frame_.resize(width, height);
  if (document_alive_) frame_.invalidate(PlatformRect{0, 0, width, height});
}

SdlTarget SdlPlatform::target() const {
  SdlTarget t;
  t.window_id = window_ != nullptr ? SDL_GetWindowID(window_) : 0;
  t.main = kMain;
  t.document = kDocument;
  t.width = frame_.width();
  t.height = frame_.height();
  t.maximised = window_ != nullptr && (SDL_GetWindowFlags(window_) & SDL_WINDOW_MAXIMIZED) != 0;
  return t;
}

void SdlPlatform::translate(const SDL_Event& event) {
  std::vector<Message> messages;
  translator_.translate(event, target(), &messages);
  if (event.type == SDL_DROPFILE || event.type == SDL_DROPTEXT) SDL_free(event.drop.file);
  for (Message& m : messages) {
    if (m.kind == MSG_PAINT) {  // exposure: the area joins the update area
      sync_size();
      for (const PlatformRect& r : m.rects) frame_.invalidate(r);
      continue;
    }
    if (m.kind == MSG_SIZE && m.code != SIZE_MINIMISED) {
      // The frame takes the new size first, so the size message reads it; the whole client
      // area is painted again.
      sync_size();
      if (document_alive_) frame_.invalidate(PlatformRect{0, 0, frame_.width(), frame_.height()});
    }
    queue_.post(std::move(m));
  }
}

void SdlPlatform::deliver(const Message& message) {
  if (WindowProc proc = proc_of(message.window)) proc(message);
}

bool SdlPlatform::dispatch_one() {
  Message queued;
  if (queue_.take(&queued)) {
    deliver(queued);
    return true;
  }
  SDL_Event event;
  if (SDL_PollEvent(&event) != 0) {
    translate(event);
    return true;
  }
  // Paint and timer messages come when nothing else waits, paint first, as with Win32.
  if (document_alive_ && frame_.has_update()) {
    Message m;
    m.kind = MSG_PAINT;
    m.window = kDocument;
    m.rects = frame_.take_update();
    deliver(m);
    return true;
  }
  Message m;
  m.kind = MSG_TIMER;
  if (timers_.take_due(SDL_GetTicks64(), &m.window, &m.code)) {
    deliver(m);
    return true;
  }
  return false;
}

int SdlPlatform::run_message_loop() {
  for (;;) {
    if (dispatch_one()) continue;
    if (!main_alive_ && !document_alive_) return 0;
    present();
    const int64_t wait = timers_.wait_time(SDL_GetTicks64());
    SDL_Event event;
    const int got = wait < 0 ? SDL_WaitEvent(&event)
                             : SDL_WaitEventTimeout(&event, static_cast<int>(std::min<int64_t>(wait, INT_MAX)));
    if (got != 0) translate(event);
  }
}

bool SdlPlatform::input_waiting() {
  return queue_.holds_input() || sdl_queue_holds(sdl_is_input_event);
}

bool SdlPlatform::mouse_move_waiting(PlatformWindow window) {
  if (window != kDocument) return false;
  if (queue_.holds_mouse_move(window)) return true;
  SDL_PumpEvents();
  return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_MOUSEMOTION, SDL_MOUSEMOTION) > 0;
}

void SdlPlatform::set_timer(PlatformWindow window, int32_t id, uint32_t delay_ms) {
  timers_.set(window, id, SDL_GetTicks64() + delay_ms);
}

void SdlPlatform::kill_timer(PlatformWindow window, int32_t id) { timers_.kill(window, id); }

uint64_t SdlPlatform::clock_ms() { return SDL_GetTicks64(); }

void SdlPlatform::message_box(const char* text, const char* caption) {
  std::string line;
  for (const char* c = text; *c != '\0'; ++c) line += *c == '\n' ? std::string(" - ") : std::string(1, *c);
  std::fprintf(stderr, "korvela: %s\n", line.c_str());
  if (SDL_WasInit(SDL_INIT_VIDEO) != 0)
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, window_);
}

void SdlPlatform::exit_process(int code) {
  if (exit_handler_) exit_handler_(code);
  // The process ends here, without clean-up: the display server removes the window with the
  // connection. Tearing SDL down first would race with its own wake-up messages to the window.
  std::fflush(nullptr);
  std::_Exit(code);
}
