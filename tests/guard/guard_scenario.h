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
// GuardBlindLimit() must have been announced
// (AppState.Alarms.GuardBlindAnnounced) by the end of the next pass of the loop
// after the bound, one tick and the longest pass of the scenario later at the
// most; and on a healthy board a blindness announced must end once output 4 is
// decided again. Output 4 counts as decided only by a "setport 4.x" the board
// answered "OK" and whose effect the next status that reached the program
// showed (until that status comes, the "OK" counts): one refused ("ERR"), or
// undone before the status, decides nothing.
//
// The output's own watch: once output 4 or 5 on the board differs from the
// guard's decision (the last setport the board received for it) through a
// power cut, another client's switching or a refused setport, the relay
// must agree with the guard's decision again within LossBound() of the
// connection, counted from when the board last came back (power back, a
// refusal stretch over, the last setport refused), the program's
// connection was last made again, its last evaluation in doubt, or the
// output's function last locked, whichever is latest. A guard that has
// announced its blindness (AppState.Alarms.GuardBlindAnnounced) or the loss of
// its connection (AppState.Alarms.AlarmBlindAnnounced) has told the operator
// and is excused meanwhile. Those scenarios run on the main loop's own rhythm:
// a measurement tick a second, the automatic board query a second after the one
// before, a new connection every ReconnectInterval; once their cycles are run
// the board's troubles stop, and the scenario runs on until every loss is made
// good or its bound is past.
//
// The sensor profiles run the program with its check of the level sensor
// on (/sensor schutz or halten, a live-zero sensor's span given where the
// sensor has a live zero), on the main loop's rhythm, against the model's
// sensor and its faults (tests/guard/model_sensor.h); the well and the
// sensor change when the board takes the "setport 3.0" that ends a cycle.
// No failed reading may decide: in a cycle whose sensor has failed, from
// the cycle the program can know it on (pinned at the top or a live-zero
// sensor's cable break: at once; no response to its power: on a healthy
// board, once an earlier cycle of the same failure was decided on; on a
// faulty one the program may never have had the reading without power it
// needs for that), the only level command
// allowed is "setport 4.1" with the action schutz, none with halten. A
// failure the program cannot know yet may decide on what the sensor reads.
// A spike or a slow start never decides against the truth. Beside the
// truth, "setport 4.1" with schutz keeps the protection on while the
// program holds it after a failure (until its sensor-ok), and in a cycle whose
// level rose by more than 0.50 V above a cycle since the last 4.1 (the rise
// waits for the next cycle to confirm it). On a healthy board, in
// addition: schutz puts output 4 on (Minimum released) in the second cycle in a
// row that the program knows failed, a cycle of a working sensor at a level
// that did not rise decides both outputs, and four working cycles after a
// failure end it (sensor-ok).
//
// While the program has told the sensor's failure (sensor-fehler, and no
// sensor-ok yet), output 5 lost on the board, and with halten output 4,
// need not be made good: no reading may decide them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/guard/board_model.h"

namespace guard {

// What can go wrong, the worst first.
enum Fault {
  WrongSwitch,           // a "setport 4.x/5.x" against the true level
  FailedReadingDecided,  // a level command on a failed sensor's reading
  LossUncorrected,       // output 4 or 5 lost on the board and left so
  BlindUnannounced,      // the watch's event missing (or not ended)
  HealthyUndecided,      // a healthy board without its decisions, or lost
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
  int Switches = 0;  // "setport 4.x" and "setport 5.x" the board received
  int Losses = 0;    // connections lost (and made again)
  int Blind = 0;     // stretches past the watch's bound
  // Output 4 or 5 found differing from the guard's decision on the board;
  // the board's power cuts, switchings by another client, setports
  // refused.
  int Lost = 0, PowerCuts = 0, OthersSwitched = 0, Refused = 0;
  // The guard's own events "ausgang-abweichend": an output on the board
  // found otherwise than it decided.
  int Deviations = 0;
  // Of the losses made good, the longest in percent of its bound.
  int LongestLoss = 0;
  // The sensor profiles: the cycles whose sensor had failed, and those of
  // them in which the action schutz put output 4 on.
  int SensorFailed = 0, FailSafe = 0;
  uint32_t Millis = 0;  // driven time the scenario took
  Manner Way;           // how the board answered on its last connection
};

// One scenario from `seed` (and, for the fuzzer, the choices in `data`).
// Leaves the headless platform and the state record reset. A scenario that
// fails runs once more with its trace kept, unless `trace` is false.
Outcome RunScenario(uint64_t seed, Profile profile,
                    const uint8_t* data = nullptr, size_t size = 0,
                    bool trace = true);
// For the oracle's own test: the sensor profiles run the program with its
// sensor check off, a program that decides on every reading.
extern bool SensorCheckLeftOff;

// The profile of a ProfileKey; false when there is none of that name.
bool ProfileOfKey(const std::string& key, Profile* profile);

// How long (ms) the guard may take to make good output 4 or 5 lost on a
// board answering in `way`:
//   40 s + 10 x (Q + 3 s), where
//   Q = 17 x R + 2 x (12 x LineGap + 400 ms)
// is a query at its longest: 17 exchanges (14, and 3 for the display)
// each at the connection's longest reply time R = Speed x 9/8 + 5 ms, and
// the Help and Version texts of up to 12 lines a line at a time, each
// settling for 400 ms. The 40 s are the guard's at most one extra
// measurement per 30 s, a ReconnectInterval of 5 s and the ticks of a
// measurement; the ten queries those the loss takes to mend at the most:
// the one whose status shows it, then the measurement's three ticks up to
// its first evaluation, each with its own query and the main loop's
// automatic one a second after the one before, and the evaluation's two
// proven queries and the one after them, each with the 3 s a decision
// query waits for what is held back. A prompt board's bound is about
// 79 s, the slowest's about 629 s.
int LossBound(const Manner& way);

// The last `lines` lines of a trace.
std::string TraceTail(const std::string& trace, int lines);

// The level in volts the program decides on, from the count: rounded to
// thousandths of a volt.
double LevelVolts(int count);
// What output 4 or 5 must be told for this truth: true for on.
bool ExpectedOn(int output, const Truth& truth);

}  // namespace guard
