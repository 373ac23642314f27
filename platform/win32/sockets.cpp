// Windows Sockets 1.1 (wsock32): blocking IPv4 sockets, with select for
// the bounded wait of a receive and a receive that never blocks.
#include <windows.h>
#include <winsock.h>

#include "platform/platform.h"

static bool SocketsStarted;

bool PlatSocketsStart() {
  WSADATA data;
  SocketsStarted = WSAStartup(MAKEWORD(1, 1), &data) == 0;
  return SocketsStarted;
}

void PlatSocketsCleanup() {
  if (SocketsStarted) WSACleanup();
  SocketsStarted = false;
}

uint32_t PlatDottedAddress(const char* text) {
  return static_cast<uint32_t>(inet_addr(text));
}

bool PlatLookupHost(const char* name, uint32_t* address) {
  hostent* host = gethostbyname(name);
  if (!host || host->h_addrtype != AF_INET || host->h_length != 4 ||
      !host->h_addr_list || !host->h_addr_list[0])
    return false;
  u_long first;
  memcpy(&first, host->h_addr_list[0], 4);
  *address = static_cast<uint32_t>(first);
  return true;
}

static PlatSocket NewSocket(int type, int protocol) {
  SOCKET s = socket(AF_INET, type, protocol);
  return s == INVALID_SOCKET ? NoSocket : static_cast<PlatSocket>(s);
}

PlatSocket PlatStreamSocket() { return NewSocket(SOCK_STREAM, IPPROTO_TCP); }
PlatSocket PlatDatagramSocket() { return NewSocket(SOCK_DGRAM, IPPROTO_UDP); }

bool PlatSetNonBlocking(PlatSocket s) {
  u_long on = 1;
  return ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &on) == 0;
}

static void SetBlocking(SOCKET s) {
  u_long off = 0;
  ioctlsocket(s, FIONBIO, &off);
}

// The connection a connect made (the board's) stays non-blocking: its
// receives then take what is there without switching the socket's mode
// twice each time, and under Wine every such call is a trip to its
// server. Its sends still wait, as on a blocking socket, until every byte
// has gone (PlatSend). One connection at a time: the one before is made
// blocking, as every other socket of the program is.
static SOCKET KeptNonBlocking = INVALID_SOCKET;

static void KeepNonBlocking(SOCKET s) {
  if (KeptNonBlocking != INVALID_SOCKET && KeptNonBlocking != s)
    SetBlocking(KeptNonBlocking);
  KeptNonBlocking = s;
}

