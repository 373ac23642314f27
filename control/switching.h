// The operator's switching of the outputs: pulses of outputs 1, 2 and 8,
// on and off of outputs 6 and 7, and the three function switches.
#pragma once

#include "platform/platform.h"

// Reads the delay field of output n (1, 2 or 8) into SwitchDelay[n]; an
// entry outside its limits gives the default, written back into the field.
void ReadSwitchDelay(int output);
// Switches output n (1, 2 or 8) on for its delay, then off.
void PulseOutput(int output);
// Switches output n (6 or 7) on or off.
void SwitchOutput(int output, bool on);
// Releases (on) or locks (not on) the function of output 3, 4 or 5.
void SwitchFunction(int output, bool on);
// The three functions released, as the main loop begins.
void ReleaseAllFunctions();
// Check box 110 was clicked.
void SafetyLockClicked();
// Button 81 (output 8) is usable only while check box 110 is ticked (and,
// as every button, not before the clicks made while it was greyed are
// taken).
void ApplySafetyLock();
