#include "app/main_loop.h"

#include <string>

#include "base/state.h"
#include "base/state_words.h"
#include "base/wait_service.h"
#include "board/commands.h"
#include "control/alarms.h"
#include "control/console.h"
#include "control/history.h"
#include "control/measurement.h"
#include "control/mqtt_snapshot.h"
#include "control/refresh.h"
#include "control/sleep_watch.h"
#include "control/switching.h"
#include "control/web_snapshot.h"
#include "mqtt/mqtt_client.h"
#include "ui/board_view.h"
#include "ui/click.h"
#include "ui/console.h"
#include "ui/control_numbers.h"
#include "ui/description_window.h"
#include "ui/held_buttons.h"
#include "ui/history_window.h"

static TickCount Now() { return PlatTickCount(); }

// Milliseconds from the refresh deadline to `now`, as a signed 32-bit
// difference, so the tick count's wrap after 49.7 days changes nothing.
static int32_t PastDeadline(TickCount now) {
  return (int32_t)(now - AppState.Refresh.NextRefreshTime);
}

static void SetDeadline(TickCount from) { SetRefreshDeadline(from); }

static void EnterLoop() {
  RefreshDueAt(Now() + (TickCount)(PlatGetValue(TrackbarRefresh) * 1000));
  PlatSetValue(TrackbarRefresh, Settings().InitialRefreshInterval / 6000);
  ReadRefreshInterval();
  RefreshBoard();
  ReleaseAllFunctions();
  StartCyclePeriod();
  // The guard's watch on itself starts with the released measurement.
  AlarmGuardWatchFromNow();
}

static void HandleControl(int control) {
  if (!ButtonTakesClick(control)) return;
  switch (control) {
    case ButtonPulse1:
      PulseOutput(1);
      break;
    case ButtonPulse2:
      PulseOutput(2);
      break;
    case ButtonPulse8:
      PulseOutput(8);
      break;
    case ButtonOutput6On:
    case ButtonOutput6Off:
      SwitchOutput(6, control == ButtonOutput6On);
      break;
    case ButtonOutput7On:
    case ButtonOutput7Off:
      SwitchOutput(7, control == ButtonOutput7On);
      break;
    case ButtonMeasurementOn:
    case ButtonMeasurementOff:
      SwitchFunction(3, control == ButtonMeasurementOn);
      break;
    case ButtonMinimumOn:
    case ButtonMinimumOff:
      SwitchFunction(4, control == ButtonMinimumOn);
      break;
    case ButtonMaximumOn:
    case ButtonMaximumOff:
      SwitchFunction(5, control == ButtonMaximumOn);
      break;
    case CheckSafetyLock:
      SafetyLockClicked();
      break;
    case ButtonConsoleSend:
      SendConsoleCommand();
      break;
    case ButtonCommandOverview:
      ShowCommandOverview();
      break;
    case ButtonPicture:
      OpenDescriptionWindow();
      break;
    case ButtonCloseDescription:
      CloseDescriptionWindow();
      break;
    case ButtonMakerPage:
      OpenMakerPage();
      break;
    case ButtonCloseHistory:
      CloseHistoryWindow();
      break;
    case ButtonSaveHistory:
      SaveHistoryAsCsv();
      break;
    case ButtonQuit:
      AppState.Loop.LastEvent = EventClose;
      AppState.Loop.LastEventNumber = MainWindow;
      break;
    default:
      break;  // fields and trackbars are read when needed, not when used
  }
}

// The event wait ends at the refresh deadline (or, while the connection is
// lost, at the next attempt to reconnect), and after 500 ms at the latest.
static int WaitLimit() {
  TickCount due = AppState.Link.ConnectionLost
                      ? AppState.Link.NextReconnectTime
                      : AppState.Refresh.NextRefreshTime;
  int32_t left = (int32_t)(due - Now());
  if (left < 0) return 0;
  return left < 500 ? (int)left : 500;
}

// The event wait: served, so that the status page (and any other service)
// is answered meanwhile; the same events at the same moments.
static PlatEvent WaitForEvent(int limit) {
  WaitClock clock = StartWaitClock();
  WaitFor event = WaitForEventOfWindows();
  ServedWait(&clock, limit, &event);
  return event.Event;
}

// Label 36: the ping time and the seconds to the next query, or while the
// connection is lost the seconds to the next attempt, or while the last
// evaluation of the level decided nothing for want of a proven reading,
// that.
static void ShowPingCountdown() {
  if (AppState.Link.ConnectionLost) {
    ShowReconnectCountdown();
    return;
  }
  if (AppState.Measurement.DoubtedEvaluations > 0) {
    PlatSetText(LabelPingCountdown, AppState.Measurement.DoubtedLastSwitched5
                                        ? DoubtedOutput4Text
                                        : DoubtedReadingText);
    return;
  }
  int seconds = -(PastDeadline(Now()) / 1000);
  PlatSetText(LabelPingCountdown,
              "Ping war " + std::to_string(AppState.Readings.PingTime) +
                  " ms / Neue Daten in " + std::to_string(seconds) + " s");
}

