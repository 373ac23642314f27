#include "control/refresh.h"

#include "board/poll.h"
#include "control/guard_outputs.h"
#include "control/mqtt_snapshot.h"
#include "control/web_snapshot.h"
#include "ui/board_view.h"
#include "ui/control_numbers.h"

void SetRefreshDeadline(TickCount from) {
  AppState.Refresh.NextRefreshTime =
      from + (TickCount)AppState.Refresh.RefreshInterval;
}

void RefreshDueAt(TickCount tick) { AppState.Refresh.NextRefreshTime = tick; }

void ReadRefreshInterval() {
  AppState.Refresh.RefreshInterval = PlatGetValue(TrackbarRefresh) * 1000;
}

void RefreshBoard() {
  PollBoard();
  ShowBoard();
  HoldBoardToGuard();
  TakeWebSnapshot();
  TakeMqttSnapshot();
}
