// Key and event mapping of the SDL backend: hand-made SDL events in, platform messages out.
#include <gtest/gtest.h>

#include "platform/sdl/sdl_events.h"
#include "platform/sdl/sdl_test_events.h"

namespace {

SdlTarget target() {
  SdlTarget t;
  t.window_id = kWindowId;
  t.main = 1;
  t.document = 2;
  t.width = 640;
  t.height = 480;
  return t;
}

std::vector<Message> run(SdlEventTranslator& translator, std::initializer_list<SDL_Event> events,
                         const SdlTarget& t = target()) {
  std::vector<Message> out;
  for (const SDL_Event& e : events) translator.translate(e, t, &out);
  return out;
}

}  // namespace

TEST(SdlKeys, KeysTakeTheirWin32VirtualKeyCodes) {
  const std::pair<SDL_Keycode, int32_t> table[] = {
      // The keys the viewer acts on.
      {SDLK_ESCAPE, 27}, {SDLK_SPACE, 32}, {SDLK_PAGEUP, 33}, {SDLK_PAGEDOWN, 34}, {SDLK_END, 35},
      {SDLK_HOME, 36}, {SDLK_LEFT, 37}, {SDLK_UP, 38}, {SDLK_RIGHT, 39}, {SDLK_DOWN, 40},
      {SDLK_DELETE, 46}, {SDLK_KP_PLUS, 107}, {SDLK_KP_MINUS, 109}, {SDLK_F1, 112}, {SDLK_F2, 113},
      {SDLK_F3, 114}, {SDLK_F4, 115}, {SDLK_F7, 118}, {SDLK_F8, 119}, {SDLK_F12, 123},
      // Others in the same numbering.
      {SDLK_a, 'A'}, {SDLK_z, 'Z'}, {SDLK_0, '0'}, {SDLK_9, '9'}, {SDLK_KP_0, 96}, {SDLK_KP_9, 105},
      {SDLK_F5, 116}, {SDLK_F11, 122}, {SDLK_RETURN, 13}, {SDLK_INSERT, 45},
      // The main keyboard's plus and minus are OEM keys on Win32, which the viewer ignores.
      {SDLK_PLUS, 0}, {SDLK_MINUS, 0}, {SDLK_UNKNOWN, 0},
  };
  for (const auto& [key, code] : table) EXPECT_EQ(sdl_virtual_key(key), code) << SDL_GetKeyName(key);
}

TEST(SdlEvents, KeyDownsReachTheMainWindowAndOtherKeyEventsDoNot) {
  SdlEventTranslator t;
  SDL_Event up = key_down(SDLK_SPACE);
  up.type = SDL_KEYUP;
  std::vector<Message> out =
      run(t, {key_down(SDLK_F4), up, key_down(SDLK_SPACE, kWindowId + 1), key_down(SDLK_UNKNOWN),
              key_down(SDLK_F4)});
  ASSERT_EQ(out.size(), 2u);  // a held key repeats as further key downs
  for (const Message& m : out) {
    EXPECT_EQ(m.kind, MSG_KEY_DOWN);
    EXPECT_EQ(m.window, 1u);
    EXPECT_EQ(m.code, 115);
  }
}

TEST(SdlEvents, MouseMovesCarryTheLeftButtonState) {
  SdlEventTranslator t;
  std::vector<Message> out = run(t, {motion(10, 20, 0), motion(30, 40, SDL_BUTTON_LMASK),
                                     motion(50, 60, SDL_BUTTON_RMASK)});
  ASSERT_EQ(out.size(), 3u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ((std::vector<int64_t>{out[i].kind, int64_t(out[i].window), out[i].x, out[i].y, out[i].left_button}),
              (std::vector<int64_t>{MSG_MOUSE_MOVE, 2, 10 + 20 * int64_t(i), 20 + 20 * int64_t(i), i == 1}));
}

TEST(SdlEvents, ClickCountsBecomeDownsAndDoubleClicksAsWin32SendsThem) {
  SdlEventTranslator t;
  // Three quick left clicks: down, up, double-click, up, down, up.
  std::vector<Message> out = run(
      t, {button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 1, 5, 6), button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 1, 5, 6),
          button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 2, 5, 6), button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 2, 5, 6),
          button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 3, 5, 6), button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 3, 5, 6)});
  const MessageKind expected[] = {MSG_LEFT_DOWN, MSG_LEFT_UP, MSG_LEFT_DOUBLE, MSG_LEFT_UP, MSG_LEFT_DOWN, MSG_LEFT_UP};
  ASSERT_EQ(out.size(), std::size(expected));
  for (size_t i = 0; i < out.size(); ++i)
    EXPECT_EQ((std::vector<int64_t>{out[i].kind, int64_t(out[i].window), out[i].x, out[i].y}),
              (std::vector<int64_t>{expected[i], 2, 5, 6})) << i;
  EXPECT_TRUE(out[0].left_button);
  EXPECT_FALSE(out[1].left_button);

  // Right button: only downs and double-clicks count; middle button nothing at all.
  out = run(t, {button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 1, 1, 2), button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 1, 1, 2),
                button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 2, 1, 2), button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE, 1, 1, 2),
                button(SDL_MOUSEBUTTONUP, SDL_BUTTON_MIDDLE, 1, 1, 2)});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(std::make_pair(out[0].kind, out[1].kind), std::make_pair(MSG_RIGHT_DOWN, MSG_RIGHT_DOUBLE));
  EXPECT_FALSE(out[1].left_button);
}

