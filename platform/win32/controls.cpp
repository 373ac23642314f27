// The controls of the program's windows, addressed by number. The number
// is the child window identifier too, so GetDlgItem(window, number) finds
// the control (for a spin control: its number field).
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <richedit.h>

#include <cstring>

#include "platform/win32/win32_platform.h"

// Identifier of the arrows of spin control n: n + ArrowsIdOffset.
enum { ArrowsIdOffset = 1000 };

Win32Control* Win32FindControl(int number) {
  if (number < 0 || number >= ControlSlots) return nullptr;
  Win32Control* c = &Win32Controls[number];
  return c->Handle ? c : nullptr;
}

Win32Control* Win32ControlOfHandle(HWND handle) {
  if (!handle) return nullptr;
  int id = GetDlgCtrlID(handle);
  Win32Control* c = Win32FindControl(id);
  return c && c->Handle == handle ? c : nullptr;
}

// A spin control's arrows take a strip half its height wide at its right
// end; the number field takes the rest.
static int SpinArrowsWidth(int height) { return height / 2; }

static HWND Child(HWND parent, const char* cls, const char* text, DWORD style,
                  DWORD exStyle, int x, int y, int w, int h, int id) {
  return CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x,
                         y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         Win32Instance, nullptr);
}

static void ForgetShownText(int number);

