#include "control/console.h"

#include "base/state.h"
#include "board/connection.h"
#include "control/refresh.h"
#include "ui/click.h"
#include "ui/console.h"

void SendConsoleCommand() {
  if (!BoardConnected()) {
    ShowConsoleNotSent();
    return;
  }
  AppState.ConsoleCommandText = ConsoleCommandTyped();
  ShowConsoleSending();
  int got = ConsoleExchange(AppState.ConsoleCommandText);
  PlaySwitchSound();
  AppState.ConsoleReplyText = ReplyText(&AppState.CommandBuffer);
  ShowConsoleExchange(got > 0);
  RefreshBoard();
  ShowConsoleDone();
}
