// Numbers as the operator reads them: the one place where a figure of the
// board becomes the text the windows, the log and the alarm events show.
#pragma once

#include "platform/platform.h"

// The shown text of a voltage: "%.10f", cut to `width` characters (every
// decimal for a negative width), with a decimal comma: 4.995 shows as 4,99,
// cut as the main window shows it, never rounded.
Text VoltageText(double volts, int width);
