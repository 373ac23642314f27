#include "base/sleep_clock.h"

#include <string>

int64_t LengthBeyondWrap(uint32_t mod, int64_t wallMs) {
  const int64_t Wrap = 1LL << 32;
  int64_t k = 0;
  if (wallMs > (int64_t)mod) k = (wallMs - (int64_t)mod + Wrap / 2) / Wrap;
  return (int64_t)mod + k * Wrap;
}

static void Found(int64_t lengthMs, TickCount now) {
  SleepClockState& s = AppState.Sleep;
  s.Found++;
  s.SleptMs += lengthMs > 0 ? lengthMs : 0;
  s.Open = true;
  s.FoundAt = now;
}

int SleepsFound() {
  SleepClockState& s = AppState.Sleep;
  TickCount tick = PlatTickCount();
  int64_t universal = PlatUniversalClock();
  uint64_t running = 0;
  bool known = PlatRunningTime(&running);
  PlatPowerNotices notices = PlatPowerNoticesSoFar();
  if (!s.Started) {
    s.Started = true;
  } else {
    uint32_t ticked = tick - s.SeenTick;
    int64_t wallMs = (universal - s.SeenUniversal) * 1000;
    bool suspended = notices.Suspends != s.SeenNotices.Suspends;
    bool resumed = notices.Resumes != s.SeenNotices.Resumes;
    // A suspend notice: the next sleep is on its way.
    if (suspended) s.Open = false;
    bool byClock = false;
    if (known && s.RunningKnown) {
      uint64_t ran = running - s.SeenRunning;
      uint32_t lead = ticked - (uint32_t)ran;
      // A lead either way within the gap is the clocks' own jitter.
      if (lead > (uint32_t)SleepClockGap &&
          lead < 0u - (uint32_t)SleepClockGap) {
        byClock = true;
        Found(LengthBeyondWrap(lead, wallMs - (int64_t)ran), tick);
      }
    }
    if (!byClock && resumed) {
      bool sameSleep =
          s.Open && !suspended && (int32_t)(tick - s.FoundAt) < ResumeMergeTime;
      // Without the clocks' word the sleep lasted at most since the look
      // before.
      if (!sameSleep) Found(LengthBeyondWrap(ticked, wallMs), tick);
    }
  }
  s.SeenTick = tick;
  s.SeenUniversal = universal;
  s.SeenRunning = running;
  s.RunningKnown = known;
  s.SeenNotices = notices;
  return s.Found;
}

int64_t SleptMs() { return AppState.Sleep.SleptMs; }

int SuspendNotices() { return PlatPowerNoticesSoFar().Suspends; }

void NoteMainLoopPass() {
  SleepsFound();
  SleepClockState& s = AppState.Sleep;
  TickCount tick = PlatTickCount();
  int64_t universal = PlatUniversalClock();
  uint32_t since = tick - s.PassTick;
  int64_t wallMs = (universal - s.PassUniversal) * 1000;
  bool first = !s.PassSeen;
  // With the clock the gap says nothing more; a sleep found since the pass
  // before, by a notice, is that gap's.
  bool accounted = s.RunningKnown || s.Found != s.PassFound;
  s.PassSeen = true;
  s.PassTick = tick;
  s.PassUniversal = universal;
  if (!first && !accounted) {
    int64_t length = LengthBeyondWrap(since, wallMs);
    if (length > SleepPassGap) Found(length, tick);
  }
  s.PassFound = s.Found;
}

TickCount SinceAcrossSleep(TickCount since, int64_t asleepMs, int64_t capMs) {
  TickCount now = PlatTickCount();
  int32_t awake = (int32_t)((now - since) - (uint32_t)(uint64_t)asleepMs);
  int64_t total = (awake > 0 ? awake : 0) + (asleepMs > 0 ? asleepMs : 0);
  if (total > capMs) total = capMs;
  if (total < 0) total = 0;
  return now - (TickCount)total;
}
