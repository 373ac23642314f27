// kvx-drive: works the program's windows from outside, for the end-to-end
// tests under Wine. Finds a top-level window by its exact title and its
// controls by number; no screen coordinates, no synthetic mouse.
//
//   kvx-drive wait TITLE [MS]          the window is visible (within MS)
//   kvx-drive gone TITLE [MS]          no window with that title (within MS)
//   kvx-drive text TITLE N             control N's text, as it is
//   kvx-drive hex TITLE N              control N's text as hex bytes
//   kvx-drive settext TITLE N TEXT     replaces control N's text (once it
//                                      is usable), until it reads so
//   kvx-drive click TITLE N [MS]       clicks button N once it is usable:
//                                      a greyed one is waited for (within
//                                      MS, default 15000), then refused
//   kvx-drive press TITLE N 1|0        shows button N held down / released
//   kvx-drive trackbar TITLE N [V]     sets (once it is usable, until it
//                                      stands there), then prints trackbar
//                                      N's "VALUE RAW MIN MAX" (the value of
//                                      a vertical one reads max at the top)
//   kvx-drive progress TITLE N         "POS MIN MAX" of progress bar N
//   kvx-drive checked TITLE N          1 when check box N is ticked, else 0
//   kvx-drive enabled TITLE N          1 when control N is enabled, else 0
//   kvx-drive exists TITLE N           1 when control N exists, else 0
//   kvx-drive rect TITLE [N]           outer "LEFT TOP RIGHT BOTTOM" of the
//                                      window or of control N, on the screen
//   kvx-drive client TITLE             client "WIDTH HEIGHT"
//   kvx-drive origin TITLE             client top-left on the screen "X Y"
//   kvx-drive style TITLE [N]          window style bits of the window or
//                                      control N, as hex: "STYLE EXSTYLE"
//   kvx-drive focus TITLE              number of the focused control, 0: none
//   kvx-drive key TITLE N KEY          posts KEY (tab up down space) to
//                                      control N (0: the focused one)
//   kvx-drive close TITLE              close request (as the close box)
//   kvx-drive endsession TITLE [HOW]   ends the session for the window as
//                                      Windows does: asks first
//                                      (WM_QUERYENDSESSION), then tells it
//                                      (WM_ENDSESSION), both with HOW as
//                                      lParam (0: shut down; 1: closed for
//                                      an update; 0x40000000: critical;
//                                      0x80000000: log off); prints the
//                                      answer to the question (1: yes) and
//                                      the ms the window took for the end
//   kvx-drive syscommand TITLE ID      chooses the item of the window's
//                                      system menu with identifier ID, as
//                                      the menu does (posts WM_SYSCOMMAND);
//                                      Wine lets no other process read a
//                                      window's menu, so the item is named
//                                      by its identifier, not its text
//   kvx-drive power TITLE EVENT        sends the system's power message
//                                      (WM_POWERBROADCAST) as Windows does
//                                      around a sleep: EVENT suspend or
//                                      resume (PBT_APMSUSPEND,
//                                      PBT_APMRESUMEAUTOMATIC)
//   kvx-drive count TITLE              how many visible top-level windows
//                                      have that title
//   kvx-drive front                    title of the foreground window
//                                      (empty line: none)
//   kvx-drive activate TITLE           brings the window to the front, as
//                                      a click on it would, until it is
//   kvx-drive show TITLE min|max|restore  minimises, maximises, restores,
//                                      until the window is so
//   kvx-drive size TITLE W H           gives the window the client size
//                                      W x H, as dragging its frame would,
//                                      until it has it (or the size nearest
//                                      to it that the window allows)
//   kvx-drive windows [TITLE]          visible top-level windows (of the
//                                      process owning TITLE): "PID<TAB>TITLE"
//   kvx-drive msgbox TITLE [MS]        text of the message box TITLE
//   kvx-drive ok TITLE [MS]            presses OK on message box TITLE
//   kvx-drive save TITLE PATH [MS]     in the save dialog TITLE: types
//                                      PATH as the file name and presses
//                                      the dialog's save button
//   kvx-drive watch TITLE N MS         reads control N's text every 100 ms
//                                      for MS: one line "T<TAB>TEXT" per
//                                      change (T: ms from the start), then
//                                      "samples=S changes=C answer=A
//                                      unchanged=U" (A: longest wait for
//                                      an answer, U: longest time without
//                                      a change, both ms)
//   kvx-drive probe TITLE N COUNT MS   reads control N's text COUNT times,
//                                      MS apart, each answered within 2 s
//                                      (else exit 5): one line "T<TAB>TEXT"
//                                      per change, as watch, then
//                                      "probes=P answer=A" (A: longest
//                                      wait for an answer, ms)
//   kvx-drive open-description COUNT   COUNT times: opens the description
//                                      window (picture 100), waits for it,
//                                      closes it (button 95), waits until
//                                      it is gone; prints "done COUNT MS"
//   kvx-drive console COUNT TEXT       COUNT times: sends TEXT from the
//                                      console, waits for its exchange in
//                                      box 98, then shows the command
//                                      summary and waits for it; prints
//                                      "done COUNT MS"
//   kvx-drive resources TITLE          of the process owning TITLE: "gdi=G
//                                      user=U windows=W children=C
//                                      handles=H" (G, U from
//                                      GetGuiResources, -1 when the system
//                                      has no figure; W its top-level
//                                      windows, C their child windows; H
//                                      its kernel handles, -1: unknown)
//   kvx-drive serve                    runs the commands read from its
//                                      input, one after the other: each is
//                                      its argument count and arguments,
//                                      every one ended by a zero byte; the
//                                      answer is a line "EXIT LENGTH", then
//                                      LENGTH bytes of the command's output
//                                      (saves starting a process for each)
//
// TITLE is the title's bytes (Windows-1252) with \xNN escapes, or one of
// @main, @notice, @description, @problem, the program's own titles.
// A command on control N waits for the control to be there (a window
// shows before its controls are made), for ReadMs; "exists" tells at
// once. The commands that act (click, settext, trackbar with a value,
// press, size, show, activate) wait for their window and control for
// ActMs, and a control greyed meanwhile (the program greys its buttons
// while it works for a click) is waited for as long.
// Exit codes: 0 done, 1 usage, 2 window not found, 3 control not found,
// 4 control disabled, 5 the window did not answer.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum {
  Done = 0,
  Usage = 1,
  NoWindow = 2,
  NoControl = 3,
  Disabled = 4,
  NoAnswer = 5
};

