// The SDL backend driven in-process on SDL's offscreen "dummy" video driver: windows, the
// message order, peeking at waiting input, drops, timers kept by the loop, and the icon. What
// paint passes and scrolls present is the real window's test's, pixel for pixel.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "core/errors.h"
#include "viewer/icon.h"
#include "platform/sdl/sdl_platform.h"
#include "platform/sdl/sdl_test_events.h"
#include "support/test_support.h"

namespace {

struct Recorded {
  MessageKind kind;
  PlatformWindow window;
  int32_t code;
  std::pair<int32_t, int32_t> client;  // the client size as the procedure sees it
  std::vector<std::string> paths;
};

struct ExitCalled {
  int code;
};

SdlPlatform* g_sdl = nullptr;
std::vector<Recorded> g_log;
int32_t g_exit_on_timer = -1;  // the main procedure ends the process when this timer fires

void record(const Message& m) {
  int32_t width = 0, height = 0;
  g_sdl->client_size(m.window, &width, &height);
  g_log.push_back(Recorded{m.kind, m.window, m.code, {width, height}, m.paths});
}

void main_proc(const Message& m) {
  record(m);
  if (m.kind == MSG_TIMER && m.code == g_exit_on_timer) g_sdl->exit_process(7);
}

void document_proc(const Message& m) { record(m); }

std::vector<Recorded> of_kind(MessageKind kind) {
  std::vector<Recorded> out;
  for (const Recorded& r : g_log)
    if (r.kind == kind) out.push_back(r);
  return out;
}

class SdlPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_reset();
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_TRUE(sdl_video_start()) << SDL_GetError();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    g_log.clear();
    g_exit_on_timer = -1;
    sdl_ = std::make_unique<SdlPlatform>();
    g_sdl = sdl_.get();
    int32_t width = 0, height = 0;
    std::vector<uint32_t> icon;
    if (icon_load_rgb(std::string(KORVELA_SOURCE_DIR) + "/assets/korvela.png", &width, &height, &icon))
      sdl_->set_icon(std::move(icon), width, height);
    sdl_->set_exit_handler([](int code) { throw ExitCalled{code}; });
    main_ = sdl_->create_main_window("Korvela v2.0.3", main_proc);
    ASSERT_NE(main_, 0u);
    document_ = sdl_->create_document_window(main_, document_proc);
    ASSERT_NE(document_, 0u);
    window_id_ = SDL_GetWindowID(sdl_->sdl_window());
  }
  void drain() {
    for (int i = 0; i < 10000 && sdl_->dispatch_one(); ++i) {
    }
  }
  // Past the start-up messages, with an empty record.
  void settle() {
    drain();
    g_log.clear();
  }
  void push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError(); }

  std::unique_ptr<SdlPlatform> sdl_;
  PlatformWindow main_ = 0;
  PlatformWindow document_ = 0;
  uint32_t window_id_ = 0;
};

}  // namespace

// One resizable window serves as both; a second main window, or a document window of another
// parent, is refused, and the document window has no title. (Its size, title and first paint
// are the real window's test's.)
TEST_F(SdlPlatformTest, OneWindowIsBothTheMainAndTheDocumentWindow) {
  EXPECT_EQ(sdl_->create_main_window("again", main_proc), 0u);
  EXPECT_EQ(sdl_->create_document_window(document_, document_proc), 0u);
  EXPECT_NE(SDL_GetWindowFlags(sdl_->sdl_window()) & SDL_WINDOW_RESIZABLE, 0u);
  sdl_->set_title(document_, "ignored");
  EXPECT_STREQ(SDL_GetWindowTitle(sdl_->sdl_window()), "Korvela v2.0.3");
}

// Waiting input is seen without being taken from SDL's queue; dropped files arrive as one message.
TEST_F(SdlPlatformTest, WaitingInputIsSeenWithoutTakingItFromTheQueueAndDropsArriveWhole) {
  settle();
  auto waiting = [&] {
    return std::vector<bool>{sdl_->input_waiting(), sdl_->mouse_move_waiting(document_), sdl_->mouse_move_waiting(main_)};
  };
  EXPECT_EQ(waiting(), (std::vector<bool>{false, false, false}));
  push(key_down(SDLK_SPACE, window_id_));
  EXPECT_EQ(waiting(), (std::vector<bool>{true, false, false}));
  push(motion(3, 4, SDL_BUTTON_LMASK, window_id_));
  push(motion(5, 6, SDL_BUTTON_LMASK, window_id_));
  EXPECT_EQ(waiting(), (std::vector<bool>{true, true, false}));  // still there; moves go to the document window
  push(drop(SDL_DROPBEGIN, nullptr, window_id_));
  for (const char* name : {"/tmp/one.png", "/tmp/two.gif", "/tmp/three"})
    push(drop(SDL_DROPFILE, SDL_strdup(name), window_id_));  // the backend frees it, as it frees SDL's own
  push(drop(SDL_DROPCOMPLETE, nullptr, window_id_));
  drain();
  EXPECT_EQ(waiting(), (std::vector<bool>{false, false, false}));
  ASSERT_EQ(of_kind(MSG_KEY_DOWN).size(), 1u);
  EXPECT_EQ(std::make_pair(of_kind(MSG_KEY_DOWN)[0].code, of_kind(MSG_KEY_DOWN)[0].window), std::make_pair(32, main_));
  ASSERT_EQ(of_kind(MSG_MOUSE_MOVE).size(), 2u);
  EXPECT_EQ(of_kind(MSG_MOUSE_MOVE)[1].window, document_);
  std::vector<Recorded> drops = of_kind(MSG_DROP_FILES);
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].window, document_);
  EXPECT_EQ(drops[0].paths, (std::vector<std::string>{"/tmp/one.png", "/tmp/two.gif", "/tmp/three"}));
}

