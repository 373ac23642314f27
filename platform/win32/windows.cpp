// Top-level windows, their timers and the event wait.
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include "platform/win32/win32_platform.h"

const char Win32WindowClass[] = "KorvalinexWindow";

HWND Win32Windows[WindowSlots];
// The control that had the focus when the window was last deactivated.
static HWND SavedFocus[WindowSlots];
// The number of each window's timer, 0 when it has none.
static int TimerOf[WindowSlots];
// Whether the window was opened sizable; set once it is shown, so that
// opening it reports no resizing.
static bool Sizable[WindowSlots];
// Its client size when it was last not minimised (a window that is not
// sizable keeps the one it opened with).
static SIZE ClientSize[WindowSlots];
// The commands the program added to each window's system menu.
static bool MenuCommand[WindowSlots][SystemMenuCommandCount];

// The smallest client area the operator can drag a sizable window to.
enum { MinimumClientWidth = 360, MinimumClientHeight = 240 };

// A system-menu command's identifier: the system keeps the low four bits
// of WM_SYSCOMMAND for itself and uses 0xF000 and above for its own
// commands; ours stay below 0x1000.
static UINT MenuItemId(int command) { return static_cast<UINT>(command) << 4; }

int Win32WindowNumber(HWND handle) {
  if (!handle) return -1;
  for (int i = 0; i < WindowSlots; ++i)
    if (Win32Windows[i] == handle) return i;
  return -1;
}

static HWND WindowHandle(int window) {
  if (window < 0 || window >= WindowSlots) return nullptr;
  return Win32Windows[window];
}

// ---------------------------------------------------------------------------
// Events found while messages are dispatched. A close request or a control
// use is kept in order; a timer that already waits here is not added again,
// as the system keeps at most one pending tick of a timer.
// ---------------------------------------------------------------------------

enum { EventSlots = 64 };
static PlatEvent Pending[EventSlots];
static int PendingFirst, PendingCount;

void Win32PushEvent(EventKind kind, int number) {
  // One waiting tick of a timer, one waiting resize of a window: dragging
  // the frame sends a resize for every step of the mouse.
  if (kind == EventTimer || kind == EventResize) {
    for (int i = 0; i < PendingCount; ++i) {
      const PlatEvent& e = Pending[(PendingFirst + i) % EventSlots];
      if (e.Kind == kind && e.Number == number) return;
    }
  }
  if (PendingCount == EventSlots) return;
  Pending[(PendingFirst + PendingCount) % EventSlots] = PlatEvent{kind, number};
  ++PendingCount;
}

void Win32DropEvents(EventKind kind, bool (*gone)(int number, int window),
                     int window) {
  int kept = 0;
  for (int i = 0; i < PendingCount; ++i) {
    const PlatEvent e = Pending[(PendingFirst + i) % EventSlots];
    if (e.Kind == kind && gone(e.Number, window)) continue;
    Pending[(PendingFirst + kept) % EventSlots] = e;
    ++kept;
  }
  PendingCount = kept;
}

static bool TakePending(PlatEvent* event) {
  if (PendingCount == 0) return false;
  *event = Pending[PendingFirst];
  PendingFirst = (PendingFirst + 1) % EventSlots;
  --PendingCount;
  return true;
}

// ---------------------------------------------------------------------------
// The window procedure
// ---------------------------------------------------------------------------

static void ControlCommand(WPARAM wParam, LPARAM lParam) {
  HWND from = reinterpret_cast<HWND>(lParam);
  if (!from) return;  // menu, accelerator, or the dialog keys Enter / Esc
  const Win32Control* c = Win32ControlOfHandle(from);
  if (!c || c->Handle != from) return;
  int code = HIWORD(wParam);
  bool used = false;
  switch (c->Kind) {
    case KindButton:
    case KindCheckBox:
      used = code == BN_CLICKED;
      break;
    case KindImageButton:
      // An owner-drawn button reports the second click of a double click
      // as a double click; for the operator it is one more click.
      used = code == BN_CLICKED || code == BN_DOUBLECLICKED;
      break;
    default:
      break;
  }
  if (used) Win32PushEvent(EventControl, LOWORD(wParam));
}

