// What the parts of the Windows platform layer share: the instance, the
// tables of windows and controls, the fonts and the picture, and the queue
// of events the window procedure fills for PlatWaitEvent.
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/resource_ids.h"

extern HINSTANCE Win32Instance;

// Window numbers 0 .. WindowSlots-1, control numbers 0 .. ControlSlots-1.
enum { WindowSlots = PlatWindowCount, ControlSlots = PlatControlCount };

struct Win32Control {
  HWND Handle;   // the control; for a spin control its number field
  HWND Arrows;   // the up-down arrows of a spin control
  HWND Tooltip;  // its tooltip window, once it has one
  int Window;
  ControlKind Kind;
  int Properties;
  bool HasTextColour;
  COLORREF TextColour;
};

// The control table lives on the program's private heap once that exists.
extern Win32Control* Win32Controls;
extern HWND Win32Windows[WindowSlots];

// nullptr when `number` is outside the table or names no live control.
Win32Control* Win32FindControl(int number);
Win32Control* Win32ControlOfHandle(HWND handle);
// -1 when `handle` is none of the program's top-level windows.
int Win32WindowNumber(HWND handle);

// A function of a system DLL the program needs only now and then (the save
// dialog's, the shell's), the DLL loaded from the system folder at its
// first use and kept: it is not mapped into the program, with what it
// brings along, until then. nullptr when the DLL or the function is
// missing.
FARPROC Win32SystemFunction(const char* dll, const char* name);

// The font every new control gets (the platform's GUI font when none was
// made the default).
HFONT Win32DefaultFont();

// The board picture, or nullptr when it could not be loaded.
HBITMAP Win32Picture(int* width, int* height);

// Events found by the window procedure, taken by PlatWaitEvent.
void Win32PushEvent(EventKind kind, int number);
// Drops the waiting events of one kind whose number `gone` says.
void Win32DropEvents(EventKind kind, bool (*gone)(int number, int window),
                     int window);

// A loop of the system's own begins or ends on the program's thread (a
// menu, a move or size, the save dialog, a message box): while one runs,
// the modal service is called on a timer of its own. They nest.
void Win32EnterModalLoop();
void Win32LeaveModalLoop();

// WM_ENDSESSION (session.cpp): tells the program once, when `ending`.
void Win32SessionEnding(bool ending, LPARAM how);
// A WM_POWERBROADCAST the system sent (power.cpp): its event.
void Win32PowerMessage(WPARAM event);

// The window procedure of every top-level window of the program.
LRESULT CALLBACK Win32WindowProc(HWND window, UINT message, WPARAM wParam,
                                 LPARAM lParam);
extern const char Win32WindowClass[];

// The picture button's face (WM_DRAWITEM).
void Win32DrawImageButton(const DRAWITEMSTRUCT* item);

// Rich-edit library: loaded at start, freed once no window needs it.
void Win32FreeRichEditIfReleased();

// A window's drawing (drawing.cpp). Forgets what `window` drew: it closed
// or opens anew.
void Win32ForgetDrawing(int window);
// Whether the window paints a drawing of its own: from its first
// PlatShowDrawing until it closes. Such a window paints its whole client
// area itself, background included.
bool Win32HasDrawing(int window);
// Paints the window's drawing (WM_PAINT).
void Win32PaintDrawing(HWND hwnd, int window);
