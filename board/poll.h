// The one procedure that reads the whole board and redraws every display.
#pragma once

#include "platform/platform.h"

void PollBoard();

// Every board display back to its first text, the captions of buttons 87
// and 88 to "AUS", label 36 to the reconnect countdown.
void ShowConnectionLost();
// Label 36 while the connection is lost: the seconds to the next attempt.
void ShowReconnectCountdown();

// The shown text of a voltage: "%.10f", cut to `width` characters, with a
// decimal comma (4.995 shows as 4,99).
Text VoltageText(double volts, int width);
