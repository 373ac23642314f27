#include "control/sleep_watch.h"

#include <string>

#include "base/sleep_clock.h"
#include "control/alarms.h"
#include "control/guard_outputs.h"
#include "control/measurement.h"
#include "web/web_server.h"

static void AfterSleep(int64_t asleepMs) {
  AlarmPcWoke(asleepMs);
  GuardClocksAfterSleep(asleepMs);
  WebClocksAfterSleep(asleepMs);
  MeasureAfterSleep();
  // The connection checked at once: a board that went away meanwhile is
  // found by this query, a connection lost before is tried again now.
  TickCount now = PlatTickCount();
  AppState.NextRefreshTime = now;
  AppState.NextReconnectTime = now;
}

void WatchSleep() {
  NoteMainLoopPass();
  SleepClockState& s = AppState.Sleep;
  bool woke = s.Found != s.Told;
  int suspends = SuspendNotices();
  if (suspends != s.SuspendsTold) {
    s.SuspendsTold = suspends;
    // Told only while there may still be time before the sleep; once it
    // has passed, the wake's event says it.
    if (!woke) AlarmPcGoesToSleep();
  }
  if (!woke) return;
  int64_t asleep = s.SleptMs - s.ToldMs;
  s.Told = s.Found;
  s.ToldMs = s.SleptMs;
  AfterSleep(asleep);
}

Text KeepAwakeReason() {
  return "KORVALINEX bewacht den Brunnen an " + AppState.BoardAddress + ":" +
         std::to_string(AppState.BoardPort);
}

void KeepAwakeWhileGuarding(bool ending) {
  bool wanted = AppState.MeasurementEnabled && !ending;
  if (wanted == AppState.Sleep.KeepingAwake) return;
  AppState.Sleep.KeepingAwake = wanted;
  PlatKeepSystemAwake(wanted, KeepAwakeReason());
}
