#include "ui/history_picture.h"

#include <cmath>
#include <utility>

#include "base/clock_text.h"
#include "base/operator_numbers.h"
#include "base/state.h"

namespace {

// The voltage axis shows both thresholds at least, and a level up to this
// much; a higher one (a hostile analog reply) is drawn at the top.
const double LowestTop = 1.4;
const double HighestTop = 10.0;

// The time axis is universal time: the order of events, so an hour the
// clock repeats at the end of summer time is drawn once after the other,
// and a run is one band however the clock was set.
struct Plot {
  const ChartSeries* Series;
  const ChartFrame* Frame;
  ChartSteps* Out;
  double Left, Top, Right, Bottom;  // the frame's plot
  int64_t From, To;  // universal time at Left + Inset and Right - Inset
  double VoltTop;    // voltage at Top; 0 V at Bottom
  double VoltStep;
  int64_t TimeStep;

  double X(int64_t time) const {
    double across = Right - Left - 2 * Frame->Inset;
    double x;
    if (Frame->WholePixels)
      x = (double)std::lround((double)(time - From) / (double)(To - From) *
                              across);
    else
      x = across * (double)(time - From) / (double)(To - From);
    return Left + Frame->Inset + x;
  }

  // A level beyond the axis is drawn at its end.
  double Y(double volts) const {
    if (volts < 0) volts = 0;
    if (volts > VoltTop) volts = VoltTop;
    if (Frame->WholePixels)
      return Bottom - (double)std::lround(volts / VoltTop * (Bottom - Top));
    return Bottom - (Bottom - Top) * volts / VoltTop;
  }

