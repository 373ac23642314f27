#include "ui/history_chart.h"

#include <cmath>

#include "base/clock_text.h"
#include "base/state.h"

namespace {

// Room around the plot for the legend, the tick labels and the axis units.
const int LegendHeight = 26;
const int TimeLabelHeight = 24;
const int VoltLabelWidth = 52;
const int RightMargin = 14;

}  // namespace

ChartSeries HistorySeries() {
  ChartSeries series;
  int n = HistorySize();
  series.Leads = true;
  series.Evaluations = n;
  series.Samples.reserve(n);
  bool on[2] = {false, false};
  int64_t start[2] = {0, 0};
  for (int i = 0; i < n; i++) {
    const LevelRecord& r = HistoryEntry(i);
    ChartSample s{};
    s.Universal = r.Universal;
    s.Lead = LeadOf(r.Time, r.Universal);
    // Infinity is drawn at the axis' end; only what is no number breaks
    // the line.
    s.HasLevel = !std::isnan(r.Level5);
    s.Joined = true;
    s.First = s.Low = s.High = s.Last = r.Level5;
    series.Samples.push_back(s);
    const int sent[2] = {r.Output4, r.Output5};
    for (int k = 0; k < 2; k++) {
      if (sent[k] == 1 && !on[k]) {
        on[k] = true;
        start[k] = r.Universal;
      } else if (sent[k] == 0 && on[k]) {
        series.On[k].push_back(ChartSpan{start[k], r.Universal});
        on[k] = false;
      }
    }
  }
  for (int k = 0; k < 2; k++)
    if (on[k])
      series.On[k].push_back(
          ChartSpan{start[k], HistoryEntry(n - 1).Universal});
  return series;
}

ChartFrame HistoryWindowFrame(int left, int top, int width, int height) {
  ChartFrame f;
  f.Left = left;
  f.Top = top;
  f.PlotLeft = left + VoltLabelWidth;
  f.PlotTop = top + LegendHeight + 14;
  f.PlotRight = left + width - RightMargin;
  f.PlotBottom = top + height - TimeLabelHeight;
  f.WholePixels = true;
  f.AxisWidth = 1;
  f.Inset = 6;
  // At least two minutes, so that the first few evaluations after the
  // start do not stand in one column.
  f.FitTime = true;
  f.Span = 120;
  f.End = PlatUniversalClock();
  f.Lead = LeadOf(PlatLocalClock(), f.End);
  f.TimeTickRoom = 90;
  f.DatesAtMidnight = true;
  f.VoltSteps = {0.1, 0.2, 0.25, 0.5, 1.0, 2.0};
  f.VoltTickRoom = 28;
  f.LeastBand = 4;
  f.PointRoom = 5;
  f.Empty = "Noch keine Messung seit dem Programmstart";
  return f;
}

void DrawHistoryChart(int window, int left, int top, int width, int height) {
  PlatBeginDrawing(window);
  DrawChartSteps(window, HistoryPictureSteps(
                             HistorySeries(),
                             HistoryWindowFrame(left, top, width, height)));
  PlatShowDrawing(window);
}
