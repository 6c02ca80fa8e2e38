// One-shot timers kept by a message loop that has no system timers of its own: (window, id)
// pairs with a due time in milliseconds.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/platform.h"

class TimerQueue {
 public:
  // Starting a timer replaces a pending one of the same window and id.
  void set(PlatformWindow window, int32_t id, uint64_t due);
  void kill(PlatformWindow window, int32_t id);
  void clear() { timers_.clear(); }
  // Takes out the earliest timer due at `now` (in the order they were started among equal
  // times); false when none is due.
  bool take_due(uint64_t now, PlatformWindow* window, int32_t* id);
  // Takes out the first pending timer of this id, due or not; false when there is none.
  bool take_id(int32_t id, PlatformWindow* window);
  // Due time of the earliest pending timer, UINT64_MAX when none is pending.
  uint64_t next_due() const;
  // Milliseconds until the next timer falls due (0 when one is due), -1 when none is pending.
  int64_t wait_time(uint64_t now) const;
  bool pending(PlatformWindow window, int32_t id) const;
  // Whether a timer of this id is pending on any window, and when it falls due.
  bool pending_id(int32_t id, uint64_t* due) const;
  bool empty() const { return timers_.empty(); }

 private:
  struct Timer {
    PlatformWindow window;
    int32_t id;
    uint64_t due;
    uint64_t order;
  };
  std::vector<Timer> timers_;
  uint64_t order_ = 0;
};
