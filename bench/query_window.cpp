// A baseline of the Windows benchmarks (bench/wine_query_bench.sh builds it
// with the program's cross compiler and link options): the least a window
// program can do to show the board. A top-level window with one label per
// exchange of the board query and a 1-second window timer, served by a
// plain message loop; on each tick it makes the query's 14 exchanges with
// Windows Sockets 1.1 as the program's socket layer does them (send;
// select with a time limit; one recv) and puts each reply into its label
// when it differs from what the label shows.
//
//   query_window.exe [PORT]      (127.0.0.1, PORT 50290 when not given)
//
// Ends with code 0 when the window is closed, 1 when it could not start.
#include <windows.h>
#include <winsock.h>

#include <cstdlib>
#include <cstring>

#include "board/query_table.h"

namespace {

const char kTitle[] = "KVX-bench-query";

SOCKET Board = INVALID_SOCKET;
HWND Labels[BoardQueryLength];
char Wire[BoardQueryLength][32];
char Shown[BoardQueryLength][1001];

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

void Query() {
  char reply[1001];
  for (int i = 0; i < BoardQueryLength; i++) {
    send(Board, Wire[i], (int)strlen(Wire[i]), 0);
    int got = 0;
    if (Readable(Board, 700))
      got = recv(Board, reply, BoardQuery[i].ReceiveMax, 0);
    if (got <= 0) continue;
    reply[got] = 0;
    if (strcmp(reply, Shown[i]) != 0) {
      strcpy(Shown[i], reply);
      SetWindowTextA(Labels[i], reply);
    }
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_TIMER) {
    Query();
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command, int show) {
  int port = command && *command ? atoi(command) : 50290;
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 1;
  Board = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons((u_short)port);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  if (Board == INVALID_SOCKET ||
      connect(Board, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
    return 1;
  for (int i = 0; i < BoardQueryLength; i++) {
    strcpy(Wire[i], BoardQuery[i].Keyword);
    strcat(Wire[i], " \\r\\n");
  }

  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  wc.lpszClassName = "KvxBenchQuery";
  if (!RegisterClassA(&wc)) return 1;
  HWND window = CreateWindowA("KvxBenchQuery", kTitle, WS_OVERLAPPEDWINDOW,
                              CW_USEDEFAULT, CW_USEDEFAULT, 800, 600, nullptr,
                              nullptr, instance, nullptr);
  if (!window) return 1;
  for (int i = 0; i < BoardQueryLength; i++)
    Labels[i] =
        CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10 + 36 * i, 760,
                      34, window, nullptr, instance, nullptr);
  ShowWindow(window, show);
  UpdateWindow(window);
  SetTimer(window, 1, 1000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  closesocket(Board);
  WSACleanup();
  return 0;
}
