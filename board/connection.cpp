#include "board/connection.h"

#include <cstring>
#include <string>

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

PlatSocket OpenConnection(const Text& address, int port) {
  PlatSocket s = PlatStreamSocket();
  if (s == NoSocket) return NoSocket;
  uint32_t resolved;
  if (!ResolveBoardAddress(address, &resolved) ||
      !PlatConnect(s, resolved, port)) {
    PlatCloseSocket(s);
    return NoSocket;
  }
  return s;
}

bool BoardConnected() { return AppState.BoardConnection != NoSocket; }

// From the moment the connection is found gone, nothing the board said on
// it passes for current: the board data go back to their first texts.
static void ForgetBoardData() {
  for (int n = 1; n <= 8; n++) AppState.OutputStateText[n] = "---";
  for (int n = 1; n <= 4; n++) AppState.InputStateText[n] = "---";
  for (int n = 1; n <= 4; n++) AppState.AnalogValueText[n] = "--.--";
  AppState.FirmwareText.clear();
  AppState.BoardIpText.clear();
  AppState.GatewayText.clear();
  AppState.SubnetMaskText.clear();
  AppState.StatusReplyText.clear();
  AppState.LevelProven = false;
  AppState.StatusFresh = false;
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
    PlatServeWindows();
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
  // A board that only lost the connection still holds its outputs: what
  // was meant to end a pulse or a measurement goes out before anything else.
  for (int n = 1; n <= 8; n++) {
    if (AppState.OffOwed[n] && !SetPort(n, false, OweNothing)) return false;
  }
  return BoardConnected();
}

static bool SendBytes(const void* bytes, int length) {
  if (!BoardConnected()) return false;
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
// would take its rest: a one-line reply ends at its line feed, a reply
// that may span lines once SettleTime (or the longer settle a caller asks
// for) has passed after a line feed without a byte. A reply too long for
// its receive is read to its end just the same and the excess thrown
// away; bytes behind the line feed of a one-line reply are an extra line
// no command asked for. Either puts the link in doubt. A board that does
// not begin its reply, or breaks it off before its end, for
// ReplyStartLimit, or that keeps sending past DiscardLimit bytes, is
// taken for gone: only a new connection is sure to be in step.
void NoteFaultyReply() {
  AppState.ReplyFaults++;
  AppState.LinkInDoubt = true;
}

static TickCount ReplyEnd;

TickCount LastReplyByteTime() { return ReplyEnd; }

int ReceiveReply(ReplyBuffer* buffer, int max, int settleMs) {
  if (!BoardConnected() || !buffer->Bytes) return 0;
  if (max > buffer->Size) max = buffer->Size;
  if (max <= 0) return 0;
  PlatSocket s = AppState.BoardConnection;
  unsigned char excess[512];
  int kept = 0;            // the reply's bytes in the buffer
  int thrown = 0;          // its bytes beyond `max`, thrown away
  int silent = 0;          // ms without a byte
  int drained = 0;         // ms spent on the excess
  bool atLineEnd = false;  // the last byte that came was a line feed
  bool extraLine = false;
  for (;;) {
    bool full = kept >= max;
    int wait = ServeSlice;
    int settle = settleMs > 0 ? settleMs : SettleTime;
    if ((atLineEnd || full) && settle - silent < wait) wait = settle - silent;
    int slice = 0;
    unsigned char* into = full ? excess : buffer->Bytes + kept;
    int room = full ? (int)sizeof excess : max - kept;
    int more = PlatReceive(s, into, room, wait, &slice);
    if (more > 0) {
      silent = 0;
      ReplyEnd = PlatTickCount();
      if (full) {
        thrown += more;
        drained += slice;
      } else {
        kept += more;
      }
      atLineEnd = into[more - 1] == '\n';
      if (settleMs == 0) {
        // A one-line reply ends at its first line feed; what came with it
        // behind that is no part of it.
        const void* feed = memchr(into, '\n', (size_t)more);
        if (feed) {
          int behind = more - (int)((const unsigned char*)feed - into) - 1;
          if (behind > 0) extraLine = true;
          if (!full) kept -= behind;
          break;
        }
      }
      if (thrown > DiscardLimit) break;
      continue;
    }
    if (more != ReceiveTimedOut) {
      LoseConnection();
      return 0;
    }
    int waited = slice > wait ? slice : wait;
    silent += waited;
    if (full) drained += waited;
    // A reply whose end came and then nothing for the settle time is
    // whole; so is one that filled its receive and then went quiet.
    if ((atLineEnd || full) && silent >= settle) break;
    if (silent >= ReplyStartLimit || drained >= ReplyStartLimit) {
      LoseConnection();
      return 0;
    }
    PlatServeWindows();
  }
  if (thrown > DiscardLimit) {
    LoseConnection();
    return 0;
  }
  // A reply too long for its receive was still read to its end: the link
  // is in doubt, but the reply counts as its command's if its form says so.
  // A line behind a one-line reply is one no command asked for.
  if (thrown > 0) AppState.LinkInDoubt = true;
  if (extraLine) NoteFaultyReply();
  return kept;
}

bool DiscardWaitingBytes() {
  if (!BoardConnected()) return false;
  if (PlatDiscardPending(AppState.BoardConnection) <= 0) return false;
  AppState.LinkInDoubt = true;
  return true;
}

int WaitUntilQuiet() {
  if (!BoardConnected()) return LinkLost;
  unsigned char scrap[DiscardPiece];
  int silent = 0;
  int spent = 0;
  int thrown = 0;
  while (silent < LinkQuietTime) {
    int wait = LinkQuietTime - silent;
    if (wait > ServeSlice) wait = ServeSlice;
    int slice = 0;
    int got = PlatReceive(AppState.BoardConnection, scrap, DiscardPiece, wait,
                          &slice);
    if (got > 0) {
      thrown += got;
      silent = 0;
      spent += slice;
    } else if (got == ReceiveTimedOut) {
      int waited = slice > wait ? slice : wait;
      silent += waited;
      spent += waited;
      PlatServeWindows();
    } else {
      LoseConnection();
      return LinkLost;
    }
    // A board that keeps talking is not in step and will not come back
    // into it by itself.
    if (thrown > DiscardLimit || spent >= ReplyStartLimit + LinkQuietTime) {
      LoseConnection();
      return LinkLost;
    }
  }
  AppState.LinkInDoubt = false;
  return thrown > 0 ? LinkQuietAfterBytes : LinkQuiet;
}

bool SetPort(int output, bool on, PortDebt debt) {
  if (output < 1 || output > 8) return false;
  if (debt == OweOff) AppState.OffOwed[output] = true;
  Text keyword = "setport " + std::to_string(output) + (on ? ".1" : ".0");
  if (!SendCommand(keyword)) return false;
  if (ReceiveReply(&AppState.CommandBuffer, CommandBufferSize, 0) <= 0)
    return false;
  // An "off" that reached the board is owed no longer, whoever sent it.
  if (!on) AppState.OffOwed[output] = false;
  return true;
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
  int got = ReceiveReply(buffer, CommandBufferSize, ProvenSettleTime);
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
