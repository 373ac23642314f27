// What follows every exchange with the board.
#pragma once

// A board query (PollBoard) and the redraw of what it read (ShowBoard).
void RefreshBoard();
