// Headless stand-in: the driven clock, window timers and the event wait.
//
// The clock moves only when the program sleeps or waits for an event, or
// when a test moves it. It is atomic because the board simulator reads it
// from its own thread for the time stamps of its log; everything else here
// belongs to the program's thread (and the wait hook, which runs on it).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <thread>

#include "platform/headless/headless.h"
#include "platform/headless/headless_internal.h"

namespace {

// The shortest interval a window timer accepts, as on the real platform.
constexpr int ShortestTimerInterval = 10;

struct WindowTimer {
  int Number;
  int Interval;
  uint32_t NextDue;
  bool Pending;  // one tick waits to be taken; further ones merge into it
};

struct EventModel {
  std::deque<PlatEvent> Queue;
  std::deque<int> MouseClicks;        // input not yet delivered, by control
  std::map<int, WindowTimer> Timers;  // by window
  std::vector<int> Sleeps;
  std::function<void()> WaitHook;
  std::function<void()> ServeHook;
  int ServeCount = 0;
  int WaitCount = 0;
  int WaitLimit = 0;
  bool RealTimeWaits = false;
  long RealTimeWaited = 0;
};

std::atomic<uint32_t> Clock{0};
// Milliseconds the clock has moved since the reset, without the wrap and
// without HeadlessSetClock: the local wall clock follows this.
std::atomic<int64_t> Elapsed{0};
// The time the system ran (PlatRunningTime): it moves with the clock and
// jumps with it, but stands still while the system sleeps.
std::atomic<uint64_t> Running{0};
bool RunningKnown = true;
EventModel Events;

// Signed distance from `from` to `to` on the wrapping 32-bit clock.
int32_t Ahead(uint32_t from, uint32_t to) { return (int32_t)(to - from); }

// Every timer whose tick has come gets one pending tick, however many of
// its intervals have passed; its next tick stays on its own grid.
void MarkDueTimers() {
  uint32_t now = Clock.load();
  for (auto& entry : Events.Timers) {
    WindowTimer& t = entry.second;
    int32_t late = Ahead(t.NextDue, now);
    if (late < 0) continue;
    t.Pending = true;
    t.NextDue += (uint32_t)(late / t.Interval + 1) * (uint32_t)t.Interval;
  }
}

void MoveClock(int ms) {
  if (ms > 0) {
    Clock.fetch_add((uint32_t)ms);
    Elapsed.fetch_add(ms);
    Running.fetch_add((uint64_t)ms);
  }
  MarkDueTimers();
}

// Queued events come before timer ticks, as posted messages do before
// WM_TIMER.
bool TakeReadyEvent(PlatEvent* event) {
  if (!Events.Queue.empty()) {
    *event = Events.Queue.front();
    Events.Queue.pop_front();
    return true;
  }
  for (auto& entry : Events.Timers) {
    if (!entry.second.Pending) continue;
    entry.second.Pending = false;
    *event = PlatEvent{EventTimer, entry.second.Number};
    return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared with the other pieces
// ---------------------------------------------------------------------------

void HeadlessResetEvents() {
  Events = EventModel();
  Clock.store(0);
  Elapsed.store(0);
  // Far from 0, so that a clock set back does not take it below.
  Running.store(1ull << 40);
  RunningKnown = true;
}

int64_t HeadlessElapsedMs() { return Elapsed.load(); }

void HeadlessQueueEvent(EventKind kind, int number) {
  Events.Queue.push_back(PlatEvent{kind, number});
}

void HeadlessDropControlEvents(const std::vector<int>& numbers) {
  auto gone = [&numbers](const PlatEvent& e) {
    return e.Kind == EventControl &&
           std::find(numbers.begin(), numbers.end(), e.Number) != numbers.end();
  };
  Events.Queue.erase(
      std::remove_if(Events.Queue.begin(), Events.Queue.end(), gone),
      Events.Queue.end());
}

void HeadlessStartTimer(int window, int timer, int intervalMs) {
  int interval = std::max(intervalMs, ShortestTimerInterval);
  Events.Timers[window] =
      WindowTimer{timer, interval, Clock.load() + (uint32_t)interval, false};
}

void HeadlessStopTimer(int window) { Events.Timers.erase(window); }

// ---------------------------------------------------------------------------
// Test API
// ---------------------------------------------------------------------------

const std::vector<int>& HeadlessSleeps() { return Events.Sleeps; }

// A jump, not a passage of time: running timers count their interval
// afresh from the new reading.
void HeadlessSetClock(uint32_t ticks) {
  Running.fetch_add((uint64_t)(int64_t)Ahead(Clock.load(), ticks));
  Clock.store(ticks);
  for (auto& entry : Events.Timers)
    entry.second.NextDue = ticks + (uint32_t)entry.second.Interval;
}

void HeadlessAdvanceClock(int ms) { MoveClock(ms); }

void HeadlessSleepClocks(int64_t ms) {
  if (ms <= 0) return;
  Clock.fetch_add((uint32_t)(uint64_t)ms);
  Elapsed.fetch_add(ms);
  // Every timer fell due in the sleep, however long (beyond the reach of
  // a signed difference too): one pending tick, the next an interval on.
  uint32_t now = Clock.load();
  for (auto& entry : Events.Timers) {
    entry.second.Pending = true;
    entry.second.NextDue = now + (uint32_t)entry.second.Interval;
  }
}

void HeadlessSetRunningClock(bool known) { RunningKnown = known; }

bool PlatRunningTime(uint64_t* ms) {
  *ms = RunningKnown ? Running.load() : 0;
  return RunningKnown;
}

void HeadlessQueueMouseClick(int number) {
  Events.MouseClicks.push_back(number);
}

void HeadlessSetWaitHook(std::function<void()> hook) {
  Events.WaitHook = std::move(hook);
}

int HeadlessWaitCount() { return Events.WaitCount; }

void HeadlessSetServeHook(std::function<void()> hook) {
  Events.ServeHook = std::move(hook);
}

int HeadlessServeCount() { return Events.ServeCount; }

void HeadlessSetWaitLimit(int waits) { Events.WaitLimit = waits; }

void HeadlessSetRealTimeWaits(bool on) { Events.RealTimeWaits = on; }

long HeadlessRealTimeWaited() { return Events.RealTimeWaited; }

// ---------------------------------------------------------------------------
// Platform
// ---------------------------------------------------------------------------

PlatEvent PlatWaitEvent(int maxMs) {
  Events.WaitCount++;
  if (Events.WaitLimit > 0 && Events.WaitCount > Events.WaitLimit)
    return PlatEvent{EventClose, 0};

  // The hook acts for the operator whenever nothing has been posted yet,
  // also when a tick is pending: what it posts comes first.
  PlatEvent event{EventNone, 0};
  // Queued input is delivered one click a wait, to the control as it is now.
  if (Events.Queue.empty() && !Events.MouseClicks.empty()) {
    int number = Events.MouseClicks.front();
    Events.MouseClicks.pop_front();
    if (!HeadlessPostClick(number)) return PlatEvent{EventOther, 0};
  }
  if (Events.Queue.empty() && Events.WaitHook) {
    // Copied: the hook may replace itself.
    std::function<void()> hook = Events.WaitHook;
    hook();
  }
  HeadlessDeliverSessionEnd();
  if (TakeReadyEvent(&event)) return event;

  int limit = std::max(maxMs, 0);
  uint32_t now = Clock.load();
  int step = limit;
  for (const auto& entry : Events.Timers)
    step = std::min(step, (int)std::max(Ahead(now, entry.second.NextDue), 0));
  if (Events.RealTimeWaits && step > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(step));
    Events.RealTimeWaited += step;
  }
  MoveClock(step);
  if (TakeReadyEvent(&event)) return event;
  return PlatEvent{EventNone, 0};
}

// The headless windows need no painting; a test sees each call.
void PlatServeWindows() {
  Events.ServeCount++;
  if (Events.ServeHook) {
    std::function<void()> hook = Events.ServeHook;
    hook();
  }
  HeadlessDeliverSessionEnd();
}

uint32_t PlatTickCount() { return Clock.load(); }

void PlatSleep(int ms) {
  Events.Sleeps.push_back(ms);
  if (Events.RealTimeWaits && ms > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  MoveClock(ms);
}
