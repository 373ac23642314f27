#include "tests/support/program_start.h"

#include "base/state.h"
#include "board/connection.h"
#include "platform/headless/headless.h"
#include "ui/main_window.h"

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
  AppState.BoardConnection =
      OpenConnection(AppState.BoardAddress, AppState.BoardPort);
  if (AppState.BoardConnection == NoSocket) return "no connection to the board";
  if (last == StartUpTo::Connection) return "";
  if (!BuildMainWindow()) return "no main window";
  return "";
}
