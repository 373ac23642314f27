#include "board/connection.h"

#include <cstring>

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

// What is left of the pass's allowance for one wait on the board.
static int WaitForOneReply() {
  int wait = AppState.ReplyWaitLeft;
  if (wait > ReplyWaitLimit) wait = ReplyWaitLimit;
  return wait < 0 ? 0 : wait;
}

// The board answers its commands in order, one reply each. After a
// receive that gave up waiting, the board still owes that reply: it is
// awaited here, within what is left of the pass's allowance, and thrown
// away, so that it cannot be taken for the reply to a later command (a
// command sent before it came would only push it into that command's
// receive). A reply waited for ReplyLostAfter in all, its own receive
// included, counts as lost: the board dropped it or was silent.
bool BringIntoStep() {
  if (!AppState.ReplyOutOfStep) return true;
  if (AppState.BoardConnection == NoSocket) return true;
  int wait = WaitForOneReply();
  int lostAfter = ReplyLostAfter - AppState.LateReplyWaited;
  if (wait > lostAfter) wait = lostAfter > 0 ? lostAfter : 0;
  unsigned char scratch[512];
  int waited = 0;
  int got = PlatReceive(AppState.BoardConnection, scratch, sizeof scratch, wait,
                        &waited);
  if (got == ReceiveTimedOut) {
    int spent = waited > wait ? waited : wait;
    AppState.ReplyWaitLeft -= spent;
    AppState.LateReplyWaited += spent;
    if (AppState.LateReplyWaited < ReplyLostAfter) return false;
  } else {
    if (waited > 0) AppState.ReplyWaitLeft -= waited;
    // A full scratch block may have more of the late reply behind it.
    if (got == (int)sizeof scratch)
      PlatDiscardPending(AppState.BoardConnection);
  }
  AppState.ReplyOutOfStep = 0;
  AppState.LateReplyWaited = 0;
  return true;
}

// Bytes that are waiting before a board query sends its first command
// cannot be the reply to any of its commands: a flood the board sent
// unasked, or the rest of an earlier reply too long for its buffer (the
// console's Help, for one). Taken for replies, they would put every later
// reply one exchange or more behind its command for good, the level
// voltage the cycle switches on included, since each receive returns as
// soon as anything is there. A late reply still owed is awaited first, as
// before any exchange.
void CatchUpWithBoard() {
  if (AppState.BoardConnection == NoSocket) return;
  if (!BringIntoStep()) return;
  PlatDiscardPending(AppState.BoardConnection);
}

// Commands the operator or the measurement cycle caused always go out;
// one sent while a late reply is still owed leaves the connection out of
// step, since its receive may take that late reply instead of its own.
static void GoingOut() {
  if (BringIntoStep()) return;
  AppState.LateReplyWaited = 0;
}

void SendCommand(const Text& keyword) {
  if (AppState.BoardConnection == NoSocket) return;
  GoingOut();
  Text wire = keyword;
  wire.append(CommandSuffix, 5);
  PlatSend(AppState.BoardConnection, wire.data(), (int)wire.size());
}

void SendBlock(const Text& text) {
  ReplyBuffer* b = &AppState.CommandBuffer;
  if (!b->Bytes) return;
  size_t n = text.size() < BlockSize - 1 ? text.size() : BlockSize - 1;
  memcpy(b->Bytes, text.data(), n);
  b->Bytes[n] = 0;
  if (AppState.BoardConnection == NoSocket) return;
  GoingOut();
  PlatSend(AppState.BoardConnection, b->Bytes, BlockSize);
}

int ReceiveReply(ReplyBuffer* buffer, int max) {
  if (AppState.BoardConnection == NoSocket || !buffer->Bytes) return 0;
  if (max > buffer->Size) max = buffer->Size;
  int wait = WaitForOneReply();
  int waited = 0;
  int got =
      PlatReceive(AppState.BoardConnection, buffer->Bytes, max, wait, &waited);
  if (got == ReceiveTimedOut) {
    // A reply that did not come in time costs at least the time asked for,
    // whatever the clock's resolution made of it; once the allowance is
    // spent, the rest of the pass only takes what has already arrived.
    int spent = waited > wait ? waited : wait;
    AppState.ReplyWaitLeft -= spent;
    AppState.ReplyOutOfStep = 1;
    AppState.LateReplyWaited = spent;
    return 0;
  }
  if (waited > 0) AppState.ReplyWaitLeft -= waited;
  return got > 0 ? got : 0;
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

void RenewReplyWait() { AppState.ReplyWaitLeft = ReplyWaitPerPass; }
