// The board query: reads the whole board into the state record. It draws
// nothing; ui/board_view shows what it read.
#pragma once

#include "platform/platform.h"

// The exchanges of BoardQuery in their order, with the display's between
// them when it is in use. What was waiting on the link before is thrown
// away; a reply of the wrong form puts the link in doubt. Until the Help
// and Version replies are learned on the connection, it runs as
// PollBoardProven and learns them.
void PollBoard();
// The same query for a decision on the level: the link proven in step
// before it (when in doubt) and after it (ProofQuietTime). True, and
// AppState.LevelProven set, when LevelVoltage is provably the board's
// answer to this query's GETADC 1.
bool PollBoardProven();