const DWORD AnswerMs = 15000;  // longest wait for the program to answer
// Longest wait of an action for its window, its control, for the control
// to be usable and for the action to show.
const DWORD ActMs = 15000;
// Longest wait of a command that reads a control for that control.
const DWORD ReadMs = 5000;
// Longest wait for an answer to a probe: a program that serves its windows
// answers within a few ms, one that does not answer never.
const DWORD ProbeAnswerMs = 2000;

// A command's output, written out when it is done.
std::string Out;

void Print(const char* format, ...) {
  char buf[1024];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof buf) {
    Out.append(buf, n);
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  vsnprintf(&big[0], big.size(), format, args);
  va_end(args);
  Out.append(big.data(), n);
}

// Polls until `done` holds, at most `ms`.
template <typename Condition>
bool WaitUntil(DWORD ms, Condition done) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= ms) return false;
    Sleep(20);
  }
}

std::string DecodeTitle(const char* arg) {
  if (!strcmp(arg, "@main"))
    return "KORVALINEX-Steuerprogramm für einen Brunnen mit Trockenlauf und "
           "Alarm ";
  if (!strcmp(arg, "@notice")) return "KORVALINEX: Meldung";
  if (!strcmp(arg, "@description"))
    return "KORVALINEX: Infos zum KORVALINEX-Board";
  if (!strcmp(arg, "@problem")) return "KORVALINEX: Problem";
  std::string out;
  for (const char* p = arg; *p; ++p) {
    if (p[0] == '\\' && p[1] == 'x' && isxdigit((unsigned char)p[2]) &&
        isxdigit((unsigned char)p[3])) {
      char hex[3] = {p[2], p[3], 0};
      out += static_cast<char>(strtol(hex, nullptr, 16));
      p += 3;
    } else {
      out += *p;
    }
  }
  return out;
}

// Titles are compared as text of the Windows-1252 code page, whatever the
// code page of this process.
std::wstring Wide1252(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  int n =
      MultiByteToWideChar(1252, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(1252, 0, bytes.data(), (int)bytes.size(), &w[0], n);
  return w;
}

std::wstring TitleOf(HWND w) {
  wchar_t buf[512];
  int n = GetWindowTextW(w, buf, 512);
  return std::wstring(buf, n > 0 ? n : 0);
}

std::string ClassOf(HWND w) {
  char buf[128];
  int n = GetClassNameA(w, buf, sizeof buf);
  return std::string(buf, n > 0 ? n : 0);
}

struct Search {
  std::wstring Title;
  bool VisibleOnly;
  bool DialogOnly;
  HWND Found;
};

BOOL CALLBACK MatchWindow(HWND w, LPARAM p) {
  Search* s = reinterpret_cast<Search*>(p);
  if (s->VisibleOnly && !IsWindowVisible(w)) return TRUE;
  if (s->DialogOnly && ClassOf(w) != "#32770") return TRUE;
  if (TitleOf(w) != s->Title) return TRUE;
  s->Found = w;
  return FALSE;
}

struct TitleCount {
  std::wstring Title;
  int Count;
};

BOOL CALLBACK CountTitle(HWND w, LPARAM p) {
  TitleCount* c = reinterpret_cast<TitleCount*>(p);
  if (IsWindowVisible(w) && TitleOf(w) == c->Title) ++c->Count;
  return TRUE;
}

int CountTitled(const std::string& title) {
  TitleCount c{Wide1252(title), 0};
  EnumWindows(CountTitle, reinterpret_cast<LPARAM>(&c));
  return c.Count;
}

HWND FindTop(const std::string& title, bool visibleOnly, bool dialogOnly) {
  Search s{Wide1252(title), visibleOnly, dialogOnly, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

// Polls for the window, at most `ms`.
HWND WaitTop(const std::string& title, DWORD ms, bool dialogOnly) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND w = FindTop(title, true, dialogOnly);
    if (w || GetTickCount() - start >= ms) return w;
    Sleep(50);
  }
}

bool Ask(HWND w, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result,
         DWORD answerMs = AnswerMs) {
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutA(w, msg, wp, lp, SMTO_NORMAL, answerMs, &r))
    return false;
  if (result) *result = static_cast<LRESULT>(r);
  return true;
}

