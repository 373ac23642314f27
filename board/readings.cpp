#include "board/readings.h"

#include <cmath>

#include "base/read_number.h"
#include "board/reply_forms.h"

static bool StatusOn(const Text& status, size_t position) {
  return position <= status.size() && status[position - 1] == '1';
}

void TakeOutputStatus(const Text& reply) {
  AppState.Readings.StatusReplyText = reply;
  AppState.Readings.StatusFresh = true;
  AppState.Readings.StatusAnsweredTick = PlatTickCount();
  AppState.Readings.StatusAnsweredTime = PlatLocalClock();
  AppState.Readings.StatusInForm = IsStatusReply(reply);
  const Text& s = AppState.Readings.StatusReplyText;
  // The reply is a letter, then one digit per output, output 8 first.
  for (int output = 1; output <= 8; output++)
    AppState.Readings.OutputState[output] =
        StatusOn(s, 10 - output) ? ContactClosed : ContactOpen;
}

static Text WithoutLineEndings(const Text& text) {
  Text out;
  for (char c : text)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

void TakeAnalogInput(int n, const Text& reply) {
  AppState.Readings.AdcReplyText[n] = WithoutLineEndings(reply);
  double c = ReadDecimal(AppState.Readings.AdcReplyText[n]);
  double v = c * Settings().AnalogScale[n];
  v = v * Settings().AnalogRoundFactor[n];
  v = std::round(v);  // halves away from zero
  v = v / Settings().AnalogRoundFactor[n];
  AppState.Readings.AnalogVoltage[n] = v;
  if (n == 1) AppState.Readings.LevelVoltage = v;
  AppState.Readings.AnalogRead[n] = true;
}

void TakeDigitalInput(int n, const Text& reply) {
  char first = reply.empty() ? 0 : reply[0];
  int value = (first >= '0' && first <= '9') ? first - '0' : 0;
  // The board's "1=AUF": the contact is open; 0 closed; another digit
  // leaves what was known.
  if (value == 1)
    AppState.Readings.InputState[n] = ContactOpen;
  else if (value == 0)
    AppState.Readings.InputState[n] = ContactClosed;
}

void TakeBoardText(Text ReadingsRecord::*field, const Text& reply) {
  AppState.Readings.*field = reply;
}

void TakePingTime(int ms) { AppState.Readings.PingTime = ms; }

void ReadingsOfNewQuery() {
  AppState.Readings.LevelProven = false;
  AppState.Readings.StatusFresh = false;
  AppState.Readings.StatusInForm = false;
}

void TakeLevelProven(bool proven) { AppState.Readings.LevelProven = proven; }

void TakeOutputSwitched(int output, bool on) {
  AppState.Readings.OutputState[output] = on ? ContactClosed : ContactOpen;
}

// From the moment the connection is found gone, nothing the board said on
// it passes for current: the board data are unknown again.
void ForgetBoardData() {
  for (int n = 1; n <= 8; n++)
    AppState.Readings.OutputState[n] = ContactUnknown;
  for (int n = 1; n <= 4; n++) AppState.Readings.InputState[n] = ContactUnknown;
  for (int n = 1; n <= 4; n++) AppState.Readings.AnalogRead[n] = false;
  AppState.Readings.FirmwareText.clear();
  AppState.Readings.BoardIpText.clear();
  AppState.Readings.GatewayText.clear();
  AppState.Readings.SubnetMaskText.clear();
  AppState.Readings.StatusReplyText.clear();
  AppState.Readings.LevelProven = false;
  AppState.Readings.StatusFresh = false;
  AppState.Readings.StatusInForm = false;
}
