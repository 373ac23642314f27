#include "ui/chart_steps.h"

#include <utility>

ChartStep RectStep(double x1, double y1, double x2, double y2,
                   uint32_t colour) {
  ChartStep s;
  s.X1 = x1;
  s.Y1 = y1;
  s.X2 = x2;
  s.Y2 = y2;
  s.Colour = colour;
  return s;
}

ChartStep LineStep(double x1, double y1, double x2, double y2, uint32_t colour,
                   int width, LineStyle style) {
  ChartStep s = RectStep(x1, y1, x2, y2, colour);
  s.Kind = KindLine;
  s.Width = width;
  s.Style = style;
  return s;
}

ChartStep DotStep(double x, double y, int radius, uint32_t colour) {
  ChartStep s = RectStep(x, y, x, y, colour);
  s.Kind = KindDot;
  s.Radius = radius;
  return s;
}

ChartStep TextStep(double x, double y, const Text& words, uint32_t colour,
                   int align) {
  ChartStep s = RectStep(x, y, x, y, colour);
  s.Kind = KindText;
  s.Words = words;
  s.Align = align;
  return s;
}

ChartStep PolylineStep(std::vector<ChartPoint> points, uint32_t colour,
                       int width, int dotRadius) {
  ChartStep s;
  s.Kind = KindPolyline;
  s.Points = std::move(points);
  s.Colour = colour;
  s.Width = width;
  s.Radius = dotRadius;
  return s;
}

bool HasDot(const ChartStep& polyline, const ChartPoint& point) {
  return polyline.Radius > 0 &&
         (point.Kind == PointMove || point.Kind == PointLine);
}

namespace {

// The nearest whole pixel, halves away from zero. A window's steps are
// whole already; this is their cheap way back to int.
int Pixel(double v) { return (int)(v < 0 ? v - 0.5 : v + 0.5); }

}  // namespace

void DrawChartSteps(int window, const ChartSteps& steps) {
  for (const ChartStep& s : steps) {
    switch (s.Kind) {
      case KindRect:
        PlatFillRect(window, Pixel(s.X1), Pixel(s.Y1), Pixel(s.X2), Pixel(s.Y2),
                     s.Colour);
        break;
      case KindLine:
        PlatDrawLine(window, Pixel(s.X1), Pixel(s.Y1), Pixel(s.X2), Pixel(s.Y2),
                     s.Colour, s.Width, s.Style);
        break;
      case KindPolyline:
        for (size_t i = 0; i < s.Points.size(); i++) {
          const ChartPoint& to = s.Points[i];
          if (i > 0 && to.Kind != PointMove) {
            const ChartPoint& from = s.Points[i - 1];
            PlatDrawLine(window, Pixel(from.X), Pixel(from.Y), Pixel(to.X),
                         Pixel(to.Y), s.Colour, s.Width, s.Style);
          }
          if (HasDot(s, to))
            PlatDrawDot(window, Pixel(to.X), Pixel(to.Y), s.Radius, s.Colour);
        }
        break;
      case KindDot:
        PlatDrawDot(window, Pixel(s.X1), Pixel(s.Y1), s.Radius, s.Colour);
        break;
      case KindText:
        PlatDrawText(window, Pixel(s.X1), Pixel(s.Y1), s.Words, s.Colour,
                     s.Align);
        break;
    }
  }
}