bool ReadText(HWND w, std::string* text, DWORD answerMs = AnswerMs) {
  LRESULT n = 0;
  if (!Ask(w, WM_GETTEXTLENGTH, 0, 0, &n, answerMs)) return false;
  // The text may grow between the two questions: room to spare, and once
  // more with more room when the answer filled it.
  for (size_t room = static_cast<size_t>(n) + 257;; room *= 4) {
    std::string buf(room, '\0');
    LRESULT got = 0;
    if (!Ask(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(&buf[0]), &got,
             answerMs))
      return false;
    size_t length = got > 0 ? static_cast<size_t>(got) : 0;
    if (length + 1 < room || room > (1u << 24)) {
      buf.resize(length);
      *text = buf;
      return true;
    }
  }
}

int Fail(int code, const char* what) {
  fprintf(stderr, "kvx-drive: %s\n", what);
  return code;
}

bool IsVertical(HWND trackbar) {
  return (GetWindowLongA(trackbar, GWL_STYLE) & TBS_VERT) != 0;
}

int TrackbarValue(HWND t, LRESULT raw) {
  if (!IsVertical(t)) return static_cast<int>(raw);
  LRESULT min = 0, max = 0;
  Ask(t, TBM_GETRANGEMIN, 0, 0, &min);
  Ask(t, TBM_GETRANGEMAX, 0, 0, &max);
  return static_cast<int>(min + max - raw);
}

struct ProcessList {
  DWORD Pid;  // 0: every process
};

BOOL CALLBACK ListWindow(HWND w, LPARAM p) {
  const ProcessList* l = reinterpret_cast<const ProcessList*>(p);
  if (!IsWindowVisible(w)) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (l->Pid && pid != l->Pid) return TRUE;
  std::string cls = ClassOf(w);
  if (cls == "tooltips_class32") return TRUE;
  char title[512];
  int n = GetWindowTextA(w, title, sizeof title);
  Print("%lu\t%.*s\n", static_cast<unsigned long>(pid), n > 0 ? n : 0, title);
  return TRUE;
}

UINT KeyCode(const char* key) {
  if (!strcmp(key, "tab")) return VK_TAB;
  if (!strcmp(key, "up")) return VK_UP;
  if (!strcmp(key, "down")) return VK_DOWN;
  if (!strcmp(key, "space")) return VK_SPACE;
  return 0;
}

HWND FocusOf(HWND top) {
  GUITHREADINFO info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(top, nullptr);
  if (!GetGUIThreadInfo(thread, &info)) return nullptr;
  return info.hwndFocus;
}

// Every window of one process: top-level ones (visible or not, tooltips
// included) and all their descendants.
struct WindowCount {
  DWORD Pid;
  int Top;
  int Children;
};

BOOL CALLBACK CountChild(HWND, LPARAM p) {
  ++reinterpret_cast<WindowCount*>(p)->Children;
  return TRUE;
}

BOOL CALLBACK CountTop(HWND w, LPARAM p) {
  WindowCount* c = reinterpret_cast<WindowCount*>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != c->Pid) return TRUE;
  ++c->Top;
  EnumChildWindows(w, CountChild, p);  // descendants, recursively
  return TRUE;
}

// A figure of GetGuiResources; -1 when the system keeps none for the
// process (it answers 0 with an error, as a stub does).
long GuiFigure(HANDLE process, DWORD which) {
  SetLastError(0);
  DWORD n = GetGuiResources(process, which);
  if (n == 0 && GetLastError() != 0) return -1;
  return n == 0 ? -1 : static_cast<long>(n);
}

typedef BOOL(WINAPI* HandleCountFn)(HANDLE, PDWORD);

long HandleCount(HANDLE process) {
  HandleCountFn f =
      reinterpret_cast<HandleCountFn>(reinterpret_cast<void*>(GetProcAddress(
          GetModuleHandleA("kernel32.dll"), "GetProcessHandleCount")));
  DWORD n = 0;
  if (!f || !f(process, &n) || n == 0) return -1;  // 0: no figure kept
  return static_cast<long>(n);
}

int Resources(HWND top) {
  WindowCount count{0, 0, 0};
  GetWindowThreadProcessId(top, &count.Pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, count.Pid);
  if (!process) return Fail(NoWindow, "the window's process cannot be opened");
  long gdi = GuiFigure(process, GR_GDIOBJECTS);
  long user = GuiFigure(process, GR_USEROBJECTS);
  long handles = HandleCount(process);
  CloseHandle(process);
  EnumWindows(CountTop, reinterpret_cast<LPARAM>(&count));
  Print("gdi=%ld user=%ld windows=%d children=%d handles=%ld\n", gdi, user,
        count.Top, count.Children, handles);
  return Done;
}

