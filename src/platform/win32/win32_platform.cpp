#include "platform/win32/win32_platform.h"

#include <shellapi.h>

#include <cstdio>
#include <vector>

namespace {

constexpr const char* kMainClass = "korvela";
constexpr const char* kDocumentClass = "fdocument";
constexpr DWORD kMainStyle = 0x11CF0000;          // overlapped, visible, maximised
constexpr DWORD kDocumentStyle = 0x50000900;      // child, visible, read-only, selection kept
constexpr DWORD kDocumentExStyle = 0x214;         // accepts files, sunken edge, no parent notify
constexpr INT_PTR kBackgroundColourIndex = 6;

HWND hwnd_of(PlatformWindow window) { return reinterpret_cast<HWND>(window); }
PlatformWindow id_of(HWND window) { return reinterpret_cast<PlatformWindow>(window); }

COLORREF colorref(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// The rectangles of a region, in the order the system lists them.
std::vector<PlatformRect> region_rects(HRGN region) {
  std::vector<PlatformRect> rects;
  const DWORD size = GetRegionData(region, 0, nullptr);
  if (size == 0) return rects;
  std::vector<char> buffer(size);
  auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
  if (GetRegionData(region, size, data) == 0) return rects;
  const RECT* r = reinterpret_cast<const RECT*>(data->Buffer);
  for (DWORD i = 0; i < data->rdh.nCount; ++i)
    rects.push_back(PlatformRect{r[i].left, r[i].top, r[i].right, r[i].bottom});
  return rects;
}

Message message_for(MessageKind kind, HWND window, int32_t code = 0) {
  Message m;
  m.kind = kind;
  m.window = id_of(window);
  m.code = code;
  return m;
}

Win32Platform* backend_of(HWND window) {
  return reinterpret_cast<Win32Platform*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// Every dropped name, in the order the system lists them; the drop is finished.
std::vector<std::string> dropped_paths(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  char buffer[256];
  for (UINT i = 0; i < count; ++i)
    if (DragQueryFileA(drop, i, buffer, sizeof buffer) > 0) paths.emplace_back(buffer);
  DragFinish(drop);
  return paths;
}

bool peek(HWND window, UINT first, UINT last, UINT flags) {
  MSG m;
  return PeekMessageA(&m, window, first, last, PM_NOREMOVE | flags) != 0;
}

}  // namespace

Win32Platform::~Win32Platform() {
  if (palette_ != nullptr) DeleteObject(palette_);
}

void Win32Platform::deliver(const WindowProc& proc, const Message& message) const {
  if (proc) proc(message);
}

LRESULT CALLBACK Win32Platform::main_window_message(HWND window, UINT message, WPARAM wparam,
                                                    LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  Win32Platform* self = backend_of(window);
  if (self == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  switch (message) {
    case WM_CLOSE: self->deliver(self->main_proc_, message_for(MSG_CLOSE, window)); return 0;
    case WM_DESTROY: self->deliver(self->main_proc_, message_for(MSG_DESTROY, window)); return 0;
    case WM_SIZE:
      self->deliver(self->main_proc_, message_for(MSG_SIZE, window, static_cast<int32_t>(wparam)));
      return 0;
    case WM_KILLFOCUS: self->deliver(self->main_proc_, message_for(MSG_KILL_FOCUS, window)); return 0;
    case WM_KEYDOWN:
      self->deliver(self->main_proc_, message_for(MSG_KEY_DOWN, window, static_cast<int32_t>(wparam)));
      return 0;
    case WM_TIMER:
      self->deliver(self->main_proc_, message_for(MSG_TIMER, window, static_cast<int32_t>(wparam)));
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

LRESULT CALLBACK Win32Platform::document_window_message(HWND window, UINT message, WPARAM wparam,
                                                        LPARAM lparam) {
  Win32Platform* self = backend_of(window);
  if (message == WM_RBUTTONDOWN) return 1;  // no context menu of the edit control
  // The update area must be read before the edit control's own painting validates it.
  HRGN update = nullptr;
  int update_type = ERROR;
  if (message == WM_PAINT) {
    update = CreateRectRgn(1, 1, 2, 2);
    update_type = GetUpdateRgn(window, update, FALSE);
  }
  const LRESULT result = CallWindowProcA(self->edit_proc_, window, message, wparam, lparam);
  Message m = message_for(MSG_PAINT, window);
  if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) {
    m.x = LOWORD(lparam);  // client coordinates, unsigned
    m.y = HIWORD(lparam);
    m.left_button = (wparam & MK_LBUTTON) != 0;
  }
  switch (message) {
    case WM_PAINT:
      if (update_type != NULLREGION && update_type != ERROR) {
        m.rects = region_rects(update);
        self->deliver(self->document_proc_, m);
      }
      DeleteObject(update);
      return result;
    case WM_SETFOCUS: m.kind = MSG_SET_FOCUS; break;
    case WM_MOUSEMOVE: m.kind = MSG_MOUSE_MOVE; break;
    case WM_LBUTTONDOWN: m.kind = MSG_LEFT_DOWN; break;
    case WM_LBUTTONUP: m.kind = MSG_LEFT_UP; break;
    case WM_LBUTTONDBLCLK: m.kind = MSG_LEFT_DOUBLE; break;
    case WM_RBUTTONDBLCLK: m.kind = MSG_RIGHT_DOUBLE; break;
    case WM_DROPFILES:
      m.kind = MSG_DROP_FILES;
      m.paths = dropped_paths(reinterpret_cast<HDROP>(wparam));
      break;
    default:
      return result;
  }
  self->deliver(self->document_proc_, m);
  return result;
}

PlatformWindow Win32Platform::create_main_window(const char* title, WindowProc proc) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = 0;
  wc.lpfnWndProc = main_window_message;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconA(instance_, "KORVL");
  // No 16 x 16 icon of this name: the system derives the small icon from the large one.
  wc.hIconSm = static_cast<HICON>(LoadImageA(instance_, kMainClass, IMAGE_ICON, 16, 16, 0));
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(kBackgroundColourIndex);
  wc.lpszClassName = kMainClass;
  if (RegisterClassExA(&wc) == 0) return 0;
  RECT area{0, 0, 800, 600};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  main_proc_ = proc;
  HWND window = CreateWindowExA(0, kMainClass, title, kMainStyle, area.left, area.top,
                                area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                instance_, this);
  if (window == nullptr) main_proc_ = nullptr;
  return id_of(window);
}

PlatformWindow Win32Platform::create_document_window(PlatformWindow parent, WindowProc proc) {
  WNDCLASSA wc{};
  if (!GetClassInfoA(nullptr, "EDIT", &wc)) return 0;
  wc.style = CS_DBLCLKS;
  wc.hInstance = instance_;
  wc.hIcon = nullptr;
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(kBackgroundColourIndex);
  wc.lpszClassName = kDocumentClass;
  if (RegisterClassA(&wc) == 0) return 0;
  RECT client{0, 0, 0, 0};
  GetClientRect(hwnd_of(parent), &client);
  HWND window = CreateWindowExA(kDocumentExStyle, kDocumentClass, "", kDocumentStyle, 0, 0,
                                client.right, client.bottom, hwnd_of(parent), nullptr, instance_,
                                nullptr);
  if (window == nullptr) return 0;
  document_proc_ = proc;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // The window's own procedure (the edit control's) is kept and called before ours.
  edit_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongA(window, GWL_WNDPROC, reinterpret_cast<LONG>(document_window_message)));
  return id_of(window);
}

void Win32Platform::destroy_window(PlatformWindow window) { DestroyWindow(hwnd_of(window)); }

void Win32Platform::set_title(PlatformWindow window, const char* text) {
  SetWindowTextA(hwnd_of(window), text);
}

void Win32Platform::client_size(PlatformWindow window, int32_t* width, int32_t* height) {
  RECT r{0, 0, 0, 0};
  GetClientRect(hwnd_of(window), &r);
  *width = r.right - r.left;
  *height = r.bottom - r.top;
}

void Win32Platform::set_focus(PlatformWindow window) { SetFocus(hwnd_of(window)); }

HDC Win32Platform::paint_dc(PlatformWindow window) const {
  return paint_depth_ > 0 && hwnd_of(window) == painted_ ? dc_ : nullptr;
}

void Win32Platform::begin_paint(PlatformWindow window) {
  if (paint_depth_ > 0) {
    if (hwnd_of(window) == painted_) ++paint_depth_;
    return;
  }
  dc_ = GetDC(hwnd_of(window));
  if (dc_ == nullptr) return;
  painted_ = hwnd_of(window);
  paint_depth_ = 1;
  SetMapMode(dc_, MM_TEXT);
  SetBkMode(dc_, TRANSPARENT);
}

void Win32Platform::end_paint(PlatformWindow window) {
  if (paint_dc(window) == nullptr || --paint_depth_ > 0) return;
  ReleaseDC(painted_, dc_);
  dc_ = nullptr;
  painted_ = nullptr;
}

void Win32Platform::set_clip(PlatformWindow window, const PlatformRect& rect) {
  HDC dc = paint_dc(window);
  if (dc == nullptr) return;
  HRGN clip = CreateRectRgn(rect.left, rect.top, rect.right, rect.bottom);
  SelectClipRgn(dc, clip);
  DeleteObject(clip);
}

void Win32Platform::fill_rect(PlatformWindow window, const PlatformRect& rect, uint32_t colour) {
  HDC dc = paint_dc(window);
  if (dc == nullptr) return;
  HBRUSH brush = CreateSolidBrush(colorref(colour));
  if (brush == nullptr) return;
  HGDIOBJ previous = SelectObject(dc, brush);
  RECT r;
  SetRect(&r, rect.left, rect.top, rect.right, rect.bottom);
  FillRect(dc, &r, brush);
  SelectObject(dc, previous);
  DeleteObject(brush);
}

void Win32Platform::blit(PlatformWindow window, int32_t x, int32_t y, int32_t width, int32_t height,
                         int32_t stride, const uint32_t* pixels) {
  HDC dc = paint_dc(window);
  if (dc == nullptr || pixels == nullptr) return;
  if (palette_ != nullptr && hwnd_of(window) == palette_window_) {
    SelectPalette(dc, palette_, FALSE);
    RealizePalette(dc);
  }
  // 32-bit top-down rows: 0x00RRGGBB is blue, green, red, zero in memory, as a DIB stores it.
  BITMAPINFO info{};
  BITMAPINFOHEADER& h = info.bmiHeader;
  h.biSize = 40;
  h.biWidth = stride;
  h.biHeight = -height;
  h.biPlanes = 1;
  h.biBitCount = 32;
  h.biCompression = BI_RGB;
  h.biSizeImage = 0;
  h.biXPelsPerMeter = 90;
  h.biYPelsPerMeter = 90;
  h.biClrUsed = 0;
  h.biClrImportant = 0;
  SetDIBitsToDevice(dc, x, y, width, height, 0, 0, 0, height, pixels, &info, DIB_RGB_COLORS);
}

bool Win32Platform::scroll(PlatformWindow window, int32_t dx, int32_t dy,
                           std::vector<PlatformRect>* uncovered) {
  uncovered->clear();
  HRGN update = CreateRectRgn(1, 1, 2, 2);
  if (update == nullptr) return false;
  const int result = ScrollWindowEx(hwnd_of(window), dx, dy, nullptr, nullptr, update, nullptr, 0);
  if (result != ERROR) *uncovered = region_rects(update);
  DeleteObject(update);
  return result != ERROR;
}

void Win32Platform::invalidate(PlatformWindow window, const PlatformRect& rect) {
  RECT r{rect.left, rect.top, rect.right, rect.bottom};
  InvalidateRect(hwnd_of(window), &r, FALSE);
}

void Win32Platform::set_palette(PlatformWindow window, const uint32_t* entries, int32_t count) {
  std::vector<char> buffer(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * count);
  auto* palette = reinterpret_cast<LOGPALETTE*>(buffer.data());
  palette->palVersion = 0x300;
  palette->palNumEntries = static_cast<WORD>(count);
  for (int32_t i = 0; i < count; ++i)
    palette->palPalEntry[i] = PALETTEENTRY{static_cast<BYTE>(entries[i] >> 16), static_cast<BYTE>(entries[i] >> 8),
                                           static_cast<BYTE>(entries[i]), 0};
  HPALETTE made = CreatePalette(palette);
  if (made == nullptr) return;
  if (palette_ != nullptr) DeleteObject(palette_);
  palette_ = made;
  palette_window_ = hwnd_of(window);
}

int Win32Platform::run_message_loop() {
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return static_cast<int>(m.wParam);
}

// Input, or a request to close a window (which the system posts as a system command).
bool Win32Platform::input_waiting() {
  return peek(nullptr, 0, 0, PM_QS_INPUT) || peek(nullptr, WM_CLOSE, WM_CLOSE, 0) ||
         peek(nullptr, WM_SYSCOMMAND, WM_SYSCOMMAND, 0);
}

bool Win32Platform::mouse_move_waiting(PlatformWindow window) {
  return peek(hwnd_of(window), WM_MOUSEMOVE, WM_MOUSEMOVE, 0);
}

void Win32Platform::set_timer(PlatformWindow window, int32_t id, uint32_t delay_ms) {
  SetTimer(hwnd_of(window), static_cast<UINT_PTR>(id), delay_ms, nullptr);
}

void Win32Platform::kill_timer(PlatformWindow window, int32_t id) {
  KillTimer(hwnd_of(window), static_cast<UINT_PTR>(id));
}

uint64_t Win32Platform::clock_ms() { return GetTickCount64(); }

void Win32Platform::message_box(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_ICONERROR);
}

void Win32Platform::exit_process(int code) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(code));
}
