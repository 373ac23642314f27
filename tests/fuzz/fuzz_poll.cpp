// Fuzzes the board query's handling of replies. Whatever the board sends,
// in whatever pieces single receives get it, PollBoard must stay inside its
// buffers, keep the framing and order of its commands, and keep every
// display consistent with the reply it shows. It must also take exactly
// what a plain model of the link (tests/fuzz/harness.h) says each exchange
// received, send exactly the commands the model sends, and agree with it
// on the link's doubt, its faults, the proof of each query and the Help
// and Version replies learned on the connection: the first query of a
// connection proven and learning them, the later ones taking them whole
// as learned, and one that came changed putting the link in doubt and
// learned anew.
//
// Input: the first byte holds settings (bit 0: the character display is
// on; bits 1 to 3: the measurement, minimum and maximum released), the
// rest is the byte stream from the board, cut into what one receive
// delivers at every 0x1E byte. An empty piece is a moment of silence (one
// serving of the windows, ServeSlice); once the pieces run out, the board
// has closed the connection. Up to four board queries run until the
// connection is lost.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/startup.h"
#include "base/operator_numbers.h"
#include "base/read_number.h"
#include "base/state.h"
#include "base/state_words.h"
#include "board/poll.h"
#include "platform/headless/headless.h"
#include "tests/fuzz/harness.h"
#include "tests/support/board_query.h"
#include "tests/support/program_start.h"
#include "ui/board_view.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

