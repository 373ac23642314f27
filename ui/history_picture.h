// The picture of the level history, worked out once for every view: the
// level of the evaluations over time, the Minimum and Maximum thresholds,
// and the spans in which output 4 or 5 was on, as drawing steps
// (ui/chart_steps.h). The history window draws them (ui/history_chart.h),
// the status page writes them as SVG (web/web_page.h); what sets the two
// apart (size, the room of the labels, the ticks, what is labelled, whole
// pixels or tenths) is the frame's.
#pragma once

#include <cstdint>
#include <vector>

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

// A point of the level's line: one evaluation (the window), or the
// evaluations of a column of time (the page's day), with the first,
// lowest, highest and last level that came in it.
struct ChartSample {
  int64_t Universal;  // universal time it is drawn at, s
  int64_t Lead;       // the local clock's lead on it then (with Leads)
  bool HasLevel;      // false: no level, the line breaks here
  bool Joined;        // the line comes on from the sample before it
  double First, Low, High, Last;
};

// A span in which an output was on, in universal time.
struct ChartSpan {
  int64_t From, To;
};

// What the picture shows: the samples in the order they were taken (the
// system clock may have been set back, so not always in time order), the
// spans of output 4 and of output 5, and how many evaluations they hold.
struct ChartSeries {
  std::vector<ChartSample> Samples;
  bool Leads = false;  // the samples carry the local clock's lead: a tick's
                       // label is the local time of the sample at or
                       // before it; otherwise the frame's Lead
  std::vector<ChartSpan> On[2];  // output 4, output 5
  int Evaluations = 0;
};

// Where and how the picture is drawn, in the drawing's units.
struct ChartFrame {
  // The picture's top left corner (the legend hangs from it), and the
  // axes' rectangle.
  double Left = 0, Top = 0;
  double PlotLeft = 0, PlotTop = 0, PlotRight = 0, PlotBottom = 0;
  // A window draws at whole pixels: each coordinate is rounded where it
  // is worked out. Otherwise exact.
  bool WholePixels = false;
  // What the axes take of the plot's inside: the pixel column and row of
  // a window's axis lines (1); nothing for lines centred on them (0).
  double AxisWidth = 0;
  // The earliest and the latest time sit this far inside the plot.
  double Inset = 0;

  // The time axis: the samples' own span when FitTime (at least Span,
  // centred on them; without samples the Span up to End), otherwise the
  // Span up to End. Ticks fall on whole local hours and days at the
  // clock's Lead; the shortest step that leaves each label TimeTickRoom.
  bool FitTime = false;
  int64_t Span = 120;
  int64_t End = 0;
  int64_t Lead = 0;
  double TimeTickRoom = 90;
  // A tick at local midnight is labelled with its date.
  bool DatesAtMidnight = false;

  // The voltage axis: from 0 V to the highest level (at least 1,4 V, at
  // most 10 V), in the first of VoltSteps that leaves each label
  // VoltTickRoom (the last when none does).
  std::vector<double> VoltSteps;
  double VoltTickRoom = 28;

  // A band just begun is drawn this wide.
  double LeastBand = 4;
  // Points on the line as long as each evaluation has this much room
  // across; 0: none (but the one of a single evaluation).
  double PointRoom = 0;

  // Where the labels sit, with a line of text's top at its y (or its
  // middle for the voltages): the voltages and "Volt" end LabelGap left
  // of the plot, "Volt" is UnitRise above its top, the time labels
  // TimeLabelDrop below its bottom; a threshold's name ends 4 inside the
  // plot's right edge, AboveLine above the Maximum's line, BelowLine below
  // the Minimum's.
  double LabelGap = 6;
  double UnitRise = 20;
  double TimeLabelDrop = 5;
  double AboveLine = 16;
  double BelowLine = 3;
  // The legend's three marks, from the plot's left edge and LegendDrop
  // below the picture's top; each mark's words LegendTextGap right of it.
  double LegendAt[3] = {0, 180, 360};
  double LegendDrop = 6;
  double LegendTextGap = 20;

  // The words in the middle of a plot without any evaluation.
  Text Empty;
};

// The picture of `series` in `frame`. A plot too small to show anything
// (less than 4 insets and 20 across, or 40 high) gives no steps.
ChartSteps HistoryPictureSteps(const ChartSeries& series,
                               const ChartFrame& frame);
