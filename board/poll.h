// The board query: reads the whole board into the state record. It draws
// nothing; ui/board_view shows what it read.
#pragma once

#include "platform/platform.h"

// The exchanges of BoardQuery in their order, with the display's between
// them when it is in use.
void PollBoard();

// The shown text of a voltage: "%.10f", cut to `width` characters, with a
// decimal comma (4.995 shows as 4,99).
Text VoltageText(double volts, int width);