// The automatic query, or while the connection is lost the attempt to
// reconnect; a new connection is queried at once.
static void RefreshOrReconnect() {
  bool reconnected = false;
  if (AppState.Link.ConnectionLost) {
    // A board that lost the connection may have lost its outputs as well:
    // the sensor is read again only after its warm-up on the next one.
    ForgetSensorPower();
    int32_t left = (int32_t)(AppState.Link.NextReconnectTime - Now());
    if (left > 0 || !Reconnect()) return;
    reconnected = true;
  } else if (PastDeadline(Now()) < 0) {
    return;
  }
  RefreshBoard();
  PlaySwitchSound();
  SetDeadline(Now());
  // Back with the board: label 36 shows it at once.
  if (reconnected) ShowPingCountdown();
}

// The guard's own work, the same in every pass of the main loop and in the
// loops the system runs meanwhile (a menu, a move, a dialog): the watch on
// sleeps and on itself, the level, the query at the set rate or the attempt
// to reconnect, label 36, and on the measurement timer's tick the
// measurement cycle and what shows it. `wait` gives the pass's event.
static PlatEvent GuardPass(PlatEvent (*wait)()) {
  WatchSleep();
  KeepAwakeWhileGuarding();
  WatchAlarms();
  ShowLevelPercent();
  ReadCyclePeriod();

  PlatEvent event = wait();
  // Windows ends the session: nothing more is begun.
  if (event.Kind == EventSessionEnd) return event;
  // A sleep in the wait is dealt with before its tick or its click.
  WatchSleep();

  ReadRefreshInterval();
  PlatSetText(LabelRefreshSeconds,
              std::to_string(AppState.Refresh.RefreshInterval / 1000));
  ShowPingCountdown();

  RefreshOrReconnect();

  ApplySafetyLock();

  if (event.Kind == EventTimer && event.Number == MeasurementTimer) {
    MeasurementCycle();
    ShowHistory();
    TakeWebSnapshot();
    TakeMqttSnapshot();
  }
  return event;
}

// The main loop's wait for the operator or a tick. While buttons are held
// the event wait takes what is already there and does not wait: the clicks
// made while they were greyed find them so, and the first wait that finds
// nothing makes them usable.
static PlatEvent OperatorWait() {
  PlatEvent event = WaitForEvent(ButtonsHeld() ? 0 : WaitLimit());
  // Windows ends the session, and has been told why: the program ends at
  // once, as after QUIT.
  if (event.Kind == EventSessionEnd) {
    AppState.Loop.LastEvent = EventClose;
    AppState.Loop.LastEventNumber = MainWindow;
    return event;
  }
  if (event.Kind == EventNone) ReleaseHeldButtons();
  AppState.Loop.LastEvent = event.Kind;
  AppState.Loop.LastEventNumber = event.Number;
  return event;
}

static void RunPass() {
  PlatEvent event = GuardPass(OperatorWait);
  if (event.Kind == EventSessionEnd) return;

  if (AppState.Loop.LastEvent == EventControl) {
    HandleControl(event.Number);
  } else if (AppState.Loop.LastEvent == EventMenu &&
             event.Number == MenuLevelHistory) {
    OpenHistoryWindow();
  } else if (AppState.Loop.LastEvent == EventResize &&
             event.Number == HistoryWindow) {
    HistoryWindowResized();
  } else if (AppState.Loop.LastEvent == EventClose &&
             event.Number != MainWindow) {
    // A close request for another window (the description window has no
    // close box, but the platform may still ask; the history window has
    // one) closes that window as its own button does; only the main
    // window's close ends the program and with it the pump's protection.
    if (event.Number == DescriptionWindow) CloseDescriptionWindow();
    if (event.Number == HistoryWindow) CloseHistoryWindow();
    AppState.Loop.LastEvent = EventNone;
  }

  PlatEraseOnlyOutsideControls(MainWindow);
}

// While a menu is open, a window is moved or sized, or a dialog waits for
// the operator, the system runs its own loop and the main loop stands
// still. The guard goes on in there: its wait is the status page and the
// measurement tick, if one waits; the operator's input stays queued, in
// order, for the main loop. Never inside itself, and never while the
// program waits for the board: a loop that began in the middle of an
// exchange leaves the exchange to end first.
static bool InModalService;

static PlatEvent TickInModalLoop() {
  ServeWaitServices();
  if (PlatTakeTimerTick(MeasurementTimer))
    return PlatEvent{EventTimer, MeasurementTimer};
  return PlatEvent{EventNone, 0};
}

static void ServeModalLoop() {
  if (InModalService || WaitingForBoard()) return;
  InModalService = true;
  GuardPass(TickInModalLoop);
  InModalService = false;
}

void RunMainLoop() {
  EnterLoop();
  PlatSetModalService(ServeModalLoop);
  do {
    RunPass();
  } while (AppState.Loop.LastEvent != EventClose);
  PlatSetModalService(nullptr);
  KeepAwakeWhileGuarding(true);
}
