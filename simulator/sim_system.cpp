// The simulator's calls to the operating system (see sim_system.h): POSIX,
// or Winsock 2 and the Windows console for korvalinex-sim.exe.
#include "simulator/sim_system.h"

#include <cstring>
#include <vector>

#ifdef _WIN32

#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // WSAPoll, inet_pton
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <csignal>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace kvxsim {

namespace {

// Winsock 2.2, started once for the life of the process.
bool Started() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET Handle(int socket) {
  return static_cast<SOCKET>(static_cast<intptr_t>(socket));
}

int Number(SOCKET handle) {
  return handle == INVALID_SOCKET ? -1 : static_cast<int>(handle);
}

std::string Failure(const char* what) {
  return std::string(what) + ": Winsock error " +
         std::to_string(WSAGetLastError());
}

long Result(int r) {
  if (r != SOCKET_ERROR) return r;
  const int e = WSAGetLastError();
  return e == WSAEWOULDBLOCK || e == WSAEINTR ? SysWouldBlock : -1;
}

int Part(size_t length) {
  return length > INT_MAX ? INT_MAX : static_cast<int>(length);
}

}  // namespace

bool SysDottedAddress(const std::string& text, uint32_t* hostOrder) {
  if (!Started()) return false;
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *hostOrder = ntohl(a.s_addr);
  return true;
}

int SysListen(uint32_t hostOrder, uint16_t port, uint16_t* bound,
              std::string* error) {
  if (!Started()) {
    *error = Failure("WSAStartup");
    return -1;
  }
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    *error = Failure("socket");
    return -1;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(hostOrder);
  sa.sin_port = htons(port);
  if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    *error = Failure("bind");
    closesocket(s);
    return -1;
  }
  if (listen(s, 8) != 0) {
    *error = Failure("listen");
    closesocket(s);
    return -1;
  }
  int len = sizeof sa;
  getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
  *bound = ntohs(sa.sin_port);
  SysSetNonBlocking(Number(s));
  return Number(s);
}

int SysAccept(int listening) {
  SOCKET s = accept(Handle(listening), nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  SysSetNonBlocking(Number(s));
  return Number(s);
}

void SysSetNonBlocking(int socket) {
  u_long on = 1;
  ioctlsocket(Handle(socket), FIONBIO, &on);
}

void SysSetNoDelay(int socket) {
  BOOL one = TRUE;
  setsockopt(Handle(socket), IPPROTO_TCP, TCP_NODELAY,
             reinterpret_cast<const char*>(&one), sizeof one);
}

long SysSend(int socket, const char* bytes, size_t length) {
  return Result(send(Handle(socket), bytes, Part(length), 0));
}

long SysReceive(int socket, char* bytes, size_t length) {
  return Result(recv(Handle(socket), bytes, Part(length), 0));
}

void SysWait(SysWatch* watch, size_t count, int ms) {
  std::vector<WSAPOLLFD> p(count);
  for (size_t i = 0; i < count; ++i) {
    p[i].fd = Handle(watch[i].socket);
    p[i].events = watch[i].write ? POLLWRNORM : POLLRDNORM;
    p[i].revents = 0;
    watch[i].ready = false;
  }
  if (WSAPoll(p.data(), static_cast<ULONG>(count), ms) == SOCKET_ERROR) {
    Sleep(static_cast<DWORD>(ms));  // nothing to wait on: no busy loop
    return;
  }
  for (size_t i = 0; i < count; ++i)
    watch[i].ready = (p[i].revents & (POLLWRNORM | POLLRDNORM | POLLHUP |
                                      POLLERR | POLLNVAL)) != 0;
}

void SysCloseGracefully(int socket) {
  shutdown(Handle(socket), SD_SEND);
  closesocket(Handle(socket));
}

void SysCloseWithReset(int socket) {
  linger lg{1, 0};
  setsockopt(Handle(socket), SOL_SOCKET, SO_LINGER,
             reinterpret_cast<const char*>(&lg), sizeof lg);
  closesocket(Handle(socket));
}

void SysClose(int socket) { closesocket(Handle(socket)); }

// Two datagram sockets on loopback: the writer is connected to the reader.
bool SysWakePair(int* readEnd, int* writeEnd) {
  if (!Started()) return false;
  SOCKET r = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  SOCKET w = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof sa;
  if (r == INVALID_SOCKET || w == INVALID_SOCKET ||
      bind(r, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      getsockname(r, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      connect(w, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (r != INVALID_SOCKET) closesocket(r);
    if (w != INVALID_SOCKET) closesocket(w);
    return false;
  }
  SysSetNonBlocking(Number(r));
  SysSetNonBlocking(Number(w));
  *readEnd = Number(r);
  *writeEnd = Number(w);
  return true;
}

void SysWakeSignal(int writeEnd) { send(Handle(writeEnd), "x", 1, 0); }

void SysWakeDrain(int readEnd) {
  char buf[64];
  for (int i = 0; i < 64; ++i)
    if (recv(Handle(readEnd), buf, sizeof buf, 0) <= 0) break;
}

void SysWakeClose(int readEnd, int writeEnd) {
  if (readEnd >= 0) closesocket(Handle(readEnd));
  if (writeEnd >= 0) closesocket(Handle(writeEnd));
}

void SysOnStopRequest(void (*handler)(int)) {
  signal(SIGINT, handler);
  signal(SIGTERM, handler);
  signal(SIGBREAK, handler);
}

bool SysConsoleIsTerminal() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(out, &mode)) return false;
  SetConsoleOutputCP(CP_UTF8);
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int SysConsoleColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 10) return columns - 1;
  }
  return 79;
}

}  // namespace kvxsim