// A connect to a port of this machine on which nothing listens can be
// given that very port as its own, and then it is connected to itself:
// every command would come back as its reply, and the port stays taken
// for the board (or a simulator) that should listen there. Such a
// connection is no board's.
static bool ConnectedToItself(SOCKET s) {
  sockaddr_in own, peer;
  int ownSize = sizeof own, peerSize = sizeof peer;
  memset(&own, 0, sizeof own);
  memset(&peer, 0, sizeof peer);
  if (getsockname(s, reinterpret_cast<sockaddr*>(&own), &ownSize) != 0 ||
      getpeername(s, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0)
    return false;
  return own.sin_port == peer.sin_port &&
         own.sin_addr.s_addr == peer.sin_addr.s_addr;
}

int PlatConnectStart(PlatSocket s, uint32_t address, int port) {
  SOCKET sock = static_cast<SOCKET>(s);
  if (!PlatSetNonBlocking(s)) return ConnectFailed;
  sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  to.sin_addr.s_addr = address;
  if (connect(sock, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    KeepNonBlocking(sock);
    return ConnectedToItself(sock) ? ConnectFailed : ConnectDone;
  }
  return WSAGetLastError() == WSAEWOULDBLOCK ? ConnectPending : ConnectFailed;
}

// A pending connect is done when the socket turns writable with no error
// on it; one that failed shows in the exception set alone. Urgent data
// that arrives at once shows there too, beside a writable socket: it does
// not make the connect a failure.
int PlatConnectWait(PlatSocket s, int waitMs) {
  SOCKET sock = static_cast<SOCKET>(s);
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(sock, &writable);
  FD_SET(sock, &failed);
  if (waitMs < 0) waitMs = 0;
  timeval limit;
  limit.tv_sec = waitMs / 1000;
  limit.tv_usec = (waitMs % 1000) * 1000;
  int ready = select(0, nullptr, &writable, &failed, &limit);
  if (ready == SOCKET_ERROR) return ConnectFailed;
  if (ready == 0) return ConnectPending;
  if (!FD_ISSET(sock, &writable)) return ConnectFailed;
  int error = 0;
  int size = sizeof error;
  if (getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                 &size) != 0 ||
      error != 0)
    return ConnectFailed;
  KeepNonBlocking(sock);
  return ConnectedToItself(sock) ? ConnectFailed : ConnectDone;
}

int PlatSend(PlatSocket s, const void* bytes, int length) {
  SOCKET sock = static_cast<SOCKET>(s);
  const char* from = static_cast<const char*>(bytes);
  if (sock != KeptNonBlocking || length <= 0) {
    int sent = send(sock, from, length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
  }
  // As a blocking send: every byte, waiting for room as long as it takes.
  int sent = 0;
  while (sent < length) {
    int n = send(sock, from + sent, length - sent, 0);
    if (n != SOCKET_ERROR) {
      sent += n;
      continue;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) return -1;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(sock, &writable);
    FD_SET(sock, &failed);
    if (select(0, nullptr, &writable, &failed, nullptr) == SOCKET_ERROR)
      return -1;
  }
  return sent;
}

// select on one socket for normal data, at most `waitMs`: 1 when there
// is data, an end or a failure to take, 0 when the time ran out,
// SOCKET_ERROR. Urgent (out-of-band) data is not asked about: it never
// reaches a receive, and a wait that reported it would hand the receive a
// socket with nothing to read.
static int WaitReadable(SOCKET s, int waitMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval limit;
  limit.tv_sec = waitMs / 1000;
  limit.tv_usec = (waitMs % 1000) * 1000;
  return select(0, &readable, nullptr, nullptr, &limit);
}

// One recv that never blocks: the byte count, 0 at the end of the
// connection, -1 when nothing is there (WSAEWOULDBLOCK), -2 on a failure.
// The kept connection is non-blocking already. Any other socket is
// blocking for everything else: bytes the system counts as waiting are
// taken by a plain recv, which returns at once with them; with none
// counted, switching the socket to non-blocking for the one recv tells
// the end of the connection, a failure, nothing there and the stream's
// urgent mark (the count stops there, though more may wait behind it)
// apart.
static int TakeWaiting(SOCKET s, char* bytes, int max) {
  if (s == KeptNonBlocking) {
    int got = recv(s, bytes, max, 0);
    if (got >= 0) return got;
    return WSAGetLastError() == WSAEWOULDBLOCK ? -1 : -2;
  }
  u_long counted = 0;
  if (max > 0 && ioctlsocket(s, FIONREAD, &counted) == 0 && counted > 0) {
    int n =
        counted < static_cast<u_long>(max) ? static_cast<int>(counted) : max;
    int got = recv(s, bytes, n, 0);
    return got == SOCKET_ERROR ? -2 : got;
  }
  u_long on = 1, off = 0;
  if (ioctlsocket(s, FIONBIO, &on) != 0) return -2;
  int got = recv(s, bytes, max, 0);
  int error = got == SOCKET_ERROR ? WSAGetLastError() : 0;
  ioctlsocket(s, FIONBIO, &off);
  if (got >= 0) return got;
  return error == WSAEWOULDBLOCK ? -1 : -2;
}

int PlatReceive(PlatSocket s, void* bytes, int max, int waitMs, int* waitedMs) {
  SOCKET sock = static_cast<SOCKET>(s);
  if (waitedMs) *waitedMs = 0;
  if (max <= 0) return ReceiveClosed;
  if (waitMs < 0) waitMs = 0;
  DWORD start = GetTickCount();
  int result = ReceiveTimedOut;
  for (;;) {
    int spent = static_cast<int>(GetTickCount() - start);
    int left = waitMs > spent ? waitMs - spent : 0;
    int ready = WaitReadable(sock, left);
    if (ready == SOCKET_ERROR) {
      result = ReceiveClosed;
      break;
    }
    if (ready > 0) {
      int got = TakeWaiting(sock, static_cast<char*>(bytes), max);
      if (got != -1) {
        result = got > 0 ? got : ReceiveClosed;
        break;
      }
      // Readable, yet nothing to take: the stream's urgent byte was
      // skipped. The wait goes on to its end.
    }
    if (static_cast<int>(GetTickCount() - start) >= waitMs) break;
  }
  if (waitedMs) *waitedMs = static_cast<int>(GetTickCount() - start);
  return result;
}

int PlatDiscardPending(PlatSocket s) {
  SOCKET sock = static_cast<SOCKET>(s);
  char scrap[DiscardPiece];
  int thrown = 0;
  while (thrown < DiscardLimit) {
    int piece = DiscardLimit - thrown;
    if (piece > DiscardPiece) piece = DiscardPiece;
    int got = TakeWaiting(sock, scrap, piece);
    if (got <= 0) break;
    thrown += got;
  }
  return thrown;
}

void PlatCloseSocket(PlatSocket s) {
  if (s == NoSocket) return;
  if (static_cast<SOCKET>(s) == KeptNonBlocking)
    KeptNonBlocking = INVALID_SOCKET;
  closesocket(static_cast<SOCKET>(s));
}

// --- Listening sockets -------------------------------------------------------

#ifndef SO_EXCLUSIVEADDRUSE
#define SO_EXCLUSIVEADDRUSE ((int)(~SO_REUSEADDR))
#endif

// The listening queue: as deep as the system allows. This header's
// SOMAXCONN is 5, a queue a handful of clients fill; the value WinSock 2
// names SOMAXCONN asks the system for its deepest, and WinSock 1.1 takes
// any value, putting the nearest it allows in its place.
const int DeepestBacklog = 0x7fffffff;

ListenResult PlatListen(uint32_t address, int port, PlatSocket* listener) {
  *listener = NoSocket;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return ListenFailed;
  // No other program may bind the same port beside this one (Windows lets
  // one that asks for SO_REUSEADDR do so otherwise).
  int on = 1;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&on),
             sizeof on);
  sockaddr_in at;
  memset(&at, 0, sizeof at);
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<u_short>(port));
  at.sin_addr.s_addr = address;
  ListenResult result = ListenDone;
  if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    int error = WSAGetLastError();
    result = error == WSAEADDRINUSE || error == WSAEACCES ? ListenInUse
             : error == WSAEADDRNOTAVAIL                  ? ListenNotHere
                                                          : ListenFailed;
  } else if (!PlatSetNonBlocking(static_cast<PlatSocket>(s)) ||
             listen(s, DeepestBacklog) != 0) {
    result = ListenFailed;
  }
  if (result != ListenDone) {
    closesocket(s);
    return result;
  }
  *listener = static_cast<PlatSocket>(s);
  return ListenDone;
}

