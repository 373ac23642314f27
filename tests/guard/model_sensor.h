// The level sensor on analog input 1 of the model board
// (tests/guard/board_model.h), for the scenarios that run the program's
// sensor check: what GETADC 1 reads, with output 3 (the sensor's power) on
// or off, for a sensor that works or one of the faults a well's sensor
// has in the field.
//
// A working sensor reads the well's level while powered (a live-zero one
// its offset plus the level: the scenario's true count is then that sum)
// and a few counts without power. The faults:
//   - pinned at the top of the input (1023 counts, 5.00 V) whatever output 3
//     does: a sensor stuck at its top, a wire shorted to the supply;
//   - pinned at 0.62 V (127 counts, a count either side) whatever output 3
//     does: a sensor that does not react to its power, the input floating;
//   - a cable break of a live-zero sensor: 0 V (or a count) whatever
//     output 3 does, below the live zero;
//   - a spike: one powered reading of the cycle far from the level (more
//     than 0.20 V, the spread a cycle's readings may have: nearer it is
//     noise, which no rule can tell from the level);
//   - a slow start: after the power comes on the reading rises from nothing
//     and reaches the level only after 1 to 2.9 s (the program's warm-up
//     is two ticks: at most the first evaluation of a cycle can read short,
//     and the median and the spread rule are to see to it);
//   - a flat level: the level the same count in every cycle.
// The sensor of a cycle takes over when the board takes the "setport 3.0"
// that ends the cycle before it (tests/guard/guard_scenario.h): every
// reading from the end of one measurement to the end of the next is of
// one sensor.
#pragma once

#include <cstdint>
#include <string>

namespace guard {

class Draws;

enum class SensorFault {
  None,
  PinnedTop,   // 1023 counts whatever output 3 does
  PinnedLow,   // 127 counts (+-1) whatever output 3 does
  CableBreak,  // a live-zero sensor's broken cable: 0..1 counts
  Spike,       // one powered reading far off
  SlowStart,   // the powered reading reaches the level after 1..2.9 s
  Flat,        // the level unchanged from cycle to cycle
};
const char* SensorFaultName(SensorFault fault);

// The count the program's check reads as the top of the input (4.90 V).
enum { TopOfInputCount = 1004, PinnedTopCount = 1023, PinnedLowCount = 127 };
// The least distance of a spike from the level: 43 counts, 0.21 V.
enum { SpikeDistance = 43 };

// How the sensor of one cycle reads.
struct SensorCondition {
  SensorFault Fault = SensorFault::None;
  int LiveZero = 0;    // counts of the live zero (0: a plain 0..x V sensor)
  int Idle = 0;        // counts without power (a working sensor)
  int SlowMs = 0;      // SlowStart: from the power on to the level
  int SpikeAt = 0;     // Spike: the powered reading of the cycle (from 1)
  int SpikeCount = 0;  // Spike: what it reads
  // Whether the sensor gives no true level: a failed reading.
  bool Failed() const {
    return Fault == SensorFault::PinnedTop || Fault == SensorFault::PinnedLow ||
           Fault == SensorFault::CableBreak;
  }
};

class ModelSensor {
 public:
  // The sensor of the next cycle, from the end of the present one on.
  void Next(const SensorCondition& state) { next_ = state, nextDue_ = true; }
  // The board took "setport 3.0": the next cycle's sensor takes over.
  // True when it did.
  bool CycleEnds();
  const SensorCondition& Now() const { return now_; }
  // The cycles so far (the first is 0).
  int Cycle() const { return cycle_; }
  // Output 3 switched at `at`.
  void Power(bool on, uint32_t at);
  // What GETADC 1 reads at `at` with the well at `level` counts (what a
  // working sensor of this kind reads powered); `draws` for the noise of
  // a pinned input.
  int Reading(int level, uint32_t at, Draws* draws);
  std::string Describe() const;

 private:
  SensorCondition now_, next_;
  bool nextDue_ = false;
  int cycle_ = 0;
  bool powered_ = false;
  uint32_t poweredAt_ = 0;
  int poweredReadings_ = 0;  // this cycle's readings with the power on
};

// A sensor state drawn for a cycle. `liveZero`: the scenario's sensor is a
// live-zero one of that many counts (0: a plain one). `fault`: the fault
// the scenario's sensor has in this cycle.
SensorCondition DrawSensor(Draws* d, int liveZero, SensorFault fault);

}  // namespace guard
