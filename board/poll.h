// The one procedure that reads the whole board and redraws every display.
#pragma once

#include "platform/platform.h"

void PollBoard();

// The shown text of a voltage: "%.10f", cut to `width` characters, with a
// decimal comma (4.995 shows as 4,99).
Text VoltageText(double volts, int width);
