// Process entry, heaps, COM, the control libraries, the build settings,
// the clock, message boxes and the shell request.
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <mmsystem.h>

#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

HINSTANCE Win32Instance;

static HANDLE PrivateHeap;  // the program's own heap: the control table
static HANDLE MemoryHeap;   // the memory facility: the reply buffers
static HMODULE RichEditLibrary;
static bool RichEditReleased;
static bool ComStarted;

static Win32Control FallbackControls[ControlSlots];
Win32Control* Win32Controls = FallbackControls;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  Win32Instance = instance;
  ProgramMain();
  return 0;
}

static bool RegisterWindowClass() {
  WNDCLASSEXA wc;
  ZeroMemory(&wc, sizeof wc);
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Win32WindowProc;
  wc.hInstance = Win32Instance;
  wc.hIcon = LoadIconA(Win32Instance, MAKEINTRESOURCEA(KVX_ICON));
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = Win32WindowClass;
  return RegisterClassExA(&wc) != 0;
}

bool PlatStartFacilities() {
  bool ok = true;
  if (!Win32Instance) Win32Instance = GetModuleHandleA(nullptr);

  PrivateHeap = HeapCreate(0, 0, 0);
  if (PrivateHeap) {
    void* table = HeapAlloc(PrivateHeap, HEAP_ZERO_MEMORY,
                            sizeof(Win32Control) * ControlSlots);
    if (table) Win32Controls = static_cast<Win32Control*>(table);
  } else {
    ok = false;
  }
  MemoryHeap = HeapCreate(0, 0, 0);
  if (!MemoryHeap) ok = false;

  INITCOMMONCONTROLSEX icc;
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS |
              ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES;
  if (!InitCommonControlsEx(&icc)) ok = false;

  RichEditLibrary = LoadLibraryA("riched20.dll");
  if (!RichEditLibrary) ok = false;
  RichEditReleased = false;

  ComStarted = SUCCEEDED(CoInitialize(nullptr));
  if (!ComStarted) ok = false;

  if (!RegisterWindowClass()) ok = false;
  return ok;
}

unsigned char* PlatTakeZeroedMemory(int size) {
  if (!MemoryHeap || size <= 0) return nullptr;
  return static_cast<unsigned char*>(
      HeapAlloc(MemoryHeap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(size)));
}

void PlatReleaseMemory() {
  if (MemoryHeap) HeapDestroy(MemoryHeap);
  MemoryHeap = nullptr;
}

// The rich-edit boxes still exist when the control library is released;
// the library itself goes once the last window is closed.
void PlatReleaseControlLibrary() {
  RichEditReleased = true;
  Win32FreeRichEditIfReleased();
}

void Win32FreeRichEditIfReleased() {
  if (!RichEditReleased || !RichEditLibrary) return;
  for (HWND w : Win32Windows)
    if (w) return;
  FreeLibrary(RichEditLibrary);
  RichEditLibrary = nullptr;
}

void PlatDestroyHeap() {
  if (ComStarted) CoUninitialize();
  ComStarted = false;
  Win32Controls = FallbackControls;
  ZeroMemory(FallbackControls, sizeof FallbackControls);
  if (PrivateHeap) HeapDestroy(PrivateHeap);
  PrivateHeap = nullptr;
}

FARPROC Win32SystemFunction(const char* dll, const char* name) {
  char path[MAX_PATH + 32];
  UINT n = GetSystemDirectoryA(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || n + 2 + lstrlenA(dll) > (int)sizeof path)
    return nullptr;
  if (path[n - 1] != '\\') path[n++] = '\\';
  lstrcpyA(path + n, dll);
  HMODULE module = GetModuleHandleA(path);
  if (!module) module = LoadLibraryA(path);
  return module ? GetProcAddress(module, name) : nullptr;
}

const char* PlatBuildBoardAddress() { return KORVALINEX_BOARD_ADDRESS; }
int PlatBuildBoardPort() { return KORVALINEX_BOARD_PORT; }

const char* PlatCommandLine() { return GetCommandLineA(); }

// ---------------------------------------------------------------------------
// Message box and shell
// ---------------------------------------------------------------------------

void PlatMessageBox(const Text& title, const Text& text) {
  HWND owner = GetForegroundWindow();
  DWORD process = 0;
  if (owner) GetWindowThreadProcessId(owner, &process);
  if (process != GetCurrentProcessId()) owner = nullptr;
  Win32EnterModalLoop();
  MessageBoxA(owner, text.c_str(), title.c_str(), MB_OK);
  Win32LeaveModalLoop();
}

void PlatOpenAddress(const Text& address) {
  SHELLEXECUTEINFOA request;
  ZeroMemory(&request, sizeof request);
  request.cbSize = sizeof request;
  request.lpVerb = nullptr;  // the default verb
  request.lpFile = address.c_str();
  request.nShow = SW_SHOWNORMAL;
  using ShellExecuteCall = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);
  auto execute = reinterpret_cast<ShellExecuteCall>(reinterpret_cast<void*>(
      Win32SystemFunction("shell32.dll", "ShellExecuteExA")));
  if (execute) execute(&request);
}

// ---------------------------------------------------------------------------
// Clock
// ---------------------------------------------------------------------------

uint32_t PlatTickCount() { return GetTickCount(); }

// The system timer's resolution, from winmm.dll loaded at the first pause
// (the library is not imported: the program's start does without it).
using TimerPeriodCall = MMRESULT(WINAPI*)(UINT);
static TimerPeriodCall TimerPeriod(const char* name) {
  return reinterpret_cast<TimerPeriodCall>(
      reinterpret_cast<void*>(Win32SystemFunction("winmm.dll", name)));
}

void PlatSleep(int ms) {
  if (ms < 0) ms = 0;
  static TimerPeriodCall begin = TimerPeriod("timeBeginPeriod");
  static TimerPeriodCall end = TimerPeriod("timeEndPeriod");
  if (begin) begin(1);
  Sleep(static_cast<DWORD>(ms));
  if (end) end(1);
}

int64_t PlatLocalClock() {
  // The local date and time read as if they were universal time: the
  // count then starts at local midnight of 1 January 1970.
  SYSTEMTIME now;
  GetLocalTime(&now);
  FILETIME since1601;
  if (!SystemTimeToFileTime(&now, &since1601)) return 0;
  ULARGE_INTEGER units;  // of 100 ns
  units.LowPart = since1601.dwLowDateTime;
  units.HighPart = since1601.dwHighDateTime;
  const int64_t SecondsFrom1601To1970 = 11644473600LL;
  return static_cast<int64_t>(units.QuadPart / 10000000ULL) -
         SecondsFrom1601To1970;
}

int64_t PlatUniversalClock() {
  FILETIME since1601;
  GetSystemTimeAsFileTime(&since1601);
  ULARGE_INTEGER units;  // of 100 ns
  units.LowPart = since1601.dwLowDateTime;
  units.HighPart = since1601.dwHighDateTime;
  const int64_t SecondsFrom1601To1970 = 11644473600LL;
  return static_cast<int64_t>(units.QuadPart / 10000000ULL) -
         SecondsFrom1601To1970;
}
