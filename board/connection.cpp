#include "board/connection.h"

#include <cstring>
#include <string>

#include "base/sleep_clock.h"
#include "base/wait_service.h"
#include "board/reply_forms.h"
#include "board/reply_reader.h"

const char CommandSuffix[6] = {' ', '\\', 'r', '\\', 'n', 0};

enum { BlockSize = 100 };

bool ResolveBoardAddress(const Text& address, uint32_t* resolved) {
  uint32_t a = PlatDottedAddress(address.c_str());
  if (a == 0xFFFFFFFFu) {
    if (!PlatLookupHost(address.c_str(), &a)) return false;
    if (a == 0xFFFFFFFFu) return false;
  }
  *resolved = a;
  return true;
}

bool CheckBoardAddress(const Text& address, int port) {
  (void)port;  // the datagram socket is never bound, connected or used
  PlatSocket s = PlatDatagramSocket();
  if (s == NoSocket) return false;
  uint32_t resolved;
  if (!ResolveBoardAddress(address, &resolved)) {
    PlatCloseSocket(s);
    return false;
  }
  PlatSetNonBlocking(s);
  AppState.AddressCheckSocket = s;
  return true;
}

bool BoardConnected() { return AppState.BoardConnection != NoSocket; }

// What was learned of the board on one connection (how fast it answers,
// its Help and Version texts) holds for that connection alone.
static void ForgetConnectionKnowledge() {
  AppState.SlowestReply = 0;
  for (int i = 0; i < LearnedReplyCount; i++) {
    AppState.ReplyLearned[i] = false;
    AppState.LearnedReply[i].clear();
  }
}

// From the moment the connection is found gone, nothing the board said on
// it passes for current: the board data are unknown again.
static void ForgetBoardData() {
  for (int n = 1; n <= 8; n++) AppState.OutputState[n] = ContactUnknown;
  for (int n = 1; n <= 4; n++) AppState.InputState[n] = ContactUnknown;
  for (int n = 1; n <= 4; n++) AppState.AnalogRead[n] = false;
  AppState.FirmwareText.clear();
  AppState.BoardIpText.clear();
  AppState.GatewayText.clear();
  AppState.SubnetMaskText.clear();
  AppState.StatusReplyText.clear();
  AppState.LevelProven = false;
  AppState.StatusFresh = false;
  AppState.StatusInForm = false;
  ForgetConnectionKnowledge();
}

void LoseConnection() {
  if (AppState.BoardConnection != NoSocket)
    PlatCloseSocket(AppState.BoardConnection);
  AppState.BoardConnection = NoSocket;
  AppState.ConnectionLost = true;
  AppState.NextReconnectTime = PlatTickCount() + ReconnectInterval;
  ForgetBoardData();
}

// A connect that may take long (a board powered off, a route that drops
// packets) is given up after `limitMs`; the windows are served meanwhile.
// The time counts as the waits asked for, or as the clock says when that
// is more (a coarse system timer, a slow repaint), so the bound holds on
// either account.
PlatSocket ConnectBounded(const Text& address, int port, int limitMs) {
  uint32_t resolved;
  if (!ResolveBoardAddress(address, &resolved)) return NoSocket;
  PlatSocket s = PlatStreamSocket();
  if (s == NoSocket) return NoSocket;
  TickCount start = PlatTickCount();
  int state = PlatConnectStart(s, resolved, port);
  int waited = 0;
  while (state == ConnectPending && waited < limitMs) {
    int wait = limitMs - waited < ServeSlice ? limitMs - waited : ServeSlice;
    state = PlatConnectWait(s, wait);
    ServeWhileWaiting();
    waited += wait;
    int elapsed = (int)(PlatTickCount() - start);
    if (elapsed > waited) waited = elapsed;
  }
  if (state != ConnectDone) {
    PlatCloseSocket(s);
    return NoSocket;
  }
  return s;
}

