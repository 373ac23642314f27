// The guard's oracle: scenarios of measurement cycles against the model
// board (tests/guard/board_model.h), checked against the well's true level.
//
// A scenario runs a few measurement cycles. The well's true level is
// constant within a cycle and changes between cycles, often to counts next
// to the thresholds. Every "setport 5.x" and "setport 4.x" the board
// receives must agree with the true level of that moment (and the
// releases): 5.1 when the level is above 1.18 V and Maximum is released,
// else 5.0; 4.1 when it is below 0.21 V (0.210 counts as below) and
// Minimum is released, else 4.0. Sending none is allowed; a lost
// connection is no wrong decision. On a healthy board, in addition, every
// evaluation sends both, 5.x first, and the connection is never lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/guard/board_model.h"

namespace guard {

struct Outcome {
  bool Ok = true;
  // What went wrong, with the seed and the profile; then Trace holds the
  // whole scenario up to the failure, and TraceTail its last lines.
  std::string Failure;
  std::string Trace;
  int Evaluations = 0;
  int Switches = 0;  // "setport 4.x" and "setport 5.x" the board received
  int Losses = 0;    // connections lost (and made again)
};

// One scenario from `seed` (and, for the fuzzer, the choices in `data`).
// Leaves the headless platform and the state record reset.
Outcome RunScenario(uint64_t seed, Profile profile,
                    const uint8_t* data = nullptr, size_t size = 0);

// The last `lines` lines of a trace.
std::string TraceTail(const std::string& trace, int lines);

// The level in volts the program decides on, from the count: rounded to
// thousandths of a volt.
double LevelVolts(int count);
// What output 4 or 5 must be told for this truth: true for on.
bool ExpectedOn(int output, const Truth& truth);

}  // namespace guard