TEST_F(SdlPlatformTest, InputComesBeforePaintAndPaintBeforeTimers) {
  settle();
  sdl_->set_timer(main_, 3, 0);
  sdl_->invalidate(document_, PlatformRect{0, 0, 10, 10});
  push(key_down(SDLK_F1, window_id_));
  drain();
  std::vector<MessageKind> kinds;
  for (const Recorded& r : g_log)
    if (r.kind == MSG_KEY_DOWN || r.kind == MSG_PAINT || r.kind == MSG_TIMER) kinds.push_back(r.kind);
  EXPECT_EQ(kinds, (std::vector<MessageKind>{MSG_KEY_DOWN, MSG_PAINT, MSG_TIMER}));
}

TEST_F(SdlPlatformTest, TheLoopSleepsUntilTheNextTimerFallsDue) {
  drain();
  g_exit_on_timer = 5;
  const auto start = std::chrono::steady_clock::now();  // before the timer starts: a busy machine may lag
  sdl_->set_timer(main_, 5, 60);
  int code = -1;
  try {
    sdl_->run_message_loop();
  } catch (const ExitCalled& e) {
    code = e.code;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_EQ(code, 7);
  // SDL counts whole milliseconds on its own clock: allow for a few of them against ours.
  EXPECT_GE(elapsed.count(), 55);
  EXPECT_LT(elapsed.count(), 2000);
  ASSERT_EQ(of_kind(MSG_TIMER).size(), 1u);
}

TEST_F(SdlPlatformTest, ASizeChangeIsReadByTheSizeMessageAndRepaintsEverything) {
  settle();
  SDL_SetWindowSize(sdl_->sdl_window(), 300, 200);
  drain();
  ASSERT_FALSE(of_kind(MSG_SIZE).empty() || of_kind(MSG_PAINT).empty());
  const Recorded size = of_kind(MSG_SIZE).back();
  EXPECT_EQ(std::make_pair(size.window, size.client), std::make_pair(main_, std::pair(300, 200)));
  EXPECT_EQ(of_kind(MSG_PAINT).back().client, size.client);
}

TEST_F(SdlPlatformTest, DestroyingTheMainWindowTakesTheDocumentWindowWithIt) {
  settle();
  sdl_->destroy_window(main_);
  std::vector<PlatformWindow> destroyed;
  for (const Recorded& r : of_kind(MSG_DESTROY)) destroyed.push_back(r.window);
  EXPECT_EQ(destroyed, (std::vector<PlatformWindow>{main_, document_}));
  EXPECT_EQ(sdl_->sdl_window(), nullptr);
  int32_t w, h;
  sdl_->client_size(document_, &w, &h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(sdl_->run_message_loop(), 0);  // nothing left to run
}

TEST_F(SdlPlatformTest, TheIconIsTheProgramsPictureDecodedByOurDecoders) {
  const std::string path = std::string(KORVELA_SOURCE_DIR) + "/assets/korvela.png";
  LoadResult loaded = load_file(path);
  ASSERT_EQ(std::make_pair(loaded.error, loaded.images.size()), std::make_pair(0, size_t{1}));
  EXPECT_TRUE(sdl_->icon_set());
  int32_t w = 0, h = 0;
  std::vector<uint32_t> rgb;
  g_error = 9;  // whatever the caller had pending stays
  EXPECT_TRUE(icon_load_rgb(path, &w, &h, &rgb));
  EXPECT_EQ(g_error, 9);
  EXPECT_EQ(std::make_pair(w, h), std::make_pair(64, 64));
  EXPECT_EQ(rgb, image_rgb(loaded.images[0]));
  g_error = 0;  // and a missing icon leaves none
  EXPECT_FALSE(icon_load_rgb(test_temp_dir() + "/no such icon.png", &w, &h, &rgb));
  EXPECT_EQ(g_error, 0);
}