bool PlatCreateControl(int window, int number, ControlKind kind, int x, int y,
                       int width, int height, const Text& text,
                       int properties) {
  if (window < 0 || window >= WindowSlots || !Win32Windows[window] ||
      number < 0 || number >= ControlSlots)
    return false;
  // A number is used once: the control that has it stays as it is.
  if (Win32Controls[number].Handle) return false;
  HWND parent = Win32Windows[window];
  const char* t = text.c_str();
  HWND handle = nullptr;
  HWND arrows = nullptr;

  switch (kind) {
    case KindLabel: {
      DWORD style = SS_NOPREFIX;
      if (properties & PropCentred)
        style |= SS_CENTER;
      else if (properties & PropRightAligned)
        style |= SS_RIGHT;
      else
        style |= SS_LEFT;
      DWORD ex = (properties & PropBorder) ? WS_EX_STATICEDGE : 0;
      handle =
          Child(parent, "STATIC", t, style, ex, x, y, width, height, number);
      break;
    }
    case KindButton:
      handle = Child(parent, "BUTTON", t, WS_TABSTOP | BS_PUSHBUTTON, 0, x, y,
                     width, height, number);
      break;
    case KindCheckBox:
      handle = Child(parent, "BUTTON", "", WS_TABSTOP | BS_AUTOCHECKBOX, 0, x,
                     y, width, height, number);
      break;
    case KindSpin: {
      int arrowsWidth = SpinArrowsWidth(height);
      handle =
          Child(parent, "EDIT", t, WS_TABSTOP | ES_RIGHT | ES_AUTOHSCROLL,
                WS_EX_CLIENTEDGE, x, y, width - arrowsWidth, height, number);
      if (handle) {
        arrows = Child(parent, UPDOWN_CLASSA, nullptr,
                       UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0,
                       x + width - arrowsWidth, y, arrowsWidth, height,
                       number + ArrowsIdOffset);
        if (arrows) {
          SendMessageA(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(handle),
                       0);
          // Attaching widens the arrows to their own default width; the
          // layout gives them a strip half the field's height wide.
          SetWindowPos(arrows, nullptr, x + width - arrowsWidth, y, arrowsWidth,
                       height, SWP_NOZORDER | SWP_NOACTIVATE);
          SetWindowPos(handle, nullptr, x, y, width - arrowsWidth, height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
          // The range every new spin control starts with (the arrows' own
          // runs from 100 down to 0).
          SendMessageA(arrows, UDM_SETRANGE32, 0, 100);
          // Attaching the arrows must not change the field's first text.
          SetWindowTextA(handle, t);
        }
      }
      break;
    }
    case KindEdit:
      handle = Child(parent, "EDIT", t, WS_TABSTOP | ES_AUTOHSCROLL,
                     WS_EX_CLIENTEDGE, x, y, width, height, number);
      break;
    case KindRichText: {
      DWORD style = WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                    ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL;
      if (properties & PropReadOnly) style |= ES_READONLY;
      handle = Child(parent, "RICHEDIT20A", "", style, WS_EX_CLIENTEDGE, x, y,
                     width, height, number);
      if (handle) {
        SendMessageA(handle, EM_EXLIMITTEXT, 0, 0x7FFFFFFF);
        // Lines break only where the text breaks them.
        SendMessageA(handle, EM_SETTARGETDEVICE, 0, 1);
      }
      break;
    }
    case KindProgressBar: {
      DWORD style = 0;
      if (properties & PropVertical) style |= PBS_VERTICAL;
      if (properties & PropSmooth) style |= PBS_SMOOTH;
      handle = Child(parent, PROGRESS_CLASSA, nullptr, style, 0, x, y, width,
                     height, number);
      break;
    }
    case KindTrackbar: {
      DWORD style = WS_TABSTOP;
      style |= (properties & PropVertical) ? TBS_VERT : TBS_HORZ;
      if (properties & PropTickMarks) style |= TBS_AUTOTICKS;
      handle = Child(parent, TRACKBAR_CLASSA, nullptr, style, 0, x, y, width,
                     height, number);
      break;
    }
    case KindImageButton:
      handle = Child(parent, "BUTTON", "", WS_TABSTOP | BS_OWNERDRAW, 0, x, y,
                     width, height, number);
      break;
  }
  if (!handle) {
    if (arrows) DestroyWindow(arrows);
    return false;
  }

  Win32Control& c = Win32Controls[number];
  c = Win32Control{};
  ForgetShownText(number);
  c.Handle = handle;
  c.Arrows = arrows;
  c.Window = window;
  c.Kind = kind;
  c.Properties = properties;

  HFONT font = Win32DefaultFont();
  SendMessageA(handle, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (arrows)
    SendMessageA(arrows, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (kind == KindTrackbar && (properties & PropVertical)) {
    // A new vertical trackbar reads its minimum: thumb at the bottom.
    SendMessageA(handle, TBM_SETPOS, TRUE,
                 SendMessageA(handle, TBM_GETRANGEMAX, 0, 0));
  }
  if (kind == KindRichText && !text.empty()) PlatSetText(number, text);
  return true;
}

static bool HasText(ControlKind kind) {
  return kind == KindLabel || kind == KindButton || kind == KindEdit ||
         kind == KindSpin || kind == KindRichText;
}

static void SetPlainText(HWND box, const Text& text);

// The rich-text box's text with its lines joined by a carriage return,
// as the box keeps them.
static Text RichText(HWND box) {
  GETTEXTLENGTHEX ask = {GTL_NUMBYTES | GTL_PRECISE, CP_ACP};
  LRESULT length =
      SendMessageA(box, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&ask), 0);
  if (length <= 0) return Text();
  Text text(static_cast<size_t>(length) + 1, '\0');
  GETTEXTEX get;
  ZeroMemory(&get, sizeof get);
  get.cb = static_cast<DWORD>(text.size());
  get.flags = GT_DEFAULT;
  get.codepage = CP_ACP;
  LRESULT got = SendMessageA(box, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                             reinterpret_cast<LPARAM>(&text[0]));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

// What each label and button shows, as last set here, and the control it
// was set on. Their texts change only here, so the comparison below needs
// no message to the control: under Wine every message to a control with
// a tooltip costs a trip to the server (the tooltip's subclassing looks up
// a window property on each one), and the query rewrites dozens of them
// every second. Fields and boxes, which the operator may have changed, are
// compared with what they show.
static Text ShownText[ControlSlots];
static HWND ShownOn[ControlSlots];

static void ForgetShownText(int number) {
  ShownOn[number] = nullptr;
  ShownText[number].clear();
}

static bool KeepsShownText(ControlKind kind) {
  return kind == KindLabel || kind == KindButton;
}

void PlatSetText(int number, const Text& text) {
  Win32Control* c = Win32FindControl(number);
  if (!c || !HasText(c->Kind)) return;
  // The board query and the main loop rewrite most labels every second
  // with what they already show; only a change is worth a repaint.
  bool kept = KeepsShownText(c->Kind);
  if (kept && ShownOn[number] == c->Handle) {
    if (ShownText[number] == text) return;
  } else if (PlatGetText(number) == text) {
    if (kept) {
      ShownOn[number] = c->Handle;
      ShownText[number] = text;
    }
    return;
  }
  if (c->Kind == KindRichText) {
    SetPlainText(c->Handle, text);
    return;
  }
  bool set = SetWindowTextA(c->Handle, text.c_str()) != 0;
  if (!kept) return;
  // Unknown after a failure: the next one asks the control again.
  ShownOn[number] = set ? c->Handle : nullptr;
  if (set) ShownText[number] = text;
}

Text PlatGetText(int number) {
  Win32Control* c = Win32FindControl(number);
  if (!c || !HasText(c->Kind)) return Text();
  if (c->Kind == KindRichText) return RichText(c->Handle);
  int length = GetWindowTextLengthA(c->Handle);
  if (length <= 0) return Text();
  Text text(static_cast<size_t>(length) + 1, '\0');
  int got = GetWindowTextA(c->Handle, &text[0], length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

void PlatSetTextColour(int number, uint32_t colour) {
  Win32Control* c = Win32FindControl(number);
  if (!c) return;
  if (c->HasTextColour && c->TextColour == colour) return;
  c->HasTextColour = true;
  c->TextColour = colour;
  InvalidateRect(c->Handle, nullptr, TRUE);
}

void PlatEnable(int number, bool enabled) {
  Win32Control* c = Win32FindControl(number);
  if (!c) return;
  // The board query greys the buttons of every output anew each time; a
  // control already as asked is left alone (disabling one sends it a
  // message each time, which a control with a tooltip pays for with trips
  // to Wine's server).
  if ((IsWindowEnabled(c->Handle) != FALSE) == enabled &&
      (!c->Arrows || (IsWindowEnabled(c->Arrows) != FALSE) == enabled))
    return;
  EnableWindow(c->Handle, enabled);
  if (c->Arrows) EnableWindow(c->Arrows, enabled);
}

bool PlatIsEnabled(int number) {
  Win32Control* c = Win32FindControl(number);
  return c && IsWindowEnabled(c->Handle);
}

void PlatSetTooltip(int number, const Text& text) {
  Win32Control* c = Win32FindControl(number);
  if (!c) return;
  HWND parent = Win32Windows[c->Window];
  TOOLINFOA tool;
  ZeroMemory(&tool, sizeof tool);
  // The size every version of the control library understands.
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = parent;
  tool.uId = reinterpret_cast<UINT_PTR>(c->Handle);
  tool.hinst = Win32Instance;
  tool.lpszText = const_cast<char*>(text.c_str());
  if (c->Tooltip) {
    SendMessageA(c->Tooltip, TTM_UPDATETIPTEXTA, 0,
                 reinterpret_cast<LPARAM>(&tool));
    return;
  }
  HWND tip = CreateWindowExA(
      WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
      WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
      CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, Win32Instance, nullptr);
  if (!tip) return;
  SetWindowPos(tip, HWND_TOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (!SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool))) {
    DestroyWindow(tip);
    return;
  }
  c->Tooltip = tip;
}

void PlatUseSystemFont(int number) {
  Win32Control* c = Win32FindControl(number);
  if (c) SendMessageA(c->Handle, WM_SETFONT, 0, TRUE);
}

void PlatSetFocus(int number) {
  Win32Control* c = Win32FindControl(number);
  if (c) SetFocus(c->Handle);
}

// ---------------------------------------------------------------------------
// Ranges and values
// ---------------------------------------------------------------------------

static bool IsVerticalTrackbar(const Win32Control* c) {
  return c->Kind == KindTrackbar && (c->Properties & PropVertical);
}

static int TrackbarMin(HWND h) {
  return static_cast<int>(SendMessageA(h, TBM_GETRANGEMIN, 0, 0));
}
static int TrackbarMax(HWND h) {
  return static_cast<int>(SendMessageA(h, TBM_GETRANGEMAX, 0, 0));
}

void PlatSetRange(int number, int min, int max) {
  Win32Control* c = Win32FindControl(number);
  if (!c || min > max) return;
  switch (c->Kind) {
    case KindTrackbar: {
      // A vertical trackbar keeps its value (not its raw position).
      int value = PlatGetValue(number);
      SendMessageA(c->Handle, TBM_SETRANGEMIN, FALSE, min);
      SendMessageA(c->Handle, TBM_SETRANGEMAX, TRUE, max);
      if (IsVerticalTrackbar(c)) PlatSetValue(number, value);
      break;
    }
    case KindProgressBar:
      SendMessageA(c->Handle, PBM_SETRANGE32, min, max);
      break;
    case KindSpin:
      if (c->Arrows) SendMessageA(c->Arrows, UDM_SETRANGE32, min, max);
      break;
    default:
      break;
  }
}

void PlatSetValue(int number, int value) {
  Win32Control* c = Win32FindControl(number);
  if (!c) return;
  if (c->Kind == KindTrackbar) {
    int min = TrackbarMin(c->Handle);
    int max = TrackbarMax(c->Handle);
    if (value < min) value = min;
    if (value > max) value = max;
    int raw = IsVerticalTrackbar(c) ? min + max - value : value;
    SendMessageA(c->Handle, TBM_SETPOS, TRUE, raw);
  } else if (c->Kind == KindProgressBar) {
    SendMessageA(c->Handle, PBM_SETPOS, value, 0);
  }
}

int PlatGetValue(int number) {
  Win32Control* c = Win32FindControl(number);
  if (!c) return 0;
  if (c->Kind == KindTrackbar) {
    int raw = static_cast<int>(SendMessageA(c->Handle, TBM_GETPOS, 0, 0));
    if (!IsVerticalTrackbar(c)) return raw;
    return TrackbarMin(c->Handle) + TrackbarMax(c->Handle) - raw;
  }
  if (c->Kind == KindProgressBar)
    return static_cast<int>(SendMessageA(c->Handle, PBM_GETPOS, 0, 0));
  return 0;
}

void PlatSetBarColour(int number, uint32_t colour) {
  Win32Control* c = Win32FindControl(number);
  if (c && c->Kind == KindProgressBar)
    SendMessageA(c->Handle, PBM_SETBARCOLOR, 0, colour);
}

void PlatSetChecked(int number, bool checked) {
  Win32Control* c = Win32FindControl(number);
  if (c && c->Kind == KindCheckBox)
    SendMessageA(c->Handle, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED,
                 0);
}

bool PlatIsChecked(int number) {
  Win32Control* c = Win32FindControl(number);
  return c && c->Kind == KindCheckBox &&
         SendMessageA(c->Handle, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void PlatMoveControl(int number, int x, int y, int width, int height) {
  Win32Control* c = Win32FindControl(number);
  if (!c) return;
  if (c->Kind == KindSpin && c->Arrows) {
    int arrowsWidth = SpinArrowsWidth(height);
    MoveWindow(c->Handle, x, y, width - arrowsWidth, height, TRUE);
    MoveWindow(c->Arrows, x + width - arrowsWidth, y, arrowsWidth, height,
               TRUE);
    return;
  }
  MoveWindow(c->Handle, x, y, width, height, TRUE);
}

// ---------------------------------------------------------------------------
// Rich-text boxes
// ---------------------------------------------------------------------------

static Win32Control* RichBox(int number) {
  Win32Control* c = Win32FindControl(number);
  return c && c->Kind == KindRichText ? c : nullptr;
}

void PlatRichClear(int number) {
  Win32Control* c = RichBox(number);
  if (c) SetWindowTextA(c->Handle, "");
}

void PlatRichSetColour(int number, uint32_t colour) {
  Win32Control* c = RichBox(number);
  if (!c) return;
  CHARFORMATA format;
  ZeroMemory(&format, sizeof format);
  format.cbSize = sizeof format;
  format.dwMask = CFM_COLOR;
  format.dwEffects = 0;  // not the automatic colour
  format.crTextColor = colour;
  SendMessageA(c->Handle, EM_SETCHARFORMAT, SCF_ALL,
               reinterpret_cast<LPARAM>(&format));
  SendMessageA(c->Handle, EM_SETCHARFORMAT, SCF_DEFAULT,
               reinterpret_cast<LPARAM>(&format));
}

// Hands the rich-text box the bytes of one text, as plain text.
struct PlainTextSource {
  const char* Bytes;
  size_t Left;
};

static DWORD CALLBACK ReadPlainText(DWORD_PTR cookie, LPBYTE buffer, LONG room,
                                    LONG* given) {
  PlainTextSource* source = reinterpret_cast<PlainTextSource*>(cookie);
  size_t n = room > 0 ? static_cast<size_t>(room) : 0;
  if (n > source->Left) n = source->Left;
  memcpy(buffer, source->Bytes, n);
  source->Bytes += n;
  source->Left -= n;
  *given = static_cast<LONG>(n);
  return 0;
}

// Replaces the selection with text that is shown as it stands. A rich-text
// box would take a text given by EM_REPLACESEL or WM_SETTEXT that begins
// with "{\rtf" as a document of its own (formats, embedded objects); the
// board's replies must never decide what the operator sees. Streamed in as
// SF_TEXT, the bytes are read in the ANSI code page and nothing else.
static void InsertPlainText(HWND box, const Text& text) {
  PlainTextSource source = {text.c_str(), strlen(text.c_str())};
  EDITSTREAM stream;
  ZeroMemory(&stream, sizeof stream);
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
  stream.pfnCallback = ReadPlainText;
  SendMessageA(box, EM_STREAMIN, SF_TEXT | SFF_SELECTION,
               reinterpret_cast<LPARAM>(&stream));
}

// The whole text of the box, replaced by text shown as it stands.
static void SetPlainText(HWND box, const Text& text) {
  CHARRANGE all = {0, -1};
  SendMessageA(box, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
  InsertPlainText(box, text);
}

void PlatRichAppend(int number, const Text& line) {
  Win32Control* c = RichBox(number);
  if (!c) return;
  GETTEXTLENGTHEX ask = {GTL_DEFAULT, CP_ACP};
  LRESULT length = SendMessageA(c->Handle, EM_GETTEXTLENGTHEX,
                                reinterpret_cast<WPARAM>(&ask), 0);
  CHARRANGE end = {-1, -1};
  SendMessageA(c->Handle, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
  if (length > 0)
    SendMessageA(c->Handle, EM_REPLACESEL, FALSE,
                 reinterpret_cast<LPARAM>("\r"));
  SendMessageA(c->Handle, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
  InsertPlainText(c->Handle, line);
}