TEST(SdlEvents, MouseEventsOfAnotherWindowAreDropped) {
  SdlEventTranslator t;
  SDL_Event m = motion(1, 1, 0);
  m.motion.windowID = kWindowId + 1;
  SDL_Event b = button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 1, 1, 1);
  b.button.windowID = 0;
  EXPECT_TRUE(run(t, {m, b}).empty());
}

TEST(SdlEvents, FilesBetweenDropBeginAndCompleteAreOneDropInSdlOrder) {
  SdlEventTranslator t;
  char a[] = "/data/a.png", b[] = "/data/b dir", c[] = "/data/c.gif";
  std::vector<Message> out = run(t, {drop(SDL_DROPBEGIN), drop(SDL_DROPFILE, a), drop(SDL_DROPFILE, b)});
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(t.dropping());
  out = run(t, {drop(SDL_DROPFILE, c), drop(SDL_DROPCOMPLETE)});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(std::make_pair(out[0].kind, out[0].window), std::make_pair(MSG_DROP_FILES, PlatformWindow{2}));
  EXPECT_EQ(out[0].paths, (std::vector<std::string>{a, b, c}));
  EXPECT_FALSE(t.dropping());

  // A drop of only text gives nothing; a file without a begin is a drop of its own.
  out = run(t, {drop(SDL_DROPBEGIN), drop(SDL_DROPCOMPLETE), drop(SDL_DROPFILE, a), drop(SDL_DROPFILE, nullptr)});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].paths, std::vector<std::string>{a});

  // A second drop starts empty.
  out = run(t, {drop(SDL_DROPBEGIN), drop(SDL_DROPFILE, b), drop(SDL_DROPCOMPLETE)});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].paths, std::vector<std::string>{b});
}

TEST(SdlEvents, WindowEventsBecomeSizePaintFocusAndCloseMessages) {
  SdlEventTranslator t;
  SdlTarget maximised = target();
  maximised.maximised = true;
  std::vector<Message> out = run(t, {window_event(SDL_WINDOWEVENT_SIZE_CHANGED, 300, 200)});
  std::vector<Message> more = run(t, {window_event(SDL_WINDOWEVENT_SIZE_CHANGED, 1000, 700)}, maximised);
  out.insert(out.end(), more.begin(), more.end());
  more = run(t, {window_event(SDL_WINDOWEVENT_RESIZED, 1, 1),  // SIZE_CHANGED follows it: not twice
                 window_event(SDL_WINDOWEVENT_MINIMIZED), window_event(SDL_WINDOWEVENT_RESTORED),
                 window_event(SDL_WINDOWEVENT_EXPOSED), window_event(SDL_WINDOWEVENT_FOCUS_GAINED),
                 window_event(SDL_WINDOWEVENT_FOCUS_LOST), window_event(SDL_WINDOWEVENT_CLOSE),
                 window_event(SDL_WINDOWEVENT_MOVED, 5, 5)});
  out.insert(out.end(), more.begin(), more.end());
  struct Expected {
    MessageKind kind;
    PlatformWindow window;
    int32_t code;
  };
  const Expected expected[] = {{MSG_SIZE, 1, SIZE_RESTORED}, {MSG_SIZE, 1, SIZE_MAXIMISED},
                               {MSG_SIZE, 1, SIZE_MINIMISED}, {MSG_SIZE, 1, SIZE_RESTORED},
                               {MSG_PAINT, 2, 0}, {MSG_SET_FOCUS, 1, 0},
                               {MSG_KILL_FOCUS, 1, 0}, {MSG_CLOSE, 1, 0}};
  ASSERT_EQ(out.size(), std::size(expected));
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].kind, expected[i].kind) << i;
    if (expected[i].kind == MSG_SIZE || expected[i].kind == MSG_PAINT || expected[i].kind == MSG_CLOSE) {
      EXPECT_EQ(out[i].window, expected[i].window) << i;
      EXPECT_EQ(out[i].code, expected[i].code) << i;
    }
  }
  EXPECT_EQ(out[0].x, 300);
  EXPECT_EQ(out[0].y, 200);
  ASSERT_EQ(out[4].rects.size(), 1u);
  EXPECT_EQ(out[4].rects[0].right, 640);
  EXPECT_EQ(out[4].rects[0].bottom, 480);

  SDL_Event quit{};
  quit.type = SDL_QUIT;
  out = run(t, {quit});  // the desktop session ending, or Ctrl+C in the terminal
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(std::make_pair(out[0].kind, out[0].window), std::make_pair(MSG_CLOSE, PlatformWindow{1}));
  SDL_Event other = window_event(SDL_WINDOWEVENT_CLOSE);
  other.window.windowID = 99;  // a message box's window, say
  EXPECT_TRUE(run(t, {other}).empty());
}

TEST(SdlEvents, OnlyWhatAUserDoesCountsAsInputWaiting) {
  for (uint32_t type : {SDL_QUIT, SDL_KEYDOWN, SDL_MOUSEMOTION, SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP,
                        SDL_DROPBEGIN, SDL_DROPFILE, SDL_DROPCOMPLETE})
    EXPECT_TRUE(sdl_is_input_event(type)) << type;
  for (uint32_t type : {SDL_WINDOWEVENT, SDL_KEYUP, SDL_TEXTINPUT, SDL_MOUSEWHEEL, SDL_USEREVENT})
    EXPECT_FALSE(sdl_is_input_event(type)) << type;
}
