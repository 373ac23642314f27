// Headless listening sockets: real POSIX ones on loopback addresses only
// (nothing a test runs can be reached from another machine), or, once a
// test asks for them, in-memory ones whose clients the test plays on the
// driven clock (headless.h, HeadlessUseWebClients).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/headless/headless_internal.h"

namespace {

// The in-memory sockets are numbers from here up, never file descriptors.
constexpr int ModelListenBase = 1 << 25;
// Connections a listener of the model keeps waiting to be taken.
constexpr size_t ModelBacklog = 128;

struct ModelListener {
  uint32_t Address;
  int Port;
  std::vector<int> Waiting;  // clients not yet taken, the oldest first
};

struct ModelConnection {
  int Socket = -1;          // the program's end, -1 until taken
  std::string ToServer;     // sent by the client, not yet received
  std::string ToClient;     // sent by the program, not yet read
  std::string Read;         // everything the client has read
  int Window = 256 * 1024;  // bytes the client's end takes before it reads
  uint32_t From = htonl(INADDR_LOOPBACK);  // the client's address
  bool ServerClosed = false;
  bool ClientClosed = false;
};

struct ListenModel {
  bool Used = false;  // in-memory clients in place of real ones
  std::vector<HeadlessListenRecord> Listens;
  std::set<int> HeldPorts;
  std::set<uint32_t> OwnAddresses;         // besides loopback and 0.0.0.0
  std::map<int, ModelListener> Listeners;  // by socket
  std::vector<ModelConnection> Clients;    // by client number
  std::map<int, int> Connections;          // program's socket -> client
  int NextSocket = ModelListenBase;
  int NextPort = 40000;
  std::set<int> RealSockets;  // real listeners and connections taken
  // Peers of PlatOpenNow by port, the connections each took, the sockets
  // of connects that stay pending, and the calls made.
  std::map<int, HeadlessPeerMode> Peers;
  std::map<int, std::vector<int>> PeerClients;
  std::set<int> Unanswered;
  int OpenNowCalls = 0;
};

ListenModel Listen;

bool IsLoopbackAddress(uint32_t networkOrder) {
  return (ntohl(networkOrder) >> 24) == 127;
}

ModelConnection* ClientOf(int socket) {
  auto it = Listen.Connections.find(socket);
  return it == Listen.Connections.end() ? nullptr : &Listen.Clients[it->second];
}

ListenResult ModelListen(uint32_t address, int port, PlatSocket* listener) {
  if (!IsLoopbackAddress(address) && address != htonl(INADDR_ANY) &&
      Listen.OwnAddresses.count(address) == 0)
    return ListenNotHere;
  if (port < 0 || port > 65535) return ListenFailed;
  if (port == 0) port = Listen.NextPort++;
  if (Listen.HeldPorts.count(port)) return ListenInUse;
  for (auto& entry : Listen.Listeners) {
    const ModelListener& other = entry.second;
    if (other.Port == port &&
        (other.Address == address || other.Address == htonl(INADDR_ANY) ||
         address == htonl(INADDR_ANY)))
      return ListenInUse;
  }
  int socket = Listen.NextSocket++;
  Listen.Listeners[socket] = ModelListener{address, port, {}};
  *listener = socket;
  return ListenDone;
}

ListenResult RealListen(uint32_t address, int port, PlatSocket* listener) {
  // 0.0.0.0 included: a test never listens beyond loopback.
  if (!IsLoopbackAddress(address)) return ListenNotHere;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return ListenFailed;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = address;
  at.sin_port = htons((uint16_t)port);
  ListenResult result = ListenDone;
  if (bind(fd, (const sockaddr*)&at, sizeof at) != 0)
    result = errno == EADDRINUSE || errno == EACCES ? ListenInUse
             : errno == EADDRNOTAVAIL               ? ListenNotHere
                                                    : ListenFailed;
  else if (::listen(fd, INT_MAX) != 0)  // the system's deepest queue
    result = ListenFailed;
  if (result != ListenDone) {
    close(fd);
    return result;
  }
  Listen.RealSockets.insert(fd);
  *listener = fd;
  return ListenDone;
}

}  // namespace

void HeadlessResetListens() {
  HeadlessCloseListens();
  Listen = ListenModel();
}

void HeadlessCloseListens() {
  for (int fd : Listen.RealSockets) close(fd);
  Listen.RealSockets.clear();
  for (auto& entry : Listen.Connections)
    Listen.Clients[entry.second].ServerClosed = true;
  Listen.Connections.clear();
  Listen.Listeners.clear();
  Listen.Unanswered.clear();
}

bool HeadlessCloseListenSocket(PlatSocket socket) {
  if (Listen.Unanswered.erase((int)socket)) return true;
  if (Listen.RealSockets.erase((int)socket)) {
    close((int)socket);
    return true;
  }
  if (Listen.Listeners.erase((int)socket)) return true;
  if (ModelConnection* c = ClientOf((int)socket)) {
    c->ServerClosed = true;
    c->Socket = -1;
    Listen.Connections.erase((int)socket);
    return true;
  }
  return false;
}