#else  // POSIX

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kvxsim {

namespace {

long Result(ssize_t r) {
  if (r >= 0) return static_cast<long>(r);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR
             ? SysWouldBlock
             : -1;
}

}  // namespace

bool SysDottedAddress(const std::string& text, uint32_t* hostOrder) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *hostOrder = ntohl(a.s_addr);
  return true;
}

int SysListen(uint32_t hostOrder, uint16_t port, uint16_t* bound,
              std::string* error) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + strerror(errno);
    return -1;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(hostOrder);
  sa.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    *error = std::string("bind: ") + strerror(errno);
    close(fd);
    return -1;
  }
  if (listen(fd, 8) != 0) {
    *error = std::string("listen: ") + strerror(errno);
    close(fd);
    return -1;
  }
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  *bound = ntohs(sa.sin_port);
  SysSetNonBlocking(fd);
  return fd;
}

int SysAccept(int listening) {
  return accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
}

void SysSetNonBlocking(int socket) {
  int flags = fcntl(socket, F_GETFL, 0);
  if (flags >= 0) fcntl(socket, F_SETFL, flags | O_NONBLOCK);
}

void SysSetNoDelay(int socket) {
  int one = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

long SysSend(int socket, const char* bytes, size_t length) {
  return Result(send(socket, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT));
}

long SysReceive(int socket, char* bytes, size_t length) {
  return Result(recv(socket, bytes, length, MSG_DONTWAIT));
}

void SysWait(SysWatch* watch, size_t count, int ms) {
  std::vector<pollfd> p(count);
  for (size_t i = 0; i < count; ++i) {
    p[i] = {watch[i].socket,
            static_cast<short>(watch[i].write ? POLLOUT : POLLIN), 0};
    watch[i].ready = false;
  }
  poll(p.data(), p.size(), ms);
  for (size_t i = 0; i < count; ++i)
    watch[i].ready =
        (p[i].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR)) != 0;
}

void SysCloseGracefully(int socket) {
  shutdown(socket, SHUT_WR);
  close(socket);
}

void SysCloseWithReset(int socket) {
  linger lg{1, 0};
  setsockopt(socket, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  close(socket);
}

void SysClose(int socket) { close(socket); }

bool SysWakePair(int* readEnd, int* writeEnd) {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
  *readEnd = fds[0];
  *writeEnd = fds[1];
  return true;
}

void SysWakeSignal(int writeEnd) {
  ssize_t r = write(writeEnd, "x", 1);
  (void)r;
}

void SysWakeDrain(int readEnd) {
  char buf[64];
  while (read(readEnd, buf, sizeof buf) > 0) {
  }
}

void SysWakeClose(int readEnd, int writeEnd) {
  if (readEnd >= 0) close(readEnd);
  if (writeEnd >= 0) close(writeEnd);
}

void SysOnStopRequest(void (*handler)(int)) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = handler;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool SysConsoleIsTerminal() { return isatty(STDOUT_FILENO); }

int SysConsoleColumns() {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 10)
    return ws.ws_col - 1;
  return 79;
}

}  // namespace kvxsim

#endif
