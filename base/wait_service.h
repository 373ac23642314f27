// What the program serves while it waits for the board: the windows
// (PlatServeWindows) and, when one is set, one service more (the status
// page's connections). The board link calls ServeWhileWaiting and knows
// nothing of what else is served.
#pragma once

// The service, set once at start (none by default). It must return at
// once and never touch the board.
using WaitService = void (*)();
void SetWaitService(WaitService service);

// Serves the windows, then the service.
void ServeWhileWaiting();

// Whether the program is inside ServeWhileWaiting: it waits for the board,
// in the middle of an exchange. A loop of the system's own that begins
// there (another program moves the window) must not start anything.
bool WaitingForBoard();
