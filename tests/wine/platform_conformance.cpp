// The platform contract (tests/platform_checks.cpp) on the Windows layer:
// a console program that runs every check and prints one line for each.
// The operator's hands are messages to the controls, as a mouse click or
// a key press would send them; the board's end of the connection is a
// Winsock socket. Exit code 0 when every check held.
//
//   kvx-platform-checks.exe [name ...]   only the checks named
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "tests/platform_checks.h"

namespace {

SOCKET Listener = INVALID_SOCKET;
SOCKET Peer = INVALID_SOCKET;

void ClosePeer() {
  if (Peer != INVALID_SOCKET) closesocket(Peer);
  if (Listener != INVALID_SOCKET) closesocket(Listener);
  Peer = Listener = INVALID_SOCKET;
}

void Fresh() {
  ClosePeer();
  PlatCloseAllWindows();
  // Whatever the closed windows left in the queue.
  for (int i = 0; i < 1000; ++i)
    if (PlatWaitEvent(0).Kind == EventNone) break;
}

// The mouse reaches only enabled controls, and of those only the ones that
// take the focus; a button reports the click.
bool Click(int number) {
  Win32Control* c = Win32FindControl(number);
  if (!c || !IsWindowEnabled(c->Handle)) return false;
  switch (c->Kind) {
    case KindButton:
    case KindCheckBox:
    case KindImageButton:
      SendMessageA(c->Handle, BM_CLICK, 0, 0);
      return true;
    case KindLabel:
    case KindProgressBar:
      return false;
    default:
      SetFocus(c->Handle);
      return true;
  }
}

void Type(int number, const Text& text) {
  Win32Control* c = Win32FindControl(number);
  if (!c || !IsWindowEnabled(c->Handle)) return;
  if (c->Kind != KindEdit && c->Kind != KindSpin) return;
  SetFocus(c->Handle);
  SetWindowTextA(c->Handle, text.c_str());
}

// The up and down keys in the field step it as the arrows do.
void SpinStep(int number, int direction) {
  Win32Control* c = Win32FindControl(number);
  if (!c || c->Kind != KindSpin || !IsWindowEnabled(c->Handle)) return;
  WPARAM key = direction > 0 ? VK_UP : VK_DOWN;
  SetFocus(c->Handle);
  SendMessageA(c->Handle, WM_KEYDOWN, key, 1);
  SendMessageA(c->Handle, WM_KEYUP, key, 1 | (3u << 30));
}

void RequestClose(int window) {
  if (window >= 0 && window < WindowSlots && Win32Windows[window])
    SendMessageA(Win32Windows[window], WM_CLOSE, 0, 0);
}

int Listen() {
  ClosePeer();
  Listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (Listener == INVALID_SOCKET) return 0;
  sockaddr_in at;
  memset(&at, 0, sizeof at);
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof at;
  if (bind(Listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      listen(Listener, 1) != 0 ||
      getsockname(Listener, reinterpret_cast<sockaddr*>(&at), &size) != 0)
    return 0;
  return ntohs(at.sin_port);
}

bool Accept() {
  Peer = accept(Listener, nullptr, nullptr);
  return Peer != INVALID_SOCKET;
}

bool Send(const void* bytes, int length, bool urgent) {
  const char* p = static_cast<const char*>(bytes);
  while (length > 0) {
    int sent = send(Peer, p, length, urgent ? MSG_OOB : 0);
    if (sent <= 0) return false;
    p += sent;
    length -= sent;
  }
  return true;
}

int Arrived(PlatSocket socket, int wanted) {
  u_long count = 0;
  for (int i = 0; i < 2000; ++i) {
    if (ioctlsocket(static_cast<SOCKET>(socket), FIONREAD, &count) != 0)
      return -1;
    if (static_cast<int>(count) >= wanted) break;
    Sleep(1);
  }
  return static_cast<int>(count);
}

// The item is looked up by its text in the system menu; choosing it sends
// the window the command the menu would send.
bool ChooseMenuItem(int window, const Text& text) {
  if (window < 0 || window >= WindowSlots || !Win32Windows[window])
    return false;
  HWND hwnd = Win32Windows[window];
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  int count = menu ? GetMenuItemCount(menu) : 0;
  for (int i = 0; i < count; ++i) {
    char item[256] = "";
    GetMenuStringA(menu, static_cast<UINT>(i), item, sizeof item,
                   MF_BYPOSITION);
    if (text != item) continue;
    UINT id = GetMenuItemID(menu, i);
    if (id == static_cast<UINT>(-1)) return false;
    SendMessageA(hwnd, WM_SYSCOMMAND, id, 0);
    return true;
  }
  return false;
}

// Dragging the frame: the window gets the outer size of that client area.
bool Resize(int window, int clientWidth, int clientHeight) {
  if (window < 0 || window >= WindowSlots || !Win32Windows[window])
    return false;
  HWND hwnd = Win32Windows[window];
  DWORD style = static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE));
  if (!(style & WS_THICKFRAME)) return false;
  RECT outer = {0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&outer, style, FALSE,
                     static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_EXSTYLE)));
  return SetWindowPos(hwnd, nullptr, 0, 0, outer.right - outer.left,
                      outer.bottom - outer.top,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) != 0;
}

