// A baseline of the Windows benchmarks (bench/wine_bench.sh builds it with
// the program's cross compiler): a console program without any window that
// makes the 14 exchanges of one board query with Windows Sockets 1.1, as
// the program's socket layer does them (send; select with a time limit;
// one recv), COUNT times, one query every PERIOD ms, on 127.0.0.1:50290.
//
//   bare_client_win.exe COUNT PERIOD_MS
//
// Exit code 0 when every receive delivered bytes, else 1.
#include <windows.h>
#include <winsock.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "board/query_table.h"

namespace {

bool Readable(SOCKET s, int waitMs) {
  fd_set readable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&failed);
  FD_SET(s, &readable);
  FD_SET(s, &failed);
  timeval limit;
  limit.tv_sec = waitMs / 1000;
  limit.tv_usec = (waitMs % 1000) * 1000;
  return select(0, &readable, nullptr, &failed, &limit) == 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int count = atoi(argv[1]);
  int period = atoi(argv[2]);
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 1;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons(50290);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  if (s == INVALID_SOCKET ||
      connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
    return 1;
  char wire[BoardQueryLength][32];
  for (int i = 0; i < BoardQueryLength; i++) {
    strcpy(wire[i], BoardQuery[i].Keyword);
    strcat(wire[i], " \\r\\n");
  }
  char reply[1000];
  bool ok = true;
  DWORD start = GetTickCount();
  for (int q = 0; q < count; q++) {
    DWORD due = start + (DWORD)(q * period);
    int32_t ahead = (int32_t)(due - GetTickCount());
    if (ahead > 0) Sleep((DWORD)ahead);
    for (int i = 0; i < BoardQueryLength; i++) {
      send(s, wire[i], (int)strlen(wire[i]), 0);
      if (!Readable(s, 700) || recv(s, reply, BoardQuery[i].ReceiveMax, 0) <= 0)
        ok = false;
    }
  }
  closesocket(s);
  WSACleanup();
  return ok ? 0 : 1;
}
