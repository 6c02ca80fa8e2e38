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

// Kind, window, code, x, y and the left button of each message.
std::vector<std::vector<int64_t>> fields(const std::vector<Message>& out) {
  std::vector<std::vector<int64_t>> all;
  for (const Message& m : out) all.push_back({m.kind, int64_t(m.window), m.code, m.x, m.y, m.left_button});
  return all;
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
  // A held key repeats as further key downs.
  EXPECT_EQ(fields(run(t, {key_down(SDLK_F4), up, key_down(SDLK_SPACE, kWindowId + 1), key_down(SDLK_UNKNOWN),
                           key_down(SDLK_F4)})),
            (std::vector<std::vector<int64_t>>(2, {MSG_KEY_DOWN, 1, 115, 0, 0, 0})));
}

// Moves carry the left button; clicks become downs and double-clicks as Win32 sends them (right
// button: downs and double-clicks only, middle button nothing); other windows' events are dropped.
TEST(SdlEvents, MouseEventsOfTheWindowBecomeMovesDownsUpsAndDoubleClicks) {
  SdlEventTranslator t;
  SDL_Event elsewhere = motion(1, 1, 0, kWindowId + 1), no_window = button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 1, 1, 1);
  no_window.button.windowID = 0;
  std::vector<SDL_Event> events = {motion(10, 20, 0), motion(30, 40, SDL_BUTTON_LMASK), motion(50, 60, SDL_BUTTON_RMASK),
                                   elsewhere, no_window};
  for (uint8_t clicks : {1, 2, 3})  // three quick left clicks
    for (uint32_t type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) events.push_back(button(type, SDL_BUTTON_LEFT, clicks, 5, 6));
  for (uint8_t which : {SDL_BUTTON_RIGHT, SDL_BUTTON_MIDDLE})
    for (uint8_t clicks : {1, 2})
      for (uint32_t type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) events.push_back(button(type, which, clicks, 1, 2));
  std::vector<Message> out;
  for (const SDL_Event& e : events) t.translate(e, target(), &out);
  EXPECT_EQ(fields(out), (std::vector<std::vector<int64_t>>{
                             {MSG_MOUSE_MOVE, 2, 0, 10, 20, 0}, {MSG_MOUSE_MOVE, 2, 0, 30, 40, 1},
                             {MSG_MOUSE_MOVE, 2, 0, 50, 60, 0}, {MSG_LEFT_DOWN, 2, 0, 5, 6, 1},
                             {MSG_LEFT_UP, 2, 0, 5, 6, 0}, {MSG_LEFT_DOUBLE, 2, 0, 5, 6, 1},
                             {MSG_LEFT_UP, 2, 0, 5, 6, 0}, {MSG_LEFT_DOWN, 2, 0, 5, 6, 1},
                             {MSG_LEFT_UP, 2, 0, 5, 6, 0}, {MSG_RIGHT_DOWN, 2, 0, 1, 2, 0},
                             {MSG_RIGHT_DOUBLE, 2, 0, 1, 2, 0}}));
}

TEST(SdlEvents, FilesBetweenDropBeginAndCompleteAreOneDropInSdlOrder) {
  SdlEventTranslator t;
  char a[] = "/data/a.png", b[] = "/data/b dir", c[] = "/data/c.gif";
  EXPECT_TRUE(run(t, {drop(SDL_DROPBEGIN), drop(SDL_DROPFILE, a), drop(SDL_DROPFILE, b)}).empty());
  EXPECT_TRUE(t.dropping());
  std::vector<Message> out = run(t, {drop(SDL_DROPFILE, c), drop(SDL_DROPCOMPLETE)});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(std::make_pair(out[0].kind, out[0].window), std::make_pair(MSG_DROP_FILES, PlatformWindow{2}));
  EXPECT_EQ(out[0].paths, (std::vector<std::string>{a, b, c}));
  EXPECT_FALSE(t.dropping());
  // A drop of only text gives nothing; a file without a begin is a drop of its own; a second
  // drop starts empty.
  out = run(t, {drop(SDL_DROPBEGIN), drop(SDL_DROPCOMPLETE), drop(SDL_DROPFILE, a), drop(SDL_DROPFILE, nullptr),
                drop(SDL_DROPBEGIN), drop(SDL_DROPFILE, b), drop(SDL_DROPCOMPLETE)});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(std::make_pair(out[0].paths, out[1].paths),
            std::make_pair(std::vector<std::string>{a}, std::vector<std::string>{b}));
}