// Samples control c's text for `ms`, reporting every change.
int Watch(HWND c, DWORD ms) {
  DWORD start = GetTickCount();
  DWORD lastChange = start, longestAnswer = 0, longestUnchanged = 0;
  int samples = 0, changes = 0;
  std::string last;
  for (;;) {
    DWORD asked = GetTickCount();
    std::string text;
    if (!ReadText(c, &text)) return Fail(NoAnswer, "no answer");
    DWORD now = GetTickCount();
    if (now - asked > longestAnswer) longestAnswer = now - asked;
    if (samples == 0 || text != last) {
      if (samples > 0) {
        ++changes;
        if (now - lastChange > longestUnchanged)
          longestUnchanged = now - lastChange;
        lastChange = now;
      }
      Print("%lu\t%s\n", static_cast<unsigned long>(now - start), text.c_str());
      last = text;
    }
    ++samples;
    if (now - start >= ms) break;
    Sleep(100);
  }
  DWORD end = GetTickCount();
  if (end - lastChange > longestUnchanged) longestUnchanged = end - lastChange;
  Print("samples=%d changes=%d answer=%lu unchanged=%lu\n", samples, changes,
        static_cast<unsigned long>(longestAnswer),
        static_cast<unsigned long>(longestUnchanged));
  return Done;
}

int Probe(HWND c, int count, DWORD intervalMs) {
  DWORD start = GetTickCount();
  DWORD longestAnswer = 0;
  std::string last;
  for (int n = 0; n < count; ++n) {
    if (n > 0) Sleep(intervalMs);
    DWORD asked = GetTickCount();
    std::string text;
    if (!ReadText(c, &text, ProbeAnswerMs)) {
      fprintf(stderr, "kvx-drive: probe %d of %d unanswered\n", n + 1, count);
      return Fail(NoAnswer, "no answer");
    }
    DWORD now = GetTickCount();
    if (now - asked > longestAnswer) longestAnswer = now - asked;
    if (n == 0 || text != last) {
      Print("%lu\t%s\n", static_cast<unsigned long>(now - start), text.c_str());
      last = text;
    }
  }
  Print("probes=%d answer=%lu\n", count,
        static_cast<unsigned long>(longestAnswer));
  return Done;
}

const DWORD StepMs = 10000;  // longest wait for one step of a repetition

// Milliseconds left of a bound that started when it was made.
class Deadline {
 public:
  explicit Deadline(DWORD ms) : start_(GetTickCount()), ms_(ms) {}
  DWORD Left() const {
    DWORD spent = GetTickCount() - start_;
    return spent >= ms_ ? 0 : ms_ - spent;
  }

 private:
  DWORD start_;
  DWORD ms_;
};

// Control `number` of `top`, waited for until `d` is up.
HWND WaitControl(HWND top, int number, const Deadline& d) {
  HWND c = nullptr;
  WaitUntil(d.Left(), [&] { return (c = GetDlgItem(top, number)) != nullptr; });
  return c;
}

bool WaitUsable(HWND c, const Deadline& d) {
  return WaitUntil(d.Left(), [&] { return IsWindowEnabled(c) != 0; });
}

// Clicks button `number` once it is usable. The program greys a button
// while it works for a click and gives it back when it is done, so a
// greyed one is waited for, at most `ms`; one still greyed then is
// refused, as the program itself refuses a click on it.
int ClickControl(HWND top, int number, DWORD ms) {
  Deadline d(ms);
  HWND c = WaitControl(top, number, d);
  if (!c) return Fail(NoControl, "control not found");
  if (!WaitUsable(c, d)) return Fail(Disabled, "the control is disabled");
  if (!Ask(c, BM_CLICK, 0, 0, nullptr)) return Fail(NoAnswer, "no answer");
  return Done;
}

bool Click(HWND top, int number) {
  return ClickControl(top, number, StepMs) == Done;
}

// Replaces the text of control c (once it is usable) until it reads so.
int SetText(HWND c, const std::string& text) {
  Deadline d(ActMs);
  if (!WaitUsable(c, d)) return Fail(Disabled, "the control is disabled");
  std::string now;
  if (!WaitUntil(d.Left(), [&] {
        return Ask(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                   nullptr) &&
               ReadText(c, &now) && now == text;
      }))
    return Fail(NoAnswer, "the text was not taken");
  return Done;
}

// Moves trackbar t (once it is usable) to value v, until it stands there
// (or at the end of its range nearest to v).
int SetTrackbar(HWND t, int v) {
  Deadline d(ActMs);
  if (!WaitUsable(t, d)) return Fail(Disabled, "the control is disabled");
  LRESULT min = 0, max = 0;
  if (!Ask(t, TBM_GETRANGEMIN, 0, 0, &min) ||
      !Ask(t, TBM_GETRANGEMAX, 0, 0, &max))
    return Fail(NoAnswer, "no answer");
  LRESULT raw = IsVertical(t) ? min + max - v : v;
  if (raw < min) raw = min;
  if (raw > max) raw = max;
  if (!WaitUntil(d.Left(), [&] {
        LRESULT pos = -1;
        return Ask(t, TBM_SETPOS, TRUE, raw, nullptr) &&
               Ask(t, TBM_GETPOS, 0, 0, &pos) && pos == raw;
      }))
    return Fail(NoAnswer, "the trackbar did not move there");
  return Done;
}

