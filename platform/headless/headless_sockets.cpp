// Headless stand-in: real IPv4 sockets over POSIX, with the behaviour the
// program expects from Windows Sockets 1.1. Two things are deliberately
// narrower: host names are never looked up (only "localhost" and the names
// a test adds are known), and connections go to the loopback network only,
// so nothing the tests run can reach another machine. A test may also put
// a scripted board in place of the connection (HeadlessSetReceiveScript),
// which sends and receives without any socket traffic, or a board model on
// the driven clock (HeadlessSetBoardModel), whose sockets are only numbers.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/headless/headless_internal.h"

namespace {

struct HostKey {
  bool operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }
};

struct SocketModel {
  bool Started = false;
  std::set<int> Open;     // sockets made here and not yet closed
  std::set<int> Streams;  // those of them that are stream sockets
  std::map<std::string, uint32_t, HostKey> Hosts;
  int Sends = 0;  // PlatSend calls on real stream sockets
};

SocketModel Sockets;

// The scripted board of HeadlessSetReceiveScript.
struct ReceiveScript {
  const std::vector<std::string>* Chunks = nullptr;
  std::vector<std::string>* Sent = nullptr;
  size_t Next = 0;     // the chunk the next receive starts in
  size_t Taken = 0;    // bytes of that chunk already received
  bool Apart = false;  // a chunk was just taken whole: the next is not there
};

ReceiveScript Script;

bool Scripted(PlatSocket socket) {
  return Script.Chunks && Sockets.Streams.count((int)socket) > 0;
}

int ScriptedReceive(void* bytes, int max, int waitMs, int* waitedMs) {
  if (waitedMs) *waitedMs = 0;
  if (Script.Next >= Script.Chunks->size()) return ReceiveClosed;
  const std::string& chunk = (*Script.Chunks)[Script.Next];
  if (Script.Apart || chunk.empty()) {
    if (Script.Apart)
      Script.Apart = false;
    else
      Script.Next++;
    if (waitedMs) *waitedMs = waitMs > 0 ? waitMs : 0;
    return ReceiveTimedOut;
  }
  size_t n = chunk.size() - Script.Taken;
  if (max <= 0) return ReceiveClosed;  // as recv of 0 bytes reports
  if (n > (size_t)max) n = (size_t)max;
  memcpy(bytes, chunk.data() + Script.Taken, n);
  Script.Taken += n;
  if (Script.Taken == chunk.size()) {
    Script.Next++;
    Script.Taken = 0;
    Script.Apart = true;
  }
  return (int)n;
}

// The board model of HeadlessSetBoardModel and its one stream. Its sockets
// are numbers from ModelSocketBase up, never file descriptors.
constexpr int ModelSocketBase = 1 << 24;

struct ModelLink {
  HeadlessBoardModel* Board = nullptr;
  std::set<int> Sockets;  // made while the model was set, not yet closed
  int NextSocket = ModelSocketBase;
  int Connected = -1;  // the socket of the stream, -1 when none
  std::deque<HeadlessArrival> Pending;  // of the stream, in arrival order
  size_t Taken = 0;                     // bytes of Pending's front received
  std::vector<HeadlessArrival> Out;     // the model's answer to one call
};

ModelLink Model;

bool Modelled(PlatSocket socket) {
  return Model.Sockets.count((int)socket) > 0;
}

// Signed distance from `from` to `to` on the wrapping tick count.
int32_t Ahead(uint32_t from, uint32_t to) { return (int32_t)(to - from); }

// Queues what the model answered, in order and never before now.
void QueueModelOutput(uint32_t now) {
  uint32_t last = Model.Pending.empty() ? now : Model.Pending.back().At;
  if (Ahead(last, now) > 0) last = now;
  for (HeadlessArrival& a : Model.Out) {
    if (Ahead(last, a.At) < 0) a.At = last;
    last = a.At;
    if (a.Bytes.empty() && !a.Closes) continue;
    Model.Pending.push_back(std::move(a));
  }
  Model.Out.clear();
}

bool ArrivedBy(const HeadlessArrival& a, uint32_t now) {
  return Ahead(a.At, now) >= 0;
}

