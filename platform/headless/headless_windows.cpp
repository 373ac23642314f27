// Headless stand-in: the program's windows and their controls, the
// keyboard focus, and the operator's actions on them. The model follows
// the real window system wherever the program relies on it: a trackbar
// keeps its value inside its range, a spin control's arrows step within
// theirs, a disabled control takes no clicks, a check box toggles itself,
// and a closed window's controls are gone.

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/headless/headless_internal.h"

namespace {

// The frame both window styles get around their client area (a caption
// bar on a fixed dialog frame), in the classic metrics at 96 dpi: 3 pixels
// of frame on every side and a 19-pixel caption bar above the client area.
constexpr int FrameSide = 3;
constexpr int CaptionHeight = 19;
constexpr int FrameExtraWidth = 2 * FrameSide;
constexpr int FrameExtraHeight = 2 * FrameSide + CaptionHeight;

// A fresh trackbar, progress bar or spin control has this range.
constexpr int DefaultMin = 0;
constexpr int DefaultMax = 100;

struct WindowEntry {
  HeadlessWindow Shown;
  std::vector<int> Controls;  // creation order
  int RememberedFocus;        // focus while the window was not active
};

struct WindowModel {
  std::map<int, WindowEntry> Windows;
  std::map<int, HeadlessControl> Controls;
  int Focus = 0;
  // Open windows, the active one last.
  std::vector<int> Activation;
  int ScreenWidth = 1024;
  int ScreenHeight = 768;
  // The operator works in another program: none of ours is active.
  bool OtherProgramActive = false;
};

WindowModel Model;

HeadlessControl* Find(int number) {
  auto it = Model.Controls.find(number);
  return it == Model.Controls.end() ? nullptr : &it->second;
}

WindowEntry* FindOpen(int window) {
  if (window < 0 || window >= PlatWindowCount) return nullptr;
  auto it = Model.Windows.find(window);
  if (it == Model.Windows.end() || !it->second.Shown.Open) return nullptr;
  return &it->second;
}

int Clamp(int value, int min, int max) {
  if (value < min) value = min;
  if (value > max) value = max;
  return value;
}

bool HasText(ControlKind kind) {
  return kind == KindLabel || kind == KindButton || kind == KindEdit ||
         kind == KindSpin || kind == KindRichText;
}

bool TakesFocus(ControlKind kind) {
  return kind != KindLabel && kind != KindProgressBar;
}

// The rich-text box keeps its paragraphs apart with a carriage return;
// line feeds, alone or after a carriage return, become one.
Text RichLines(const Text& text) {
  Text out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\n') {
      if (i == 0 || text[i - 1] != '\r') out += '\r';
    } else {
      out += text[i];
    }
  }
  return out;
}

// The spin control reads its number from the field when the field holds a
// whole decimal number inside the range; otherwise it keeps the last one.
bool FieldNumber(const HeadlessControl& c, int* value) {
  const char* start = c.Content.c_str();
  while (*start == ' ' || *start == '\t') start++;
  if (!*start) return false;
  char* end = nullptr;
  long n = strtol(start, &end, 10);
  if (*end || end == start || n < c.Min || n > c.Max) return false;
  *value = (int)n;
  return true;
}

int SpinPosition(const HeadlessControl& c) {
  int value = c.Value;
  FieldNumber(c, &value);
  return value;
}

void Activate(int window) {
  Model.OtherProgramActive = false;
  auto it = Model.Windows.find(window);
  if (it != Model.Windows.end()) it->second.Shown.Flashing = false;
  if (!Model.Activation.empty() && Model.Activation.back() != window) {
    WindowEntry* previous = FindOpen(Model.Activation.back());
    if (previous) previous->RememberedFocus = Model.Focus;
  }
  Model.Activation.erase(
      std::remove(Model.Activation.begin(), Model.Activation.end(), window),
      Model.Activation.end());
  Model.Activation.push_back(window);
}

void Focus(const HeadlessControl& c) {
  if (Model.Activation.empty() || Model.Activation.back() != c.Window)
    Activate(c.Window);
  Model.Focus = c.Number;
}