// Shows button b held down or released, until it looks so.
int Press(HWND b, bool down) {
  Deadline d(ActMs);
  if (!WaitUntil(d.Left(), [&] {
        LRESULT state = 0;
        return Ask(b, BM_SETSTATE, down, 0, nullptr) &&
               Ask(b, BM_GETSTATE, 0, 0, &state) &&
               ((state & BST_PUSHED) != 0) == down;
      }))
    return Fail(NoAnswer, "the button did not take the state");
  return Done;
}

// Brings the window to the front until it is there.
int Activate(HWND top) {
  Deadline d(ActMs);
  if (!WaitUntil(d.Left(), [&] {
        return GetForegroundWindow() == top ||
               (SetForegroundWindow(top) && GetForegroundWindow() == top);
      }))
    return Fail(NoAnswer, "the window did not come to the front");
  return Done;
}

bool TextStarts(HWND top, int number, const std::string& start) {
  std::string text;
  HWND c = GetDlgItem(top, number);
  return c && ReadText(c, &text) && text.compare(0, start.size(), start) == 0;
}

int OpenDescription(HWND main, int count) {
  const std::string title = DecodeTitle("@description");
  DWORD start = GetTickCount();
  for (int i = 0; i < count; ++i) {
    if (!Click(main, 100)) return Fail(NoAnswer, "picture 100 not clicked");
    HWND d = nullptr;
    if (!WaitUntil(StepMs, [&] { return (d = FindTop(title, true, false)); }))
      return Fail(NoWindow, "the description window did not open");
    if (!WaitUntil(StepMs, [&] { return GetDlgItem(d, 95) != nullptr; }) ||
        !Click(d, 95))
      return Fail(NoControl, "button 95 not clicked");
    if (!WaitUntil(StepMs, [&] { return !FindTop(title, false, false); }))
      return Fail(NoWindow, "the description window did not close");
  }
  Print("done %d %lu\n", count,
        static_cast<unsigned long>(GetTickCount() - start));
  return Done;
}

int ConsoleRounds(HWND main, int count, const std::string& command) {
  HWND field = GetDlgItem(main, 97);
  HWND send = GetDlgItem(main, 92);
  if (!field || !send) return Fail(NoControl, "no console");
  const std::string echo = ">" + command + "\r\n";
  const std::string summary = "Befehle f\xfcr das KORVALINEX-Board\r\n";
  DWORD start = GetTickCount();
  for (int i = 0; i < count; ++i) {
    if (!Ask(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(command.c_str()),
             nullptr) ||
        !WaitUntil(StepMs, [&] { return IsWindowEnabled(send) != 0; }) ||
        !Click(main, 92))
      return Fail(NoAnswer, "the command was not sent");
    if (!WaitUntil(StepMs, [&] {
          return TextStarts(main, 98, echo) && IsWindowEnabled(send);
        }))
      return Fail(NoAnswer, "no exchange in the console box");
    if (!Click(main, 93) ||
        !WaitUntil(StepMs, [&] { return TextStarts(main, 98, summary); }))
      return Fail(NoAnswer, "no command summary in the console box");
  }
  Print("done %d %lu\n", count,
        static_cast<unsigned long>(GetTickCount() - start));
  return Done;
}

bool ShownAs(HWND top, int show) {
  bool iconic = IsIconic(top) != 0, zoomed = IsZoomed(top) != 0;
  if (show == SW_MINIMIZE) return iconic;
  if (show == SW_MAXIMIZE) return zoomed;
  return !iconic && !zoomed;
}

// Minimises, maximises or restores the window until it is so; asked once
// more every second meanwhile.
int Show(HWND top, const char* how) {
  int show = !strcmp(how, "min")       ? SW_MINIMIZE
             : !strcmp(how, "max")     ? SW_MAXIMIZE
             : !strcmp(how, "restore") ? SW_RESTORE
                                       : -1;
  if (show < 0) return Fail(Usage, "show: min, max or restore");
  Deadline d(ActMs);
  do {
    ShowWindow(top, show);
    if (WaitUntil(d.Left() < 1000 ? d.Left() : 1000,
                  [&] { return ShownAs(top, show); }))
      return Done;
  } while (d.Left() > 0);
  return Fail(NoAnswer, "the window did not change its state");
}

int OuterWidth(const RECT& r) { return r.right - r.left; }
int OuterHeight(const RECT& r) { return r.bottom - r.top; }

