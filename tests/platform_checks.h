// The contract of platform/platform.h as checks, written once and run on
// both platform layers: natively on the headless one under GoogleTest
// (tests/platform_conformance_test.cpp) and on the Windows one under Wine
// (tests/wine/platform_conformance.cpp, run by tests/wine/test_platform.sh).
//
// A check uses platform.h and the hands below, nothing else: each layer
// gives them through a thin adapter.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

struct PlatformHands {
  // Back to a program with no window, no control and no waiting event.
  void (*Fresh)();
  // The operator: a click with the mouse (false when the control takes
  // none), typing that replaces a field's text, one press of the up (+1)
  // or down (-1) arrow of a spin control, the close box of a window.
  bool (*Click)(int number);
  void (*Type)(int number, const Text& text);
  void (*SpinStep)(int number, int direction);
  void (*RequestClose)(int window);
  // The board's end of one loopback connection. Listen returns the port
  // (0 on failure); Accept takes the connection the program made to it;
  // Send sends bytes, as urgent (out-of-band) data when asked.
  int (*Listen)();
  bool (*Accept)();
  bool (*Send)(const void* bytes, int length, bool urgent);
  void (*Close)();
  // Bytes that have arrived on `socket` and wait to be received, once
  // there are `wanted` or two seconds have passed.
  int (*Arrived)(PlatSocket socket, int wanted);
  // The operator chooses the item with `text` in the window's system menu
  // (false when the menu has none), or drags the frame of a sizable window
  // to a new client size (false when it has no such frame).
  bool (*ChooseMenuItem)(int window, const Text& text);
  bool (*Resize)(int window, int clientWidth, int clientHeight);
  // Where a control stands in its window's client area, as the operator
  // sees it (a spin control: its field and arrows together); false when
  // there is no such control.
  bool (*ControlPlace)(int number, int* x, int* y, int* width, int* height);
  // A folder that exists, may be written and holds no file, new for each
  // call; no separator at its end.
  Text (*ScratchFolder)();
  // A script in `folder` that writes each of its arguments on a line of
  // the file "argumente.txt" beside it, and ends; its path.
  Text (*ArgumentScript)(const Text& folder);
  // The lines that script wrote in `folder`, once there are `count` of
  // them or ten seconds have passed; false when there are not so many.
  bool (*ScriptArguments)(const Text& folder, size_t count,
                          std::vector<Text>* arguments);
};

extern const PlatformHands* Hands;

struct PlatformCheck {
  const char* Name;
  void (*Run)();
};

extern const PlatformCheck PlatformChecks[];
extern const int PlatformCheckCount;

// What failed in the check that ran last ("file:line: what").
std::vector<std::string>& PlatformCheckFailures();
// Runs check `index` from a fresh program; true when nothing failed.
bool RunPlatformCheck(int index);