// What the model did on its own by now, before the program looks at the
// stream.
void UpdateModel(uint32_t now) {
  if (!Model.Board || Model.Connected < 0) return;
  if (Model.Board->Update(now, &Model.Out)) {
    while (!Model.Pending.empty() && !ArrivedBy(Model.Pending.back(), now))
      Model.Pending.pop_back();
  }
  QueueModelOutput(now);
}

// The program's end of the stream is gone.
void EndModelStream() {
  if (Model.Connected >= 0 && Model.Board) Model.Board->Closed(PlatTickCount());
  Model.Connected = -1;
  Model.Pending.clear();
  Model.Taken = 0;
}

// A connection to the model: a fresh stream for `socket`, or none.
int ModelConnect(PlatSocket socket, int port) {
  if (!Model.Board || !Modelled(socket) || !Model.Board->Listens(port))
    return ConnectFailed;
  EndModelStream();
  Model.Out.clear();
  uint32_t now = PlatTickCount();
  if (!Model.Board->Accept(now, &Model.Out)) {
    Model.Out.clear();
    return ConnectFailed;
  }
  Model.Connected = (int)socket;
  QueueModelOutput(now);
  return ConnectDone;
}

bool ModelStreamClosed(PlatSocket socket, uint32_t now) {
  if ((int)socket != Model.Connected) return true;
  return !Model.Pending.empty() && Model.Pending.front().Closes &&
         ArrivedBy(Model.Pending.front(), now);
}

int ModelSend(PlatSocket socket, const void* bytes, int length) {
  uint32_t now = PlatTickCount();
  if ((int)socket == Model.Connected) UpdateModel(now);
  if (ModelStreamClosed(socket, now)) return -1;
  Sockets.Sends++;
  Model.Board->Take((const char*)bytes, length, now, &Model.Out);
  QueueModelOutput(now);
  return length;
}

// Copies what has arrived by now, up to `max` bytes; a close that has
// arrived stops it.
int TakeArrived(char* bytes, int max, uint32_t now) {
  int got = 0;
  while (got < max && !Model.Pending.empty()) {
    HeadlessArrival& a = Model.Pending.front();
    if (a.Closes || !ArrivedBy(a, now)) break;
    size_t n = a.Bytes.size() - Model.Taken;
    if (n > (size_t)(max - got)) n = (size_t)(max - got);
    if (bytes) memcpy(bytes + got, a.Bytes.data() + Model.Taken, n);
    got += (int)n;
    Model.Taken += n;
    if (Model.Taken == a.Bytes.size()) {
      Model.Pending.pop_front();
      Model.Taken = 0;
    }
  }
  return got;
}

int ModelReceive(PlatSocket socket, void* bytes, int max, int waitMs,
                 int* waitedMs) {
  if ((int)socket != Model.Connected) return ReceiveClosed;
  if (waitMs < 0) waitMs = 0;
  uint32_t now = PlatTickCount();
  UpdateModel(now);
  if (Model.Pending.empty() || !ArrivedBy(Model.Pending.front(), now)) {
    int64_t until = Model.Pending.empty()
                        ? (int64_t)waitMs + 1
                        : Ahead(now, Model.Pending.front().At);
    int step = until <= waitMs ? (int)until : waitMs;
    HeadlessAdvanceClock(step);
    if (waitedMs) *waitedMs = step;
    if (until > waitMs) return ReceiveTimedOut;
    now = PlatTickCount();
  }
  if (Model.Pending.front().Closes) return ReceiveClosed;
  return TakeArrived((char*)bytes, max, now);
}

PlatSocket NewSocket(int type) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return NoSocket;
  Sockets.Open.insert(fd);
  if (type == SOCK_STREAM) Sockets.Streams.insert(fd);
  return fd;
}

void CloseTracked() {
  for (int fd : Sockets.Open) close(fd);
  Sockets.Open.clear();
  Sockets.Streams.clear();
}

bool IsLoopback(uint32_t addressNetworkOrder) {
  return (ntohl(addressNetworkOrder) >> 24) == 127;
}

