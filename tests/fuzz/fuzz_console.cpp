// Fuzzes the console's command framing. Whatever the operator types into
// field 97, the console sends either one 100-byte block (a WriteLCD command
// in any mix of letter case) or the text with the command suffix, stays
// inside CommandBuffer, and shows a reply of at most 100 characters, read
// whole as a plain model of the link (tests/fuzz/harness.h) reads it. The
// link is in doubt after it, so the board query that follows proves the
// link quiet first, then runs exactly as the model says: its commands in
// order, its display blocks over what the reply left in the command
// buffer, and the link's doubt, faults and proof as modelled.
//
// Input: the first byte holds settings (bit 0: the character display is
// on), then the field text up to the first 0x1E byte, then the board's
// byte stream, cut into what one receive delivers at every further 0x1E
// byte (an empty piece: a moment of silence; after the last piece the
// board has closed the connection).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/startup.h"
#include "base/state.h"
#include "control/console.h"
#include "platform/headless/headless.h"
#include "tests/fuzz/harness.h"
#include "tests/support/board_query.h"
#include "tests/support/program_start.h"
#include "ui/console.h"
#include "ui/control_numbers.h"
#include "ui/held_buttons.h"
#include "ui/main_window.h"

namespace {

const char Separator = 0x1E;
const std::string Suffix = " \\r\\n";

void Check(bool ok, const char* what) {
  if (ok) return;
  fprintf(stderr, "console: %s\n", what);
  abort();
}

// Compared without regard to case, the first eight characters are
// "writelcd". No Windows-1252 letter outside A-Z has a small form among
// the ASCII letters, so ASCII case folding is enough here.
bool StartsWithWriteLcd(const std::string& text) {
  static const char Word[] = "writelcd";
  if (text.size() < 8) return false;
  for (size_t i = 0; i < 8; i++) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    if (c != Word[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool lcd = data[0] & 1;
  std::string rest((const char*)data + 1, size - 1);
  size_t end = rest.find(Separator);
  const std::string command = rest.substr(0, end);
  std::vector<std::string> pieces;
  if (end != std::string::npos) {
    pieces.emplace_back();
    for (size_t i = end + 1; i < rest.size(); i++) {
      if (rest[i] == Separator)
        pieces.emplace_back();
      else
        pieces.back() += rest[i];
    }
  }
  std::vector<std::string> sent;

  StartFresh();
  AppState.Settings.LcdEnabled = lcd ? 1 : 0;
  HeadlessSetReceiveScript(&pieces, &sent);
  const std::string failed = StartLink();
  Check(failed.empty(), failed.c_str());

  HeadlessTypeText(EditConsole, command);
  // The console takes the field's text up to its first zero byte, as the
  // window system keeps a field's text.
  const std::string typed = command.substr(0, command.find('\0'));
  SendConsoleCommand();

  // The console's own command.
  Check(!sent.empty(), "nothing sent");
  Check(AppState.Console.ConsoleCommandText == typed, "command text");
  std::string buffer(100, ' ');  // CommandBuffer as the receive finds it
  if (StartsWithWriteLcd(typed)) {
    std::string text = typed.substr(0, 99);
    buffer.replace(0, text.size(), text);
    buffer[text.size()] = '\0';
    Check(sent[0].size() == 100, "display block not 100 bytes");
    Check(sent[0] == buffer, "display block content");
  } else {
    Check(sent[0] == typed + Suffix, "text command framing");
    Check(sent[0].size() >= 5 &&
              sent[0].compare(sent[0].size() - 5, 5, Suffix) == 0,
          "text command suffix");
  }
  // The reply, read whole as the console reads it: of any number of
  // lines, its first 100 bytes kept.
  ScriptModel wire{&pieces};
  wire.Sends = 1;
  ModelReply reply;
  bool replied = wire.Receive(true, CommandBufferSize, nullptr, &reply);
  wire.Doubt = true;
  // A reply not whole in time lost the connection: none is kept.
  if (replied)
    buffer.replace(0, reply.Kept(CommandBufferSize), reply.Bytes, 0,
                   reply.Kept(CommandBufferSize));
  Check(AppState.Console.ConsoleReplyText.size() <= 100, "reply text too long");
  Check(AppState.Console.ConsoleReplyText == CutAtZero(buffer), "reply text");
  Check(AppState.Settings.CommandBuffer.Size == CommandBufferSize,
        "command buffer size");
  if (!replied)
    Check(PlatGetText(RichConsole)
                  .compare(0, strlen(NoConnectionText), NoConnectionText) == 0,
          "console box tells of the lost connection");

  // The board query that follows, as the model runs it: never a command
  // out of order, none once the connection is lost, and its framing kept.
  wire.Query(lcd, [](const ModelExchange&, const std::string&) {});
  Check((int)sent.size() == wire.Sends, "commands sent as modelled");
  const char* differs = LinkAsModelled(wire);
  Check(!differs, differs ? differs : "");
  std::vector<std::string> query = WireCommands(lcd, buffer);
  Check(sent.size() <= 1 + query.size(), "more commands than a query has");
  for (size_t i = 1; i < sent.size(); i++)
    Check(sent[i] == query[i - 1], "query command out of order or malformed");
  if (!AppState.Link.ConnectionLost) {
    Check(replied, "connection kept without a reply");
    Check(sent.size() == 1 + query.size(), "board query commands");
  }
  // Greyed until the main loop has taken the clicks made meanwhile.
  Check(!PlatIsEnabled(ButtonConsoleSend), "send button held greyed");
  ReleaseHeldButtons();
  Check(PlatIsEnabled(ButtonConsoleSend), "send button enabled again");
  Check(HeadlessFocus() == ButtonConsoleSend, "focus on the send button");

  Check(EndScriptedRun(), "reply buffers released");
  return 0;
}