  // The middle between two coordinates, at a whole pixel or exact.
  double Middle(double a, double b) const {
    double m = (a + b) / 2;
    return Frame->WholePixels ? std::floor(m) : m;
  }
};

// The samples' time span, at least the frame's Span, centred on them when
// they span less; without any, or with a fixed span, the Span up to the
// frame's End. Then the tick step: the shortest that leaves each label its
// room.
void ChooseTimeSpan(Plot* p) {
  const ChartFrame& f = *p->Frame;
  const std::vector<ChartSample>& samples = p->Series->Samples;
  if (!f.FitTime || samples.empty()) {
    p->To = f.End;
    p->From = p->To - f.Span;
  } else {
    // The earliest and the latest: the system clock may have been set
    // back, so they need not be the first and the last.
    p->From = p->To = samples[0].Universal;
    for (const ChartSample& s : samples) {
      if (s.Universal < p->From) p->From = s.Universal;
      if (s.Universal > p->To) p->To = s.Universal;
    }
  }
  int64_t least = f.Span > 0 ? f.Span : 1;  // never a span of nothing
  if (p->To - p->From < least) {
    int64_t middle = p->From + (p->To - p->From) / 2;
    p->From = middle - least / 2;
    p->To = p->From + least;
  }
  // Seconds to four weeks; local time, so a day's tick falls on midnight.
  static const int64_t Steps[] = {10,     15,     30,     60,      120,
                                  300,    600,    900,    1800,    3600,
                                  7200,   10800,  21600,  43200,   86400,
                                  172800, 345600, 604800, 1209600, 2419200};
  int room =
      f.TimeTickRoom > 0 ? (int)((p->Right - p->Left) / f.TimeTickRoom) : 2;
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
  const ChartFrame& f = *p->Frame;
  double top = LowestTop;
  for (const ChartSample& s : p->Series->Samples)
    if (s.HasLevel && std::isfinite(s.High) && s.High > top) top = s.High;
  if (top > HighestTop) top = HighestTop;
  int room =
      f.VoltTickRoom > 0 ? (int)((p->Bottom - p->Top) / f.VoltTickRoom) : 2;
  if (room < 2) room = 2;
  p->VoltStep = f.VoltSteps.empty() ? 1.0 : f.VoltSteps.back();
  for (double step : f.VoltSteps) {
    if (std::ceil(top / step - 1e-9) <= room) {
      p->VoltStep = step;
      break;
    }
  }
  p->VoltTop = std::ceil(top / p->VoltStep - 1e-9) * p->VoltStep;
}

// The spans in which an output was on; a span just begun is still seen.
void DrawBands(const Plot& p, const std::vector<ChartSpan>& on,
               uint32_t colour) {
  const ChartFrame& f = *p.Frame;
  for (const ChartSpan& span : on) {
    if (span.To < p.From || span.From > p.To) continue;
    double x1 = p.X(span.From < p.From ? p.From : span.From);
    double x2 = p.X(span.To);
    if (x2 < x1 + f.LeastBand) x2 = x1 + f.LeastBand;
    if (x1 < p.Left + f.AxisWidth) x1 = p.Left + f.AxisWidth;
    if (x2 > p.Right) x2 = p.Right;
    p.Out->push_back(RectStep(x1, p.Top, x2, p.Bottom, colour));
  }
}

// The local time the clock showed at a universal instant: with the lead
// of the last sample at or before it (the first one's before them all),
// or the frame's lead.
int64_t LocalOf(const Plot& p, int64_t universal) {
  const std::vector<ChartSample>& samples = p.Series->Samples;
  if (!p.Series->Leads || samples.empty()) return universal + p.Frame->Lead;
  size_t low = 0, high = samples.size() - 1;
  if (samples[0].Universal > universal) high = 0;
  while (low < high) {
    size_t middle = (low + high + 1) / 2;
    if (samples[middle].Universal <= universal)
      low = middle;
    else
      high = middle - 1;
  }
  return universal + samples[low].Lead;
}

void DrawGridAndLabels(const Plot& p) {
  const ChartFrame& f = *p.Frame;
  for (int k = 0; k * p.VoltStep <= p.VoltTop + 1e-9; k++) {
    double v = k * p.VoltStep;
    double y = p.Y(v);
    if (k > 0)
      p.Out->push_back(LineStep(p.Left + f.AxisWidth, y, p.Right, y, ChartGrid,
                                1, LineSolid));
    p.Out->push_back(TextStep(p.Left - f.LabelGap, y, VoltsToHundredths(v),
                              ChartText, AlignRight | AlignMiddle));
  }
  p.Out->push_back(TextStep(p.Left - f.LabelGap, p.Top - f.UnitRise, "Volt",
                            ChartText, AlignRight));

  int64_t first = FloorDiv(p.From + f.Lead, p.TimeStep) * p.TimeStep - f.Lead;
  for (int64_t u = first; u <= p.To; u += p.TimeStep) {
    double x = p.X(u);
    if (x < p.Left || x > p.Right) continue;
    p.Out->push_back(
        LineStep(x, p.Top, x, p.Bottom - f.AxisWidth, ChartGrid, 1, LineSolid));
    int64_t t = LocalOf(p, u);
    bool date =
        p.TimeStep >= 86400 || (f.DatesAtMidnight && SecondOfDay(t) == 0);
    Text label = date              ? DayMonthText(t)
                 : p.TimeStep < 60 ? HourMinuteSecondText(t)
                                   : HourMinuteText(t);
    p.Out->push_back(
        TextStep(x, p.Bottom + f.TimeLabelDrop, label, ChartText, AlignCentre));
  }
}

void DrawThreshold(const Plot& p, double volts, uint32_t colour,
                   const Text& name, bool labelAbove) {
  const ChartFrame& f = *p.Frame;
  double y = p.Y(volts);
  p.Out->push_back(
      LineStep(p.Left + f.AxisWidth, y, p.Right, y, colour, 1, LineDashed));
  p.Out->push_back(TextStep(
      p.Right - 4, labelAbove ? y - f.AboveLine : y + f.BelowLine,
      name + " " + VoltsToHundredths(volts) + " V", colour, AlignRight));
}

// The levels as a line through the samples, broken where one has none or
// does not join on; within a sample, from its first level down and up to
// its lowest and highest and on to its last. Points as long as the
// evaluations stand apart, or the one of a single evaluation.
void DrawLevels(const Plot& p) {
  const ChartFrame& f = *p.Frame;
  const ChartSeries& series = *p.Series;
  bool points = (f.PointRoom > 0 &&
                 series.Evaluations * f.PointRoom <= p.Right - p.Left) ||
                series.Evaluations == 1;
  std::vector<ChartPoint> line;
  line.reserve(series.Samples.size());
  bool drawn = false;
  for (const ChartSample& s : series.Samples) {
    if (!s.HasLevel) {
      drawn = false;
      continue;
    }
    double x = p.X(s.Universal);
    if (x < p.Left) x = p.Left;
    if (x > p.Right) x = p.Right;
    double y = p.Y(s.First);
    line.push_back({drawn && s.Joined ? PointLine : PointMove, x, y});
    if (s.Low != s.First) line.push_back({PointVertical, x, p.Y(s.Low)});
    if (s.High != s.Low) line.push_back({PointVertical, x, p.Y(s.High)});
    if (s.Last != s.High) line.push_back({PointVertical, x, p.Y(s.Last)});
    drawn = true;
  }
  if (!line.empty())
    p.Out->push_back(
        PolylineStep(std::move(line), ChartLevel, 2, points ? 3 : 0));
}

void DrawLegend(const Plot& p) {
  const ChartFrame& f = *p.Frame;
  double y = f.Top + f.LegendDrop;
  double x = p.Left + f.LegendAt[0];
  p.Out->push_back(RectStep(x, y + 2, x + 14, y + 12, ChartOutput4Band));
  p.Out->push_back(TextStep(x + f.LegendTextGap, y, "Ausgang 4 ein (Minimum)",
                            ChartText, AlignLeft));
  x = p.Left + f.LegendAt[1];
  p.Out->push_back(RectStep(x, y + 2, x + 14, y + 12, ChartOutput5Band));
  p.Out->push_back(TextStep(x + f.LegendTextGap, y, "Ausgang 5 ein (Maximum)",
                            ChartText, AlignLeft));
  x = p.Left + f.LegendAt[2];
  p.Out->push_back(LineStep(x, y + 7, x + 14, y + 7, ChartLevel, 2, LineSolid));
  p.Out->push_back(
      TextStep(x + f.LegendTextGap, y, "Wasserstand", ChartText, AlignLeft));
}

}  // namespace