// An item the program added to the window's system menu: its command,
// else 0 (the system's own commands and anything else).
static int MenuCommandOf(int window, WPARAM wParam) {
  if (window < 0) return 0;
  UINT id = static_cast<UINT>(wParam) & 0xFFF0;
  int command = static_cast<int>(id >> 4);
  if (command <= 0 || command >= SystemMenuCommandCount) return 0;
  return MenuCommand[window][command] ? command : 0;
}

// The operator dragged a sizable window's frame, maximised or restored it.
static void Resized(HWND hwnd, int window, WPARAM kind, LPARAM lParam) {
  if (window < 0 || !Sizable[window] || kind == SIZE_MINIMIZED) return;
  InvalidateRect(hwnd, nullptr, TRUE);
  SIZE now = {LOWORD(lParam), HIWORD(lParam)};
  if (now.cx == ClientSize[window].cx && now.cy == ClientSize[window].cy)
    return;
  ClientSize[window] = now;
  Win32PushEvent(EventResize, window);
}

// The outer size that gives a sizable window its smallest client area.
static void MinimumTrackSize(HWND hwnd, MINMAXINFO* info) {
  RECT outer = {0, 0, MinimumClientWidth, MinimumClientHeight};
  AdjustWindowRectEx(
      &outer, static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_STYLE)), FALSE,
      static_cast<DWORD>(GetWindowLongPtrA(hwnd, GWL_EXSTYLE)));
  info->ptMinTrackSize.x = outer.right - outer.left;
  info->ptMinTrackSize.y = outer.bottom - outer.top;
}

