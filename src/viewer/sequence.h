// Commands, timers and image sequencing: which image the document window shows next, with the
// next file loaded in advance into a second group.
#pragma once
#include <cstdint>

#include "viewer/viewer.h"

// The Win32 virtual-key codes of the keys the viewer answers.
enum KeyCode : int32_t {
  KEY_ESCAPE = 27,
  KEY_SPACE = 32,
  KEY_PAGE_UP = 33,
  KEY_PAGE_DOWN = 34,
  KEY_END = 35,
  KEY_HOME = 36,
  KEY_LEFT = 37,
  KEY_UP = 38,
  KEY_RIGHT = 39,
  KEY_DOWN = 40,
  KEY_DELETE = 46,
  KEY_KEYPAD_PLUS = 107,
  KEY_KEYPAD_MINUS = 109,
  KEY_F1 = 112,
  KEY_F2 = 113,
  KEY_F3 = 114,
  KEY_F4 = 115,
  KEY_F7 = 118,
  KEY_F8 = 119,
  KEY_F12 = 123,
};

// Why the sequencer steps.
enum StepMode : int32_t { STEP_USER = 1, STEP_TIMER = 2, STEP_START = 3 };

void sequence_step(Viewer& viewer, int32_t mode);
void load_next_file(Viewer& viewer);
void advance_file(Viewer& viewer);
void show_image(Viewer& viewer, Handle image);
void title_update(Viewer& viewer, Handle image, int32_t page, int32_t count);
void redraw_now(Viewer& viewer);
enum QuarterTurn : int32_t { TURN_COUNTER_CLOCKWISE = 1, TURN_CLOCKWISE = 2 };
void rotate_command(Viewer& viewer, int32_t direction);
void delete_command(Viewer& viewer);
void key_command(Viewer& viewer, int32_t key);
void timer_action(Viewer& viewer, int32_t id);