int MsSince(std::chrono::steady_clock::time_point start) {
  return (int)std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

void HeadlessResetSockets() {
  HeadlessResetListens();
  CloseTracked();
  Sockets = SocketModel();
  Script = ReceiveScript();
  Model = ModelLink();
}

int HeadlessSendCount() { return Sockets.Sends; }

void HeadlessSetReceiveScript(const std::vector<std::string>* chunks,
                              std::vector<std::string>* sent) {
  Script = ReceiveScript();
  Script.Chunks = chunks;
  Script.Sent = chunks ? sent : nullptr;
  if (chunks) Model = ModelLink();
}

void HeadlessSetBoardModel(HeadlessBoardModel* model) {
  Model = ModelLink();
  Model.Board = model;
  if (model) Script = ReceiveScript();
}

void HeadlessAddHost(const char* name, uint32_t addressNetworkOrder) {
  if (name) Sockets.Hosts[name] = addressNetworkOrder;
}

bool PlatSocketsStart() {
  if (HeadlessFaultSettings().SocketsFail) return false;
  Sockets.Started = true;
  return true;
}

// As on the real platform, the cleanup closes every socket still open.
void PlatSocketsCleanup() {
  HeadlessCloseListens();
  CloseTracked();
  Model.Sockets.clear();
  EndModelStream();
  Sockets.Started = false;
}

uint32_t PlatDottedAddress(const char* text) {
  return text ? inet_addr(text) : INADDR_NONE;
}

bool PlatLookupHost(const char* name, uint32_t* address) {
  if (!name) return false;
  in_addr dotted;
  if (inet_aton(name, &dotted)) {
    *address = dotted.s_addr;
    return true;
  }
  if (strcasecmp(name, "localhost") == 0) {
    *address = htonl(INADDR_LOOPBACK);
    return true;
  }
  auto it = Sockets.Hosts.find(name);
  if (it == Sockets.Hosts.end()) return false;
  *address = it->second;
  return true;
}

PlatSocket PlatStreamSocket() {
  if (!Model.Board) return NewSocket(SOCK_STREAM);
  int number = Model.NextSocket++;
  Model.Sockets.insert(number);
  return number;
}

PlatSocket PlatDatagramSocket() { return NewSocket(SOCK_DGRAM); }

bool PlatSetNonBlocking(PlatSocket socket) {
  if (Modelled(socket)) return true;
  int flags = fcntl((int)socket, F_GETFL, 0);
  return flags >= 0 && fcntl((int)socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

// A connect to a port of this machine on which nothing listens can be
// given that very port as its own, and then it is connected to itself;
// such a connection is no board's (as on Windows).
bool HeadlessConnectedToItself(int fd) {
  sockaddr_in own{}, peer{};
  socklen_t ownSize = sizeof own, peerSize = sizeof peer;
  if (getsockname(fd, (sockaddr*)&own, &ownSize) != 0 ||
      getpeername(fd, (sockaddr*)&peer, &peerSize) != 0)
    return false;
  return own.sin_port == peer.sin_port &&
         own.sin_addr.s_addr == peer.sin_addr.s_addr;
}

int PlatConnectStart(PlatSocket socket, uint32_t address, int port) {
  if (socket < 0 || !IsLoopback(address)) return ConnectFailed;
  if (Modelled(socket)) return ModelConnect(socket, port);
  if (Script.Chunks) return ConnectDone;
  if (!PlatSetNonBlocking(socket)) return ConnectFailed;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons((uint16_t)port);
  if (connect((int)socket, (const sockaddr*)&to, sizeof to) == 0) {
    int flags = fcntl((int)socket, F_GETFL, 0);
    fcntl((int)socket, F_SETFL, flags & ~O_NONBLOCK);
    return HeadlessConnectedToItself((int)socket) ? ConnectFailed : ConnectDone;
  }
  return errno == EINPROGRESS || errno == EINTR ? ConnectPending
                                                : ConnectFailed;
}

int HeadlessRealConnectState(int fd, int waitMs) {
  pollfd p{fd, POLLOUT, 0};
  int ready = poll(&p, 1, waitMs > 0 ? waitMs : 0);
  if (ready < 0) return errno == EINTR ? ConnectPending : ConnectFailed;
  if (ready == 0) return ConnectPending;
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
    return ConnectFailed;
  return HeadlessConnectedToItself(fd) ? ConnectFailed : ConnectDone;
}

int PlatConnectWait(PlatSocket socket, int waitMs) {
  if (socket < 0) return ConnectFailed;
  if (Modelled(socket))
    return (int)socket == Model.Connected ? ConnectDone : ConnectFailed;
  if (Script.Chunks) return ConnectDone;
  int state = HeadlessRealConnectState((int)socket, waitMs);
  if (state == ConnectDone) {
    int flags = fcntl((int)socket, F_GETFL, 0);
    fcntl((int)socket, F_SETFL, flags & ~O_NONBLOCK);
  }
  return state;
}

int PlatSend(PlatSocket socket, const void* bytes, int length) {
  if (socket < 0 || length < 0) return -1;
  if (Modelled(socket)) return ModelSend(socket, bytes, length);
  if (Script.Chunks) {
    if (Script.Sent) Script.Sent->emplace_back((const char*)bytes, length);
    return length;
  }
  if (Sockets.Streams.count((int)socket) > 0) Sockets.Sends++;
  ssize_t sent;
  do {
    sent = send((int)socket, bytes, (size_t)length, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent < 0 ? -1 : (int)sent;
}

int PlatReceive(PlatSocket socket, void* bytes, int max, int waitMs,
                int* waitedMs) {
  if (waitedMs) *waitedMs = 0;
  if (max <= 0) return ReceiveClosed;
  if (Modelled(socket))
    return ModelReceive(socket, bytes, max, waitMs, waitedMs);
  if (Scripted(socket)) return ScriptedReceive(bytes, max, waitMs, waitedMs);
  auto start = std::chrono::steady_clock::now();
  int result = ReceiveClosed;
  if (waitMs < 0) waitMs = 0;
  while (socket >= 0) {
    int left = waitMs - MsSince(start);
    pollfd p{(int)socket, POLLIN, 0};
    int ready = poll(&p, 1, left > 0 ? left : 0);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) {
      if (MsSince(start) < waitMs) continue;  // woke early
      result = ReceiveTimedOut;
      break;
    }
    ssize_t got = recv((int)socket, bytes, (size_t)max, MSG_DONTWAIT);
    if (got >= 0) {
      result = got > 0 ? (int)got : ReceiveClosed;
      break;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
  }
  if (waitedMs) *waitedMs = MsSince(start);
  return result;
}

int PlatDiscardPending(PlatSocket socket) {
  if (socket < 0) return 0;
  if (Modelled(socket)) {
    if ((int)socket != Model.Connected) return 0;
    UpdateModel(PlatTickCount());
    int thrown = TakeArrived(nullptr, DiscardLimit, PlatTickCount());
    return thrown > 0 ? thrown : 0;
  }
  if (Scripted(socket)) {
    if (Script.Taken == 0) return 0;
    const std::string& chunk = (*Script.Chunks)[Script.Next];
    int thrown = (int)(chunk.size() - Script.Taken);
    Script.Next++;
    Script.Taken = 0;
    Script.Apart = true;
    return thrown;
  }
  char scratch[DiscardPiece];
  int thrown = 0;
  while (thrown < DiscardLimit) {
    int piece = DiscardLimit - thrown;
    if (piece > DiscardPiece) piece = DiscardPiece;
    ssize_t got = recv((int)socket, scratch, (size_t)piece, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    thrown += (int)got;
  }
  return thrown;
}

void PlatCloseSocket(PlatSocket socket) {
  if (socket < 0) return;
  if (HeadlessCloseListenSocket(socket)) return;
  if (Modelled(socket)) {
    Model.Sockets.erase((int)socket);
    if ((int)socket == Model.Connected) EndModelStream();
    return;
  }
  Sockets.Open.erase((int)socket);
  Sockets.Streams.erase((int)socket);
  close((int)socket);
}
