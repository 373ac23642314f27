// The baseline of the Windows benchmarks (bench/wine_bench.sh builds it with
// the same cross compiler and link options as the program): a top-level
// window with one static label and a 1-second window timer, served by a
// plain message loop. It opens no socket and draws nothing else, so its
// CPU time and memory are what Wine and a window cost by themselves.
#include <windows.h>

namespace {

const char kTitle[] = "KVX-bench-idle";

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  wc.lpszClassName = "KvxBenchIdle";
  if (!RegisterClassA(&wc)) return 1;
  HWND window = CreateWindowA("KvxBenchIdle", kTitle, WS_OVERLAPPEDWINDOW,
                              CW_USEDEFAULT, CW_USEDEFAULT, 800, 600, nullptr,
                              nullptr, instance, nullptr);
  if (!window) return 1;
  CreateWindowA("STATIC", "idle", WS_CHILD | WS_VISIBLE, 10, 10, 100, 20,
                window, nullptr, instance, nullptr);
  ShowWindow(window, show);
  UpdateWindow(window);
  SetTimer(window, 1, 1000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
