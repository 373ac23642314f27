#include "board/link.h"

#include <cstring>

#include "base/wait_service.h"
#include "board/readings.h"

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
  AppState.Link.AddressCheckSocket = s;
  return true;
}

bool BoardConnected() { return AppState.Link.BoardConnection != NoSocket; }

// What was learned of the board on one connection (how fast it answers,
// its Help and Version texts) holds for that connection alone.
void ForgetConnectionKnowledge() {
  AppState.Link.SlowestReply = 0;
  for (int i = 0; i < LearnedReplyCount; i++) {
    AppState.Link.ReplyLearned[i] = false;
    AppState.Link.LearnedReply[i].clear();
  }
}

void LoseConnection() {
  if (AppState.Link.BoardConnection != NoSocket)
    PlatCloseSocket(AppState.Link.BoardConnection);
  AppState.Link.BoardConnection = NoSocket;
  AppState.Link.ConnectionLost = true;
  AppState.Link.NextReconnectTime = PlatTickCount() + ReconnectInterval;
  // From the moment the connection is found gone, nothing the board said
  // on it passes for current.
  ForgetBoardData();
  ForgetConnectionKnowledge();
}

void ReconnectAt(TickCount tick) { AppState.Link.NextReconnectTime = tick; }

bool OpenBoardConnection(int limitMs) {
  AppState.Link.BoardConnection =
      ConnectBounded(Settings().BoardAddress, Settings().BoardPort, limitMs);
  return AppState.Link.BoardConnection != NoSocket;
}

bool ConnectAgain() {
  PlatSocket s = ConnectBounded(Settings().BoardAddress, Settings().BoardPort,
                                ConnectLimit);
  if (s == NoSocket) {
    AppState.Link.NextReconnectTime = PlatTickCount() + ReconnectInterval;
    return false;
  }
  AppState.Link.BoardConnection = s;
  AppState.Link.ConnectionLost = false;
  AppState.Link.ConnectionNumber++;
  ForgetConnectionKnowledge();
  return true;
}

void CloseAddressCheck() {
  if (AppState.Link.AddressCheckSocket == NoSocket) return;
  PlatCloseSocket(AppState.Link.AddressCheckSocket);
  AppState.Link.AddressCheckSocket = NoSocket;
}

void NoteReplyTime(int ms) {
  if (ms > AppState.Link.SlowestReply) AppState.Link.SlowestReply = ms;
}

void LearnReply(int slot, const Text& bytes) {
  AppState.Link.ReplyLearned[slot] = true;
  AppState.Link.LearnedReply[slot] = bytes;
}

void UnlearnReply(int slot) { AppState.Link.ReplyLearned[slot] = false; }

// A connect that may take long (a board powered off, a route that drops
// packets) is given up after `limitMs`; the windows are served meanwhile.
PlatSocket ConnectBounded(const Text& address, int port, int limitMs) {
  uint32_t resolved;
  if (!ResolveBoardAddress(address, &resolved)) return NoSocket;
  PlatSocket s = PlatStreamSocket();
  if (s == NoSocket) return NoSocket;
  WaitClock clock = StartWaitClock();
  int state = PlatConnectStart(s, resolved, port);
  if (state == ConnectPending && limitMs > 0) {
    WaitFor connect = WaitForConnectOf(s);
    if (ServedWait(&clock, limitMs, &connect) == WaitCame) state = connect.Got;
  }
  if (state != ConnectDone) {
    PlatCloseSocket(s);
    return NoSocket;
  }
  return s;
}

static TickCount CommandSentAt;

TickCount LastCommandTime() { return CommandSentAt; }

static bool SendBytes(const void* bytes, int length) {
  if (!BoardConnected()) return false;
  CommandSentAt = PlatTickCount();
  if (PlatSend(AppState.Link.BoardConnection, bytes, length) < 0) {
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
  const ReplyBuffer* b = &Settings().CommandBuffer;
  if (!b->Bytes) return false;
  size_t n = text.size() < BlockSize - 1 ? text.size() : BlockSize - 1;
  memcpy(b->Bytes, text.data(), n);
  b->Bytes[n] = 0;
  return SendBytes(b->Bytes, BlockSize);
}

void CloseConnection() {
  if (AppState.Link.BoardConnection == NoSocket) return;
  PlatCloseSocket(AppState.Link.BoardConnection);
  AppState.Link.BoardConnection = NoSocket;
}
