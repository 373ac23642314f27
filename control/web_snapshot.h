// The status page's snapshot (base/web_status.h), written from the state
// record after each board query and each evaluation, and only with /web.
#pragma once

// Takes what the page shows: the connection, the last query's readings
// and states, the functions, the trust in the readings, the last
// evaluation, the history window's event list and dry-run line, and the
// last day's evaluations when an evaluation came since. Nothing without
// /web.
void TakeWebSnapshot();
