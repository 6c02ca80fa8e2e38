// Drives the whole viewer on the headless platform: start-up with names, keys, mouse,
// drops, timers; reads back the title, the frame buffer and the log.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "display/display.h"
#include "image/image.h"
#include "platform/headless/headless.h"
#include "viewer/sequence.h"
#include "viewer/viewer.h"
#include "viewer/zoom.h"

// Red follows x, green follows y: every pixel of a small picture tells where it came from.
uint32_t gradient(int32_t x, int32_t y);

class ViewerHarness : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the viewer with these names (relative names against dir()); true while it runs.
  bool start(const std::vector<std::string>& names, int32_t width = 400, int32_t height = 300);
  void key(int32_t code);
  std::string title() const;
  const std::vector<uint32_t>& frame() const;
  uint32_t at(int32_t x, int32_t y) const;
  std::string log_text() const;
  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // Writes a file below dir().
  void write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  // The program's pictures as placeholders (by default they are missing: none is shown).
  void use_real_placeholders();

  // A hand-made image record (not decoded from a file), pixel (x, y) = colour(x, y).
  ImageRecord* make_rgb_image(int32_t width, int32_t height, uint32_t (*colour)(int32_t, int32_t), Handle group);
  // Makes an RGB image of the shown file, pixel (x, y) = colour(x, y), and shows it as the
  // sequencer shows a file's image.
  ImageRecord* show_made(int32_t width, int32_t height, uint32_t (*colour)(int32_t, int32_t) = gradient);
  View* view() const;
  // The "page i/n" part of the title, without its words ("" for a single image).
  std::string page() const;
  // Replaces the shown file by a hand-made one of `delays.size()` images with frame controls
  // (as the GIF decoder leaves an animation in a group; no controls when `delays` is empty
  // and `still` images are made instead), then steps to its first image.
  void play_hand_made(const std::vector<int32_t>& delays, uint16_t loops, int32_t still = 0,
                      int32_t width = 10, int32_t height = 8);

  std::unique_ptr<HeadlessPlatform> hp;
  Viewer viewer;
  std::string error_placeholder = "erreur.png";
  std::string unknown_placeholder = "inconnu.png";
  std::string dir_;
};

// A 24-bit uncompressed BMP file, pixel (x, y) = colour(x, y) as 0x00RRGGBB.
std::vector<uint8_t> bmp24(int32_t width, int32_t height, uint32_t (*colour)(int32_t, int32_t));

// Runs `body` in a child process without root rights (as nobody, 65534, when this process is
// root) and returns what it returned, or how the child ended when it did not finish. The
// private test folder is opened to that user first (its folders keep their own modes).
std::string as_unprivileged(const std::function<std::string()>& body);
// What runs a command line without root rights: setpriv when this process is root.
std::string unprivileged_prefix();
// The samples of the source tree, e.g. sample("rose.bmp").
std::string sample(const std::string& name);