TEST(SdlEvents, WindowEventsBecomeSizePaintFocusAndCloseMessages) {
  SdlEventTranslator t;
  SdlTarget maximised = target();
  maximised.maximised = true;
  SDL_Event quit{}, other = window_event(SDL_WINDOWEVENT_CLOSE);
  quit.type = SDL_QUIT;  // the desktop session ending, or Ctrl+C in the terminal
  other.window.windowID = 99;  // a message box's window, say
  std::vector<Message> out = run(t, {window_event(SDL_WINDOWEVENT_SIZE_CHANGED, 300, 200)});
  for (const Message& m : run(t, {window_event(SDL_WINDOWEVENT_SIZE_CHANGED, 1000, 700)}, maximised)) out.push_back(m);
  for (const Message& m : run(t, {window_event(SDL_WINDOWEVENT_RESIZED, 1, 1),  // SIZE_CHANGED follows it: not twice
                                  window_event(SDL_WINDOWEVENT_MINIMIZED), window_event(SDL_WINDOWEVENT_RESTORED),
                                  window_event(SDL_WINDOWEVENT_EXPOSED), window_event(SDL_WINDOWEVENT_FOCUS_GAINED),
                                  window_event(SDL_WINDOWEVENT_FOCUS_LOST), window_event(SDL_WINDOWEVENT_CLOSE),
                                  window_event(SDL_WINDOWEVENT_MOVED, 5, 5), quit, other}))
    out.push_back(m);
  std::vector<std::vector<int64_t>> got = fields(out);
  for (auto& f : got) f.resize(3);
  EXPECT_EQ(got, (std::vector<std::vector<int64_t>>{{MSG_SIZE, 1, SIZE_RESTORED}, {MSG_SIZE, 1, SIZE_MAXIMISED},
                                                     {MSG_SIZE, 1, SIZE_MINIMISED}, {MSG_SIZE, 1, SIZE_RESTORED},
                                                     {MSG_PAINT, 2, 0}, {MSG_SET_FOCUS, 1, 0}, {MSG_KILL_FOCUS, 1, 0},
                                                     {MSG_CLOSE, 1, 0}, {MSG_CLOSE, 1, 0}}));
  EXPECT_EQ(std::make_pair(out[0].x, out[0].y), std::make_pair(300, 200));
  ASSERT_EQ(out[4].rects.size(), 1u);
  EXPECT_EQ(std::make_pair(out[4].rects[0].right, out[4].rects[0].bottom), std::make_pair(640, 480));
}

TEST(SdlEvents, OnlyWhatAUserDoesCountsAsInputWaiting) {
  for (uint32_t type : {SDL_QUIT, SDL_KEYDOWN, SDL_MOUSEMOTION, SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP,
                        SDL_DROPBEGIN, SDL_DROPFILE, SDL_DROPCOMPLETE})
    EXPECT_TRUE(sdl_is_input_event(type)) << type;
  for (uint32_t type : {SDL_WINDOWEVENT, SDL_KEYUP, SDL_TEXTINPUT, SDL_MOUSEWHEEL, SDL_USEREVENT})
    EXPECT_FALSE(sdl_is_input_event(type)) << type;
}

// The keypad follows Num Lock: digits with it on, the navigation keys with it off.
TEST(SdlKeys, NumLockDecidesBetweenKeypadDigitsAndNavigation) {
  const struct {
    SDL_Keycode key;
    int32_t num_lock_on, num_lock_off;
  } rows[] = {
      {SDLK_KP_0, 96, 45},  {SDLK_KP_1, 97, 35},  {SDLK_KP_2, 98, 40},      {SDLK_KP_3, 99, 34},
      {SDLK_KP_4, 100, 37}, {SDLK_KP_5, 101, 12}, {SDLK_KP_6, 102, 39},     {SDLK_KP_7, 103, 36},
      {SDLK_KP_8, 104, 38}, {SDLK_KP_9, 105, 33}, {SDLK_KP_PERIOD, 110, 46}, {SDLK_KP_PLUS, 107, 107},
      {SDLK_HOME, 36, 36},  // some desktops already report the navigation key
  };
  SdlEventTranslator translator;
  for (const auto& row : rows)
    for (uint16_t mod : {uint16_t(KMOD_NUM | KMOD_LSHIFT), uint16_t(KMOD_NONE), uint16_t(KMOD_CAPS)}) {
      SDL_Event e = key_down(row.key);
      e.key.keysym.mod = mod;
      const std::vector<Message> out = run(translator, {e});
      ASSERT_EQ(out.size(), 1u) << SDL_GetKeyName(row.key);
      EXPECT_EQ(out[0].code, (mod & KMOD_NUM) ? row.num_lock_on : row.num_lock_off) << SDL_GetKeyName(row.key) << " mod " << mod;
    }
}
