#include "control/sleep_watch.h"

#include <string>

#include "base/sleep_clock.h"
#include "board/link.h"
#include "control/alarms.h"
#include "control/guard_outputs.h"
#include "control/measurement.h"
#include "control/refresh.h"
#include "web/web_server.h"

static void AfterSleep(int64_t asleepMs) {
  AlarmPcWoke(asleepMs);
  GuardClocksAfterSleep(asleepMs);
  WebClocksAfterSleep(asleepMs);
  MeasureAfterSleep();
  // The connection checked at once: a board that went away meanwhile is
  // found by this query, a connection lost before is tried again now.
  TickCount now = PlatTickCount();
  RefreshDueAt(now);
  ReconnectAt(now);
}

void WatchSleep() {
  NoteMainLoopPass();
  const SleepClockState& s = AppState.Sleep;
  SleepWatchState& told = AppState.SleepWatch;
  bool woke = s.Found != told.Told;
  int suspends = SuspendNotices();
  if (suspends != told.SuspendsTold) {
    told.SuspendsTold = suspends;
    // Told only while there may still be time before the sleep; once it
    // has passed, the wake's event says it.
    if (!woke) AlarmPcGoesToSleep();
  }
  if (!woke) return;
  int64_t asleep = s.SleptMs - told.ToldMs;
  told.Told = s.Found;
  told.ToldMs = s.SleptMs;
  AfterSleep(asleep);
}

Text KeepAwakeReason() {
  return "KORVALINEX bewacht den Brunnen an " + Settings().BoardAddress + ":" +
         std::to_string(Settings().BoardPort);
}

void KeepAwakeWhileGuarding(bool ending) {
  bool wanted = AppState.Switching.MeasurementEnabled && !ending;
  if (wanted == AppState.SleepWatch.KeepingAwake) return;
  AppState.SleepWatch.KeepingAwake = wanted;
  PlatKeepSystemAwake(wanted, KeepAwakeReason());
}