namespace {

const char Separator = 0x1E;
void Check(bool ok, const char* what) {
  if (ok) return;
  fprintf(stderr, "board query: %s\n", what);
  abort();
}

std::vector<std::string> Pieces(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces;
  if (size == 0) return pieces;
  pieces.emplace_back();
  for (size_t i = 0; i < size; i++) {
    if (data[i] == Separator)
      pieces.emplace_back();
    else
      pieces.back() += (char)data[i];
  }
  return pieces;
}

// What the buffers hold in front of their first zero byte, and the
// displays, as the model has it.
struct Shadow {
  std::string Ping, Version, Ip, Gateway, Mask, Status;
  std::string AdcReply[5];
  std::string InputState[5];
};

bool SameDouble(double a, double b) { return memcmp(&a, &b, sizeof a) == 0; }

bool OutputOn(const std::string& status, int output) {
  size_t at = 10 - output;
  return at <= status.size() && status[at - 1] == '1';
}

double Volts(const std::string& reply) {
  double v = ReadDecimal(reply) * 0.0048828;
  return std::round(v * 1000) / 1000;
}

// The pass as the model runs it, and, while the connection lasts, the
// exact expectations of it: the commands, the texts taken from the
// replies, and the link's account of itself.
// `served`: how often the pass served the windows.
void ExpectExactPass(ScriptModel* wire, Shadow* m, bool lcd,
                     const std::vector<std::string>& sent, int served) {
  int sends = wire->Sends, servings = wire->Servings;
  // Only a loss keeps a reply from coming, and nothing comes after it:
  // the inputs' replies that came are the first ones.
  int adc = 0, port = 0;
  wire->Query(lcd, [&](const ModelExchange& e, const std::string& text) {
    std::string c = e.Command;
    if (c == "Help") m->Ping = text;
    if (c == "Version") m->Version = text;
    if (c == "Getip") m->Ip = text;
    if (c == "Getgw") m->Gateway = text;
    if (c == "Getmask") m->Mask = text;
    if (c == "Getstatus") m->Status = text;
    if (c == "GETADC") {
      int n = ++adc;
      m->AdcReply[n].clear();
      for (char ch : text)
        if (ch != '\r' && ch != '\n') m->AdcReply[n] += ch;
    }
    if (c == "GETPORT") {
      int n = ++port;
      char first = text.empty() ? 0 : text[0];
      if (first == '1') m->InputState[n] = "OFFEN";
      if (first == '0' || first < '0' || first > '9')
        m->InputState[n] = "GESCHLOSSEN";
    }
  });

  Check((int)sent.size() == wire->Sends - sends,
        "commands sent as modelled (none once the connection is lost)");
  const char* differs = LinkAsModelled(*wire);
  Check(!differs, differs ? differs : "");
  // Every wait served the windows at least every ServeSlice.
  Check(served >= wire->Servings - servings, "windows served while waiting");
  if (wire->Lost) return;

  const AppStateRecord& s = AppState;
  Check(sent == WireCommands(lcd, std::string(CommandBufferSize, '\0')),
        "commands on the wire");
  Check(s.Readings.FirmwareText == m->Version, "firmware text");
  Check(s.Readings.BoardIpText == m->Ip, "board address text");
  Check(s.Readings.GatewayText == m->Gateway, "gateway text");
  Check(s.Readings.SubnetMaskText == m->Mask, "subnet mask text");
  Check(s.Readings.StatusReplyText == m->Status, "status text");
  for (int n = 1; n <= 4; n++) {
    Check(s.Readings.AdcReplyText[n] == m->AdcReply[n], "analog reply text");
    Check(ContactWord(s.Readings.InputState[n]) == m->InputState[n],
          "digital input state");
  }
}

// What holds after every pass, whatever came.
void ExpectConsistentDisplays(bool lcd, const std::vector<std::string>& sent,
                              bool lost) {
  // The commands in order; once the connection is lost, no more of them.
  std::vector<std::string> all =
      WireCommands(lcd, std::string(CommandBufferSize, '\0'));
  Check(sent.size() <= all.size(), "more commands than a query has");
  for (size_t i = 0; i < sent.size(); i++)
    Check(sent[i] == all[i], "command out of order or malformed");
  Check(lost || sent.size() == all.size(), "a query left out a command");

  const AppStateRecord& s = AppState;
  Check(lost == (s.Link.ConnectionLost == 1), "connection lost as modelled");
  if (lost) {
    // Nothing the board said passes for current.
    for (int output : {1, 2, 6, 7, 8})
      Check(PlatGetText(LabelOutputState1 + output - 1) == "---",
            "output label after the loss");
    for (int n = 0; n < 4; n++) {
      Check(PlatGetText(LabelAnalogValue1 + n) == "--.--",
            "analog label after the loss");
      Check(PlatGetText(LabelDigitalState1 + n) == "---",
            "digital label after the loss");
    }
    Check(PlatGetText(LabelBoardData) == BoardDataTemplate,
          "board data after the loss");
    Check(!s.Readings.LevelProven, "no proven level after the loss");
    return;
  }
  Check(s.Readings.FirmwareText.size() <= 200 &&
            s.Readings.StatusReplyText.size() <= 200 &&
            s.Readings.BoardIpText.size() <= 100 &&
            s.Readings.GatewayText.size() <= 100 &&
            s.Readings.SubnetMaskText.size() <= 100,
        "reply texts within their receives");
  for (int output = 1; output <= 8; output++) {
    if (output == 3) continue;
    Check(s.Readings.OutputState[output] ==
              (OutputOn(s.Readings.StatusReplyText, output) ? ContactClosed
                                                            : ContactOpen),
          "output state");
    // Outputs 4 and 5 show their function's state instead.
    if (output == 4 || output == 5) continue;
    Check(PlatGetText(LabelOutputState1 + output - 1) ==
              (s.Readings.OutputState[output] == ContactClosed ? "GESCHLOSSEN"
                                                               : "OFFEN"),
          "output label");
  }
  Check(PlatGetText(LabelOutputState1 + 3) ==
            (s.Switching.MinimumEnabled ? "Freigegeben" : "gesperrt"),
        "minimum label");
  Check(PlatGetText(LabelOutputState1 + 4) ==
            (s.Switching.MaximumEnabled ? "Freigegeben" : "gesperrt"),
        "maximum label");

  for (int n = 1; n <= 4; n++) {
    const Text shown = PlatGetText(LabelAnalogValue1 + n - 1);
    Check(AnalogValueText(n) == shown, "analog label");
    Check(s.Readings.AdcReplyText[n].size() <= 100 &&
              s.Readings.AdcReplyText[n].find_first_of("\r\n") == Text::npos,
          "analog reply text keeps no line ending");
    if (shown == "--.--") continue;  // no reply yet
    Check(SameDouble(s.Readings.AnalogVoltage[n],
                     Volts(s.Readings.AdcReplyText[n])),
          "voltage of the analog reply");
    Check(!std::isnan(s.Readings.AnalogVoltage[n]), "voltage is a number");
    Check(shown.size() <= 4 &&
              shown.size() <= (size_t)s.Settings.AnalogTextWidth[n],
          "analog text width");
    Check(shown.find('.') == Text::npos, "decimal comma");
    Check(shown == VoltageText(s.Readings.AnalogVoltage[n], 4), "analog text");
  }
  Check(SameDouble(s.Readings.LevelVoltage, s.Readings.AnalogVoltage[1]),
        "level voltage");
  for (int n = 1; n <= 4; n++) {
    const Text state = PlatGetText(LabelDigitalState1 + n - 1);
    const char* word = s.Readings.InputState[n] == ContactClosed ? "GESCHLOSSEN"
                       : s.Readings.InputState[n] == ContactOpen ? "OFFEN"
                                                                 : "---";
    Check(state == word, "digital label");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint8_t settings = data[0];
  std::vector<std::string> pieces = Pieces(data + 1, size - 1);
  std::vector<std::string> sent;

  StartFresh();
  AppState.Settings.LcdEnabled = settings & 1;
  AppState.Switching.MeasurementEnabled = (settings >> 1) & 1;
  AppState.Switching.MinimumEnabled = (settings >> 2) & 1;
  AppState.Switching.MaximumEnabled = (settings >> 3) & 1;
  HeadlessSetReceiveScript(&pieces, &sent);
  const std::string failed = StartLink();
  Check(failed.empty(), failed.c_str());

  ScriptModel wire{&pieces};
  Shadow model{};
  for (int n = 1; n <= 4; n++) model.InputState[n] = "---";
  bool lcd = AppState.Settings.LcdEnabled == 1;
  for (int pass = 0; pass < 4; pass++) {
    sent.clear();
    int served = HeadlessServeCount();
    PollBoard();
    ShowBoard();
    ExpectExactPass(&wire, &model, lcd, sent, HeadlessServeCount() - served);
    ExpectConsistentDisplays(lcd, sent, wire.Lost);
    if (wire.Lost) break;
  }

  Check(EndScriptedRun(), "reply buffers released");
  return 0;
}
