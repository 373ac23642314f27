// A window's drawing: the steps the program gives between PlatBeginDrawing
// and PlatShowDrawing, painted with GDI into a picture of the client area
// that is then copied to the screen at once, so nothing flickers. The
// program runs for weeks: every pen, brush and picture made for a paint is
// given back before the paint ends.
#include <windows.h>

#include <vector>

#include "platform/win32/win32_platform.h"

namespace {

enum StepKind { StepLine, StepRect, StepDot, StepText };

struct Step {
  StepKind Kind;
  // Line: from (X1, Y1) to (X2, Y2). Rectangle: (X1, Y1) top left, (X2, Y2)
  // bottom right, excluded. Dot and text: at (X1, Y1).
  int X1, Y1, X2, Y2;
  COLORREF Colour;
  int Width;  // line width; radius of a dot
  LineStyle Style;
  Text Content;  // text
  int Align;     // text
};

struct Drawing {
  std::vector<Step> Building;
  std::vector<Step> Shown;
  bool Showing;  // a drawing was shown since the window opened
};

Drawing Drawings[WindowSlots];

// The drawing of an open window, nullptr otherwise.
Drawing* Of(int window) {
  if (window < 0 || window >= WindowSlots || !Win32Windows[window])
    return nullptr;
  return &Drawings[window];
}

void Add(int window, const Step& step) {
  Drawing* d = Of(window);
  if (d) d->Building.push_back(step);
}

// ---------------------------------------------------------------------------
// Painting one step
// ---------------------------------------------------------------------------

HPEN LinePen(const Step& s) {
  if (s.Style == LineSolid) return CreatePen(PS_SOLID, s.Width, s.Colour);
  // A cosmetic pen is dashed only one pixel wide; a wider dashed line
  // needs a geometric pen.
  if (s.Width == 1) return CreatePen(PS_DASH, 1, s.Colour);
  LOGBRUSH brush = {BS_SOLID, s.Colour, 0};
  return ExtCreatePen(PS_GEOMETRIC | PS_DASH | PS_ENDCAP_FLAT | PS_JOIN_MITER,
                      static_cast<DWORD>(s.Width), &brush, 0, nullptr);
}

void PaintLine(HDC dc, const Step& s) {
  HPEN pen = LinePen(s);
  if (!pen) return;
  HGDIOBJ old = SelectObject(dc, pen);
  MoveToEx(dc, s.X1, s.Y1, nullptr);
  LineTo(dc, s.X2, s.Y2);
  // A one-pixel line leaves out its end point; a wider one ends in a cap.
  if (s.Width == 1) SetPixelV(dc, s.X2, s.Y2, s.Colour);
  SelectObject(dc, old);
  DeleteObject(pen);
}

void PaintRect(HDC dc, const Step& s) {
  HBRUSH brush = CreateSolidBrush(s.Colour);
  if (!brush) return;
  RECT r = {s.X1, s.Y1, s.X2, s.Y2};
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

void PaintDot(HDC dc, const Step& s) {
  if (s.Width <= 0) {
    SetPixelV(dc, s.X1, s.Y1, s.Colour);
    return;
  }
  HPEN pen = CreatePen(PS_SOLID, 1, s.Colour);
  HBRUSH brush = CreateSolidBrush(s.Colour);
  if (pen && brush) {
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    Ellipse(dc, s.X1 - s.Width, s.Y1 - s.Width, s.X1 + s.Width + 1,
            s.Y1 + s.Width + 1);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
  }
  if (brush) DeleteObject(brush);
  if (pen) DeleteObject(pen);
}

// The font is selected into `dc` already.
void PaintText(HDC dc, const Step& s) {
  int length = static_cast<int>(s.Content.size());
  SIZE size = {0, 0};
  GetTextExtentPoint32A(dc, s.Content.c_str(), length, &size);
  int x = s.X1;
  int y = s.Y1;
  int across = s.Align & (AlignCentre | AlignRight);
  if (across == AlignCentre)
    x -= size.cx / 2;
  else if (across == AlignRight)
    x -= size.cx;
  if (s.Align & AlignMiddle) y -= size.cy / 2;
  SetTextColor(dc, s.Colour);
  TextOutA(dc, x, y, s.Content.c_str(), length);
}

void PaintSteps(HDC dc, const std::vector<Step>& steps) {
  // Dashed lines leave their gaps as they were; text has no background.
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ oldFont = SelectObject(dc, Win32DefaultFont());
  for (const Step& s : steps) {
    switch (s.Kind) {
      case StepLine:
        PaintLine(dc, s);
        break;
      case StepRect:
        PaintRect(dc, s);
        break;
      case StepDot:
        PaintDot(dc, s);
        break;
      case StepText:
        PaintText(dc, s);
        break;
    }
  }
  SelectObject(dc, oldFont);
}

}  // namespace

// ---------------------------------------------------------------------------
// The layer's side
// ---------------------------------------------------------------------------

void Win32ForgetDrawing(int window) {
  if (window < 0 || window >= WindowSlots) return;
  // Swapping with empty lists gives their memory back.
  std::vector<Step>().swap(Drawings[window].Building);
  std::vector<Step>().swap(Drawings[window].Shown);
  Drawings[window].Showing = false;
}

bool Win32HasDrawing(int window) {
  const Drawing* d = Of(window);
  return d && d->Showing;
}

void Win32PaintDrawing(HWND hwnd, int window) {
  PAINTSTRUCT paint;
  HDC screen = BeginPaint(hwnd, &paint);
  if (!screen) return;
  RECT client;
  GetClientRect(hwnd, &client);
  const Drawing* d = Of(window);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP picture =
      dc ? CreateCompatibleBitmap(screen, client.right, client.bottom)
         : nullptr;
  if (!d || !picture) {
    // Without a picture to paint into, the background at least.
    FillRect(screen, &paint.rcPaint, GetSysColorBrush(COLOR_BTNFACE));
  } else {
    HGDIOBJ oldPicture = SelectObject(dc, picture);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    PaintSteps(dc, d->Shown);
    const RECT& r = paint.rcPaint;
    BitBlt(screen, r.left, r.top, r.right - r.left, r.bottom - r.top, dc,
           r.left, r.top, SRCCOPY);
    SelectObject(dc, oldPicture);
  }
  if (picture) DeleteObject(picture);
  if (dc) DeleteDC(dc);
  EndPaint(hwnd, &paint);
}

// ---------------------------------------------------------------------------
// The program's side
// ---------------------------------------------------------------------------

void PlatBeginDrawing(int window) {
  Drawing* d = Of(window);
  if (d) d->Building.clear();
}

void PlatDrawLine(int window, int x1, int y1, int x2, int y2, uint32_t colour,
                  int width, LineStyle style) {
  Add(window, Step{StepLine, x1, y1, x2, y2, colour, width < 1 ? 1 : width,
                   style, Text(), 0});
}

void PlatFillRect(int window, int left, int top, int right, int bottom,
                  uint32_t colour) {
  if (right <= left || bottom <= top) return;
  Add(window, Step{StepRect, left, top, right, bottom, colour, 0, LineSolid,
                   Text(), 0});
}

void PlatDrawDot(int window, int x, int y, int radius, uint32_t colour) {
  Add(window, Step{StepDot, x, y, x, y, colour, radius, LineSolid, Text(), 0});
}

void PlatDrawText(int window, int x, int y, const Text& text, uint32_t colour,
                  int align) {
  Add(window, Step{StepText, x, y, x, y, colour, 0, LineSolid, text, align});
}

void PlatShowDrawing(int window) {
  Drawing* d = Of(window);
  if (!d) return;
  d->Shown = d->Building;
  d->Showing = true;
  // The whole client area is painted from the new list, background
  // included, so nothing needs erasing first.
  InvalidateRect(Win32Windows[window], nullptr, FALSE);
}
