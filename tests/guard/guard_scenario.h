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
// evaluation from the second query of a connection on sends both, 5.x
// first, and the connection is never lost.
//
// The guard's watch on itself: while the measurement is released, output 4
// left undecided (no "setport 4.x" answered) for longer than
// GuardBlindLimit() must have been announced (AppState.GuardBlindAnnounced)
// by the end of the next pass of the loop after the bound, one tick and
// the longest pass of the scenario later at the most; and a blindness
// announced must end once output 4 is decided again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/guard/board_model.h"

namespace guard {

// What can go wrong, the worst first.
enum Fault {
  WrongSwitch,       // a "setport 4.x/5.x" against the true level
  BlindUnannounced,  // the watch's event missing (or not ended)
  HealthyUndecided,  // a healthy board without its decisions, or lost
  FaultKinds
};
const char* FaultName(Fault fault);

struct Outcome {
  bool Ok = true;
  // Each kind of fault the scenario met (it runs on past all but a wrong
  // decision, so that one hides no other).
  bool Found[FaultKinds] = {};
  std::string What[FaultKinds];  // the first of each kind
  // What went wrong first, the worst kind first, with the seed and the
  // profile; then Trace holds the whole scenario up to it, and TraceTail
  // its last lines.
  std::string Failure;
  std::string Trace;
  int Evaluations = 0;
  int Switches = 0;     // "setport 4.x" and "setport 5.x" the board received
  int Losses = 0;       // connections lost (and made again)
  int Blind = 0;        // stretches past the watch's bound
  uint32_t Millis = 0;  // driven time the scenario took
  Manner Way;           // how the board answered on its last connection
};

// One scenario from `seed` (and, for the fuzzer, the choices in `data`).
// Leaves the headless platform and the state record reset. A scenario that
// fails runs once more with its trace kept, unless `trace` is false.
Outcome RunScenario(uint64_t seed, Profile profile,
                    const uint8_t* data = nullptr, size_t size = 0,
                    bool trace = true);
// The profile of a ProfileKey; false when there is none of that name.
bool ProfileOfKey(const std::string& key, Profile* profile);

// The last `lines` lines of a trace.
std::string TraceTail(const std::string& trace, int lines);

// The level in volts the program decides on, from the count: rounded to
// thousandths of a volt.
double LevelVolts(int count);
// What output 4 or 5 must be told for this truth: true for on.
bool ExpectedOn(int output, const Truth& truth);

}  // namespace guard
