// The board as the last replies said it (AppState.Readings): taken from
// the board query's replies and a switching's answered "setport", and
// forgotten when the connection is lost. Written here alone.
#pragma once

#include "base/state.h"

// The reply to Getstatus: the status text, when it came, whether it is of
// the status's form, and outputs 1 to 8 from it.
void TakeOutputStatus(const Text& reply);
// The reply to GETADC n: its count scaled and rounded into the voltage of
// analog input n (input 1: the level too).
void TakeAnalogInput(int n, const Text& reply);
// The reply to GETPORT n: "1" the contact of digital input n is open, "0"
// closed; another digit leaves what was known.
void TakeDigitalInput(int n, const Text& reply);
// A text shown as it came (the firmware, the board's addresses).
void TakeBoardText(Text ReadingsRecord::*field, const Text& reply);
// The round trip of Help, in ms.
void TakePingTime(int ms);
// A board query begins: nothing of it is fresh or proven yet.
void ReadingsOfNewQuery();
// The query was proven in step (board/poll.h): LevelVoltage is the board's
// answer to its GETADC 1.
void TakeLevelProven(bool proven);
// The board answered a switching's "setport" for the output.
void TakeOutputSwitched(int output, bool on);
// The connection is gone: the board data are unknown again.
void ForgetBoardData();
