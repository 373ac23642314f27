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

// Before a command goes out after a receive that gave up waiting, the
// late reply (or what is left of it) is thrown away, so that it cannot be
// taken for the reply to this command.
static void BringIntoStep() {
  if (!AppState.ReplyOutOfStep) return;
  PlatDiscardPending(AppState.BoardConnection);
  AppState.ReplyOutOfStep = 0;
}

void SendCommand(const Text& keyword) {
  if (AppState.BoardConnection == NoSocket) return;
  BringIntoStep();
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
  BringIntoStep();
  PlatSend(AppState.BoardConnection, b->Bytes, BlockSize);
}

int ReceiveReply(ReplyBuffer* buffer, int max) {
  if (AppState.BoardConnection == NoSocket || !buffer->Bytes) return 0;
  if (max > buffer->Size) max = buffer->Size;
  int wait = AppState.ReplyWaitLeft;
  if (wait > ReplyWaitLimit) wait = ReplyWaitLimit;
  if (wait < 0) wait = 0;
  int waited = 0;
  int got =
      PlatReceive(AppState.BoardConnection, buffer->Bytes, max, wait, &waited);
  if (got == ReceiveTimedOut) {
    // A reply that did not come in time costs at least the time asked for,
    // whatever the clock's resolution made of it; once the allowance is
    // spent, the rest of the pass only takes what has already arrived.
    AppState.ReplyWaitLeft -= waited > wait ? waited : wait;
    AppState.ReplyOutOfStep = 1;
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
