#include "platform/timer_queue.h"

#include <algorithm>

void TimerQueue::set(PlatformWindow window, int32_t id, uint64_t due) {
  kill(window, id);
  timers_.push_back(Timer{window, id, due, order_++});
}

void TimerQueue::kill(PlatformWindow window, int32_t id) {
  std::erase_if(timers_, [&](const Timer& t) { return t.window == window && t.id == id; });
}

bool TimerQueue::take_due(uint64_t now, PlatformWindow* window, int32_t* id) {
  auto best = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->due > now) continue;
    if (best == timers_.end() || it->due < best->due || (it->due == best->due && it->order < best->order))
      best = it;
  }
  if (best == timers_.end()) return false;
  *window = best->window;
  *id = best->id;
  timers_.erase(best);
  return true;
}

int64_t TimerQueue::wait_time(uint64_t now) const {
  if (timers_.empty()) return -1;
  const uint64_t next = next_due();
  return next > now ? static_cast<int64_t>(next - now) : 0;
}

bool TimerQueue::pending(PlatformWindow window, int32_t id) const {
  for (const Timer& t : timers_)
    if (t.window == window && t.id == id) return true;
  return false;
}

bool TimerQueue::take_id(int32_t id, PlatformWindow* window) {
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.id == id; });
  if (it == timers_.end()) return false;
  *window = it->window;
  timers_.erase(it);
  return true;
}

uint64_t TimerQueue::next_due() const {
  uint64_t next = UINT64_MAX;
  for (const Timer& t : timers_) next = std::min(next, t.due);
  return next;
}

bool TimerQueue::pending_id(int32_t id, uint64_t* due) const {
  for (const Timer& t : timers_) {
    if (t.id != id) continue;
    if (due != nullptr) *due = t.due;
    return true;
  }
  return false;
}
