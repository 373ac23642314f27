#include "ui/history_chart.h"

#include <cmath>

#include "base/clock_text.h"
#include "base/operator_numbers.h"
#include "base/state.h"

namespace {

// Room around the plot for the legend, the tick labels and the axis units.
const int LegendHeight = 26;
const int TimeLabelHeight = 24;
const int VoltLabelWidth = 52;
const int RightMargin = 14;
// The first and last evaluation sit this far inside the plot's edges.
const int Inset = 6;
// Spacing the tick labels need, in pixels.
const int TimeTickSpacing = 90;
const int VoltTickSpacing = 28;
// The voltage axis shows both thresholds at least, and a level up to this
// much; a higher one (a hostile analog reply) is drawn at the top.
const double LowestTop = 1.4;
const double HighestTop = 10.0;
// Shortest time span the axis shows, in seconds: two minutes, so that the
// first few evaluations after the start do not stand in one column.
const int64_t ShortestSpan = 120;

// The time axis is universal time (LevelRecord.Universal): the order of
// events, so an hour the clock repeats at the end of summer time is drawn
// once after the other, and a run is one band however the clock was set.
// Its ticks fall on whole local hours and days at the local clock's
// present lead; each label is the local time the clock showed then.
struct Plot {
  ChartSteps* Out;
  int Left, Top, Right, Bottom;  // the axes' rectangle
  int64_t From, To;              // universal time at Left + Inset and
                                 // Right - Inset
  int64_t Lead;                  // the local clock's present lead
  double VoltTop;                // voltage at Top; 0 V at Bottom
  double VoltStep;
  int64_t TimeStep;
};

int XOf(const Plot& p, int64_t time) {
  double share = (double)(time - p.From) / (double)(p.To - p.From);
  return p.Left + Inset +
         (int)std::lround(share * (p.Right - p.Left - 2 * Inset));
}

// A level beyond the axis is drawn at its end.
int YOf(const Plot& p, double volts) {
  if (volts < 0) volts = 0;
  if (volts > p.VoltTop) volts = p.VoltTop;
  return p.Bottom - (int)std::lround(volts / p.VoltTop * (p.Bottom - p.Top));
}

// The evaluations' time span, at least ShortestSpan, centred on them when
// they span less; without any, the last ShortestSpan up to now. Then the
// tick step: the shortest that leaves each label its room.
void ChooseTimeSpan(Plot* p) {
  int n = HistorySize();
  int64_t universal = PlatUniversalClock();
  p->Lead = LeadOf(PlatLocalClock(), universal);
  if (n == 0) {
    p->To = universal;
    p->From = p->To - ShortestSpan;
  } else {
    // The earliest and the latest: the system clock may have been set
    // back, so they need not be the first and the last.
    p->From = p->To = HistoryEntry(0).Universal;
    for (int i = 1; i < n; i++) {
      int64_t t = HistoryEntry(i).Universal;
      if (t < p->From) p->From = t;
      if (t > p->To) p->To = t;
    }
  }
  if (p->To - p->From < ShortestSpan) {
    int64_t middle = p->From + (p->To - p->From) / 2;
    p->From = middle - ShortestSpan / 2;
    p->To = p->From + ShortestSpan;
  }
  // Seconds to four weeks; local time, so a day's tick falls on midnight.
  static const int64_t Steps[] = {10,     15,     30,     60,      120,
                                  300,    600,    900,    1800,    3600,
                                  7200,   10800,  21600,  43200,   86400,
                                  172800, 345600, 604800, 1209600, 2419200};
  int room = (p->Right - p->Left) / TimeTickSpacing;
  if (room < 2) room = 2;
  p->TimeStep = 0;
  for (int64_t step : Steps) {
    if ((p->To - p->From) / step <= room) {
      p->TimeStep = step;
      break;
    }
  }
  if (p->TimeStep == 0) {
    int64_t weeks = (p->To - p->From) / (room * 604800) + 1;
    p->TimeStep = weeks * 604800;
  }
}

void ChooseVoltSpan(Plot* p) {
  double top = LowestTop;
  for (int i = 0; i < HistorySize(); i++) {
    double v = HistoryEntry(i).Level5;
    if (std::isfinite(v) && v > top) top = v;
  }
  if (top > HighestTop) top = HighestTop;
  static const double Steps[] = {0.1, 0.2, 0.25, 0.5, 1.0, 2.0};
  int room = (p->Bottom - p->Top) / VoltTickSpacing;
  if (room < 2) room = 2;
  p->VoltStep = 2.0;
  for (double step : Steps) {
    if (std::ceil(top / step - 1e-9) <= room) {
      p->VoltStep = step;
      break;
    }
  }
  p->VoltTop = std::ceil(top / p->VoltStep - 1e-9) * p->VoltStep;
}

// The spans in which the evaluations had switched `output` on: from the
// one that sent "on" to the next that sent "off", or to the last one.
void DrawBand(const Plot& p, int64_t start, int64_t end, uint32_t colour) {
  int x1 = XOf(p, start);
  int x2 = XOf(p, end);
  if (x2 < x1 + 4) x2 = x1 + 4;  // a span just begun is still seen
  if (x1 < p.Left + 1) x1 = p.Left + 1;
  if (x2 > p.Right) x2 = p.Right;
  p.Out->push_back(RectStep(x1, p.Top, x2, p.Bottom, colour));
}

void DrawBands(const Plot& p, int output, uint32_t colour) {
  int n = HistorySize();
  bool on = false;
  int64_t start = 0;
  for (int i = 0; i < n; i++) {
    const LevelRecord& r = HistoryEntry(i);
    int sent = output == 4 ? r.Output4 : r.Output5;
    if (sent == 1 && !on) {
      on = true;
      start = r.Universal;
    } else if (sent == 0 && on) {
      DrawBand(p, start, r.Universal, colour);
      on = false;
    }
  }
  if (on) DrawBand(p, start, HistoryEntry(n - 1).Universal, colour);
}

// The local time the clock showed at a universal instant: with the lead of
// the last evaluation at or before it (the first one's before them all),
// or the present lead without any.
int64_t LocalOf(const Plot& p, int64_t universal) {
  int n = HistorySize();
  if (n == 0) return universal + p.Lead;
  int low = 0, high = n - 1;
  if (HistoryEntry(0).Universal > universal) high = 0;
  while (low < high) {
    int middle = (low + high + 1) / 2;
    if (HistoryEntry(middle).Universal <= universal)
      low = middle;
    else
      high = middle - 1;
  }
  const LevelRecord& r = HistoryEntry(low);
  return universal + LeadOf(r.Time, r.Universal);
}

void DrawGridAndLabels(const Plot& p) {
  for (int k = 0; k * p.VoltStep <= p.VoltTop + 1e-9; k++) {
    double v = k * p.VoltStep;
    int y = YOf(p, v);
    if (k > 0)
      p.Out->push_back(
          LineStep(p.Left + 1, y, p.Right, y, ChartGrid, 1, LineSolid));
    p.Out->push_back(TextStep(p.Left - 6, y, VoltsToHundredths(v), ChartText,
                              AlignRight | AlignMiddle));
  }
  p.Out->push_back(
      TextStep(p.Left - 6, p.Top - 20, "Volt", ChartText, AlignRight));

  int64_t first = FloorDiv(p.From + p.Lead, p.TimeStep) * p.TimeStep - p.Lead;
  for (int64_t u = first; u <= p.To; u += p.TimeStep) {
    int x = XOf(p, u);
    if (x < p.Left || x > p.Right) continue;
    p.Out->push_back(
        LineStep(x, p.Top, x, p.Bottom - 1, ChartGrid, 1, LineSolid));
    int64_t t = LocalOf(p, u);
    bool wholeDay = SecondOfDay(t) == 0;
    Text label = p.TimeStep >= 86400 || wholeDay ? DayMonthText(t)
                 : p.TimeStep < 60               ? HourMinuteSecondText(t)
                                                 : HourMinuteText(t);
    p.Out->push_back(TextStep(x, p.Bottom + 5, label, ChartText, AlignCentre));
  }
}

void DrawThreshold(const Plot& p, double volts, uint32_t colour,
                   const Text& name, bool labelAbove) {
  int y = YOf(p, volts);
  p.Out->push_back(LineStep(p.Left + 1, y, p.Right, y, colour, 1, LineDashed));
  p.Out->push_back(TextStep(p.Right - 4, labelAbove ? y - 16 : y + 3,
                            name + " " + VoltsToHundredths(volts) + " V",
                            colour, AlignRight));
}

// The levels as a line through the evaluations; a level that is no number
// breaks it. Points as long as they stand apart.
void DrawLevels(const Plot& p) {
  int n = HistorySize();
  bool points = n * 5 <= p.Right - p.Left;
  bool joined = false;
  int lastX = 0;
  int lastY = 0;
  for (int i = 0; i < n; i++) {
    const LevelRecord& r = HistoryEntry(i);
    if (std::isnan(r.Level5)) {
      joined = false;
      continue;
    }
    int x = XOf(p, r.Universal);
    int y = YOf(p, r.Level5);
    if (joined)
      p.Out->push_back(LineStep(lastX, lastY, x, y, ChartLevel, 2, LineSolid));
    if (points || n == 1) p.Out->push_back(DotStep(x, y, 3, ChartLevel));
    joined = true;
    lastX = x;
    lastY = y;
  }
}

void DrawLegend(const Plot& p, int top) {
  int x = p.Left;
  int y = top + 6;
  p.Out->push_back(RectStep(x, y + 2, x + 14, y + 12, ChartOutput4Band));
  p.Out->push_back(
      TextStep(x + 20, y, "Ausgang 4 ein (Minimum)", ChartText, AlignLeft));
  x += 180;
  p.Out->push_back(RectStep(x, y + 2, x + 14, y + 12, ChartOutput5Band));
  p.Out->push_back(
      TextStep(x + 20, y, "Ausgang 5 ein (Maximum)", ChartText, AlignLeft));
  x += 180;
  p.Out->push_back(LineStep(x, y + 7, x + 14, y + 7, ChartLevel, 2, LineSolid));
  p.Out->push_back(TextStep(x + 20, y, "Wasserstand", ChartText, AlignLeft));
}

}  // namespace

