// Every wait of the program, in one procedure: ServedWait waits until a
// deadline, or until what it waits for comes (a connect, bytes on a socket,
// a window event), and serves meanwhile what must not stand still: the
// windows, and the services (the status page's connections, and whatever
// is added beside it). The board link, the pulse and the main loop call it
// and know nothing of what else is served.
//
// The one rule of time: a wait's time is the waits asked of the system
// added up, or what the clock says when that is more (a coarse system
// timer, a slow repaint), so every bound holds on either account; a clock
// that jumped beyond its reach (a sleep of the PC of weeks) has passed every
// bound. The windows and the services are served whenever ServeSlice of
// that time has passed since they were served last, and no look at the
// system waits past that moment or past the deadline.
#pragma once

#include "base/state.h"
#include "platform/platform.h"

// A service: it must return at once and never touch the board. Up to
// WaitServiceCount of them, each served once a serving, in the order they
// were added.
constexpr int WaitServiceCount = 4;
using WaitService = void (*)();
// False when the list is full; a service added twice is served once.
bool AddWaitService(WaitService service);
void RemoveWaitService(WaitService service);
// Removes every service and forgets when they were served last.
void RemoveAllWaitServices();
// Serves every service once, now. For the system's own loops (a menu, a
// move, the save dialog), which call the program back on their own
// timer; a served wait serves them by itself.
void ServeWaitServices();

// Whether the program is inside a wait for the board (a connect, a reply,
// the quiet, a pulse) while it serves: it is in the middle of an exchange.
// A loop of the system's own that begins there (another program moves the
// window) must not start anything.
bool WaitingForBoard();

// The time of one wait, from its start (the rule above).
struct WaitClock {
  TickCount Start;
  int Waited;    // the waits asked of the system so far
  int ServedAt;  // the wait's time at the last serving
};
WaitClock StartWaitClock();
int WaitTime(const WaitClock& clock);

// What a wait waits for besides its deadline.
enum WaitKind {
  WaitForTime,         // nothing: the deadline alone (a pulse)
  WaitForConnect,      // a connect begun on Socket to end
  WaitForBytes,        // bytes on Socket, received into Bytes (Max room)
  WaitForWindowEvent,  // an event of the windows (the operator, a timer)
};
struct WaitFor {
  WaitKind Kind;
  PlatSocket Socket;
  void* Bytes;
  int Max;
  // What came: the bytes received; a connect's end (ConnectDone or
  // ConnectFailed); the event.
  int Got;
  PlatEvent Event;
};
WaitFor WaitForNothing();
WaitFor WaitForConnectOf(PlatSocket socket);
WaitFor WaitForBytesOn(PlatSocket socket, void* bytes, int max);
WaitFor WaitForEventOfWindows();

// Why a served wait returned.
enum WaitEnd {
  WaitDeadline,  // its time reached `until`
  WaitCame,      // what it waited for came (a connect ended, done or
                 // failed; bytes; an event)
  WaitClosed,    // the socket was closed or failed while it waited
};

// Waits on `clock` until its time reaches `until` or what `what` names
// comes, serving meanwhile. It looks at least once: a wait for the board
// or for time waits at least 1 ms a look, an event wait takes what is
// there when the deadline has passed already (0 ms).
// A wait for the board (time, a connect, bytes) serves the windows and the
// services, and WaitingForBoard() says so while they run. The event wait
// serves the windows by itself: it serves only the services, and with no
// service it is not cut at all.
WaitEnd ServedWait(WaitClock* clock, int until, WaitFor* what);

// A whole wait of `ms` on a fresh clock for nothing but time, serving as
// above (the pulse; a pause at the end).
void ServedPause(int ms);
