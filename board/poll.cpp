#include "board/poll.h"

#include <cmath>
#include <cstdio>

#include "app/read_number.h"
#include "app/state.h"
#include "board/connection.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

// Status labels of output n and of input n.
static int OutputLabel(int n) { return LabelOutputState1 + n - 1; }
static int AnalogLabel(int n) { return LabelAnalogValue1 + n - 1; }
static int DigitalLabel(int n) { return LabelDigitalState1 + n - 1; }

// One exchange of the board query: the reply text is what this receive
// delivered, ended by a zero byte written after it where it fits; when
// nothing arrived (the connection is lost), the buffer's previous text.
// `delivered` tells which.
static Text Exchange(const Text& keyword, ReplyBuffer* buffer, int max,
                     bool* delivered = nullptr) {
  if (delivered) *delivered = false;
  if (!SendCommand(keyword)) return ReplyText(buffer);
  int n = ReceiveReply(buffer, max);
  if (n >= 1 && n < buffer->Size) buffer->Bytes[n] = 0;
  // A reply whose connection was found gone right after it (the board
  // closed it behind the reply) is not taken: the displays already show
  // the loss.
  if (delivered) *delivered = n >= 1 && BoardConnected();
  return ReplyText(buffer);
}

static Text BlockExchange(const Text& text) {
  ReplyBuffer* b = &AppState.LcdReplyBuffer;
  if (!SendBlock(text)) return ReplyText(b);
  int n = ReceiveReply(b, LcdReplyBufferSize);
  if (n >= 1 && n < b->Size) b->Bytes[n] = 0;
  return ReplyText(b);
}

static Text TwoDigits(int value) {
  char s[16];
  snprintf(s, sizeof s, "%02d", value);
  return s;
}

static void WriteDisplay() {
  Exchange("initlcd", &AppState.LcdReplyBuffer, LcdReplyBufferSize);
  AppState.LcdLine1Command = "writelcd 1.** KORVALINEX **";
  BlockExchange(AppState.LcdLine1Command);
  int day, month, year, hour, minute;
  PlatLocalDate(&day, &month, &year);
  PlatLocalTime(&hour, &minute);
  char yearText[16];
  snprintf(yearText, sizeof yearText, "%04d", year);
  AppState.LcdLine2Command = "writelcd 2." + TwoDigits(day) + "." +
                             TwoDigits(month) + "." + yearText + "/" +
                             TwoDigits(hour) + ":" + TwoDigits(minute);
  BlockExchange(AppState.LcdLine2Command);
}

static bool StatusOn(const Text& status, size_t position) {
  return position <= status.size() && status[position - 1] == '1';
}

static void ReadOutputStatus() {
  bool delivered;
  Text reply = Exchange("Getstatus", &AppState.StatusBuffer, 200, &delivered);
  if (!delivered) return;
  AppState.StatusReplyText = reply;
  const Text& s = AppState.StatusReplyText;
  // The reply is a letter, then one digit per output, output 8 first.
  for (int output = 1; output <= 8; output++) {
    if (output == 3) continue;  // output 3's label shows the measurement
    bool on = StatusOn(s, 10 - output);
    AppState.OutputStateText[output] =
        on ? AppState.ClosedText : AppState.OpenText;
  }
  PlatSetText(ButtonMinimumOff, StatusOn(s, 6) ? "Ausgelöst" : "Aus");
  PlatSetText(ButtonMaximumOff, StatusOn(s, 5) ? "Ausgelöst" : "Aus");
}

