// Headless stand-in: the drawings of the program's windows. Each window has
// the list the program is building and the list it showed last; tests
// read the shown one, as the operator would see it.

#include <map>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/headless/headless_internal.h"

namespace {

struct Drawing {
  std::vector<HeadlessDrawStep> Building;
  std::vector<HeadlessDrawStep> Shown;
  int ShowCount = 0;
};

std::map<int, Drawing> Drawings;
const std::vector<HeadlessDrawStep> NoSteps;

// The drawing of an open window, nullptr otherwise.
Drawing* Of(int window) {
  if (!PlatWindowIsOpen(window)) return nullptr;
  return &Drawings[window];
}

void Add(int window, const HeadlessDrawStep& step) {
  Drawing* d = Of(window);
  if (d) d->Building.push_back(step);
}

}  // namespace

void HeadlessResetDrawings() { Drawings.clear(); }

void HeadlessForgetDrawing(int window) { Drawings.erase(window); }

const std::vector<HeadlessDrawStep>& HeadlessShownDrawing(int window) {
  auto it = Drawings.find(window);
  if (it == Drawings.end() || !PlatWindowIsOpen(window)) return NoSteps;
  return it->second.Shown;
}

int HeadlessDrawingShowCount(int window) {
  auto it = Drawings.find(window);
  return it == Drawings.end() ? 0 : it->second.ShowCount;
}

void PlatBeginDrawing(int window) {
  Drawing* d = Of(window);
  if (d) d->Building.clear();
}

void PlatDrawLine(int window, int x1, int y1, int x2, int y2, uint32_t colour,
                  int width, LineStyle style) {
  Add(window, HeadlessDrawStep{StepLine, x1, y1, x2, y2, colour,
                               width < 1 ? 1 : width, style, Text(), 0});
}

void PlatFillRect(int window, int left, int top, int right, int bottom,
                  uint32_t colour) {
  if (right <= left || bottom <= top) return;
  Add(window, HeadlessDrawStep{StepRect, left, top, right, bottom, colour, 0,
                               LineSolid, Text(), 0});
}

void PlatDrawDot(int window, int x, int y, int radius, uint32_t colour) {
  Add(window, HeadlessDrawStep{StepDot, x, y, x, y, colour, radius, LineSolid,
                               Text(), 0});
}

void PlatDrawText(int window, int x, int y, const Text& text, uint32_t colour,
                  int align) {
  Add(window, HeadlessDrawStep{StepText, x, y, x, y, colour, 0, LineSolid, text,
                               align});
}

void PlatShowDrawing(int window) {
  Drawing* d = Of(window);
  if (!d) return;
  d->Shown = d->Building;
  d->ShowCount++;
}
