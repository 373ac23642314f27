#include "control/console.h"

#include "base/state.h"
#include "board/commands.h"
#include "board/link.h"
#include "board/reply_driver.h"
#include "control/refresh.h"
#include "ui/click.h"
#include "ui/console.h"

void SendConsoleCommand() {
  if (!BoardConnected()) {
    ShowConsoleNotSent();
    return;
  }
  AppState.Console.ConsoleCommandText = ConsoleCommandTyped();
  ShowConsoleSending();
  int got = ConsoleExchange(AppState.Console.ConsoleCommandText);
  PlaySwitchSound();
  AppState.Console.ConsoleReplyText = ReplyText(&Settings().CommandBuffer);
  ShowConsoleExchange(got > 0);
  RefreshBoard();
  ShowConsoleDone();
}
