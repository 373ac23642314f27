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
  AppState.LevelFresh = false;
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
// packets) is given up after ConnectLimit; the windows are served meanwhile.
static PlatSocket ConnectBounded() {
  uint32_t address;
  if (!ResolveBoardAddress(AppState.BoardAddress, &address)) return NoSocket;
  PlatSocket s = PlatStreamSocket();
  if (s == NoSocket) return NoSocket;
  int state = PlatConnectStart(s, address, AppState.BoardPort);
  for (int waited = 0; state == ConnectPending && waited < ConnectLimit;
       waited += ServeSlice) {
    state = PlatConnectWait(s, ServeSlice);
    PlatServeWindows();
  }
  if (state != ConnectDone) {
    PlatCloseSocket(s);
    return NoSocket;
  }
  return s;
}

bool Reconnect() {
  PlatSocket s = ConnectBounded();
  if (s == NoSocket) {
    AppState.NextReconnectTime = PlatTickCount() + ReconnectInterval;
    return false;
  }
  AppState.BoardConnection = s;
  AppState.ConnectionLost = false;
  // A board that only lost the connection still holds its outputs: what
  // was meant to end a pulse or a measurement goes out before anything else.
  for (int n = 1; n <= 8; n++) {
    if (!AppState.OffOwed[n]) continue;
    if (!SwitchExchange("setport " + std::to_string(n) + ".0")) return false;
  }
  return BoardConnected();
}

void DiscardWaitingBytes() {
  if (BoardConnected()) PlatDiscardPending(AppState.BoardConnection);
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
// order alone. So a receive is never given up while the connection stays
// open, and it takes the whole reply: the board ends its replies with a
// line feed, so a reply is whole once it has its line feed or fills the
// receive. The rest of a reply split on its way is waited for as its
// beginning was; taken by the next receive, it would be the next command's
// reply, and every reply after it one command behind, the level of GETADC
// 1 included. A board that does not begin its reply, or breaks it off, for
// ReplyStartLimit is taken for gone, and only a new connection brings the
// two back in step.
int ReceiveReply(ReplyBuffer* buffer, int max) {
  if (!BoardConnected() || !buffer->Bytes) return 0;
  if (max > buffer->Size) max = buffer->Size;
  if (max <= 0) return 0;
  PlatSocket s = AppState.BoardConnection;
  int got = 0;
  int silent = 0;
  while (got == 0 || (got < max && buffer->Bytes[got - 1] != '\n')) {
    int slice = 0;
    int more =
        PlatReceive(s, buffer->Bytes + got, max - got, ServeSlice, &slice);
    if (more > 0) {
      got += more;
      silent = 0;
      continue;
    }
    if (more != ReceiveTimedOut) {
      LoseConnection();
      return 0;
    }
    silent += slice > ServeSlice ? slice : ServeSlice;
    if (silent >= ReplyStartLimit) {
      LoseConnection();
      return 0;
    }
    PlatServeWindows();
  }
  return got;
}

bool SwitchExchange(const Text& keyword) {
  if (!SendCommand(keyword)) return false;
  if (ReceiveReply(&AppState.CommandBuffer, CommandBufferSize) <= 0)
    return false;
  // An "off" that reached the board is owed no longer.
  if (keyword.size() == 11 && keyword.compare(0, 8, "setport ") == 0 &&
      keyword.compare(9, 2, ".0") == 0) {
    int n = keyword[8] - '0';
    if (n >= 1 && n <= 8) AppState.OffOwed[n] = false;
  }
  return true;
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