bool Reconnect() {
  PlatSocket s =
      ConnectBounded(AppState.BoardAddress, AppState.BoardPort, ConnectLimit);
  if (s == NoSocket) {
    AppState.NextReconnectTime = PlatTickCount() + ReconnectInterval;
    return false;
  }
  AppState.BoardConnection = s;
  AppState.ConnectionLost = false;
  // A new connection carries nothing of the old one.
  AppState.LinkInDoubt = false;
  AppState.ConnectionNumber++;
  ForgetConnectionKnowledge();
  // A board that only lost the connection still holds its outputs: what
  // was meant to end a pulse or a measurement goes out before anything else.
  for (int n = 1; n <= 8; n++) {
    if (AppState.OffOwed[n] && !SetPort(n, false, OweNothing)) return false;
  }
  return BoardConnected();
}

static TickCount CommandSentAt;

TickCount LastCommandTime() { return CommandSentAt; }

static bool SendBytes(const void* bytes, int length) {
  if (!BoardConnected()) return false;
  CommandSentAt = PlatTickCount();
  if (PlatSend(AppState.BoardConnection, bytes, length) < 0) {
    LoseConnection();
    return false;
  }
  return true;
}

bool SendCommand(const Text& keyword) {
  Text wire = keyword;
  wire.append(CommandSuffix, 5);
  return SendBytes(wire.data(), (int)wire.size());
}

bool SendBlock(const Text& text) {
  ReplyBuffer* b = &AppState.CommandBuffer;
  if (!b->Bytes) return false;
  size_t n = text.size() < BlockSize - 1 ? text.size() : BlockSize - 1;
  memcpy(b->Bytes, text.data(), n);
  b->Bytes[n] = 0;
  return SendBytes(b->Bytes, BlockSize);
}

// The board's replies carry no name: they belong to the commands by their
// order alone. So a reply is read whole, never cut where the next command
// would take its rest: its end is told by its shape (board/reply_reader.h).
// A reply too long for its receive is read to its end just the same and
// the excess thrown away; bytes behind the line feed of a one-line reply
// are an extra line no command asked for. Either puts the link in doubt.
// A board that does not begin its reply within ReplyStartLimit, does not
// end it within ReplyWholeLimit, or keeps sending past DiscardLimit bytes,
// is taken for gone: only a new connection is sure to be in step.
void NoteFaultyReply() {
  AppState.ReplyFaults++;
  AppState.LinkInDoubt = true;
}

const ReplyShape OneLineReply = {ShapeOneLine, nullptr};
const ReplyShape LinesReply = {ShapeLines, nullptr};

static TickCount ReplyEnd;
static ReplyReader LastReader;

TickCount LastReplyByteTime() { return ReplyEnd; }
const ReplyReader& LastReplyRead() { return LastReader; }

// The time since `start`, as the waits asked for add up or as the clock
// says when that is more (a coarse system timer, a slow repaint), so every
// bound holds on either account.
struct WaitClock {
  TickCount Start;
  int Waited;
  int ServedAt;
  int Now() const {
    int c = (int)(PlatTickCount() - Start);
    return c > Waited ? c : Waited;
  }
  // The windows are served at least every ServeSlice, whether bytes come
  // or not; the wait before the next serving.
  int ServeWithin() {
    int now = Now();
    if (now - ServedAt >= ServeSlice) {
      ServeWhileWaiting();
      ServedAt = now;
    }
    return ServeSlice - (now - ServedAt);
  }
};

static WaitClock StartWaitClock() {
  WaitClock c;
  c.Start = PlatTickCount();
  c.Waited = 0;
  c.ServedAt = 0;
  return c;
}

// How long the slowest reply on this connection took: a one-line reply to
// its line feed, one of lines to its first byte.
static void NoteReplyTime(const ReplyReader& r) {
  int took = r.Shape.Kind == ShapeOneLine ? r.LastAt : r.FirstAt;
  if (took > AppState.SlowestReply) AppState.SlowestReply = took;
}

