#include "control/refresh.h"

#include "board/poll.h"
#include "ui/board_view.h"

void RefreshBoard() {
  PollBoard();
  ShowBoard();
}
