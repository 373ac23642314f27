// A picture as a list of drawing steps: the history picture is worked out
// once into such a list (ui/history_picture.h), and the list is then drawn
// into a window (DrawChartSteps) or written as SVG (web/web_page.h).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

enum ChartStepKind {
  KindRect,      // filled rectangle (X1, Y1) to (X2, Y2)
  KindLine,      // line (X1, Y1) to (X2, Y2), Width, Style
  KindPolyline,  // Points, Width; a Move point begins a new stroke. With a
                 // Radius, a dot at each point a move or a straight line
                 // goes to, drawn as the line reaches it
  KindDot,       // filled circle at (X1, Y1), Radius
  KindText,      // Words at (X1, Y1), placed by Align: its top at Y1, or
                 // with AlignMiddle its middle
};

// A point of a polyline: where it goes and how it gets there.
enum ChartPointKind {
  PointMove,        // lift the pen and go to (X, Y)
  PointLine,        // a straight line to (X, Y)
  PointVertical,    // straight down or up to Y
  PointHorizontal,  // straight across to X
};

struct ChartPoint {
  ChartPointKind Kind;
  double X, Y;  // both always set, also for a vertical or a horizontal
};

struct ChartStep {
  ChartStepKind Kind = KindRect;
  double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  uint32_t Colour = 0;  // 0x00BBGGRR
  int Width = 1;
  LineStyle Style = LineSolid;
  int Radius = 0;
  int Align = AlignLeft;
  Text Words;
  std::vector<ChartPoint> Points;
};

using ChartSteps = std::vector<ChartStep>;

ChartStep RectStep(double x1, double y1, double x2, double y2, uint32_t colour);
ChartStep LineStep(double x1, double y1, double x2, double y2, uint32_t colour,
                   int width, LineStyle style);
ChartStep DotStep(double x, double y, int radius, uint32_t colour);
ChartStep TextStep(double x, double y, const Text& words, uint32_t colour,
                   int align);
ChartStep PolylineStep(std::vector<ChartPoint> points, uint32_t colour,
                       int width, int dotRadius = 0);
// Whether a polyline has a dot at one of its points.
bool HasDot(const ChartStep& polyline, const ChartPoint& point);

// Draws the steps into the window's drawing in their order, coordinates
// taken as whole pixels. Neither begins nor shows the drawing.
void DrawChartSteps(int window, const ChartSteps& steps);