int ReceiveReply(ReplyBuffer* buffer, int max, ReplyShape shape) {
  if (!BoardConnected() || !buffer->Bytes) return 0;
  if (max > buffer->Size) max = buffer->Size;
  if (max <= 0) return 0;
  ReplyReader* r = &LastReader;
  StartReply(r, shape, max);
  int sleeps = SleepsFound();
  PlatSocket s = AppState.BoardConnection;
  unsigned char piece[512];
  WaitClock clock = StartWaitClock();
  for (;;) {
    int until = 0;
    int at = clock.Now();
    if (JudgeReply(r, at, &until) != ReplyNeedsMore) break;
    int wait = clock.ServeWithin();
    at = clock.Now();
    if (until - at < wait) wait = until - at;
    if (wait < 1) wait = 1;
    int slice = 0;
    int more = PlatReceive(s, piece, (int)sizeof piece, wait, &slice);
    if (more > 0) {
      clock.Waited += slice;
      ReplyEnd = PlatTickCount();
      FeedReply(r, piece, more, clock.Now());
    } else if (more == ReceiveTimedOut) {
      clock.Waited += slice > wait ? slice : wait;
    } else {
      LoseConnection();
      return 0;
    }
  }
  if (r->Verdict != ReplyComplete) {
    LoseConnection();
    return 0;
  }
  memcpy(buffer->Bytes, r->Bytes.data(), (size_t)r->Kept);
  NoteReplyTime(*r);
  // A reply too long for its receive was still read to its end: the link
  // is in doubt, unless it is the reply learned on this connection, but
  // the reply counts as its command's if its form says so. So it is after
  // a reply that changed or was taken at its deadline. A line behind a
  // one-line reply is one no command asked for.
  if ((r->Thrown > 0 && !r->MatchedLearned) || r->Changed || r->Cut)
    AppState.LinkInDoubt = true;
  if (r->ExtraLine) NoteFaultyReply();
  if (SleepsFound() != sleeps) AppState.LinkInDoubt = true;
  return r->Kept;
}

bool DiscardWaitingBytes() {
  if (!BoardConnected()) return false;
  if (PlatDiscardPending(AppState.BoardConnection) <= 0) return false;
  AppState.LinkInDoubt = true;
  return true;
}

int ProofQuietTime() {
  int quiet = 2 * AppState.SlowestReply;
  if (quiet < LinkQuietTime) quiet = LinkQuietTime;
  if (quiet > ReplyStartLimit) quiet = ReplyStartLimit;
  return quiet;
}

int WaitUntilQuiet(int quietMs) {
  return WaitUntilQuiet(quietMs, PlatTickCount());
}

int WaitUntilQuiet(int quietMs, TickCount notBefore) {
  if (!BoardConnected()) return LinkLost;
  int sleeps = SleepsFound();
  unsigned char scrap[DiscardPiece];
  WaitClock clock = StartWaitClock();
  // The quiet runs at least to `notBefore`; a board that keeps talking is
  // given ReplyStartLimit and the quiet beyond that.
  int32_t least = (int32_t)(notBefore - clock.Start);
  if (least < 0) least = 0;
  int quietFrom = 0;  // the time of the last byte, or the start
  int thrown = 0;
  for (;;) {
    int now = clock.Now();
    if (now - quietFrom >= quietMs && now >= least) break;
    // A board that keeps talking is not in step and will not come back
    // into it by itself.
    if (thrown > DiscardLimit || now >= least + ReplyStartLimit + quietMs) {
      LoseConnection();
      return LinkLost;
    }
    int wait = clock.ServeWithin();
    now = clock.Now();
    int until = quietFrom + quietMs - now;
    if (least - now > until) until = least - now;
    if (until < wait) wait = until;
    if (wait < 1) wait = 1;
    int slice = 0;
    int got = PlatReceive(AppState.BoardConnection, scrap, DiscardPiece, wait,
                          &slice);
    if (got > 0) {
      clock.Waited += slice;
      thrown += got;
      quietFrom = clock.Now();
    } else if (got == ReceiveTimedOut) {
      clock.Waited += slice > wait ? slice : wait;
    } else {
      LoseConnection();
      return LinkLost;
    }
  }
  if (SleepsFound() != sleeps) {
    AppState.LinkInDoubt = true;
    return LinkQuietAcrossSleep;
  }
  AppState.LinkInDoubt = false;
  return thrown > 0 ? LinkQuietAfterBytes : LinkQuiet;
}

