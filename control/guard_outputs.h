// The board held to the guard's decisions. While the measurement and a
// level function are released, output 4 (Minimum) or 5 (Maximum) on the
// board follows the guard's last decision, and output 3 (the level
// sensor's power) does while a measurement wants it on. A board that shows
// another state (its relays dropped in a power cut, another client or the
// console switched them, it refused the command) makes the guard measure
// afresh at once, rather than send its last command again blindly, and
// the operator is told, once for each time it happens.
#pragma once

#include "base/state.h"
#include "board/commands.h"

enum {
  // At most one measurement started afresh for a board that does not show
  // the guard's decisions in this time (ms): an output someone keeps
  // switching gets no more.
  DeviationRetryInterval = 30000,
};

// The guard sent `on` to output 3, 4 or 5 (a measurement's sensor power, a
// level decision) and the board answered `reply`. A refusal is no
// decision: it is announced once until the board takes that command (the
// same output, on or off alike) again.
void GuardSent(int output, bool on, PortReply reply);
// The last board query's status came in form and shows output `output`
// as `on`.
bool StatusShows(int output, bool on);
// After every board query: the sensor's power as its status shows it (the
// warm-up begins when it first shows output 3 on while the guard wants it
// so, and ends when it shows it off), and each output the guard owns
// compared with its decision. An output otherwise asks for a fresh
// measurement (AppState.Guard.FreshMeasurementWanted) and is announced once per
// episode: the episode ends when the board has shown the decision for
// DeviationRetryInterval.
void HoldBoardToGuard();
// The sensor's power is no longer known to be on (AppState.Guard
// .SensorPowered): no "setport 3.1" reached the board, or a new connection.
void SensorPowerLost();
// The fresh measurement asked for is not started (the measurement is
// locked, running, or starts afresh after a sleep anyway), or starts now.
void FreshMeasurementDropped();
void FreshMeasurementStarts(TickCount now);

// The PC slept `asleepMs`: the episodes' clocks carried over the sleep,
// held at DeviationRetryInterval, so that their signed differences cannot
// overflow whatever its length.
void GuardClocksAfterSleep(int64_t asleepMs);
