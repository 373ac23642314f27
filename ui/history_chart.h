// The picture of the level history: the level of every kept evaluation
// over local time, the Minimum and Maximum thresholds, and the spans in
// which the evaluations had switched output 4 or 5 on.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "ui/chart_steps.h"

// Colours of the picture (0x00BBGGRR).
enum : uint32_t {
  ChartBackground = 0x00FFFFFF,
  ChartGrid = 0x00E0E0E0,
  ChartAxis = 0x00000000,
  ChartText = 0x00000000,
  ChartLevel = 0x00A05000,        // the level: line and points
  ChartMinimumLine = 0x000000C0,  // the Minimum threshold
  ChartMaximumLine = 0x00C00000,  // the Maximum threshold
  ChartOutput4Band = 0x00C8C8FF,  // output 4 on: the well ran low
  ChartOutput5Band = 0x00FFDCB4,  // output 5 on: the well is full
};

// The picture in the rectangle (left, top, width, height) as drawing
// steps, worked out from the history ring and the clock. Too small a
// rectangle gives none.
ChartSteps HistoryChartSteps(int left, int top, int width, int height);

// Draws the picture into the rectangle (left, top, width, height) of the
// window's drawing and shows it. Too small a rectangle shows an empty
// drawing.
void DrawHistoryChart(int window, int left, int top, int width, int height);
