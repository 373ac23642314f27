#include "control/refresh.h"

#include "board/poll.h"
#include "control/guard_outputs.h"
#include "control/mqtt_snapshot.h"
#include "control/web_snapshot.h"
#include "ui/board_view.h"

void RefreshBoard() {
  PollBoard();
  ShowBoard();
  HoldBoardToGuard();
  TakeWebSnapshot();
  TakeMqttSnapshot();
}