static Text WithoutLineEndings(const Text& text) {
  Text out;
  for (char c : text)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

Text VoltageText(double v, int width) {
  int length = snprintf(nullptr, 0, "%.10f", v);
  Text text(length > 0 ? length : 0, '\0');
  snprintf(&text[0], text.size() + 1, "%.10f", v);
  if (width >= 0 && (size_t)width < text.size()) text.resize(width);
  for (char& c : text)
    if (c == '.') c = ',';
  return text;
}

static void ReadAnalogInputs() {
  static const char* const keyword[5] = {"", "GETADC 1", "GETADC 2", "GETADC 3",
                                         "GETADC 4"};
  for (int n = 1; n <= 4; n++) {
    // The four inputs share one buffer: an input whose reply did not come
    // keeps its own last value instead of showing the previous input's.
    bool delivered;
    Text reply =
        Exchange(keyword[n], &AppState.AdcBuffer, AdcBufferSize, &delivered);
    if (!delivered) continue;
    AppState.AdcReplyText[n] = WithoutLineEndings(reply);
    double c = ReadDecimal(AppState.AdcReplyText[n]);
    double v = c * AppState.AnalogScale[n];
    v = v * AppState.AnalogRoundFactor[n];
    v = std::round(v);  // halves away from zero
    v = v / AppState.AnalogRoundFactor[n];
    AppState.AnalogVoltage[n] = v;
    if (n == 1) {
      AppState.LevelVoltage = v;
      AppState.LevelFresh = 1;
    }
    AppState.AnalogValueText[n] = VoltageText(v, AppState.AnalogTextWidth[n]);
  }
}

static void ReadDigitalInputs() {
  static const char* const keyword[5] = {"", "GETPORT 1", "GETPORT 2",
                                         "GETPORT 3", "GETPORT 4"};
  for (int n = 1; n <= 4; n++) {
    bool delivered;  // as for the analog inputs
    Text reply =
        Exchange(keyword[n], &AppState.PortBuffer, PortBufferSize, &delivered);
    if (!delivered) continue;
    char first = reply.empty() ? 0 : reply[0];
    int value = (first >= '0' && first <= '9') ? first - '0' : 0;
    if (value == 1)
      AppState.InputStateText[n] = AppState.InputOpenText[n];
    else if (value == 0)
      AppState.InputStateText[n] = AppState.InputClosedText[n];
  }
}

static uint32_t OnColour(bool on) {
  return on ? AppState.ColourRed : AppState.ColourBlue;
}

static void ShowRelay(int output) {
  bool closed = AppState.OutputStateText[output] == AppState.ClosedText;
  PlatSetTextColour(OutputLabel(output), OnColour(closed));
  PlatSetText(OutputLabel(output), AppState.OutputStateText[output]);
}

// A function switch: the EIN button is usable while the function is off,
// the AUS button while it is on.
static void ShowFunction(int output, bool on, int einButton, int ausButton,
                         const Text& text) {
  PlatSetTextColour(OutputLabel(output), OnColour(on));
  PlatEnable(einButton, !on);
  PlatEnable(ausButton, on);
  PlatSetText(OutputLabel(output), text);
}

static void ShowSwitchedOutput(int output, int einButton, int ausButton) {
  bool closed = AppState.OutputStateText[output] == AppState.ClosedText;
  PlatSetTextColour(OutputLabel(output), OnColour(closed));
  PlatEnable(einButton, !closed);
  PlatEnable(ausButton, closed);
  PlatSetText(OutputLabel(output), AppState.OutputStateText[output]);
}

static void Redraw() {
  ShowRelay(1);
  ShowRelay(2);

  if (AppState.MeasurementEnabled == 1)
    ShowFunction(
        3, true, ButtonMeasurementOn, ButtonMeasurementOff,
        "Messung in " +
            std::to_string(AppState.CyclePeriod - AppState.CycleCounter) +
            " Sek");
  else
    ShowFunction(3, false, ButtonMeasurementOn, ButtonMeasurementOff,
                 "keine Messung");
  bool minimum = AppState.MinimumEnabled == 1;
  ShowFunction(4, minimum, ButtonMinimumOn, ButtonMinimumOff,
               minimum ? "Freigegeben" : "gesperrt");
  bool maximum = AppState.MaximumEnabled == 1;
  ShowFunction(5, maximum, ButtonMaximumOn, ButtonMaximumOff,
               maximum ? "Freigegeben" : "gesperrt");

  ShowSwitchedOutput(6, ButtonOutput6On, ButtonOutput6Off);
  ShowSwitchedOutput(7, ButtonOutput7On, ButtonOutput7Off);
  ShowRelay(8);

  for (int n = 1; n <= 4; n++) {
    bool closed = AppState.InputStateText[n] == AppState.InputClosedText[n];
    PlatSetTextColour(DigitalLabel(n), OnColour(closed));
    PlatSetText(DigitalLabel(n), AppState.InputStateText[n]);
  }
  for (int n = 1; n <= 4; n++)
    PlatSetTextColour(AnalogLabel(n), AppState.ColourBlue);
  for (int n = 1; n <= 4; n++)
    PlatSetText(AnalogLabel(n), AppState.AnalogValueText[n]);

  PlatSetTextColour(LabelBoardData, AppState.ColourBlue);
  if (AppState.ConnectionLost) {
    PlatSetText(LabelBoardData, BoardDataTemplate);
    return;
  }
  PlatSetText(LabelBoardData,
              "Daten aus dem Board:\r\rFirmware:\r" + AppState.FirmwareText +
                  "\rEinstellungen:\rBoard-IP: " + AppState.BoardIpText +
                  "Subnetz: " + AppState.SubnetMaskText +
                  "Gateway: " + AppState.GatewayText);
}

// A board text: its reply, taken only when it came.
static void ReadText(const char* keyword, ReplyBuffer* buffer, int max,
                     Text* text) {
  bool delivered;
  Text reply = Exchange(keyword, buffer, max, &delivered);
  if (delivered) *text = reply;
}

// From the moment the connection is found gone, nothing the board said on
// it passes for current: every board display goes back to its first text.
// The function labels keep the operator's settings.
void ShowConnectionLost() {
  for (int n = 1; n <= 8; n++) AppState.OutputStateText[n] = "---";
  for (int n = 1; n <= 4; n++) AppState.InputStateText[n] = "---";
  for (int n = 1; n <= 4; n++) AppState.AnalogValueText[n] = "--.--";
  AppState.FirmwareText.clear();
  AppState.BoardIpText.clear();
  AppState.GatewayText.clear();
  AppState.SubnetMaskText.clear();
  AppState.StatusReplyText.clear();
  PlatSetText(ButtonMinimumOff, "AUS");
  PlatSetText(ButtonMaximumOff, "AUS");
  Redraw();
  ShowReconnectCountdown();
}

void ShowReconnectCountdown() {
  int32_t left =
      (int32_t)((uint32_t)AppState.NextReconnectTime - PlatTickCount());
  PlatSetText(LabelPingCountdown, "Keine Verbindung / Neuer Versuch in " +
                                      std::to_string(left / 1000) + " s");
}

void PollBoard() {
  AppState.LevelFresh = 0;
  DiscardWaitingBytes();
  uint32_t before = PlatTickCount();
  bool answered;
  Exchange("Help", &AppState.PingBuffer, PingBufferSize, &answered);
  if (answered) AppState.PingTime = (int32_t)(PlatTickCount() - before);

  ReadText("Version", &AppState.VersionBuffer, VersionBufferSize,
           &AppState.FirmwareText);
  ReadText("Getip", &AppState.IpBuffer, IpBufferSize, &AppState.BoardIpText);
  ReadText("Getgw", &AppState.GatewayBuffer, GatewayBufferSize,
           &AppState.GatewayText);
  ReadText("Getmask", &AppState.MaskBuffer, MaskBufferSize,
           &AppState.SubnetMaskText);

  if (AppState.LcdEnabled == 1) WriteDisplay();

  ReadOutputStatus();
  ReadAnalogInputs();
  ReadDigitalInputs();
  Redraw();
}