// A child's rectangle in its parent's client coordinates.
RECT PlaceInParent(HWND child) {
  RECT r = {0, 0, 0, 0};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool ControlPlace(int number, int* x, int* y, int* width, int* height) {
  Win32Control* c = Win32FindControl(number);
  if (!c) return false;
  RECT r = PlaceInParent(c->Handle);
  if (c->Arrows) {
    RECT arrows = PlaceInParent(c->Arrows);
    UnionRect(&r, &r, &arrows);
  }
  *x = r.left;
  *y = r.top;
  *width = r.right - r.left;
  *height = r.bottom - r.top;
  return true;
}

// A new folder under the system's folder for temporary files: one that
// did not exist before (a folder of an earlier run may still be there).
Text ScratchFolder() {
  static unsigned made = 0;
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  for (int tries = 0; tries < 1000; tries++) {
    Text folder = Text(temp) + "kvx-checks-" + std::to_string(GetTickCount()) +
                  "-" + std::to_string(++made);
    if (CreateDirectoryA(folder.c_str(), nullptr)) return folder;
  }
  return Text(temp) + "kvx-checks-none";
}

// A script that writes its arguments, one a line, beside itself.
Text ArgumentScript(const Text& folder) {
  Text script = folder + "\\argumente.cmd";
  const char body[] =
      "@echo off\r\n"
      ":next\r\n"
      "if \"%~1\"==\"\" goto :eof\r\n"
      ">>\"%~dp0argumente.txt\" echo %~1\r\n"
      "shift\r\n"
      "goto next\r\n";
  FILE* f = fopen(script.c_str(), "wb");
  if (f) {
    fwrite(body, 1, sizeof body - 1, f);
    fclose(f);
  }
  return script;
}

bool ScriptArguments(const Text& folder, size_t count,
                     std::vector<Text>* arguments) {
  Text path = folder + "\\argumente.txt";
  for (int waited = 0; waited <= 10000; waited += 50) {
    arguments->clear();
    if (FILE* f = fopen(path.c_str(), "rb")) {
      char line[512];
      while (fgets(line, sizeof line, f)) {
        Text text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
          text.pop_back();
        arguments->push_back(text);
      }
      fclose(f);
    }
    if (arguments->size() >= count) return true;
    Sleep(50);
  }
  return false;
}

const PlatformHands WindowsHands = {
    Fresh,        Click,         Type,           SpinStep,
    RequestClose, Listen,        Accept,         Send,
    ClosePeer,    Arrived,       ChooseMenuItem, Resize,
    ControlPlace, ScratchFolder, ArgumentScript, ScriptArguments};

bool Named(const char* name, int argc, char** argv) {
  if (argc < 2) return true;
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], name) == 0) return true;
  return false;
}

// Of this layer alone: the sound system and the timer library are loaded
// at their first use, not with the program (under Wine the sound system
// brings the host's audio libraries, megabytes of them). The first click
// loads the sound system, whether or not there is a device to play on
// (and Wine keeps the library loaded, started or not, released or not).
// Run first, before any check pauses.
std::vector<std::string> LibrariesComeAtTheirFirstUse() {
  std::vector<std::string> failures;
  auto loaded = [](const char* dll) {
    return GetModuleHandleA(dll) != nullptr;
  };
  if (loaded("winmm.dll")) failures.push_back("winmm.dll loaded at start");
  if (!PlatStartSound()) failures.push_back("no DSOUND.DLL found");
  if (!PlatLoadClick()) failures.push_back("the click did not load");
  if (loaded("dsound.dll"))
    failures.push_back("dsound.dll loaded before the first click");
  PlatPlayClick();
  if (!loaded("dsound.dll"))
    failures.push_back("the first click did not load dsound.dll");
  PlatPlayClick();
  PlatReleaseSound();
  PlatPlayClick();  // silent, and nothing to crash on
  PlatSleep(1);
  if (!loaded("winmm.dll"))
    failures.push_back("a pause did not load winmm.dll");
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  // The checks tell what a facility that did not start takes away.
  if (!PlatStartFacilities()) printf("note: not every facility started\n");
  Hands = &WindowsHands;
  int failed = 0, ran = 0;
  const char* own = "LibrariesComeAtTheirFirstUse";
  if (Named(own, argc, argv)) {
    ++ran;
    std::vector<std::string> failures = LibrariesComeAtTheirFirstUse();
    printf("%s %s\n", failures.empty() ? "ok  " : "FAIL", own);
    for (const std::string& failure : failures)
      printf("     %s\n", failure.c_str());
    fflush(stdout);
    if (!failures.empty()) ++failed;
  }
  for (int i = 0; i < PlatformCheckCount; ++i) {
    if (!Named(PlatformChecks[i].Name, argc, argv)) continue;
    ++ran;
    bool held = RunPlatformCheck(i);
    printf("%s %s\n", held ? "ok  " : "FAIL", PlatformChecks[i].Name);
    for (const std::string& failure : PlatformCheckFailures())
      printf("     %s\n", failure.c_str());
    fflush(stdout);
    if (!held) ++failed;
  }
  printf("%d of %d checks held\n", ran - failed, ran);
  return failed == 0 && ran > 0 ? 0 : 1;
}
