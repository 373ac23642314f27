#include "app/main_loop.h"

#include <string>

#include "app/startup.h"
#include "app/state.h"
#include "board/connection.h"
#include "board/poll.h"
#include "control/switching.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

static uint32_t Now() { return PlatTickCount(); }

// Milliseconds from the refresh deadline to `now`, as a signed 32-bit
// difference, so the tick count's wrap after 49.7 days changes nothing.
static int32_t PastDeadline(uint32_t now) {
  return (int32_t)(now - (uint32_t)AppState.NextRefreshTime);
}

static void SetDeadline(uint32_t from) {
  AppState.NextRefreshTime = (int)(from + (uint32_t)AppState.RefreshInterval);
}

static void EnterLoop() {
  AppState.NextRefreshTime =
      (int)(Now() + (uint32_t)(PlatGetValue(TrackbarRefresh) * 1000));
  PlatSetValue(TrackbarRefresh, AppState.InitialRefreshInterval / 6000);
  AppState.RefreshInterval = PlatGetValue(TrackbarRefresh) * 1000;
  RenewReplyWait();
  PollBoard();
  AppState.MeasurementEnabled = 1;
  AppState.MinimumEnabled = 1;
  AppState.MaximumEnabled = 1;
  AppState.CyclePeriod = 360;
  PlatSetValue(TrackbarCycle, AppState.CyclePeriod);
  PlatSetText(LabelCyclePeriod, std::to_string(AppState.CyclePeriod) + " s");
}

static void HandleControl(int control) {
  switch (control) {
    case ButtonQuit:
      AppState.LastEvent = EventClose;
      AppState.LastEventNumber = MainWindow;
      break;
    default:
      break;  // controls read when needed, not when used
  }
}

static void RunPass() {
  RenewReplyWait();

  PlatEvent event = PlatWaitEvent(500);
  AppState.LastEvent = event.Kind;
  AppState.LastEventNumber = event.Number;

  AppState.RefreshInterval = PlatGetValue(TrackbarRefresh) * 1000;
  PlatSetText(LabelRefreshSeconds,
              std::to_string(AppState.RefreshInterval / 1000));
  int seconds = -(PastDeadline(Now()) / 1000);
  PlatSetText(LabelPingCountdown,
              "Ping war " + std::to_string(AppState.PingTime) +
                  " ms / Neue Daten in " + std::to_string(seconds) + " s");

  if (PastDeadline(Now()) >= 0) {
    PollBoard();
    PlaySwitchSound();
    SetDeadline(Now());
  }

  ApplySafetyLock();

  if (AppState.LastEvent == EventControl) HandleControl(event.Number);

  PlatEraseOnlyOutsideControls(MainWindow);
}

void RunMainLoop() {
  EnterLoop();
  do {
    RunPass();
  } while (AppState.LastEvent != EventClose);
}