void HeadlessUseWebClients(bool on) { Listen.Used = on; }

const std::vector<HeadlessListenRecord>& HeadlessListens() {
  return Listen.Listens;
}

int HeadlessListening() {
  int real = 0;
  for (int fd : Listen.RealSockets) {
    int accepting = 0;
    socklen_t size = sizeof accepting;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) == 0 &&
        accepting)
      real++;
  }
  return (int)Listen.Listeners.size() + real;
}

void HeadlessHoldPort(int port, bool held) {
  if (held)
    Listen.HeldPorts.insert(port);
  else
    Listen.HeldPorts.erase(port);
}

void HeadlessAddOwnAddress(uint32_t addressNetworkOrder) {
  Listen.OwnAddresses.insert(addressNetworkOrder);
}

int HeadlessClientConnect(uint32_t address, int port) {
  for (auto& entry : Listen.Listeners) {
    ModelListener& l = entry.second;
    if (l.Port != port) continue;
    if (l.Address != address && l.Address != htonl(INADDR_ANY)) continue;
    if (l.Waiting.size() >= ModelBacklog) return -1;
    Listen.Clients.emplace_back();
    int client = (int)Listen.Clients.size() - 1;
    l.Waiting.push_back(client);
    return client;
  }
  return -1;
}

void HeadlessClientFrom(int client, uint32_t addressNetworkOrder) {
  if (client < 0 || client >= (int)Listen.Clients.size()) return;
  Listen.Clients[client].From = addressNetworkOrder;
}

void HeadlessClientSend(int client, const std::string& bytes) {
  if (client < 0 || client >= (int)Listen.Clients.size()) return;
  ModelConnection& c = Listen.Clients[client];
  if (!c.ClientClosed && !c.ServerClosed) c.ToServer += bytes;
}

std::string HeadlessClientRead(int client) {
  if (client < 0 || client >= (int)Listen.Clients.size()) return "";
  ModelConnection& c = Listen.Clients[client];
  std::string got;
  got.swap(c.ToClient);
  c.Read += got;
  return got;
}

const std::string& HeadlessClientAllRead(int client) {
  static const std::string none;
  if (client < 0 || client >= (int)Listen.Clients.size()) return none;
  return Listen.Clients[client].Read;
}

void HeadlessClientWindow(int client, int bytes) {
  if (client < 0 || client >= (int)Listen.Clients.size()) return;
  Listen.Clients[client].Window = bytes;
}

bool HeadlessClientClosedByServer(int client) {
  if (client < 0 || client >= (int)Listen.Clients.size()) return false;
  return Listen.Clients[client].ServerClosed;
}

bool HeadlessClientTaken(int client) {
  if (client < 0 || client >= (int)Listen.Clients.size()) return false;
  const ModelConnection& c = Listen.Clients[client];
  return c.Socket >= 0 || c.ServerClosed;
}

void HeadlessClientClose(int client) {
  if (client < 0 || client >= (int)Listen.Clients.size()) return;
  Listen.Clients[client].ClientClosed = true;
}

int HeadlessServerConnections() { return (int)Listen.Connections.size(); }

ListenResult PlatListen(uint32_t address, int port, PlatSocket* listener) {
  *listener = NoSocket;
  ListenResult result = Listen.Used ? ModelListen(address, port, listener)
                                    : RealListen(address, port, listener);
  Listen.Listens.push_back(HeadlessListenRecord{address, port, result});
  return result;
}

int PlatListeningPort(PlatSocket listener) {
  auto it = Listen.Listeners.find((int)listener);
  if (it != Listen.Listeners.end()) return it->second.Port;
  if (!Listen.RealSockets.count((int)listener)) return 0;
  sockaddr_in at{};
  socklen_t size = sizeof at;
  int accepting = 0;
  socklen_t flagSize = sizeof accepting;
  if (getsockopt((int)listener, SOL_SOCKET, SO_ACCEPTCONN, &accepting,
                 &flagSize) != 0 ||
      !accepting)
    return 0;
  if (getsockname((int)listener, (sockaddr*)&at, &size) != 0) return 0;
  return ntohs(at.sin_port);
}

