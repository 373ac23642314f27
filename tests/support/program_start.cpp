#include "tests/support/program_start.h"

#include "base/state.h"
#include "board/link.h"
#include "platform/headless/headless.h"
#include "tests/support/blocking_connect.h"
#include "ui/main_window.h"

// The connection to the board with a blocking connect, serving no window
// meanwhile; NoSocket when it cannot be opened.
static PlatSocket OpenConnection(const Text& address, int port) {
  PlatSocket s = PlatStreamSocket();
  if (s == NoSocket) return NoSocket;
  uint32_t resolved;
  if (!ResolveBoardAddress(address, &resolved) ||
      !BlockingConnect(s, resolved, port)) {
    PlatCloseSocket(s);
    return NoSocket;
  }
  return s;
}

void StartState() {
  ZeroAppState();
  PlatStartFacilities();
  InitDefaults();
}

void StartFresh(int boardPort) {
  HeadlessReset();
  if (boardPort != 0) HeadlessSetBoardPort(boardPort);
  StartState();
}

std::string StartLink(StartUpTo last) {
  if (!PlatSocketsStart()) return "networking did not start";
  AppState.Link.BoardConnection = OpenConnection(AppState.Settings.BoardAddress,
                                                 AppState.Settings.BoardPort);
  if (AppState.Link.BoardConnection == NoSocket)
    return "no connection to the board";
  if (last == StartUpTo::Connection) return "";
  if (!BuildMainWindow()) return "no main window";
  return "";
}

void SensorAsWarmedUp() {
  AppState.Guard.GuardWants[3] = DecidedOn;
  AppState.Guard.SensorPowered = true;
  AppState.Guard.SensorOnSince = AppState.Measurement.MeasurementTicks - 2;
}