PortReply SetPort(int output, bool on, PortDebt debt) {
  if (output < 1 || output > 8) return PortNotSent;
  if (debt == OweOff) AppState.OffOwed[output] = true;
  Text keyword = "setport " + std::to_string(output) + (on ? ".1" : ".0");
  if (!SendCommand(keyword)) return PortNotSent;
  int n =
      ReceiveReply(&AppState.CommandBuffer, CommandBufferSize, OneLineReply);
  if (n <= 0) return PortNotSent;
  if (LastReplyRead().ExtraLine) return PortInDoubt;
  if (!IsAckReply(Text((const char*)AppState.CommandBuffer.Bytes, (size_t)n)))
    return PortRefused;
  // An "off" the board took is owed no longer, whoever sent it.
  if (!on) AppState.OffOwed[output] = false;
  return PortAcknowledged;
}

// Lower case of one Windows-1252 byte: A-Z, À-Þ except × (D7), and the four
// letters whose small forms lie elsewhere in the code page (Š, Œ, Ž, Ÿ).
static unsigned char LowerLetter1252(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return (unsigned char)(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return (unsigned char)(c + 0x20);
  switch (c) {
    case 0x8A:  // Š
    case 0x8C:  // Œ
    case 0x8E:  // Ž
      return (unsigned char)(c + 0x10);
    case 0x9F:  // Ÿ
      return 0xFF;
    default:
      return c;
  }
}

// A display command starts with the word WriteLCD in any mix of upper and
// lower case; the board takes it only as a 100-byte block.
static bool IsDisplayCommand(const Text& command) {
  static const char Word[] = "writelcd";
  const size_t wordLength = sizeof Word - 1;
  if (command.size() < wordLength) return false;
  for (size_t i = 0; i < wordLength; i++) {
    if (LowerLetter1252((unsigned char)command[i]) != (unsigned char)Word[i])
      return false;
  }
  return true;
}

int ConsoleExchange(const Text& command) {
  ReplyBuffer* buffer = &AppState.CommandBuffer;
  if (buffer->Bytes) memset(buffer->Bytes, ' ', buffer->Size);
  // A display command longer than 99 characters does not fit the block
  // together with its zero byte: SendBlock sends its first 99 characters.
  // The board shows only 16 per line anyway.
  if (IsDisplayCommand(command))
    SendBlock(command);
  else
    SendCommand(command);
  // Any command may be answered in several lines, and the operator may
  // type one the board answers at length (HELP): the reply is read whole,
  // its first 100 bytes kept. What else the board may still send is no
  // command's of the program's: the link is in doubt until proven quiet.
  int got = ReceiveReply(buffer, CommandBufferSize, LinesReply);
  AppState.LinkInDoubt = true;
  return got;
}

Text ReplyText(const ReplyBuffer* buffer) {
  if (!buffer->Bytes) return Text();
  const void* zero = memchr(buffer->Bytes, 0, buffer->Size);
  size_t n = zero ? (const unsigned char*)zero - buffer->Bytes : buffer->Size;
  return Text((const char*)buffer->Bytes, n);
}

void CloseConnection() {
  if (AppState.BoardConnection == NoSocket) return;
  PlatCloseSocket(AppState.BoardConnection);
  AppState.BoardConnection = NoSocket;
}