PlatSocket PlatAccept(PlatSocket listener) {
  auto it = Listen.Listeners.find((int)listener);
  if (it != Listen.Listeners.end()) {
    std::vector<int>& waiting = it->second.Waiting;
    while (!waiting.empty()) {
      int client = waiting.front();
      waiting.erase(waiting.begin());
      ModelConnection& c = Listen.Clients[client];
      c.Socket = Listen.NextSocket++;
      Listen.Connections[c.Socket] = client;
      return c.Socket;
    }
    return NoSocket;
  }
  if (!Listen.RealSockets.count((int)listener)) return NoSocket;
  int fd;
  do {
    fd = accept4((int)listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return NoSocket;
  Listen.RealSockets.insert(fd);
  return fd;
}

uint32_t PlatPeerAddress(PlatSocket socket) {
  if (ModelConnection* c = ClientOf((int)socket)) return c->From;
  if (!Listen.RealSockets.count((int)socket)) return 0;
  sockaddr_in at{};
  socklen_t size = sizeof at;
  if (getpeername((int)socket, (sockaddr*)&at, &size) != 0 ||
      at.sin_family != AF_INET)
    return 0;
  return at.sin_addr.s_addr;
}

int PlatSendNow(PlatSocket socket, const void* bytes, int length) {
  if (length < 0) return -1;
  if (ModelConnection* c = ClientOf((int)socket)) {
    if (c->ClientClosed) return -1;
    int room = c->Window - (int)c->ToClient.size();
    int n = length < room ? length : (room > 0 ? room : 0);
    c->ToClient.append((const char*)bytes, (size_t)n);
    return n;
  }
  if (!Listen.RealSockets.count((int)socket)) return -1;
  if (length == 0) return 0;
  ssize_t sent;
  do {
    sent =
        send((int)socket, bytes, (size_t)length, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  if (sent >= 0) return (int)sent;
  return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
}

int PlatReceiveNow(PlatSocket socket, void* bytes, int max) {
  if (max <= 0) return ReceiveClosed;
  if (ModelConnection* c = ClientOf((int)socket)) {
    if (c->ToServer.empty())
      return c->ClientClosed ? (int)ReceiveClosed : (int)ReceiveTimedOut;
    int n = (int)c->ToServer.size() < max ? (int)c->ToServer.size() : max;
    c->ToServer.copy((char*)bytes, (size_t)n);
    c->ToServer.erase(0, (size_t)n);
    return n;
  }
  if (!Listen.RealSockets.count((int)socket)) return ReceiveClosed;
  ssize_t got;
  do {
    got = recv((int)socket, bytes, (size_t)max, MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  if (got > 0) return (int)got;
  if (got == 0) return ReceiveClosed;
  return errno == EAGAIN || errno == EWOULDBLOCK ? (int)ReceiveTimedOut
                                                 : (int)ReceiveClosed;
}

// --- Connections the program opens without waiting -------------------------

void HeadlessPlayPeer(int port, HeadlessPeerMode mode) {
  if (mode == HeadlessPeerOff)
    Listen.Peers.erase(port);
  else
    Listen.Peers[port] = mode;
}

std::vector<int> HeadlessPeerConnections(int port) {
  auto it = Listen.PeerClients.find(port);
  return it == Listen.PeerClients.end() ? std::vector<int>() : it->second;
}

int HeadlessOpenNowCount() { return Listen.OpenNowCalls; }

int PlatOpenNow(uint32_t address, int port, PlatSocket* socket) {
  *socket = NoSocket;
  Listen.OpenNowCalls++;
  if (!IsLoopbackAddress(address) || port < 1 || port > 65535)
    return ConnectFailed;
  auto peer = Listen.Peers.find(port);
  if (peer != Listen.Peers.end()) {
    switch (peer->second) {
      case HeadlessPeerRefuses:
      case HeadlessPeerOff:
        return ConnectFailed;
      case HeadlessPeerSilent: {
        int s = Listen.NextSocket++;
        Listen.Unanswered.insert(s);
        *socket = s;
        return ConnectPending;
      }
      case HeadlessPeerTakes:
        break;
    }
    Listen.Clients.emplace_back();
    int client = (int)Listen.Clients.size() - 1;
    ModelConnection& c = Listen.Clients[client];
    c.Socket = Listen.NextSocket++;
    Listen.Connections[c.Socket] = client;
    Listen.PeerClients[port].push_back(client);
    *socket = c.Socket;
    return ConnectDone;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return ConnectFailed;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons((uint16_t)port);
  int result = ConnectPending;
  if (connect(fd, (const sockaddr*)&to, sizeof to) == 0)
    result = HeadlessConnectedToItself(fd) ? ConnectFailed : ConnectDone;
  else if (errno != EINPROGRESS && errno != EINTR)
    result = ConnectFailed;
  if (result == ConnectFailed) {
    close(fd);
    return ConnectFailed;
  }
  Listen.RealSockets.insert(fd);
  *socket = fd;
  return result;
}

int PlatOpenedNow(PlatSocket socket) {
  if (Listen.Unanswered.count((int)socket)) return ConnectPending;
  if (ClientOf((int)socket)) return ConnectDone;
  if (!Listen.RealSockets.count((int)socket)) return ConnectFailed;
  return HeadlessRealConnectState((int)socket, 0);
}
