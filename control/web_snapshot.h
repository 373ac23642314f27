// The status page's snapshot (base/web_status.h), written from the state
// record after each board query and each evaluation, and only with /web.
#pragma once

#include "base/state.h"

// Takes what the page shows: the connection, the last query's readings
// and states, the functions, the trust in the readings, the last
// evaluation, the history window's event list and dry-run line, and the
// last day's evaluations when an evaluation came since. Nothing without
// /web.
void TakeWebSnapshot();
// The history's times were named anew on a clock put forward or back: the
// page's day is read from the history anew at the next snapshot.
void WebDayRenamed();

// One evaluation into the picture's day (base/web_status.h), the newest
// so far. The columns follow one another in time: an evaluation stamped
// before the newest column (the clock put back) ends the columns after
// its own.
void AddToWebDay(WebDay* day, const LevelRecord& r);
// Drops from the day what lies wholly before the day that ends at
// `universal`: each column and span once, however far the clock went.
void AgeWebDay(WebDay* day, int64_t universal);