void CloseWindow(WindowEntry& entry) {
  int window = entry.Shown.Number;
  for (int number : entry.Controls) {
    if (Model.Focus == number) Model.Focus = 0;
    Model.Controls.erase(number);
  }
  HeadlessDropControlEvents(entry.Controls);
  HeadlessStopTimer(window);
  entry.Controls.clear();
  entry.Shown.Open = false;
  entry.Shown.Flashing = false;
  HeadlessForgetDrawing(window);
  entry.Shown.Timer = 0;
  entry.Shown.TimerInterval = 0;

  bool wasActive =
      !Model.Activation.empty() && Model.Activation.back() == window;
  Model.Activation.erase(
      std::remove(Model.Activation.begin(), Model.Activation.end(), window),
      Model.Activation.end());
  if (!wasActive || Model.Activation.empty()) return;
  // The window that comes to the front gives its focus back.
  WindowEntry* next = FindOpen(Model.Activation.back());
  HeadlessControl* c = next ? Find(next->RememberedFocus) : nullptr;
  Model.Focus =
      c && c->Enabled && c->Window == next->Shown.Number ? c->Number : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared with the other pieces
// ---------------------------------------------------------------------------

void HeadlessResetWindows() { Model = WindowModel(); }

std::vector<int> HeadlessOpenWindowNumbers() {
  std::vector<int> open;
  for (const auto& entry : Model.Windows)
    if (entry.second.Shown.Open) open.push_back(entry.first);
  return open;
}

// ---------------------------------------------------------------------------
// Test API
// ---------------------------------------------------------------------------

const HeadlessControl* HeadlessFindControl(int number) { return Find(number); }

const HeadlessWindow* HeadlessFindWindow(int number) {
  auto it = Model.Windows.find(number);
  return it == Model.Windows.end() ? nullptr : &it->second.Shown;
}

std::vector<int> HeadlessCreationOrder(int window) {
  auto it = Model.Windows.find(window);
  return it == Model.Windows.end() ? std::vector<int>() : it->second.Controls;
}

int HeadlessFocus() { return Model.Focus; }

void HeadlessSetScreenSize(int width, int height) {
  Model.ScreenWidth = width;
  Model.ScreenHeight = height;
}

bool HeadlessPostClick(int number) {
  HeadlessControl* c = Find(number);
  if (!c || !c->Enabled || !TakesFocus(c->Kind)) return false;
  Focus(*c);
  if (c->Kind == KindCheckBox) c->Checked = !c->Checked;
  if (c->Kind == KindButton || c->Kind == KindCheckBox ||
      c->Kind == KindImageButton)
    HeadlessQueueEvent(EventControl, number);
  return true;
}

void HeadlessTypeText(int number, const Text& text) {
  HeadlessControl* c = Find(number);
  if (!c || !c->Enabled) return;
  if (c->Kind == KindEdit || c->Kind == KindSpin) {
    c->Content = text;
  } else if (c->Kind == KindRichText && !(c->Properties & PropReadOnly)) {
    c->Content = RichLines(text);
  } else {
    return;
  }
  Focus(*c);
}

void HeadlessMoveTrackbar(int number, int value) {
  HeadlessControl* c = Find(number);
  if (!c || !c->Enabled || c->Kind != KindTrackbar) return;
  Focus(*c);
  c->Value = Clamp(value, c->Min, c->Max);
}

void HeadlessPostClose(int window) { HeadlessQueueEvent(EventClose, window); }

void HeadlessPostOther() { HeadlessQueueEvent(EventOther, 0); }

bool HeadlessChooseSystemMenuItem(int window, int command) {
  WindowEntry* entry = FindOpen(window);
  if (!entry) return false;
  for (const auto& item : entry->Shown.SystemMenu) {
    if (item.first != command) continue;
    Activate(window);
    HeadlessQueueEvent(EventMenu, command);
    return true;
  }
  return false;
}

bool HeadlessResizeWindow(int window, int clientWidth, int clientHeight) {
  WindowEntry* entry = FindOpen(window);
  if (!entry || entry->Shown.Frame != FrameSizable) return false;
  HeadlessWindow& w = entry->Shown;
  w.ClientWidth = std::max(clientWidth, 0);
  w.ClientHeight = std::max(clientHeight, 0);
  w.OuterWidth = w.ClientWidth + FrameExtraWidth;
  w.OuterHeight = w.ClientHeight + FrameExtraHeight;
  HeadlessQueueEvent(EventResize, window);
  return true;
}

void HeadlessActivateOtherProgram() { Model.OtherProgramActive = true; }

void HeadlessActivateWindow(int window) {
  if (FindOpen(window)) Activate(window);
}

void HeadlessSpinStep(int number, int direction) {
  HeadlessControl* c = Find(number);
  if (!c || !c->Enabled || c->Kind != KindSpin || direction == 0) return;
  Focus(*c);  // the arrows hand the focus to their field
  int value =
      Clamp(SpinPosition(*c) + (direction > 0 ? 1 : -1), c->Min, c->Max);
  c->Value = value;
  c->Content = std::to_string(value);
}

// ---------------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------------

bool PlatOpenWindow(int window, WindowFrame frame, const Text& title,
                    int clientWidth, int clientHeight, bool centred, int x,
                    int y) {
  if (window < 0 || window >= PlatWindowCount) return false;
  if (frame == FrameMain && HeadlessFaultSettings().MainWindowFails)
    return false;
  WindowEntry* old = FindOpen(window);
  if (old) CloseWindow(*old);

  WindowEntry& entry = Model.Windows[window];
  int openCount = entry.Shown.OpenCount;
  entry = WindowEntry();
  HeadlessWindow& w = entry.Shown;
  w.Number = window;
  w.Open = true;
  w.Frame = frame;
  w.Title = title;
  w.OuterWidth = clientWidth + FrameExtraWidth;
  w.OuterHeight = clientHeight + FrameExtraHeight;
  w.X = x;
  w.Y = y;
  if (centred) {
    w.OuterWidth = std::min(w.OuterWidth, Model.ScreenWidth);
    w.OuterHeight = std::min(w.OuterHeight, Model.ScreenHeight);
    w.X = (Model.ScreenWidth - w.OuterWidth) / 2;
    w.Y = (Model.ScreenHeight - w.OuterHeight) / 2;
  }
  w.ClientWidth = w.OuterWidth - FrameExtraWidth;
  w.ClientHeight = w.OuterHeight - FrameExtraHeight;
  w.OpenCount = openCount + 1;
  HeadlessForgetDrawing(window);

  // A window that is shown comes to the front; it has no focused control
  // until one is given the focus.
  Activate(window);
  Model.Focus = 0;
  return true;
}

void PlatCloseWindow(int window) {
  WindowEntry* entry = FindOpen(window);
  if (entry) CloseWindow(*entry);
}

bool PlatWindowIsOpen(int window) { return FindOpen(window) != nullptr; }

bool PlatWindowOuterPosition(int window, int* x, int* y) {
  WindowEntry* entry = FindOpen(window);
  if (!entry) return false;
  *x = entry->Shown.X;
  *y = entry->Shown.Y;
  return true;
}

void PlatEraseOnlyOutsideControls(int window) {
  WindowEntry* entry = FindOpen(window);
  if (entry) entry->Shown.EraseOnlyOutsideControls = true;
}

bool PlatAddTimer(int window, int timer, int intervalMs) {
  WindowEntry* entry = FindOpen(window);
  if (!entry || timer <= 0 || intervalMs <= 0 ||
      HeadlessFaultSettings().TimerFails)
    return false;
  entry->Shown.Timer = timer;
  entry->Shown.TimerInterval = intervalMs;
  HeadlessStartTimer(window, timer, intervalMs);
  return true;
}

bool PlatWindowClientSize(int window, int* width, int* height) {
  WindowEntry* entry = FindOpen(window);
  *width = entry ? entry->Shown.ClientWidth : 0;
  *height = entry ? entry->Shown.ClientHeight : 0;
  return entry != nullptr;
}

void PlatBringToFront(int window) {
  if (FindOpen(window)) Activate(window);
}

bool PlatWindowIsActive(int window) {
  return FindOpen(window) && !Model.OtherProgramActive &&
         !Model.Activation.empty() && Model.Activation.back() == window;
}

void PlatFlashUntilActive(int window) {
  WindowEntry* entry = FindOpen(window);
  if (!entry || PlatWindowIsActive(window)) return;
  entry->Shown.Flashing = true;
  entry->Shown.FlashCount++;
}

bool PlatAddSystemMenuItem(int window, int command, const Text& text) {
  WindowEntry* entry = FindOpen(window);
  if (!entry || entry->Shown.Frame == FrameTitleOnly || command <= 0 ||
      command >= SystemMenuCommandCount)
    return false;
  for (const auto& item : entry->Shown.SystemMenu)
    if (item.first == command) return false;
  entry->Shown.SystemMenu.emplace_back(command, text);
  return true;
}

void PlatCloseAllWindows() {
  for (int window : HeadlessOpenWindowNumbers()) PlatCloseWindow(window);
}

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------

void PlatMoveControl(int number, int x, int y, int width, int height) {
  HeadlessControl* c = Find(number);
  if (!c) return;
  c->X = x;
  c->Y = y;
  c->Width = width;
  c->Height = height;
}

bool PlatCreateControl(int window, int number, ControlKind kind, int x, int y,
                       int width, int height, const Text& text,
                       int properties) {
  WindowEntry* entry = FindOpen(window);
  if (!entry || number < 0 || number >= PlatControlCount || Find(number))
    return false;
  HeadlessControl c{};
  c.Window = window;
  c.Number = number;
  c.Kind = kind;
  c.X = x;
  c.Y = y;
  c.Width = width;
  c.Height = height;
  c.Properties = properties;
  if (kind == KindRichText)
    c.Content = RichLines(text);
  else if (HasText(kind))
    c.Content = text;
  c.Enabled = true;
  c.Min = DefaultMin;
  c.Max = DefaultMax;
  // The number the arrows step from until they find one in the field.
  if (kind == KindSpin) c.Value = atoi(text.c_str());
  c.Font = HeadlessDefaultFont();
  c.CreationIndex = (int)entry->Controls.size();
  Model.Controls[number] = c;
  entry->Controls.push_back(number);
  return true;
}

void PlatSetText(int number, const Text& text) {
  HeadlessControl* c = Find(number);
  if (c && HasText(c->Kind))
    c->Content = c->Kind == KindRichText ? RichLines(text) : text;
}

Text PlatGetText(int number) {
  HeadlessControl* c = Find(number);
  return c ? c->Content : Text();
}

void PlatSetTextColour(int number, uint32_t colour) {
  HeadlessControl* c = Find(number);
  if (!c) return;
  c->HasTextColour = true;
  c->TextColour = colour;
}

void PlatEnable(int number, bool enabled) {
  HeadlessControl* c = Find(number);
  if (!c) return;
  c->Enabled = enabled;
  // A disabled control cannot keep the keyboard focus.
  if (!enabled && Model.Focus == number) Model.Focus = 0;
}

bool PlatIsEnabled(int number) {
  HeadlessControl* c = Find(number);
  return c && c->Enabled;
}

void PlatSetTooltip(int number, const Text& text) {
  HeadlessControl* c = Find(number);
  if (c) c->Tooltip = text;
}

void PlatUseSystemFont(int number) {
  HeadlessControl* c = Find(number);
  if (c) c->SystemFont = true;
}

void PlatSetFocus(int number) {
  HeadlessControl* c = Find(number);
  if (c && c->Enabled) Focus(*c);
}

void PlatSetRange(int number, int min, int max) {
  HeadlessControl* c = Find(number);
  if (!c || min > max) return;
  if (c->Kind != KindTrackbar && c->Kind != KindProgressBar &&
      c->Kind != KindSpin)
    return;
  c->Min = min;
  c->Max = max;
  if (c->Kind != KindSpin) c->Value = Clamp(c->Value, min, max);
}

void PlatSetValue(int number, int value) {
  HeadlessControl* c = Find(number);
  if (!c) return;
  if (c->Kind == KindTrackbar || c->Kind == KindProgressBar)
    c->Value = Clamp(value, c->Min, c->Max);
}

int PlatGetValue(int number) {
  HeadlessControl* c = Find(number);
  if (!c) return 0;
  if (c->Kind == KindTrackbar || c->Kind == KindProgressBar) return c->Value;
  return 0;
}

void PlatSetBarColour(int number, uint32_t colour) {
  HeadlessControl* c = Find(number);
  if (!c) return;
  c->HasBarColour = true;
  c->BarColour = colour;
}

void PlatSetChecked(int number, bool checked) {
  HeadlessControl* c = Find(number);
  if (c && c->Kind == KindCheckBox) c->Checked = checked;
}

bool PlatIsChecked(int number) {
  HeadlessControl* c = Find(number);
  return c && c->Kind == KindCheckBox && c->Checked;
}

void PlatRichClear(int number) {
  HeadlessControl* c = Find(number);
  if (c && c->Kind == KindRichText) c->Content.clear();
}

void PlatRichSetColour(int number, uint32_t colour) {
  HeadlessControl* c = Find(number);
  if (!c || c->Kind != KindRichText) return;
  c->HasTextColour = true;
  c->TextColour = colour;
}

void PlatRichAppend(int number, const Text& line) {
  HeadlessControl* c = Find(number);
  if (!c || c->Kind != KindRichText) return;
  if (!c->Content.empty()) c->Content += '\r';
  c->Content += RichLines(line);
}