LRESULT CALLBACK Win32WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                 LPARAM lParam) {
  int window = Win32WindowNumber(hwnd);
  switch (message) {
    case WM_COMMAND:
      ControlCommand(wParam, lParam);
      return 0;
    case WM_TIMER:
      Win32PushEvent(EventTimer, static_cast<int>(wParam));
      return 0;
    case WM_CLOSE:
      // The program decides what a close request means; the window stays.
      if (window >= 0) Win32PushEvent(EventClose, window);
      return 0;
    case WM_SYSCOMMAND: {
      int command = MenuCommandOf(window, wParam);
      if (command) {
        Win32PushEvent(EventMenu, command);
        return 0;
      }
      break;
    }
    case WM_SIZE:
      Resized(hwnd, window, wParam, lParam);
      break;
    case WM_GETMINMAXINFO:
      // Sent while the window is made too, before it has its number.
      if (GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_THICKFRAME) {
        MinimumTrackSize(hwnd, reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
      }
      break;
    case WM_ERASEBKGND:
      // A window with a drawing paints its background with it.
      if (window >= 0 && Win32HasDrawing(window)) return 1;
      break;
    case WM_PAINT:
      if (window >= 0 && Win32HasDrawing(window)) {
        Win32PaintDrawing(hwnd, window);
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC: {
      const Win32Control* c =
          Win32ControlOfHandle(reinterpret_cast<HWND>(lParam));
      if (c && c->Kind == KindLabel && c->HasTextColour) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, c->TextColour);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    }
    case WM_DRAWITEM: {
      const DRAWITEMSTRUCT* item =
          reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      const Win32Control* c = Win32ControlOfHandle(item->hwndItem);
      if (c && c->Kind == KindImageButton) {
        Win32DrawImageButton(item);
        return TRUE;
      }
      break;
    }
    case WM_QUERYENDSESSION:
      // The guard never holds up the end of a session.
      return TRUE;
    case WM_ENDSESSION:
      Win32SessionEnding(wParam != FALSE, lParam);
      return 0;
    case WM_POWERBROADCAST:
      // Counted for the program, which looks at it on its next pass; the
      // system is told at once that nothing stands in the way.
      Win32PowerMessage(wParam);
      return TRUE;
    case WM_ACTIVATE:
      if (window < 0) break;
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd, focus)) SavedFocus[window] = focus;
      } else if (SavedFocus[window] && IsWindow(SavedFocus[window]) &&
                 IsChild(hwnd, SavedFocus[window])) {
        SetFocus(SavedFocus[window]);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------------

static DWORD FrameStyle(WindowFrame frame) {
  if (frame == FrameMain) return WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  if (frame == FrameSizable) return WS_OVERLAPPEDWINDOW;
  return WS_CAPTION;
}

// What the window with this number had: it closes or opens anew.
static void ForgetWindowState(int window) {
  Sizable[window] = false;
  ClientSize[window] = SIZE{0, 0};
  for (bool& added : MenuCommand[window]) added = false;
  Win32ForgetDrawing(window);
}

bool PlatOpenWindow(int window, WindowFrame frame, const Text& title,
                    int clientWidth, int clientHeight, bool centred, int x,
                    int y) {
  if (window < 0 || window >= WindowSlots) return false;
  if (Win32Windows[window]) PlatCloseWindow(window);

  DWORD style = FrameStyle(frame);
  RECT outer = {0, 0, clientWidth, clientHeight};
  AdjustWindowRect(&outer, style, FALSE);
  int width = outer.right - outer.left;
  int height = outer.bottom - outer.top;
  if (centred) {
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (width > screenWidth) width = screenWidth;
    if (height > screenHeight) height = screenHeight;
    x = (screenWidth - width) / 2;
    y = (screenHeight - height) / 2;
  }

  HWND hwnd =
      CreateWindowExA(0, Win32WindowClass, title.c_str(), style, x, y, width,
                      height, nullptr, nullptr, Win32Instance, nullptr);
  if (!hwnd) return false;
  Win32Windows[window] = hwnd;
  SavedFocus[window] = nullptr;
  ForgetWindowState(window);
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  RECT client;
  GetClientRect(hwnd, &client);
  ClientSize[window] = SIZE{client.right, client.bottom};
  Sizable[window] = frame == FrameSizable;
  return true;
}

static bool ControlOfWindow(int number, int window) {
  const Win32Control* c = Win32FindControl(number);
  return c && c->Window == window;
}

static bool TimerOfWindow(int number, int window) {
  return number == TimerOf[window];
}

static void ForgetControlsOf(int window) {
  for (int i = 0; i < ControlSlots; ++i) {
    Win32Control& c = Win32Controls[i];
    if (c.Handle && c.Window == window) c = Win32Control{};
  }
}

void PlatCloseWindow(int window) {
  HWND hwnd = WindowHandle(window);
  if (!hwnd) return;
  // What its controls and its timer raised goes with them.
  Win32DropEvents(EventControl, ControlOfWindow, window);
  Win32DropEvents(EventTimer, TimerOfWindow, window);
  TimerOf[window] = 0;
  // Tooltips belong to the window and go with it.
  DestroyWindow(hwnd);
  Win32Windows[window] = nullptr;
  SavedFocus[window] = nullptr;
  ForgetWindowState(window);
  ForgetControlsOf(window);
  Win32FreeRichEditIfReleased();
}

void PlatCloseAllWindows() {
  for (int i = 0; i < WindowSlots; ++i) PlatCloseWindow(i);
}

bool PlatWindowIsOpen(int window) {
  HWND hwnd = WindowHandle(window);
  return hwnd && IsWindow(hwnd);
}

bool PlatWindowOuterPosition(int window, int* x, int* y) {
  HWND hwnd = WindowHandle(window);
  RECT r;
  if (!hwnd || !GetWindowRect(hwnd, &r)) return false;
  *x = r.left;
  *y = r.top;
  return true;
}

void PlatEraseOnlyOutsideControls(int window) {
  HWND hwnd = WindowHandle(window);
  if (!hwnd) return;
  LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE);
  if (!(style & WS_CLIPCHILDREN))
    SetWindowLongPtrA(hwnd, GWL_STYLE, style | WS_CLIPCHILDREN);
}

bool PlatAddTimer(int window, int timer, int intervalMs) {
  HWND hwnd = WindowHandle(window);
  if (!hwnd || timer <= 0 || intervalMs <= 0) return false;
  if (TimerOf[window]) {
    KillTimer(hwnd, static_cast<UINT_PTR>(TimerOf[window]));
    Win32DropEvents(EventTimer, TimerOfWindow, window);
    TimerOf[window] = 0;
  }
  if (!SetTimer(hwnd, static_cast<UINT_PTR>(timer),
                static_cast<UINT>(intervalMs), nullptr))
    return false;
  TimerOf[window] = timer;
  return true;
}

bool PlatWindowClientSize(int window, int* width, int* height) {
  HWND hwnd = WindowHandle(window);
  RECT client;
  *width = *height = 0;
  if (!hwnd || !GetClientRect(hwnd, &client)) return false;
  if (IsIconic(hwnd)) {
    // A minimised window has no client area; it gets back the last one.
    *width = ClientSize[window].cx;
    *height = ClientSize[window].cy;
    return true;
  }
  *width = client.right;
  *height = client.bottom;
  return true;
}