ChartSteps HistoryChartSteps(int left, int top, int width, int height) {
  ChartSteps steps;
  Plot p{};
  p.Out = &steps;
  p.Left = left + VoltLabelWidth;
  p.Top = top + LegendHeight + 14;
  p.Right = left + width - RightMargin;
  p.Bottom = top + height - TimeLabelHeight;
  if (p.Right - p.Left < 4 * Inset + 20 || p.Bottom - p.Top < 40) return steps;
  ChooseTimeSpan(&p);
  ChooseVoltSpan(&p);

  p.Out->push_back(
      RectStep(p.Left, p.Top, p.Right + 1, p.Bottom + 1, ChartBackground));
  DrawBands(p, 4, ChartOutput4Band);
  DrawBands(p, 5, ChartOutput5Band);
  DrawGridAndLabels(p);
  DrawThreshold(p, MaximumThreshold, ChartMaximumLine, "Maximum", true);
  DrawThreshold(p, MinimumThreshold, ChartMinimumLine, "Minimum", false);
  p.Out->push_back(
      LineStep(p.Left, p.Top, p.Left, p.Bottom, ChartAxis, 1, LineSolid));
  p.Out->push_back(
      LineStep(p.Left, p.Bottom, p.Right, p.Bottom, ChartAxis, 1, LineSolid));
  DrawLevels(p);
  DrawLegend(p, top);
  if (HistorySize() == 0)
    p.Out->push_back(TextStep((p.Left + p.Right) / 2, (p.Top + p.Bottom) / 2,
                              "Noch keine Messung seit dem Programmstart",
                              ChartText, AlignCentre | AlignMiddle));
  return steps;
}

void DrawHistoryChart(int window, int left, int top, int width, int height) {
  PlatBeginDrawing(window);
  DrawChartSteps(window, HistoryChartSteps(left, top, width, height));
  PlatShowDrawing(window);
}
