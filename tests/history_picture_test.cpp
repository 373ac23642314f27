// The level history's picture, worked out once: the window's ring and the
// page's day of the same evaluations give the same steps in one frame, and
// what sets the window's picture and the page's apart is the frame's.
#include "ui/history_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "base/state.h"
#include "control/web_snapshot.h"
#include "platform/headless/headless.h"
#include "ui/history_chart.h"
#include "web/web_page.h"

namespace {

// 06.12.2026 12:00 universal time, the local clock an hour ahead.
const int64_t End = 20793 * 86400LL + 12 * 3600;
const int64_t Lead = 3600;

// An evaluation at the middle of the column of time it falls in, so that
// the page's column stands where the window's evaluation does.
LevelRecord Evaluation(int64_t column, double level, int out4, int out5) {
  LevelRecord r{};
  r.Universal = column * WebColumnSeconds + WebColumnSeconds / 2;
  r.Time = r.Universal + Lead;
  r.Level5 = r.Level4 = level;
  r.Output4 = (int8_t)out4;
  r.Output5 = (int8_t)out5;
  return r;
}

std::vector<Text> Texts(const ChartSteps& steps, int align) {
  std::vector<Text> found;
  for (const ChartStep& s : steps)
    if (s.Kind == KindText && s.Align == align) found.push_back(s.Words);
  return found;
}

size_t Count(const ChartSteps& steps, ChartStepKind kind, uint32_t colour) {
  return (size_t)std::count_if(
      steps.begin(), steps.end(),
      [&](const ChartStep& s) { return s.Kind == kind && s.Colour == colour; });
}

// The radius of the dots on the level's line (0: none).
int LevelDots(const ChartSteps& steps) {
  for (const ChartStep& s : steps)
    if (s.Kind == KindPolyline && s.Colour == ChartLevel) return s.Radius;
  return -1;
}

class HistoryPicture : public ::testing::Test {
 protected:
  void SetUp() override {
    HeadlessReset();
    InitDefaults();
  }
  void TearDown() override { HeadlessReset(); }

  // The evaluations into the ring (the window) and into the page's day.
  void Keep(const std::vector<LevelRecord>& evaluations) {
    for (const LevelRecord& r : evaluations) {
      KeepEvaluation(r);
      AddToWebDay(&page_.Day, r);
    }
    page_.DayEndUniversal = End;
    page_.DayEndLocal = End + Lead;
  }
  WebSnapshot page_{};
};

}  // namespace

TEST_F(HistoryPicture, TheRingAndThePagesDayDrawTheSameSteps) {
  // A morning: output 4 on and off again, a reading that was no number,
  // output 5 on up to the last evaluation.
  int64_t c = End / WebColumnSeconds - 200;
  Keep({Evaluation(c, 0.9, 0, 0), Evaluation(c + 20, 0.19, 1, 0),
        Evaluation(c + 40, 0.15, 1, 0), Evaluation(c + 60, 0.6, 0, 0),
        Evaluation(c + 80, NAN, -1, -1), Evaluation(c + 100, 0.8, 0, 0),
        Evaluation(c + 150, 1.25, 0, 1), Evaluation(c + 190, 1.3, 0, 1)});
  ChartFrame frame = WebPictureFrame(page_);
  ChartSteps window = HistoryPictureSteps(HistorySeries(), frame);
  ChartSteps page =
      HistoryPictureSteps(WebPictureSeries(page_), WebPictureFrame(page_));
  EXPECT_EQ(SvgOfChartSteps(window), SvgOfChartSteps(page));
  EXPECT_EQ(Count(page, KindRect, ChartOutput4Band), 2u);  // + the legend
  EXPECT_EQ(Count(page, KindRect, ChartOutput5Band), 2u);
  // The broken line: two strokes.
  for (const ChartStep& s : page) {
    if (s.Kind != KindPolyline || s.Colour != ChartLevel) continue;
    EXPECT_EQ(
        std::count_if(s.Points.begin(), s.Points.end(),
                      [](const ChartPoint& p) { return p.Kind == PointMove; }),
        2);
  }

  // And the page's document is that list, in the page's font.
  Text svg = WebPictureSvg(page_);
  EXPECT_NE(svg.find(SvgOfChartSteps(page)), Text::npos);
}

TEST_F(HistoryPicture, TheFrameSetsTheWindowAndThePageApart) {
  // Three evaluations an hour apart around local midnight.
  int64_t midnight = (End + Lead) / 86400 * 86400 - Lead;  // universal
  ChartSeries series;
  series.Evaluations = 3;
  for (int i = -1; i <= 1; i++)
    series.Samples.push_back(ChartSample{midnight + i * 3600 + 7, Lead, true,
                                         true, 0.5, 0.5, 0.5, 0.5});
  series.On[0].push_back(ChartSpan{midnight - 3600 + 7, midnight + 3600 + 7});

  ChartFrame window = HistoryWindowFrame(0, 0, 720, 384);
  ChartFrame page = WebPictureFrame(page_);
  page.End = midnight + 3 * 3600 + 1800;
  page.Span = 6 * 3600;
  page.Lead = Lead;
  ChartSteps inWindow = HistoryPictureSteps(series, window);
  ChartSteps onPage = HistoryPictureSteps(series, page);

  // The window: whole pixels, the evaluations' own span, a date at
  // midnight, points while they stand apart.
  for (const ChartStep& s : inWindow) {
    EXPECT_EQ(s.X1, std::round(s.X1));
    EXPECT_EQ(s.Y1, std::round(s.Y1));
  }
  std::vector<Text> times = Texts(inWindow, AlignCentre);
  ASSERT_FALSE(times.empty());
  EXPECT_NE(std::find(times.begin(), times.end(), "06.12."), times.end());
  EXPECT_EQ(LevelDots(inWindow), 3);
  // The page: its fixed span, every hour at its size, midnight as a time,
  // no points.
  EXPECT_EQ(Texts(onPage, AlignCentre),
            (std::vector<Text>{"22:00", "23:00", "00:00", "01:00", "02:00",
                               "03:00"}));
  EXPECT_EQ(LevelDots(onPage), 0);

  // A span begun before the page's day is cut at its left edge; a span
  // just begun at its right edge is still seen and stays inside.
  series.On[0] = {ChartSpan{page.End - 8 * 3600, page.End - 5 * 3600}};
  series.On[1] = {ChartSpan{page.End, page.End}};
  onPage = HistoryPictureSteps(series, page);
  std::vector<const ChartStep*> bands;
  for (const ChartStep& s : onPage)
    if (s.Kind == KindRect && s.Y1 == page.PlotTop &&
        s.Colour != ChartBackground)
      bands.push_back(&s);
  ASSERT_EQ(bands.size(), 2u);
  EXPECT_EQ(bands[0]->X1, page.PlotLeft);
  EXPECT_EQ(bands[1]->X2, page.PlotRight);
  EXPECT_GE(bands[1]->X2 - bands[1]->X1, 0);

  // Too small a plot: nothing at all.
  EXPECT_TRUE(
      HistoryPictureSteps(series, HistoryWindowFrame(0, 0, 80, 300)).empty());
}
