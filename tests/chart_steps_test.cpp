// One list of drawing steps, drawn into a window and written as SVG: each
// renderer draws the list as it stands, in its order.
#include "ui/chart_steps.h"

#include <gtest/gtest.h>

#include "platform/headless/headless.h"
#include "web/web_page.h"

TEST(ChartSteps, TheWindowAndTheSvgDrawTheSameList) {
  HeadlessReset();
  ASSERT_TRUE(PlatOpenWindow(0, FrameMain, "W", 540, 590, true, 0, 0));
  ChartSteps steps = {
      RectStep(52, 34, 80, 228, 0x00C8C8FF),
      LineStep(52, 100, 708, 100, 0x000000C0, 1, LineDashed),
      PolylineStep({{PointMove, 60, 200},
                    {PointLine, 70, 150},
                    {PointVertical, 70, 120},
                    {PointMove, 90, 140},
                    {PointHorizontal, 95, 140}},
                   0x00A05000, 2),
      DotStep(90, 140, 3, 0x00A05000),
      PolylineStep({{PointMove, 10, 10}, {PointLine, 20, 20}}, 0x00A05000, 2,
                   3),
      TextStep(708, 96, "Maximum <1,18> V", 0, AlignRight | AlignMiddle),
      TextStep(70.4, 6, "Wasserstand", 0, AlignLeft),
  };
  PlatBeginDrawing(0);
  DrawChartSteps(0, steps);
  PlatShowDrawing(0);
  // The polyline as its joined strokes: a move lifts the pen. Coordinates
  // at the nearest whole pixel.
  const std::vector<HeadlessDrawStep>& d = HeadlessShownDrawing(0);
  ASSERT_EQ(d.size(), 11u);
  EXPECT_EQ(d[0].Kind, StepRect);
  EXPECT_EQ(d[1].Style, LineDashed);
  EXPECT_EQ((std::vector<int>{d[2].X1, d[2].Y1, d[2].X2, d[2].Y2}),
            (std::vector<int>{60, 200, 70, 150}));
  EXPECT_EQ((std::vector<int>{d[3].X1, d[3].Y1, d[3].X2, d[3].Y2}),
            (std::vector<int>{70, 150, 70, 120}));
  EXPECT_EQ((std::vector<int>{d[4].X1, d[4].Y1, d[4].X2, d[4].Y2, d[4].Width}),
            (std::vector<int>{90, 140, 95, 140, 2}));
  EXPECT_EQ(d[5].Kind, StepDot);
  // A dotted polyline: each dot as the line reaches it.
  EXPECT_EQ((std::vector<int>{d[6].Kind, d[6].X1, d[6].Width}),
            (std::vector<int>{StepDot, 10, 3}));
  EXPECT_EQ((std::vector<int>{d[7].Kind, d[7].X1, d[7].X2}),
            (std::vector<int>{StepLine, 10, 20}));
  EXPECT_EQ((std::vector<int>{d[8].Kind, d[8].X1}),
            (std::vector<int>{StepDot, 20}));
  EXPECT_EQ(d[9].Content, "Maximum <1,18> V");
  EXPECT_EQ(d[9].Align, AlignRight | AlignMiddle);
  EXPECT_EQ((std::vector<int>{d[10].X1, d[10].Y1}), (std::vector<int>{70, 6}));

  // The same in SVG: a text's y is its baseline, 4 below its middle or 11
  // below its top in the page's font.
  EXPECT_EQ(SvgOfChartSteps(steps),
            "<rect x=\"52.0\" y=\"34.0\" width=\"28.0\" height=\"194.0\" "
            "fill=\"#FFC8C8\"/>\n"
            "<line x1=\"52.0\" y1=\"100.0\" x2=\"708.0\" y2=\"100.0\" "
            "stroke=\"#C00000\" stroke-dasharray=\"6 4\"/>\n"
            "<path d=\"M60.0 200.0L70.0 150.0V120.0M90.0 140.0H95.0\" "
            "fill=\"none\" stroke=\"#0050A0\" stroke-width=\"2\"/>\n"
            "<circle cx=\"90.0\" cy=\"140.0\" r=\"3\" fill=\"#0050A0\"/>\n"
            "<path d=\"M10.0 10.0L20.0 20.0\" fill=\"none\" stroke=\"#0050A0\" "
            "stroke-width=\"2\"/>\n"
            "<circle cx=\"10.0\" cy=\"10.0\" r=\"3\" fill=\"#0050A0\"/>\n"
            "<circle cx=\"20.0\" cy=\"20.0\" r=\"3\" fill=\"#0050A0\"/>\n"
            "<text x=\"708.0\" y=\"100.0\" text-anchor=\"end\" "
            "fill=\"#000000\">Maximum &lt;1,18&gt; V</text>\n"
            "<text x=\"70.4\" y=\"17.0\" text-anchor=\"start\" "
            "fill=\"#000000\">Wasserstand</text>\n");
  HeadlessReset();
}
