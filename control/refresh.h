// What follows every exchange with the board.
#pragma once

// A board query (PollBoard), the redraw of what it read (ShowBoard), the
// board's outputs compared with the guard's decisions (HoldBoardToGuard),
// and with /web the status page's snapshot of it.
void RefreshBoard();