// Gives the window the client size w x h, as dragging its frame would: the
// outer size for it, kept within the least and greatest size the window
// asks for (WM_GETMINMAXINFO, as the system asks while the frame is
// dragged), until the window has that size.
int Size(HWND top, int w, int h) {
  RECT outer = {0, 0, w, h};
  AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongA(top, GWL_STYLE)),
                     FALSE,
                     static_cast<DWORD>(GetWindowLongA(top, GWL_EXSTYLE)));
  int cx = OuterWidth(outer), cy = OuterHeight(outer);
  MINMAXINFO limits;
  ZeroMemory(&limits, sizeof limits);
  limits.ptMinTrackSize.x = GetSystemMetrics(SM_CXMINTRACK);
  limits.ptMinTrackSize.y = GetSystemMetrics(SM_CYMINTRACK);
  limits.ptMaxTrackSize.x = GetSystemMetrics(SM_CXMAXTRACK);
  limits.ptMaxTrackSize.y = GetSystemMetrics(SM_CYMAXTRACK);
  int wantX = cx, wantY = cy;
  if (Ask(top, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits),
          nullptr)) {
    wantX = wantX < limits.ptMinTrackSize.x ? limits.ptMinTrackSize.x : wantX;
    wantY = wantY < limits.ptMinTrackSize.y ? limits.ptMinTrackSize.y : wantY;
    wantX = wantX > limits.ptMaxTrackSize.x ? limits.ptMaxTrackSize.x : wantX;
    wantY = wantY > limits.ptMaxTrackSize.y ? limits.ptMaxTrackSize.y : wantY;
  }
  Deadline d(ActMs);
  if (!WaitUntil(d.Left(), [&] {
        RECT now;
        return SetWindowPos(top, nullptr, 0, 0, cx, cy,
                            SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) &&
               GetWindowRect(top, &now) && OuterWidth(now) == wantX &&
               OuterHeight(now) == wantY;
      })) {
    RECT now = {0, 0, 0, 0};
    GetWindowRect(top, &now);
    fprintf(stderr, "kvx-drive: asked %d x %d, expected %d x %d, got %d x %d\n",
            cx, cy, wantX, wantY, OuterWidth(now), OuterHeight(now));
    return Fail(NoAnswer, "the window was not resized");
  }
  return Done;
}

}  // namespace

bool Acts(const std::string& cmd, int argc) {
  return cmd == "click" || cmd == "settext" || cmd == "press" ||
         cmd == "size" || cmd == "show" || cmd == "activate" ||
         (cmd == "trackbar" && argc > 4);
}