int PlatListeningPort(PlatSocket listener) {
  if (listener == NoSocket) return 0;
  BOOL accepting = FALSE;
  int flagSize = sizeof accepting;
  if (getsockopt(static_cast<SOCKET>(listener), SOL_SOCKET, SO_ACCEPTCONN,
                 reinterpret_cast<char*>(&accepting), &flagSize) != 0 ||
      !accepting)
    return 0;
  sockaddr_in at;
  int size = sizeof at;
  memset(&at, 0, sizeof at);
  if (getsockname(static_cast<SOCKET>(listener),
                  reinterpret_cast<sockaddr*>(&at), &size) != 0)
    return 0;
  return ntohs(at.sin_port);
}

PlatSocket PlatAccept(PlatSocket listener) {
  if (listener == NoSocket) return NoSocket;
  SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return NoSocket;
  // A socket is an inheritable handle; programs are started without
  // inheriting any, and this one is marked as well.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  if (!PlatSetNonBlocking(static_cast<PlatSocket>(s))) {
    closesocket(s);
    return NoSocket;
  }
  return static_cast<PlatSocket>(s);
}

uint32_t PlatPeerAddress(PlatSocket s) {
  if (s == NoSocket) return 0;
  sockaddr_in at;
  int size = sizeof at;
  memset(&at, 0, sizeof at);
  if (getpeername(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&at),
                  &size) != 0 ||
      at.sin_family != AF_INET)
    return 0;
  return static_cast<uint32_t>(at.sin_addr.s_addr);
}

int PlatSendNow(PlatSocket s, const void* bytes, int length) {
  if (s == NoSocket || length < 0) return -1;
  if (length == 0) return 0;
  int sent =
      send(static_cast<SOCKET>(s), static_cast<const char*>(bytes), length, 0);
  if (sent != SOCKET_ERROR) return sent;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

int PlatReceiveNow(PlatSocket s, void* bytes, int max) {
  if (s == NoSocket || max <= 0) return ReceiveClosed;
  int got = recv(static_cast<SOCKET>(s), static_cast<char*>(bytes), max, 0);
  if (got > 0) return got;
  if (got == 0) return ReceiveClosed;
  return WSAGetLastError() == WSAEWOULDBLOCK ? ReceiveTimedOut : ReceiveClosed;
}

// --- Connections opened without waiting --------------------------------------

// Never the kept connection: this socket stays non-blocking for good, and
// the board's keeps its mode.
int PlatOpenNow(uint32_t address, int port, PlatSocket* socket) {
  *socket = NoSocket;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return ConnectFailed;
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long on = 1;
  if (ioctlsocket(s, FIONBIO, &on) != 0) {
    closesocket(s);
    return ConnectFailed;
  }
  sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  to.sin_addr.s_addr = address;
  int result = ConnectPending;
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
    result = ConnectedToItself(s) ? ConnectFailed : ConnectDone;
  else if (WSAGetLastError() != WSAEWOULDBLOCK)
    result = ConnectFailed;
  if (result == ConnectFailed) {
    closesocket(s);
    return ConnectFailed;
  }
  *socket = static_cast<PlatSocket>(s);
  return result;
}

int PlatOpenedNow(PlatSocket socket) {
  if (socket == NoSocket) return ConnectFailed;
  SOCKET s = static_cast<SOCKET>(socket);
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval none = {0, 0};
  int ready = select(0, nullptr, &writable, &failed, &none);
  if (ready == SOCKET_ERROR) return ConnectFailed;
  if (ready == 0) return ConnectPending;
  if (!FD_ISSET(s, &writable)) return ConnectFailed;
  int error = 0;
  int size = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                 &size) != 0 ||
      error != 0)
    return ConnectFailed;
  return ConnectedToItself(s) ? ConnectFailed : ConnectDone;
}
