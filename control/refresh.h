// What follows every exchange with the board.
#pragma once

#include "base/state.h"

// A board query (PollBoard), the redraw of what it read (ShowBoard), the
// board's outputs compared with the guard's decisions (HoldBoardToGuard),
// and with /web the status page's snapshot of it.
void RefreshBoard();

// The board query's timing (AppState.Refresh), written here alone: the
// next query is due one interval after `from`, or at `tick`; the interval
// as the operator's slider sets it (seconds).
void SetRefreshDeadline(TickCount from);
void RefreshDueAt(TickCount tick);
void ReadRefreshInterval();
