// The history window's picture of the level history (ui/history_picture.h):
// every kept evaluation, over the span they cover, at the window's size.
#pragma once

#include "platform/platform.h"
#include "ui/chart_steps.h"
#include "ui/history_picture.h"

// The kept evaluations (base/state.h's ring) as the picture's series: each
// evaluation a sample with its own clock's lead, and the spans from the
// evaluation that switched an output on to the next that switched it off
// (or to the last one).
ChartSeries HistorySeries();

// The window's frame for the rectangle (left, top, width, height) of its
// drawing: whole pixels, the span of the evaluations, the present lead of
// the local clock.
ChartFrame HistoryWindowFrame(int left, int top, int width, int height);

// Draws the picture into that rectangle of the window's drawing and shows
// it. Too small a rectangle shows an empty drawing.
void DrawHistoryChart(int window, int left, int top, int width, int height);