ChartSteps HistoryPictureSteps(const ChartSeries& series,
                               const ChartFrame& frame) {
  ChartSteps steps;
  Plot p{};
  p.Series = &series;
  p.Frame = &frame;
  p.Out = &steps;
  p.Left = frame.PlotLeft;
  p.Top = frame.PlotTop;
  p.Right = frame.PlotRight;
  p.Bottom = frame.PlotBottom;
  if (p.Right - p.Left < 4 * frame.Inset + 20 || p.Bottom - p.Top < 40)
    return steps;
  ChooseTimeSpan(&p);
  ChooseVoltSpan(&p);

  steps.push_back(
      RectStep(p.Left, p.Top, p.Right + 1, p.Bottom + 1, ChartBackground));
  DrawBands(p, series.On[0], ChartOutput4Band);
  DrawBands(p, series.On[1], ChartOutput5Band);
  DrawGridAndLabels(p);
  DrawThreshold(p, MaximumThreshold, ChartMaximumLine, "Maximum", true);
  DrawThreshold(p, MinimumThreshold, ChartMinimumLine, "Minimum", false);
  steps.push_back(PolylineStep({{PointMove, p.Left, p.Top},
                                {PointVertical, p.Left, p.Bottom},
                                {PointHorizontal, p.Right, p.Bottom}},
                               ChartAxis, 1));
  DrawLevels(p);
  DrawLegend(p);
  if (series.Evaluations == 0)
    steps.push_back(TextStep(p.Middle(p.Left, p.Right),
                             p.Middle(p.Top, p.Bottom), frame.Empty, ChartText,
                             AlignCentre | AlignMiddle));
  return steps;
}
