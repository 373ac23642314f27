// The contract of platform/platform.h, checked on whichever layer this is
// linked with (see platform_checks.h).

#include "tests/platform_checks.h"

#include <string>

#include "tests/support/blocking_connect.h"

const PlatformHands* Hands = nullptr;

namespace {

std::vector<std::string> Failures;

std::string Shown(int v) { return std::to_string(v); }
std::string Shown(const Text& v) {
  std::string out = "\"";
  for (unsigned char ch : v) {
    if (ch == '\r')
      out += "\\r";
    else if (ch == '\n')
      out += "\\n";
    else
      out += (char)ch;
  }
  return out + "\"";
}
std::string Shown(const char* v) { return Shown(Text(v)); }

void Fail(const char* file, int line, const std::string& what) {
  std::string name = file;
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  Failures.push_back(name + ":" + std::to_string(line) + ": " + what);
}

template <class A, class B>
void ExpectEq(const A& got, const B& wanted, const char* file, int line,
              const char* expression) {
  if (got == wanted) return;
  Fail(
      file, line,
      std::string(expression) + " is " + Shown(got) + ", not " + Shown(wanted));
}

#define CHECK(c) ((c) ? (void)0 : Fail(__FILE__, __LINE__, "not true: " #c))
#define CHECK_EQ(got, wanted) \
  ExpectEq((got), (wanted), __FILE__, __LINE__, #got)

// The next event that is not EventOther (painting and the like), or
// EventNone when the waits found nothing else.
PlatEvent NextEvent() {
  for (int i = 0; i < 200; i++) {
    PlatEvent e = PlatWaitEvent(10);
    if (e.Kind != EventOther) return e;
  }
  return PlatEvent{EventNone, 0};
}

// Whether the waits come to an end of everything there is to handle
// (painting included): a wait that finds nothing at all.
bool Settles() {
  for (int i = 0; i < 200; i++)
    if (PlatWaitEvent(10).Kind == EventNone) return true;
  return false;
}

// The number of the first timer that ticks within about two seconds, 0
// when none does. Control events and close requests on the way fail.
int NextTick() {
  for (int i = 0; i < 40; i++) {
    PlatEvent e = PlatWaitEvent(50);
    if (e.Kind == EventTimer) return e.Number;
    if (e.Kind == EventControl || e.Kind == EventClose)
      Fail(__FILE__, __LINE__, "an event other than a tick came");
  }
  return 0;
}

bool OpenWindow(int window) {
  return PlatOpenWindow(window, FrameMain, "Conformance", 320, 240, false,
                        40 + 60 * window, 40);
}

// ---------------------------------------------------------------------------

void NumbersAreUniqueAndUnknownOnesChangeNothing() {
  CHECK(OpenWindow(0));
  CHECK(PlatCreateControl(0, 10, KindLabel, 5, 5, 80, 20, "eins", 0));
  // A second control of the same number is refused; the first stays.
  CHECK(!PlatCreateControl(0, 10, KindButton, 5, 30, 80, 20, "zwei", 0));
  CHECK_EQ(PlatGetText(10), "eins");
  CHECK(!PlatCreateControl(0, -1, KindLabel, 5, 5, 80, 20, "x", 0));
  CHECK(
      !PlatCreateControl(0, PlatControlCount, KindLabel, 5, 5, 80, 20, "x", 0));
  // No control in a window that is not open or has no number.
  CHECK(!PlatCreateControl(1, 11, KindLabel, 5, 5, 80, 20, "x", 0));
  CHECK(
      !PlatCreateControl(PlatWindowCount, 11, KindLabel, 5, 5, 80, 20, "x", 0));
  CHECK(!OpenWindow(PlatWindowCount));
  CHECK(!OpenWindow(-1));
  CHECK(!PlatWindowIsOpen(PlatWindowCount));

  // Unknown numbers: changes do nothing, reads give the empty value.
  for (int n : {-1, 11, 200, PlatControlCount, 100000}) {
    PlatSetText(n, "x");
    PlatSetTextColour(n, 0x0000FF);
    PlatEnable(n, true);
    PlatSetTooltip(n, "x");
    PlatUseSystemFont(n);
    PlatSetFocus(n);
    PlatSetRange(n, 0, 10);
    PlatSetValue(n, 5);
    PlatSetBarColour(n, 0xFF0000);
    PlatSetChecked(n, true);
    PlatRichClear(n);
    PlatRichSetColour(n, 0xFF0000);
    PlatRichAppend(n, "x");
    CHECK_EQ(PlatGetText(n), "");
    CHECK(!PlatIsEnabled(n));
    CHECK(!PlatIsChecked(n));
    CHECK_EQ(PlatGetValue(n), 0);
  }

  // A procedure for other kinds leaves the control as it is.
  PlatSetChecked(10, true);
  CHECK(!PlatIsChecked(10));
  PlatSetValue(10, 5);
  CHECK_EQ(PlatGetValue(10), 0);
  PlatRichAppend(10, "drei");
  PlatRichClear(10);
  CHECK_EQ(PlatGetText(10), "eins");
  // Kinds without text.
  CHECK(PlatCreateControl(0, 12, KindCheckBox, 5, 30, 18, 18, "Haken", 0));
  CHECK(PlatCreateControl(0, 13, KindTrackbar, 5, 60, 150, 20, "x", 0));
  CHECK(PlatCreateControl(0, 14, KindProgressBar, 5, 90, 150, 20, "x", 0));
  for (int n : {12, 13, 14}) {
    PlatSetText(n, "Text");
    CHECK_EQ(PlatGetText(n), "");
  }

  // Opening a window that is open closes it first: its numbers are free.
  CHECK(OpenWindow(0));
  CHECK_EQ(PlatGetText(10), "");
  CHECK(PlatCreateControl(0, 10, KindButton, 5, 5, 80, 20, "neu", 0));
  CHECK_EQ(PlatGetText(10), "neu");
  PlatCloseWindow(0);
  CHECK(!PlatWindowIsOpen(0));
  CHECK(!PlatIsEnabled(10));
  int x = 0, y = 0;
  CHECK(!PlatWindowOuterPosition(0, &x, &y));
  PlatCloseWindow(0);  // a second time: nothing
}

void TrackbarsAndBarsKeepTheirValueInRange() {
  CHECK(OpenWindow(0));
  CHECK(PlatCreateControl(0, 20, KindTrackbar, 5, 5, 175, 20, "", 0));
  CHECK(PlatCreateControl(0, 21, KindTrackbar, 200, 5, 20, 200, "",
                          PropVertical | PropTickMarks));
  CHECK(PlatCreateControl(0, 22, KindProgressBar, 250, 5, 30, 200, "",
                          PropVertical | PropSmooth));
  // Fresh ones read their minimum of the range 0..100.
  for (int n : {20, 21, 22}) {
    CHECK_EQ(PlatGetValue(n), 0);
    PlatSetValue(n, 1000);
    CHECK_EQ(PlatGetValue(n), 100);
    PlatSetValue(n, -5);
    CHECK_EQ(PlatGetValue(n), 0);
  }

  PlatSetRange(20, 1, 10);
  CHECK_EQ(PlatGetValue(20), 1);
  PlatSetValue(20, 12);
  CHECK_EQ(PlatGetValue(20), 10);
  PlatSetRange(20, 5, 3);  // refused
  PlatSetValue(20, 12);
  CHECK_EQ(PlatGetValue(20), 10);
  PlatSetValue(20, 4);
  CHECK_EQ(PlatGetValue(20), 4);

  // A vertical one too keeps its value across a change of range.
  PlatSetRange(21, 0, 4000);
  PlatSetValue(21, 360);
  CHECK_EQ(PlatGetValue(21), 360);
  PlatSetRange(21, 0, 1000);
  CHECK_EQ(PlatGetValue(21), 360);
  PlatSetRange(21, 0, 100);
  CHECK_EQ(PlatGetValue(21), 100);
  PlatSetRange(21, 200, 300);
  CHECK_EQ(PlatGetValue(21), 200);

  PlatSetRange(22, 0, 400);
  PlatSetValue(22, 360);
  CHECK_EQ(PlatGetValue(22), 360);
  PlatSetRange(22, 0, 200);
  CHECK_EQ(PlatGetValue(22), 200);
  PlatSetBarColour(22, 0x0000FF);
  CHECK_EQ(PlatGetValue(22), 200);
}

void SpinNumbersAreTheirText() {
  CHECK(OpenWindow(0));
  CHECK(PlatCreateControl(0, 23, KindSpin, 5, 5, 70, 20, "9999", 0));
  PlatSetRange(23, 1, 10000);
  // No value of its own: the text is the number.
  PlatSetValue(23, 5);
  CHECK_EQ(PlatGetValue(23), 0);
  CHECK_EQ(PlatGetText(23), "9999");

  Hands->SpinStep(23, +1);
  Hands->SpinStep(23, +1);
  CHECK_EQ(PlatGetText(23), "10000");
  // Any text is taken; the arrows then go on from their last number.
  Hands->Type(23, "abc");
  CHECK_EQ(PlatGetText(23), "abc");
  Hands->SpinStep(23, -1);
  CHECK_EQ(PlatGetText(23), "9999");
  Hands->Type(23, "1");
  Hands->SpinStep(23, -1);
  CHECK_EQ(PlatGetText(23), "1");
  PlatSetText(23, "50");
  Hands->SpinStep(23, +1);
  CHECK_EQ(PlatGetText(23), "51");
  Hands->Type(23, "20000");  // beyond the range: not a number of it
  Hands->SpinStep(23, -1);
  CHECK_EQ(PlatGetText(23), "50");

  PlatEnable(23, false);
  Hands->SpinStep(23, +1);
  CHECK_EQ(PlatGetText(23), "50");
  CHECK(!PlatIsEnabled(23));

  // A fresh one steps within 0..100.
  CHECK(PlatCreateControl(0, 24, KindSpin, 5, 30, 70, 20, "100", 0));
  Hands->SpinStep(24, +1);
  CHECK_EQ(PlatGetText(24), "100");
  Hands->SpinStep(24, -1);
  CHECK_EQ(PlatGetText(24), "99");
  PlatSetRange(24, 10, 5);  // refused
  Hands->SpinStep(24, +1);
  CHECK_EQ(PlatGetText(24), "100");
}

void TextsComeBackAsTheyWereGiven() {
  CHECK(OpenWindow(0));
  const Text umlauts = "Ger\xE4t \xFC\xF6 & 100%";
  CHECK(PlatCreateControl(0, 30, KindLabel, 5, 5, 150, 20, umlauts,
                          PropBorder | PropCentred));
  CHECK_EQ(PlatGetText(30), umlauts);
  PlatSetTextColour(30, 0x0000FF);
  CHECK_EQ(PlatGetText(30), umlauts);
  CHECK(PlatCreateControl(0, 31, KindEdit, 5, 30, 150, 20, "getstatus", 0));
  Hands->Type(31, "setport 1.1");
  CHECK_EQ(PlatGetText(31), "setport 1.1");
  PlatSetText(31, "");
  CHECK_EQ(PlatGetText(31), "");

  // The rich-text box: lines joined by a carriage return, whatever broke
  // them, and text that looks like a document shown as it stands.
  CHECK(PlatCreateControl(0, 32, KindRichText, 5, 60, 300, 120, "a\r\nb\nc",
                          PropReadOnly));
  CHECK_EQ(PlatGetText(32), "a\rb\rc");
  PlatRichClear(32);
  CHECK_EQ(PlatGetText(32), "");
  PlatRichAppend(32, "");
  PlatRichAppend(32, "eins");
  PlatRichAppend(32, "");
  PlatRichAppend(32, "zwei\rdrei\r\nvier");
  CHECK_EQ(PlatGetText(32), "eins\r\rzwei\rdrei\rvier");
  PlatRichSetColour(32, 0xFF0000);
  PlatRichAppend(32, "{\\rtf1 {\\b fett}}");
  CHECK_EQ(PlatGetText(32), "eins\r\rzwei\rdrei\rvier\r{\\rtf1 {\\b fett}}");
  PlatSetText(32, "{\\rtf1 {\\b fett}}");
  CHECK_EQ(PlatGetText(32), "{\\rtf1 {\\b fett}}");
  PlatSetText(32, "x\r\ny");
  CHECK_EQ(PlatGetText(32), "x\ry");
}

// A label or button shows the text set last, also where a closed window
// had a control of the same number that was given that text.
void ControlsShowTheTextSetLast() {
  CHECK(OpenWindow(0));
  CHECK(PlatCreateControl(0, 33, KindLabel, 5, 5, 80, 20, "eins", 0));
  CHECK(PlatCreateControl(0, 34, KindButton, 5, 30, 80, 20, "EIN", 0));
  PlatSetText(33, "zwei");
  PlatSetText(33, "zwei");
  PlatSetText(34, "AUS");
  CHECK_EQ(PlatGetText(33), "zwei");
  CHECK_EQ(PlatGetText(34), "AUS");
  PlatCloseWindow(0);
  CHECK(OpenWindow(0));
  CHECK(PlatCreateControl(0, 33, KindLabel, 5, 5, 80, 20, "drei", 0));
  CHECK(PlatCreateControl(0, 34, KindButton, 5, 30, 80, 20, "EIN", 0));
  PlatSetText(33, "zwei");
  PlatSetText(34, "AUS");
  CHECK_EQ(PlatGetText(33), "zwei");
  CHECK_EQ(PlatGetText(34), "AUS");
  PlatEnable(34, false);
  PlatEnable(34, false);
  CHECK(!PlatIsEnabled(34));
  PlatEnable(34, true);
  CHECK(PlatIsEnabled(34));
}

void ClicksReachEnabledControlsInOrder() {
  CHECK(OpenWindow(0));
  CHECK(PlatCreateControl(0, 40, KindButton, 5, 5, 80, 20, "EIN", 0));
  CHECK(PlatCreateControl(0, 41, KindCheckBox, 5, 30, 18, 18, "", 0));
  CHECK(PlatCreateControl(0, 42, KindLabel, 5, 55, 80, 20, "Text", 0));
  CHECK(PlatCreateControl(0, 43, KindButton, 100, 5, 80, 20, "AUS", 0));
  CHECK(PlatIsEnabled(40));
  CHECK(!PlatIsChecked(41));

  CHECK(Hands->Click(43));
  CHECK(Hands->Click(41));
  CHECK(PlatIsChecked(41));
  CHECK(Hands->Click(40));
  PlatEvent e = NextEvent();
  CHECK_EQ(e.Kind, EventControl);
  CHECK_EQ(e.Number, 43);
  e = NextEvent();
  CHECK_EQ(e.Number, 41);
  e = NextEvent();
  CHECK_EQ(e.Number, 40);
  CHECK_EQ(NextEvent().Kind, EventNone);

  PlatSetChecked(41, false);
  CHECK(!PlatIsChecked(41));
  PlatEnable(40, false);
  CHECK(!PlatIsEnabled(40));
  CHECK(!Hands->Click(40));
  CHECK(!Hands->Click(42));  // a label takes no click
  CHECK_EQ(NextEvent().Kind, EventNone);
  PlatEnable(40, true);
  CHECK(Hands->Click(40));
  CHECK_EQ(NextEvent().Number, 40);

  // A close request leaves the window open.
  Hands->RequestClose(0);
  e = NextEvent();
  CHECK_EQ(e.Kind, EventClose);
  CHECK_EQ(e.Number, 0);
  CHECK(PlatWindowIsOpen(0));
}

void ClosingAWindowTakesItsEventsAlong() {
  CHECK(OpenWindow(0));
  CHECK(OpenWindow(1));
  CHECK(PlatCreateControl(0, 50, KindButton, 5, 5, 80, 20, "bleibt", 0));
  CHECK(PlatCreateControl(1, 51, KindButton, 5, 5, 80, 20, "geht", 0));
  CHECK(Hands->Click(51));
  CHECK(Hands->Click(50));
  Hands->RequestClose(1);
  PlatCloseWindow(1);
  CHECK(PlatWindowIsOpen(0));
  CHECK(!PlatWindowIsOpen(1));
  PlatEvent e = NextEvent();
  CHECK_EQ(e.Kind, EventControl);
  CHECK_EQ(e.Number, 50);
  e = NextEvent();  // the close request stays
  CHECK_EQ(e.Kind, EventClose);
  CHECK_EQ(e.Number, 1);
  CHECK_EQ(NextEvent().Kind, EventNone);
  // Its number is free for a control of another window.
  CHECK(PlatCreateControl(0, 51, KindLabel, 5, 30, 80, 20, "neu", 0));
}

void TimersTickAndGoWithTheirWindow() {
  CHECK(!PlatAddTimer(0, 7, 50));  // no window
  CHECK(OpenWindow(0));
  CHECK(!PlatAddTimer(0, 0, 50));
  CHECK(!PlatAddTimer(0, 7, 0));
  CHECK(PlatAddTimer(0, 7, 50));
  CHECK_EQ(NextTick(), 7);
  // A second timer replaces the first.
  CHECK(PlatAddTimer(0, 8, 50));
  CHECK_EQ(NextTick(), 8);
  CHECK_EQ(NextTick(), 8);
  PlatCloseWindow(0);
  CHECK_EQ(NextTick(), 0);
}

// The modal service takes the measurement tick out of the events that
// wait, and leaves the operator's clicks where they are.
void ATimerTickIsTakenAlone() {
  CHECK(OpenWindow(0));
  CHECK(PlatCreateControl(0, 40, KindButton, 5, 5, 80, 20, "EIN", 0));
  CHECK(PlatCreateControl(0, 43, KindButton, 100, 5, 80, 20, "AUS", 0));
  CHECK(!PlatTakeTimerTick(7));
  CHECK(PlatAddTimer(0, 7, 50));
  CHECK(Hands->Click(43));
  PlatSleep(120);
  CHECK(Hands->Click(40));
  CHECK(!PlatTakeTimerTick(8));
  CHECK(PlatTakeTimerTick(7));
  CHECK_EQ(NextEvent().Number, 43);
  CHECK_EQ(NextEvent().Number, 40);
  PlatCloseWindow(0);
  CHECK(!PlatTakeTimerTick(7));
}

// A loopback connection to the hands' end; NoSocket when there is none.
PlatSocket Connected() {
  if (!PlatSocketsStart()) return NoSocket;
  int port = Hands->Listen();
  if (port <= 0) return NoSocket;
  PlatSocket s = PlatStreamSocket();
  if (s == NoSocket) return NoSocket;
  if (!BlockingConnect(s, PlatDottedAddress("127.0.0.1"), port) ||
      !Hands->Accept()) {
    PlatCloseSocket(s);
    return NoSocket;
  }
  return s;
}

void ReceivesWaitInTimeAndTakeOnlyTheStream() {
  PlatSocket s = Connected();
  CHECK(s != NoSocket);
  if (s == NoSocket) return;
  char buffer[64];
  int waited = -1;
  CHECK_EQ(PlatReceive(s, buffer, sizeof buffer, 60, &waited),
           (int)ReceiveTimedOut);
  CHECK(waited >= 40 && waited < 2000);
  CHECK_EQ(PlatReceive(s, buffer, sizeof buffer, 0, &waited),
           (int)ReceiveTimedOut);

  // Urgent data alone is silence: the wait ends at its limit.
  CHECK(Hands->Send("!", 1, true));
  CHECK_EQ(PlatReceive(s, buffer, sizeof buffer, 200, &waited),
           (int)ReceiveTimedOut);
  CHECK(waited < 2000);
  CHECK(Hands->Send("?", 1, true));
  CHECK(Hands->Send("ok\r\n", 4, false));
  int got = PlatReceive(s, buffer, sizeof buffer, 1000, &waited);
  CHECK_EQ(got, 4);
  if (got == 4) CHECK_EQ(Text(buffer, 4), "ok\r\n");

  CHECK_EQ(PlatReceive(s, buffer, 0, 0, &waited), (int)ReceiveClosed);
  CHECK_EQ(PlatSend(s, "getstatus", 9), 9);
  Hands->Close();
  CHECK_EQ(PlatReceive(s, buffer, sizeof buffer, 1000, &waited),
           (int)ReceiveClosed);
  PlatCloseSocket(s);
  PlatSocketsCleanup();
}

void DiscardThrowsAwayOneLimitAtMost() {
  PlatSocket s = Connected();
  CHECK(s != NoSocket);
  if (s == NoSocket) return;
  char buffer[64];
  int waited = 0;
  // Less than the limit: all of it goes.
  Text some(100, 'a');
  CHECK(Hands->Send(some.data(), (int)some.size(), false));
  CHECK_EQ(Hands->Arrived(s, 100), 100);
  PlatDiscardPending(s);
  CHECK_EQ(PlatReceive(s, buffer, sizeof buffer, 0, &waited),
           (int)ReceiveTimedOut);

  // More: the limit goes, the rest stays for the next receive.
  Text flood(DiscardLimit, 'x');
  flood += "0123456789";
  CHECK(Hands->Send(flood.data(), (int)flood.size(), false));
  CHECK_EQ(Hands->Arrived(s, (int)flood.size()), (int)flood.size());
  PlatDiscardPending(s);
  int got = PlatReceive(s, buffer, sizeof buffer, 0, &waited);
  CHECK_EQ(got, 10);
  if (got == 10) CHECK_EQ(Text(buffer, 10), "0123456789");

  // Urgent data in the middle does not end the discard early.
  CHECK(Hands->Send("abc", 3, false));
  CHECK(Hands->Send("!", 1, true));
  CHECK(Hands->Send("def", 3, false));
  // (What has arrived counts up to the urgent byte only.)
  CHECK(Hands->Arrived(s, 3) >= 3);
  PlatDiscardPending(s);
  CHECK_EQ(PlatReceive(s, buffer, sizeof buffer, 0, &waited),
           (int)ReceiveTimedOut);
  PlatCloseSocket(s);
  PlatSocketsCleanup();
}

// The connect that does not block: done although the peer greets it with
// urgent data, failed where nothing listens.
void ConnectsEndAsTheyReallyDid() {
  CHECK(PlatSocketsStart());
  uint32_t loopback = PlatDottedAddress("127.0.0.1");
  int port = Hands->Listen();
  CHECK(port > 0);
  PlatSocket s = PlatStreamSocket();
  CHECK(s != NoSocket);
  int state = PlatConnectStart(s, loopback, port);
  CHECK(state != ConnectFailed);
  CHECK(Hands->Accept());
  CHECK(Hands->Send("!", 1, true));
  for (int i = 0; i < 20 && state == ConnectPending; i++)
    state = PlatConnectWait(s, 100);
  CHECK_EQ(state, (int)ConnectDone);
  // A send and a receive as on any connection.
  CHECK_EQ(PlatSend(s, "getstatus", 9), 9);
  CHECK(Hands->Send("ok\r\n", 4, false));
  char buffer[16];
  int waited = 0;
  CHECK_EQ(PlatReceive(s, buffer, sizeof buffer, 1000, &waited), 4);
  PlatCloseSocket(s);

  // The same port once nothing listens there any more.
  Hands->Close();
  s = PlatStreamSocket();
  state = PlatConnectStart(s, loopback, port);
  for (int i = 0; i < 20 && state == ConnectPending; i++)
    state = PlatConnectWait(s, 100);
  CHECK_EQ(state, (int)ConnectFailed);
  PlatCloseSocket(s);
  PlatSocketsCleanup();
}

// The connection the connect that does not block made (the board's, in
// the program) waits, takes and throws away as one a blocking connect
// made: the wait in time, urgent data no part of the stream, the discard
// past an urgent byte, the end of the connection.
void ConnectedWithoutBlockingReceivesAlike() {
  CHECK(PlatSocketsStart());
  int port = Hands->Listen();
  CHECK(port > 0);
  PlatSocket s = PlatStreamSocket();
  CHECK(s != NoSocket);
  int state = PlatConnectStart(s, PlatDottedAddress("127.0.0.1"), port);
  CHECK(Hands->Accept());
  for (int i = 0; i < 20 && state == ConnectPending; i++)
    state = PlatConnectWait(s, 100);
  CHECK_EQ(state, (int)ConnectDone);
  if (state != ConnectDone) return;

  char buffer[64];
  int waited = -1;
  CHECK_EQ(PlatReceive(s, buffer, sizeof buffer, 60, &waited),
           (int)ReceiveTimedOut);
  CHECK(waited >= 40 && waited < 2000);
  CHECK(Hands->Send("!", 1, true));
  CHECK(Hands->Send("ok\r\n", 4, false));
  int got = PlatReceive(s, buffer, sizeof buffer, 1000, &waited);
  CHECK_EQ(got, 4);
  if (got == 4) CHECK_EQ(Text(buffer, 4), "ok\r\n");

  CHECK(Hands->Send("abc", 3, false));
  CHECK(Hands->Send("!", 1, true));
  CHECK(Hands->Send("def", 3, false));
  CHECK(Hands->Arrived(s, 3) >= 3);
  PlatDiscardPending(s);
  CHECK_EQ(PlatReceive(s, buffer, sizeof buffer, 0, &waited),
           (int)ReceiveTimedOut);
  CHECK_EQ(PlatDiscardPending(s), 0);

  // A send goes whole, as on a blocking socket.
  Text command(3000, 'c');
  CHECK_EQ(PlatSend(s, command.data(), (int)command.size()), 3000);
  Hands->Close();
  CHECK_EQ(PlatReceive(s, buffer, sizeof buffer, 1000, &waited),
           (int)ReceiveClosed);
  PlatCloseSocket(s);
  PlatSocketsCleanup();
}

void FacilitiesRefuseWhatTheyCannotGive() {
  CHECK(PlatTakeZeroedMemory(0) == nullptr);
  CHECK(PlatTakeZeroedMemory(-1) == nullptr);
  unsigned char* block = PlatTakeZeroedMemory(300);
  CHECK(block != nullptr);
  if (block) {
    int nonZero = 0;
    for (int i = 0; i < 300; i++) nonZero += block[i] != 0;
    CHECK_EQ(nonZero, 0);
  }
  CHECK(!PlatCreateFont(-1, "Arial", 8));
  CHECK(!PlatCreateFont(PlatFontCount, "Arial", 8));
  CHECK(PlatCreateFont(PlatFontCount - 1, "Arial", 8));
  CHECK_EQ(PlatDottedAddress("127.0.0.1"), 0x0100007Fu);
  CHECK_EQ(PlatDottedAddress("Brunnen"), 0xFFFFFFFFu);
  uint32_t before = PlatTickCount();
  PlatSleep(20);
  CHECK(PlatTickCount() - before >= 10);
}

bool OpenSizable(int window, int clientWidth, int clientHeight) {
  return PlatOpenWindow(window, FrameSizable, "Verlauf", clientWidth,
                        clientHeight, false, 60 + 60 * window, 60);
}

void SystemMenuItemsGiveTheirCommand() {
  CHECK(OpenWindow(0));
  CHECK(PlatOpenWindow(1, FrameTitleOnly, "Hinweis", 200, 80, false, 300, 40));
  // No system menu, no open window, no command of the range: refused.
  CHECK(!PlatAddSystemMenuItem(1, 1, "Verlauf"));
  CHECK(!PlatAddSystemMenuItem(2, 1, "Verlauf"));
  CHECK(!PlatAddSystemMenuItem(PlatWindowCount, 1, "Verlauf"));
  CHECK(!PlatAddSystemMenuItem(0, 0, "Null"));
  CHECK(!PlatAddSystemMenuItem(0, SystemMenuCommandCount, "Zu gross"));
  CHECK(PlatAddSystemMenuItem(0, 1, "Verlauf"));
  CHECK(PlatAddSystemMenuItem(0, SystemMenuCommandCount - 1, "Letzter"));
  // A command the menu has already: refused, the first item stays.
  CHECK(!PlatAddSystemMenuItem(0, 1, "Noch einmal"));
  CHECK(!Hands->ChooseMenuItem(0, "Noch einmal"));
  CHECK(!Hands->ChooseMenuItem(0, "Null"));
  CHECK(!Hands->ChooseMenuItem(0, "Zu gross"));
  CHECK(!Hands->ChooseMenuItem(1, "Verlauf"));

  CHECK(Hands->ChooseMenuItem(0, "Letzter"));
  CHECK(Hands->ChooseMenuItem(0, "Verlauf"));
  PlatEvent e = NextEvent();
  CHECK_EQ(e.Kind, EventMenu);
  CHECK_EQ(e.Number, SystemMenuCommandCount - 1);
  e = NextEvent();
  CHECK_EQ(e.Kind, EventMenu);
  CHECK_EQ(e.Number, 1);
  CHECK_EQ(NextEvent().Kind, EventNone);

  // Every window has a menu of its own.
  CHECK(OpenSizable(2, 400, 300));
  CHECK(PlatAddSystemMenuItem(2, 1, "Drucken"));
  CHECK(Hands->ChooseMenuItem(2, "Drucken"));
  e = NextEvent();
  CHECK_EQ(e.Kind, EventMenu);
  CHECK_EQ(e.Number, 1);
  // A window opened anew has none of the items of the one before.
  CHECK(OpenWindow(0));
  CHECK(!Hands->ChooseMenuItem(0, "Verlauf"));
  CHECK(PlatAddSystemMenuItem(0, 1, "Verlauf"));
  CHECK_EQ(NextEvent().Kind, EventNone);
}

void SizableWindowsTellTheirSize() {
  int width = -1, height = -1;
  for (int window : {-1, 0, PlatWindowCount}) {
    CHECK(!PlatWindowClientSize(window, &width, &height));
    CHECK_EQ(width, 0);
    CHECK_EQ(height, 0);
  }
  CHECK(OpenWindow(0));
  CHECK(PlatWindowClientSize(0, &width, &height));
  CHECK_EQ(width, 320);
  CHECK_EQ(height, 240);
  CHECK(OpenSizable(1, 480, 320));
  CHECK(PlatWindowClientSize(1, &width, &height));
  CHECK_EQ(width, 480);
  CHECK_EQ(height, 320);
  // Opening it is no resizing.
  CHECK_EQ(NextEvent().Kind, EventNone);

  CHECK(Hands->Resize(1, 560, 400));
  PlatEvent e = NextEvent();
  CHECK_EQ(e.Kind, EventResize);
  CHECK_EQ(e.Number, 1);
  CHECK(PlatWindowClientSize(1, &width, &height));
  CHECK_EQ(width, 560);
  CHECK_EQ(height, 400);
  CHECK_EQ(NextEvent().Kind, EventNone);

  PlatCloseWindow(1);
  CHECK(!PlatWindowClientSize(1, &width, &height));
  CHECK_EQ(width, 0);
  CHECK_EQ(height, 0);
  CHECK(!Hands->Resize(1, 500, 350));
}

// Where control `number` stands: "x y width height", or "none".
std::string PlaceOf(int number) {
  int x = 0, y = 0, width = 0, height = 0;
  if (!Hands->ControlPlace(number, &x, &y, &width, &height)) return "none";
  return std::to_string(x) + " " + std::to_string(y) + " " +
         std::to_string(width) + " " + std::to_string(height);
}

void ControlsMoveWithinTheirWindow() {
  CHECK(OpenSizable(0, 400, 300));
  CHECK(PlatCreateControl(0, 60, KindButton, 5, 5, 80, 24, "Stunden", 0));
  CHECK(PlatCreateControl(0, 61, KindSpin, 5, 40, 70, 20, "24", 0));
  CHECK_EQ(PlaceOf(60), "5 5 80 24");

  PlatMoveControl(60, 300, 250, 90, 30);
  CHECK_EQ(PlaceOf(60), "300 250 90 30");
  // A spin control's field and arrows move together and keep working.
  PlatMoveControl(61, 200, 10, 90, 24);
  CHECK_EQ(PlaceOf(61), "200 10 90 24");
  Hands->SpinStep(61, +1);
  CHECK_EQ(PlatGetText(61), "25");
  CHECK(Hands->Click(60));
  CHECK_EQ(NextEvent().Number, 60);

  // Unknown numbers: nothing is made.
  PlatMoveControl(62, 5, 5, 50, 20);
  PlatMoveControl(-1, 5, 5, 50, 20);
  CHECK_EQ(PlaceOf(62), "none");
}

void DrawingsBelongToOpenWindows() {
  // Drawing in a window that is not open does nothing.
  for (int window : {-1, 0, 3, PlatWindowCount}) {
    PlatBeginDrawing(window);
    PlatDrawLine(window, 0, 0, 100, 100, 0x0000FF, 2, LineDashed);
    PlatFillRect(window, 0, 0, 50, 50, 0x00FF00);
    PlatDrawDot(window, 10, 10, 3, 0xFF0000);
    PlatDrawText(window, 10, 10, "Pegel", 0, AlignLeft);
    PlatShowDrawing(window);
    CHECK(!PlatWindowIsOpen(window));
  }
  CHECK(OpenSizable(0, 400, 300));
  CHECK(PlatCreateControl(0, 70, KindButton, 300, 260, 80, 24, "Zu", 0));
  // Every kind of step, some of them partly or wholly outside the window.
  PlatBeginDrawing(0);
  PlatFillRect(0, 40, 20, 380, 260, 0xFFFFFF);
  PlatFillRect(0, 50, 50, 50, 80, 0x000000);  // empty
  PlatFillRect(0, -100, -100, 5000, 10, 0xC0C0C0);
  for (int width : {1, 2, 3}) {
    PlatDrawLine(0, 40, 20 + 40 * width, 380, 20 + 40 * width, 0x808080, width,
                 LineDashed);
    PlatDrawLine(0, 40, 260, 380, 20 * width, 0xFF0000, width, LineSolid);
  }
  PlatDrawLine(0, 60, 60, 60, 60, 0, 1, LineSolid);  // one point
  PlatDrawLine(0, -50, 500, 900, -20, 0x00FF00, 0, LineSolid);
  PlatDrawDot(0, 200, 150, 4, 0x0000FF);
  PlatDrawDot(0, 210, 150, 0, 0x0000FF);
  PlatDrawDot(0, 2000, 150, 4, 0x0000FF);
  PlatDrawText(0, 38, 20, "10,0 m", 0, AlignRight | AlignMiddle);
  PlatDrawText(0, 210, 262, "12:00", 0, AlignCentre);
  PlatDrawText(0, 40, 5,
               "Pegel ü"
               "ber Zeit",
               0x800000, AlignLeft);
  PlatDrawText(0, 40, 5, "", 0, AlignLeft);
  PlatShowDrawing(0);
  // It is painted, and that gives the program nothing to handle, before
  // and after the window is resized, and while a new list is built.
  CHECK(Settles());
  PlatBeginDrawing(0);
  PlatFillRect(0, 0, 0, 10, 10, 0);
  CHECK(Hands->Resize(0, 500, 360));
  CHECK_EQ(NextEvent().Kind, EventResize);
  CHECK(Settles());
  PlatShowDrawing(0);
  CHECK(Settles());
  CHECK(Hands->Click(70));
  CHECK_EQ(NextEvent().Number, 70);

  // Closed, the window forgets its drawing; opened anew it starts empty.
  PlatCloseWindow(0);
  PlatDrawDot(0, 10, 10, 3, 0);
  PlatShowDrawing(0);
  CHECK(!PlatWindowIsOpen(0));
  CHECK(OpenSizable(0, 400, 300));
  PlatShowDrawing(0);
  CHECK(Settles());
  CHECK(PlatWindowIsOpen(0));
}

void BringingToFrontActivates() {
  for (int window : {-1, 0, PlatWindowCount}) {
    PlatBringToFront(window);
    PlatFlashUntilActive(window);
    CHECK(!PlatWindowIsActive(window));
  }
  // A window that opens comes to the front.
  CHECK(OpenWindow(0));
  CHECK(PlatWindowIsActive(0));
  CHECK(OpenSizable(1, 400, 300));
  CHECK(PlatWindowIsActive(1));
  CHECK(!PlatWindowIsActive(0));
  PlatBringToFront(0);
  CHECK(PlatWindowIsActive(0));
  CHECK(!PlatWindowIsActive(1));
  // Flashing does not activate a window, nor does it flash the active one
  // away from the front.
  PlatFlashUntilActive(1);
  PlatFlashUntilActive(0);
  CHECK(PlatWindowIsActive(0));
  CHECK(!PlatWindowIsActive(1));
  PlatBringToFront(1);
  CHECK(PlatWindowIsActive(1));
  CHECK(!PlatWindowIsActive(0));
  PlatCloseWindow(1);
  CHECK(!PlatWindowIsActive(1));
}

// The local clock runs a whole number of quarter hours ahead of universal
// time (or behind it), at most 14 hours, and counts seconds.
void LocalClockCountsLocalTime() {
  int64_t before = PlatUniversalClock();
  int64_t clock = PlatLocalClock();
  int64_t after = PlatUniversalClock();
  CHECK(clock > 0);
  CHECK(after >= before && after - before <= 2);
  bool quarterHours = false;
  for (int64_t lead = clock - after; lead <= clock - before; lead++)
    if (lead % 900 == 0 && lead >= -14 * 3600 && lead <= 14 * 3600)
      quarterHours = true;
  CHECK(quarterHours);
  int64_t start = PlatLocalClock();
  PlatSleep(1100);
  int64_t passed = PlatLocalClock() - start;
  CHECK(passed >= 1 && passed <= 3);
}

// The time the system ran goes with the tick count while it is awake (it
// is not there on every system); the power notices count from 0, and the
// request to stay awake can be made and withdrawn, also twice.
void RunningTimeGoesWithTheTickCountAwake() {
  uint64_t before = 0, after = 0;
  uint32_t tick = PlatTickCount();
  bool known = PlatRunningTime(&before);
  if (!known) CHECK(before == 0);
  PlatSleep(1100);
  uint32_t ticked = PlatTickCount() - tick;
  CHECK(PlatRunningTime(&after) == known);
  if (known) {
    int64_t ran = (int64_t)(after - before);
    CHECK(ran >= 900 && ran <= 3000);
    CHECK(ran - (int64_t)ticked <= 300 && (int64_t)ticked - ran <= 300);
  }
  PlatPowerNotices notices = PlatPowerNoticesSoFar();
  CHECK(notices.Suspends >= 0 && notices.Resumes >= 0);
  PlatKeepSystemAwake(true, "KORVALINEX Prüfung 127.0.0.1:50290");
  PlatKeepSystemAwake(true, "KORVALINEX Prüfung 127.0.0.1:50290");
  PlatKeepSystemAwake(false, Text());
  PlatKeepSystemAwake(false, Text());
}

void FilesAreAppendedAndReadFromTheirEnd() {
  Text folder = Hands->ScratchFolder();
  CHECK(PlatFolderExists(folder));
  CHECK(PlatFolderExists(folder + "\\"));
  CHECK(!PlatFolderExists(folder + "\\fehlt"));
  Text file = folder + "\\Protokoll.csv";
  Text bytes;
  int64_t size = -1;
  CHECK_EQ((int)PlatReadFileEnd(file, 100, &bytes, &size), (int)FileMissing);
  CHECK_EQ((int)size, 0);

  // Made by the first append, added to by the next ones, bytes as given.
  const char first[] = "Zeit;Art\r\n";
  CHECK_EQ((int)PlatAppendFile(file, first, 10), (int)AppendWritten);
  CHECK(!PlatFolderExists(file));
  Text binary("a\0\xff\r\n", 5);
  CHECK_EQ((int)PlatAppendFile(file, binary.data(), 5), (int)AppendWritten);
  CHECK_EQ((int)PlatAppendFile(file, "", 0), (int)AppendWritten);
  CHECK_EQ((int)PlatReadFileEnd(file, 1000, &bytes, &size), (int)FileRead);
  CHECK_EQ(bytes, Text("Zeit;Art\r\n") + binary);
  CHECK_EQ((int)size, 15);
  // The end only, the size still the whole file's.
  CHECK_EQ((int)PlatReadFileEnd(file, 2, &bytes, &size), (int)FileRead);
  CHECK_EQ(bytes, "\r\n");
  CHECK_EQ((int)size, 15);
  CHECK_EQ((int)PlatReadFileEnd(file, 0, &bytes, &size), (int)FileRead);
  CHECK_EQ(bytes, "");
  // The start likewise.
  CHECK_EQ((int)PlatReadFileStart(file, 4, &bytes, &size), (int)FileRead);
  CHECK_EQ(bytes, "Zeit");
  CHECK_EQ((int)size, 15);
  CHECK_EQ((int)PlatReadFileStart(file, 1000, &bytes, &size), (int)FileRead);
  CHECK_EQ(bytes, Text("Zeit;Art\r\n") + binary);

  // Written anew: the old contents are gone.
  CHECK_EQ((int)PlatWriteFile(file, "neu", 3), (int)AppendWritten);
  CHECK_EQ((int)PlatReadFileEnd(file, 1000, &bytes, &size), (int)FileRead);
  CHECK_EQ(bytes, "neu");

  // No folder is made for a file.
  Text lost = folder + "\\fehlt\\x.csv";
  CHECK_EQ((int)PlatAppendFile(lost, "x", 1), (int)AppendNoFolder);
  CHECK_EQ((int)PlatWriteFile(lost, "x", 1), (int)AppendNoFolder);
  CHECK(!PlatFolderExists(folder + "\\fehlt"));
  CHECK_EQ((int)PlatReadFileEnd(lost, 10, &bytes, &size), (int)FileMissing);
  CHECK_EQ((int)PlatReadFileStart(lost, 10, &bytes, &size), (int)FileMissing);
  CHECK_EQ(bytes, "");
  CHECK_EQ((int)size, 0);
}

void ProgramsStartWithoutWaitingAndEndOnTheirOwn() {
  Text folder = Hands->ScratchFolder();
  Text script = Hands->ArgumentScript(folder);
  // Blanks, a comma and a T reach the script as they are, one argument
  // each.
  const std::vector<Text> given = {"minimum-ein", "2026-12-09T10:04:17", "0,18",
                                   "zwei Worte"};
  PlatProgram program = PlatStartProgram(script, given);
  CHECK(program != NoProgram);
  std::vector<Text> got;
  CHECK(Hands->ScriptArguments(folder, given.size(), &got));
  CHECK(got == given);
  // It ends by itself, and its number is let go then.
  bool ended = false;
  for (int i = 0; i < 500 && !ended; i++) {
    ended = !PlatProgramRunning(program);
    if (!ended) PlatSleep(20);
  }
  CHECK(ended);
  CHECK(!PlatProgramRunning(program));

  // What is not there does not start.
  CHECK_EQ((long long)PlatStartProgram(folder + "\\fehlt.cmd", given),
           (long long)NoProgram);
  CHECK_EQ((long long)PlatStartProgram(folder + "\\fehlt.exe", given),
           (long long)NoProgram);
  CHECK_EQ((long long)PlatStartProgram("", given), (long long)NoProgram);
  CHECK(!PlatProgramRunning(NoProgram));
}

// A taken connection's next receive that is not "nothing yet", within
// two seconds.
int ReceiveSoon(PlatSocket s, char* bytes, int max) {
  for (int i = 0; i < 200; i++) {
    int got = PlatReceiveNow(s, bytes, max);
    if (got != ReceiveTimedOut) return got;
    PlatSleep(10);
  }
  return ReceiveTimedOut;
}

PlatSocket AcceptSoon(PlatSocket listener) {
  for (int i = 0; i < 200; i++) {
    PlatSocket s = PlatAccept(listener);
    if (s != NoSocket) return s;
    PlatSleep(10);
  }
  return NoSocket;
}

// A connection opened without waiting (the MQTT client's): made within
// two seconds, its sends and receives never wait, the board's connection
// keeps its own ways beside it, and one to a port where nothing listens
// fails.
void OpenedConnectionsNeverWait() {
  CHECK(PlatSocketsStart());
  uint32_t loopback = PlatDottedAddress("127.0.0.1");
  PlatSocket listener = NoSocket;
  CHECK_EQ((int)PlatListen(loopback, 0, &listener), (int)ListenDone);
  int port = PlatListeningPort(listener);
  CHECK(port > 0);
  // The board's connection, made first.
  PlatSocket board = PlatStreamSocket();
  int state = PlatConnectStart(board, loopback, port);
  for (int i = 0; i < 20 && state == ConnectPending; i++)
    state = PlatConnectWait(board, 100);
  CHECK_EQ(state, (int)ConnectDone);
  PlatSocket boardEnd = AcceptSoon(listener);
  CHECK(boardEnd != NoSocket);

  PlatSocket opened = NoSocket;
  uint32_t start = PlatTickCount();
  state = PlatOpenNow(loopback, port, &opened);
  CHECK((int)(PlatTickCount() - start) < 200);
  CHECK(opened != NoSocket);
  for (int i = 0; i < 200 && state == ConnectPending; i++) {
    PlatSleep(10);
    state = PlatOpenedNow(opened);
  }
  CHECK_EQ(state, (int)ConnectDone);
  PlatSocket far = AcceptSoon(listener);
  CHECK(far != NoSocket);
  char bytes[64];
  start = PlatTickCount();
  CHECK_EQ(PlatReceiveNow(opened, bytes, sizeof bytes), (int)ReceiveTimedOut);
  CHECK((int)(PlatTickCount() - start) < 200);
  CHECK_EQ(PlatSendNow(opened, "\x10\x02", 2), 2);
  CHECK_EQ(ReceiveSoon(far, bytes, sizeof bytes), 2);
  CHECK_EQ(PlatSendNow(far, "\x20\x02\x00\x00", 4), 4);
  CHECK_EQ(ReceiveSoon(opened, bytes, sizeof bytes), 4);

  // The board's connection as before: a send goes whole, a receive waits
  // its time.
  Text command(3000, 'c');
  CHECK_EQ(PlatSend(board, command.data(), (int)command.size()), 3000);
  int waited = -1;
  CHECK_EQ(PlatReceive(board, bytes, sizeof bytes, 60, &waited),
           (int)ReceiveTimedOut);
  CHECK(waited >= 40 && waited < 2000);

  // The far end goes: the opened connection says so.
  PlatCloseSocket(far);
  CHECK_EQ(ReceiveSoon(opened, bytes, sizeof bytes), (int)ReceiveClosed);
  PlatCloseSocket(opened);
  PlatCloseSocket(boardEnd);
  PlatCloseSocket(board);

  // Nothing listens: refused at once or within three seconds.
  PlatCloseSocket(listener);
  state = PlatOpenNow(loopback, port, &opened);
  for (int i = 0; i < 300 && state == ConnectPending; i++) {
    PlatSleep(10);
    state = PlatOpenedNow(opened);
  }
  CHECK_EQ(state, (int)ConnectFailed);
  if (opened != NoSocket) PlatCloseSocket(opened);
  PlatSocketsCleanup();
}

void ListenersTakeConnectionsWithoutWaiting() {
  CHECK(PlatSocketsStart());
  uint32_t loopback = PlatDottedAddress("127.0.0.1");
  PlatSocket listener = NoSocket;
  CHECK_EQ((int)PlatListen(loopback, 0, &listener), (int)ListenDone);
  int port = PlatListeningPort(listener);
  CHECK(port > 0);
  // Nothing waits: every call returns at once.
  uint32_t start = PlatTickCount();
  CHECK_EQ((long long)PlatAccept(listener), (long long)NoSocket);
  CHECK((int)(PlatTickCount() - start) < 200);
  // The port is this listener's alone.
  PlatSocket second = NoSocket;
  CHECK_EQ((int)PlatListen(loopback, port, &second), (int)ListenInUse);
  CHECK_EQ((long long)second, (long long)NoSocket);
  // An address that is none of this machine's (TEST-NET-1).
  CHECK_EQ((int)PlatListen(PlatDottedAddress("192.0.2.1"), 0, &second),
           (int)ListenNotHere);

  PlatSocket client = PlatStreamSocket();
  CHECK(BlockingConnect(client, loopback, port));
  CHECK_EQ(PlatListeningPort(client), 0);
  PlatSocket taken = AcceptSoon(listener);
  CHECK(taken != NoSocket);
  char bytes[64];
  start = PlatTickCount();
  CHECK_EQ(PlatReceiveNow(taken, bytes, sizeof bytes), (int)ReceiveTimedOut);
  CHECK((int)(PlatTickCount() - start) < 200);
  CHECK_EQ(PlatReceiveNow(taken, bytes, 0), (int)ReceiveClosed);
  CHECK_EQ(PlatSend(client, "GET", 3), 3);
  CHECK_EQ(ReceiveSoon(taken, bytes, sizeof bytes), 3);
  CHECK_EQ(PlatSendNow(taken, "ok", 2), 2);
  int waited = 0;
  CHECK_EQ(PlatReceive(client, bytes, sizeof bytes, 1000, &waited), 2);

  // A client that does not read: the sends fill what the system holds for
  // it, then take nothing, and never wait.
  static char block[16384];
  long long held = 0;
  int sent = 1;
  start = PlatTickCount();
  for (int i = 0; i < 4096 && sent > 0; i++) {
    sent = PlatSendNow(taken, block, sizeof block);
    if (sent > 0) held += sent;
  }
  CHECK_EQ(sent, 0);
  CHECK(held > 0);
  CHECK((int)(PlatTickCount() - start) < 2000);

  // The client goes: the taken connection says so.
  PlatCloseSocket(client);
  int got = ReceiveSoon(taken, bytes, sizeof bytes);
  CHECK_EQ(got, (int)ReceiveClosed);
  PlatCloseSocket(taken);
  PlatCloseSocket(listener);
  // Closed, the port is free again.
  CHECK_EQ((int)PlatListen(loopback, port, &listener), (int)ListenDone);
  PlatCloseSocket(listener);
  PlatSocketsCleanup();
}

}  // namespace

const PlatformCheck PlatformChecks[] = {
    {"NumbersAreUniqueAndUnknownOnesChangeNothing",
     NumbersAreUniqueAndUnknownOnesChangeNothing},
    {"TrackbarsAndBarsKeepTheirValueInRange",
     TrackbarsAndBarsKeepTheirValueInRange},
    {"SpinNumbersAreTheirText", SpinNumbersAreTheirText},
    {"TextsComeBackAsTheyWereGiven", TextsComeBackAsTheyWereGiven},
    {"ClicksReachEnabledControlsInOrder", ClicksReachEnabledControlsInOrder},
    {"ClosingAWindowTakesItsEventsAlong", ClosingAWindowTakesItsEventsAlong},
    {"TimersTickAndGoWithTheirWindow", TimersTickAndGoWithTheirWindow},
    {"ATimerTickIsTakenAlone", ATimerTickIsTakenAlone},
    {"ReceivesWaitInTimeAndTakeOnlyTheStream",
     ReceivesWaitInTimeAndTakeOnlyTheStream},
    {"DiscardThrowsAwayOneLimitAtMost", DiscardThrowsAwayOneLimitAtMost},
    {"ControlsShowTheTextSetLast", ControlsShowTheTextSetLast},
    {"ConnectsEndAsTheyReallyDid", ConnectsEndAsTheyReallyDid},
    {"ConnectedWithoutBlockingReceivesAlike",
     ConnectedWithoutBlockingReceivesAlike},
    {"ListenersTakeConnectionsWithoutWaiting",
     ListenersTakeConnectionsWithoutWaiting},
    {"OpenedConnectionsNeverWait", OpenedConnectionsNeverWait},
    {"FacilitiesRefuseWhatTheyCannotGive", FacilitiesRefuseWhatTheyCannotGive},
    {"SystemMenuItemsGiveTheirCommand", SystemMenuItemsGiveTheirCommand},
    {"SizableWindowsTellTheirSize", SizableWindowsTellTheirSize},
    {"ControlsMoveWithinTheirWindow", ControlsMoveWithinTheirWindow},
    {"DrawingsBelongToOpenWindows", DrawingsBelongToOpenWindows},
    {"BringingToFrontActivates", BringingToFrontActivates},
    {"LocalClockCountsLocalTime", LocalClockCountsLocalTime},
    {"RunningTimeGoesWithTheTickCountAwake",
     RunningTimeGoesWithTheTickCountAwake},
    {"FilesAreAppendedAndReadFromTheirEnd",
     FilesAreAppendedAndReadFromTheirEnd},
    {"ProgramsStartWithoutWaitingAndEndOnTheirOwn",
     ProgramsStartWithoutWaitingAndEndOnTheirOwn},
};
const int PlatformCheckCount = sizeof PlatformChecks / sizeof PlatformChecks[0];

std::vector<std::string>& PlatformCheckFailures() { return Failures; }

bool RunPlatformCheck(int index) {
  Failures.clear();
  Hands->Fresh();
  PlatformChecks[index].Run();
  Hands->Fresh();
  return Failures.empty();
}
