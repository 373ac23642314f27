#include "base/wait_service.h"

static WaitService Services[WaitServiceCount];
static int Count;
static int WaitDepth;
// The tick of the last serving of the windows and the services, once
// there was one.
static TickCount LastServed;
static bool ServedOnce;

bool AddWaitService(WaitService service) {
  if (!service) return false;
  for (int i = 0; i < Count; i++)
    if (Services[i] == service) return true;
  if (Count >= WaitServiceCount) return false;
  Services[Count++] = service;
  return true;
}

void RemoveWaitService(WaitService service) {
  for (int i = 0; i < Count; i++) {
    if (Services[i] != service) continue;
    for (int j = i + 1; j < Count; j++) Services[j - 1] = Services[j];
    Services[--Count] = nullptr;
    return;
  }
}

void RemoveAllWaitServices() {
  for (int i = 0; i < WaitServiceCount; i++) Services[i] = nullptr;
  Count = 0;
  ServedOnce = false;
}

void ServeWaitServices() {
  // Copied: a service may remove itself.
  WaitService now[WaitServiceCount];
  int n = Count;
  for (int i = 0; i < n; i++) now[i] = Services[i];
  for (int i = 0; i < n; i++) now[i]();
}

bool WaitingForBoard() { return WaitDepth > 0; }

static void NoteServed() {
  LastServed = PlatTickCount();
  ServedOnce = true;
}

static void Serve(bool forBoard) {
  if (forBoard) {
    WaitDepth++;
    PlatServeWindows();
    ServeWaitServices();
    WaitDepth--;
  } else {
    ServeWaitServices();
  }
  NoteServed();
}

// Far beyond every bound a wait has, and still far from overflowing when
// a slice is added to it.
enum { BeyondReach = 1 << 29 };

WaitClock StartWaitClock() {
  WaitClock c;
  c.Start = PlatTickCount();
  c.Waited = 0;
  // What passed since the last serving counts towards the next one.
  int32_t since = ServedOnce ? (int32_t)(c.Start - LastServed) : ServeSlice;
  if (since < 0 || since > ServeSlice) since = ServeSlice;
  c.ServedAt = -since;
  return c;
}

int WaitTime(const WaitClock& clock) {
  int32_t c = (int32_t)(PlatTickCount() - clock.Start);
  if (c < 0) return BeyondReach;
  return c > clock.Waited ? c : clock.Waited;
}

WaitFor WaitForNothing() {
  WaitFor w{};
  w.Kind = WaitForTime;
  w.Socket = NoSocket;
  return w;
}

WaitFor WaitForConnectOf(PlatSocket socket) {
  WaitFor w = WaitForNothing();
  w.Kind = WaitForConnect;
  w.Socket = socket;
  return w;
}

WaitFor WaitForBytesOn(PlatSocket socket, void* bytes, int max) {
  WaitFor w = WaitForNothing();
  w.Kind = WaitForBytes;
  w.Socket = socket;
  w.Bytes = bytes;
  w.Max = max;
  return w;
}

WaitFor WaitForEventOfWindows() {
  WaitFor w = WaitForNothing();
  w.Kind = WaitForWindowEvent;
  return w;
}

// One look at the system for what `what` waits for, at most `wait` ms;
// the time it took is added to the clock.
static WaitEnd Look(WaitClock* clock, int wait, WaitFor* what) {
  switch (what->Kind) {
    case WaitForTime:
      PlatSleep(wait);
      clock->Waited += wait;
      return WaitDeadline;
    case WaitForConnect: {
      int state = PlatConnectWait(what->Socket, wait);
      clock->Waited += wait;
      if (state == ConnectPending) return WaitDeadline;
      what->Got = state;
      return WaitCame;
    }
    case WaitForBytes: {
      int slice = 0;
      int got = PlatReceive(what->Socket, what->Bytes, what->Max, wait, &slice);
      if (got > 0) {
        clock->Waited += slice;
        what->Got = got;
        return WaitCame;
      }
      if (got == ReceiveTimedOut) {
        clock->Waited += slice > wait ? slice : wait;
        return WaitDeadline;
      }
      what->Got = 0;
      return WaitClosed;
    }
    case WaitForWindowEvent: {
      PlatEvent event = PlatWaitEvent(wait);
      if (event.Kind != EventNone) {
        what->Event = event;
        return WaitCame;
      }
      clock->Waited += wait;
      return WaitDeadline;
    }
  }
  return WaitDeadline;
}

WaitEnd ServedWait(WaitClock* clock, int until, WaitFor* what) {
  bool forBoard = what->Kind != WaitForWindowEvent;
  // The event wait serves the windows itself: with no service there is
  // nothing else to serve, and it is not cut.
  bool serving = forBoard || Count > 0;
  what->Got = 0;
  what->Event = PlatEvent{EventNone, 0};
  for (;;) {
    int now = WaitTime(*clock);
    int wait = until - now;
    if (serving) {
      if (now - clock->ServedAt >= ServeSlice) {
        Serve(forBoard);
        clock->ServedAt = now;
      }
      wait = ServeSlice - (now - clock->ServedAt);
      int left = until - WaitTime(*clock);
      if (left < wait) wait = left;
    }
    int least = forBoard ? 1 : 0;
    if (wait < least) wait = least;
    WaitEnd end = Look(clock, wait, what);
    if (end == WaitDeadline && WaitTime(*clock) < until) continue;
    // The windows were served by the event wait itself up to now.
    if (!forBoard && Count == 0) NoteServed();
    return end;
  }
}

void ServedPause(int ms) {
  WaitClock clock = StartWaitClock();
  WaitFor nothing = WaitForNothing();
  ServedWait(&clock, ms, &nothing);
}