// One command; its output goes to Out.
int Run(int argc, char** argv) {
  if (argc < 2) return Fail(Usage, "usage: kvx-drive COMMAND ...");
  std::string cmd = argv[1];

  if (cmd == "windows") {
    ProcessList list{0};
    if (argc > 2) {
      HWND top = FindTop(DecodeTitle(argv[2]), false, false);
      if (!top) return Fail(NoWindow, "window not found");
      GetWindowThreadProcessId(top, &list.Pid);
    }
    EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&list));
    return Done;
  }

  if (cmd == "open-description" || cmd == "console") {
    HWND main = WaitTop(DecodeTitle("@main"), 0, false);
    if (!main) return Fail(NoWindow, "main window not found");
    int count = argc > 2 ? atoi(argv[2]) : 0;
    if (cmd == "open-description") return OpenDescription(main, count);
    if (argc < 4) return Fail(Usage, "console: the command text is missing");
    return ConsoleRounds(main, count, DecodeTitle(argv[3]));
  }

  if (cmd == "front") {
    HWND front = GetForegroundWindow();
    char title[512] = "";
    int n = front ? GetWindowTextA(front, title, sizeof title) : 0;
    Print("%.*s\n", n > 0 ? n : 0, title);
    return Done;
  }

  if (argc < 3) return Fail(Usage, "a window title is missing");
  std::string title = DecodeTitle(argv[2]);
  if (cmd == "count") {
    Print("%d\n", CountTitled(title));
    return Done;
  }
  DWORD waitMs = 0;

  if (cmd == "wait" || cmd == "gone" || cmd == "msgbox" || cmd == "ok") {
    waitMs = argc > 3 ? static_cast<DWORD>(atol(argv[3])) : 0;
  }
  if (Acts(cmd, argc)) waitMs = ActMs;
  if (cmd == "click" && argc > 4) waitMs = static_cast<DWORD>(atol(argv[4]));
  if (cmd == "save") {
    if (argc < 4) return Fail(Usage, "save needs a path");
    waitMs = argc > 4 ? static_cast<DWORD>(atol(argv[4])) : 0;
    HWND dialog = WaitTop(title, waitMs, true);
    if (!dialog) return Fail(NoWindow, "save dialog not found");
    // The file name: a combo box with its edit field (cmb13) in the
    // dialogs of today, an edit field (edt1) in older ones.
    HWND name = GetDlgItem(dialog, 0x47C);
    if (name) {
      HWND field = FindWindowExA(name, nullptr, "Edit", nullptr);
      if (field) name = field;
    } else {
      name = GetDlgItem(dialog, 0x480);
    }
    if (!name) return Fail(NoControl, "the dialog has no file name field");
    std::string path = DecodeTitle(argv[3]);
    if (!Ask(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
             nullptr))
      return Fail(NoAnswer, "the file name field did not answer");
    HWND save = GetDlgItem(dialog, IDOK);
    if (!save) return Fail(NoControl, "the dialog has no save button");
    if (!PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                      reinterpret_cast<LPARAM>(save)))
      return Fail(NoAnswer, "the dialog did not take the click");
    return Done;
  }
  if (cmd == "gone") {
    DWORD start = GetTickCount();
    while (FindTop(title, false, false)) {
      if (GetTickCount() - start >= waitMs)
        return Fail(NoWindow, "the window is still there");
      Sleep(50);
    }
    return Done;
  }
  if (cmd == "msgbox" || cmd == "ok") {
    HWND box = WaitTop(title, waitMs, true);
    if (!box) return Fail(NoWindow, "message box not found");
    if (cmd == "ok") {
      HWND ok = GetDlgItem(box, IDOK);
      if (!ok) return Fail(NoControl, "the box has no OK button");
      if (!PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                        reinterpret_cast<LPARAM>(ok)))
        return Fail(NoAnswer, "the box did not take the click");
      return Done;
    }
    HWND body = GetDlgItem(box, 0xFFFF);
    std::string text;
    if (!body || !ReadText(body, &text))
      return Fail(NoControl, "the box has no text");
    Print("%s\n", text.c_str());
    return Done;
  }

  // An action's window and control are waited for within one bound.
  Deadline act(waitMs);
  HWND top = WaitTop(title, waitMs, false);
  if (!top) return Fail(NoWindow, "window not found");
  if (cmd == "wait") return Done;

  if (cmd == "resources") return Resources(top);
  if (cmd == "rect" && argc == 3) {
    RECT r;
    GetWindowRect(top, &r);
    Print("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    return Done;
  }
  if (cmd == "client") {
    RECT r;
    GetClientRect(top, &r);
    Print("%ld %ld\n", r.right - r.left, r.bottom - r.top);
    return Done;
  }
  if (cmd == "origin") {
    POINT p = {0, 0};
    ClientToScreen(top, &p);
    Print("%ld %ld\n", p.x, p.y);
    return Done;
  }
  if (cmd == "close") {
    if (!PostMessageA(top, WM_CLOSE, 0, 0))
      return Fail(NoAnswer, "the close request was not taken");
    return Done;
  }
  if (cmd == "endsession") {
    LPARAM how =
        static_cast<LPARAM>(argc > 3 ? strtoul(argv[3], nullptr, 0) : 0);
    LRESULT mayEnd = 0;
    if (!Ask(top, WM_QUERYENDSESSION, 0, how, &mayEnd))
      return Fail(NoAnswer, "the window did not answer the question");
    DWORD start = GetTickCount();
    if (!Ask(top, WM_ENDSESSION, TRUE, how, nullptr, 20000))
      return Fail(NoAnswer, "the window did not take the end");
    Print("%d %lu\n", mayEnd ? 1 : 0,
          static_cast<unsigned long>(GetTickCount() - start));
    return Done;
  }
  if (cmd == "syscommand") {
    if (argc < 4) return Fail(Usage, "syscommand: the identifier is missing");
    unsigned long id = strtoul(argv[3], nullptr, 0);
    if (!PostMessageA(top, WM_SYSCOMMAND, static_cast<WPARAM>(id), 0))
      return Fail(NoAnswer, "the command was not taken");
    return Done;
  }
  if (cmd == "power") {
    if (argc < 4) return Fail(Usage, "power: suspend or resume");
    std::string event = argv[3];
    if (event != "suspend" && event != "resume")
      return Fail(Usage, "power: suspend or resume");
    WPARAM which = event == "suspend" ? 0x0004 : 0x0012;
    if (!Ask(top, WM_POWERBROADCAST, which, 0, nullptr))
      return Fail(NoAnswer, "the power message was not answered");
    return Done;
  }
  if (cmd == "activate") return Activate(top);
  if (cmd == "show") {
    if (argc < 4) return Fail(Usage, "show: min, max or restore");
    return Show(top, argv[3]);
  }
  if (cmd == "size") {
    if (argc < 5) return Fail(Usage, "size: width and height");
    return Size(top, atoi(argv[3]), atoi(argv[4]));
  }
  if (cmd == "focus") {
    HWND f = FocusOf(top);
    Print("%d\n", f && IsChild(top, f) ? GetDlgCtrlID(f) : 0);
    return Done;
  }
  if (cmd == "style" && argc == 3) {
    Print("%08lx %08lx\n",
          static_cast<unsigned long>(GetWindowLongA(top, GWL_STYLE)),
          static_cast<unsigned long>(GetWindowLongA(top, GWL_EXSTYLE)));
    return Done;
  }

  if (argc < 4) return Fail(Usage, "a control number is missing");
  int number = atoi(argv[3]);
  if (cmd == "click") return ClickControl(top, number, act.Left());
  // A window shows before the program has made its controls: one that is
  // not there yet is waited for (but "exists" tells at once, and key 0
  // goes to the focused control).
  HWND c = cmd == "exists" || (cmd == "key" && number == 0)
               ? GetDlgItem(top, number)
           : Acts(cmd, argc) ? WaitControl(top, number, act)
                             : WaitControl(top, number, Deadline(ReadMs));
  if (cmd == "exists") {
    Print("%d\n", c ? 1 : 0);
    return Done;
  }
  if (cmd == "key") {
    if (argc < 5 || !KeyCode(argv[4]))
      return Fail(Usage, "key: tab up down space");
    HWND to = number ? c : FocusOf(top);
    if (!to) return Fail(NoControl, "no control to take the key");
    UINT vk = KeyCode(argv[4]);
    UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(to, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(to, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
    return Done;
  }
  if (!c) return Fail(NoControl, "control not found");

  if (cmd == "text" || cmd == "hex") {
    std::string text;
    if (!ReadText(c, &text)) return Fail(NoAnswer, "no answer");
    if (cmd == "text") {
      Out += text;
      Out += '\n';
    } else {
      for (size_t i = 0; i < text.size(); ++i)
        Print("%s%02x", i ? " " : "", (unsigned char)text[i]);
      Print("\n");
    }
    return Done;
  }
  if (cmd == "settext") {
    if (argc < 5) return Fail(Usage, "settext: the text is missing");
    return SetText(c, DecodeTitle(argv[4]));
  }
  if (cmd == "press") {
    // Shows button N held down (1) or released (0), without a click.
    return Press(c, argc > 4 && atoi(argv[4]) != 0);
  }
  if (cmd == "trackbar") {
    if (argc > 4) {
      int set = SetTrackbar(c, atoi(argv[4]));
      if (set != Done) return set;
    }
    LRESULT raw = 0, min = 0, max = 0;
    if (!Ask(c, TBM_GETPOS, 0, 0, &raw) ||
        !Ask(c, TBM_GETRANGEMIN, 0, 0, &min) ||
        !Ask(c, TBM_GETRANGEMAX, 0, 0, &max))
      return Fail(NoAnswer, "no answer");
    Print("%d %ld %ld %ld\n", TrackbarValue(c, raw), (long)raw, (long)min,
          (long)max);
    return Done;
  }
  if (cmd == "progress") {
    LRESULT pos = 0, min = 0, max = 0;
    if (!Ask(c, PBM_GETPOS, 0, 0, &pos) ||
        !Ask(c, PBM_GETRANGE, TRUE, 0, &min) ||
        !Ask(c, PBM_GETRANGE, FALSE, 0, &max))
      return Fail(NoAnswer, "no answer");
    Print("%ld %ld %ld\n", (long)pos, (long)min, (long)max);
    return Done;
  }
  if (cmd == "checked") {
    LRESULT state = 0;
    if (!Ask(c, BM_GETCHECK, 0, 0, &state)) return Fail(NoAnswer, "no answer");
    Print("%d\n", state == BST_CHECKED ? 1 : 0);
    return Done;
  }
  if (cmd == "rect") {
    RECT r;
    GetWindowRect(c, &r);
    Print("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    return Done;
  }
  if (cmd == "probe") {
    if (argc < 6) return Fail(Usage, "probe: the count or interval is missing");
    return Probe(c, atoi(argv[4]), static_cast<DWORD>(atol(argv[5])));
  }
  if (cmd == "watch") {
    if (argc < 5) return Fail(Usage, "watch: the time is missing");
    return Watch(c, static_cast<DWORD>(atol(argv[4])));
  }
  if (cmd == "enabled") {
    Print("%d\n", IsWindowEnabled(c) ? 1 : 0);
    return Done;
  }
  if (cmd == "style") {
    Print("%08lx %08lx\n",
          static_cast<unsigned long>(GetWindowLongA(c, GWL_STYLE)),
          static_cast<unsigned long>(GetWindowLongA(c, GWL_EXSTYLE)));
    return Done;
  }
  return Fail(Usage, "unknown command");
}

namespace {

// Reads bytes up to a zero byte; false at the end of the input.
bool ReadField(std::string* field) {
  field->clear();
  for (;;) {
    int ch = getchar();
    if (ch == EOF) return false;
    if (ch == 0) return true;
    *field += static_cast<char>(ch);
  }
}

// The commands of the input, one after the other, each answered with
// "EXIT LENGTH" and its output.
int Serve() {
  _setmode(_fileno(stdin), _O_BINARY);
  std::string field;
  while (ReadField(&field)) {
    int count = atoi(field.c_str());
    if (count < 0 || count > 64)
      return Fail(Usage, "serve: bad argument count");
    std::vector<std::string> args(1, "kvx-drive");
    for (int i = 0; i < count; ++i) {
      if (!ReadField(&field)) return Fail(Usage, "serve: the input ended");
      args.push_back(field);
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    Out.clear();
    int rc = Run(static_cast<int>(args.size()), argv.data());
    fflush(stderr);
    printf("%d %lu\n", rc, static_cast<unsigned long>(Out.size()));
    fwrite(Out.data(), 1, Out.size(), stdout);
    fflush(stdout);
  }
  return Done;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc == 2 && !strcmp(argv[1], "serve")) return Serve();
  int rc = Run(argc, argv);
  fwrite(Out.data(), 1, Out.size(), stdout);
  return rc;
}
