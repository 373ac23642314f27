// The status page's documents, drawn from the snapshot alone (base/
// web_status.h): the page for a phone's screen, the same figures as JSON,
// and the history's picture of the last day as SVG. Pure functions of the
// snapshot and the time they are asked at; all three in UTF-8.
#pragma once

#include <cstdint>

#include "base/state.h"
#include "ui/chart_steps.h"
#include "ui/history_picture.h"

// The page reloads itself this often (a meta refresh, no script).
enum { WebRefreshSeconds = 5 };

// When a document is drawn: local and universal wall-clock seconds, and
// the tick count (the ages of readings come from it).
struct WebClock {
  int64_t Local;
  int64_t Universal;
  TickCount Tick;
};

// The page. `token`, when the page asks for one, goes into its own links
// (the reload, the picture, the JSON) so the phone keeps it.
Text WebPageHtml(const WebSnapshot& s, const WebClock& now, const Text& token);
// The same figures for a program.
Text WebFiguresJson(const WebSnapshot& s, const WebClock& now);
// The level of the last day's evaluations over time, with both thresholds
// and the spans in which output 4 or 5 was on.
Text WebPictureSvg(const WebSnapshot& s);
// That picture's series and frame (ui/history_picture.h): the snapshot's
// day, each column a sample at its middle; the last day on 720 by 260
// units, in tenths, ticks every three hours at the clock's lead at the
// day's end.
ChartSeries WebPictureSeries(const WebSnapshot& s);
ChartFrame WebPictureFrame(const WebSnapshot& s);
// Steps as SVG elements (Windows-1252, one element a line; a text's top
// or middle placed by the page's font of 12 units).
Text SvgOfChartSteps(const ChartSteps& steps);

// A reading is old once it is older than two refresh intervals: twice the
// board query's interval, or twice the page's own when that is longer (a
// phone that reloads every 5 s sees a reading of a 1-s query at most 5 s
// old while all is well).
int WebOldAfterMs(const WebSnapshot& s);
// Age of the last query and of the last evaluation at `now`, in ms (-1:
// there is none).
int64_t WebQueryAgeMs(const WebSnapshot& s, const WebClock& now);
int64_t WebEvaluationAgeMs(const WebSnapshot& s, const WebClock& now);

// Times and ages on the page are base/clock_text's DateTimeText and
// AgeText.
