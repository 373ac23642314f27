// Numbers as the operator reads them: the one place where a figure of the
// board becomes the text the windows, the log and the alarm events show.
#pragma once

#include "platform/platform.h"

// The shown text of a voltage: "%.10f", cut to `width` characters (every
// decimal for a negative width), with a decimal comma: 4.995 shows as 4,99,
// cut as the main window shows it, never rounded.
Text VoltageText(double volts, int width);

// Volts with two decimals, cut as VoltageText cuts them, never rounded:
// 1.187 shows as 1,18, 10.5 as 10,50 (the history's picture, the alarm
// events).
Text VoltsToHundredths(double volts);

// Volts as the level log writes them: the shortest fixed-point form with
// a decimal comma that reads back as the very same number (1,0546875), in
// exponent form where that would take more than 17 decimals; empty for a
// level that is no number.
Text VoltsExactText(double volts);