void PlatBringToFront(int window) {
  HWND hwnd = WindowHandle(window);
  if (!hwnd) return;
  if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
  SetForegroundWindow(hwnd);
  BringWindowToTop(hwnd);
  SetActiveWindow(hwnd);
}

bool PlatWindowIsActive(int window) {
  HWND hwnd = WindowHandle(window);
  // The foreground window is the system's, the active one our thread's.
  return hwnd && GetForegroundWindow() == hwnd && GetActiveWindow() == hwnd;
}

void PlatFlashUntilActive(int window) {
  HWND hwnd = WindowHandle(window);
  if (!hwnd || PlatWindowIsActive(window)) return;
  FLASHWINFO flash;
  ZeroMemory(&flash, sizeof flash);
  flash.cbSize = sizeof flash;
  flash.hwnd = hwnd;
  flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
  FlashWindowEx(&flash);
}

bool PlatAddSystemMenuItem(int window, int command, const Text& text) {
  HWND hwnd = WindowHandle(window);
  if (!hwnd || command <= 0 || command >= SystemMenuCommandCount) return false;
  if (MenuCommand[window][command]) return false;
  if (!(GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_SYSMENU)) return false;
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  if (!menu || !AppendMenuA(menu, MF_SEPARATOR, 0, nullptr)) return false;
  if (!AppendMenuA(menu, MF_STRING, MenuItemId(command), text.c_str())) {
    RemoveMenu(menu, static_cast<UINT>(GetMenuItemCount(menu) - 1),
               MF_BYPOSITION);
    return false;
  }
  MenuCommand[window][command] = true;
  return true;
}

// ---------------------------------------------------------------------------
// The event wait
// ---------------------------------------------------------------------------

// A rich-text box would keep Tab for itself; in the program's windows Tab
// and Shift+Tab leave it for the next or previous control, as elsewhere.
static bool TabOutOfRichText(HWND root, const MSG* msg) {
  if (msg->message != WM_KEYDOWN || msg->wParam != VK_TAB) return false;
  if (GetKeyState(VK_CONTROL) < 0) return false;
  const Win32Control* c = Win32ControlOfHandle(msg->hwnd);
  if (!c || c->Kind != KindRichText) return false;
  HWND next = GetNextDlgTabItem(root, msg->hwnd, GetKeyState(VK_SHIFT) < 0);
  if (next) SetFocus(next);
  return true;
}

// Keyboard navigation (Tab, Shift+Tab, the arrows of a spin field) works
// as in a dialog for every window of the program.
static void Dispatch(MSG* msg) {
  HWND root = msg->hwnd ? GetAncestor(msg->hwnd, GA_ROOT) : nullptr;
  if (root && Win32WindowNumber(root) >= 0) {
    if (TabOutOfRichText(root, msg)) return;
    if (IsDialogMessageA(root, msg)) return;
  }
  TranslateMessage(msg);
  DispatchMessageA(msg);
}

// Peeking delivers the messages sent to the windows (by the system or
// another program); paint messages are taken and dispatched. Input and
// timer messages are not looked at: they stay queued for PlatWaitEvent.
void PlatServeWindows() {
  MSG msg;
  for (int i = 0; i < 64; ++i) {
    if (!PeekMessageA(&msg, nullptr, 0, 0,
                      PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE))
      return;
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    DispatchMessageA(&msg);
  }
}

PlatEvent PlatWaitEvent(int maxMs) {
  PlatEvent event;
  if (TakePending(&event)) return event;

  MSG msg;
  bool got = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0;
  bool timedOut = false;
  if (!got) {
    // Peeking may have delivered messages sent by other threads.
    if (TakePending(&event)) return event;
    if (maxMs < 0) maxMs = 0;
    timedOut =
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(maxMs),
                                  QS_ALLINPUT) == WAIT_TIMEOUT;
    got = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0;
  }
  if (got) {
    if (msg.message == WM_QUIT) return PlatEvent{EventOther, 0};
    Dispatch(&msg);
  }
  if (TakePending(&event)) return event;
  return PlatEvent{got || !timedOut ? EventOther : EventNone, 0};
}
