// Alarm events: what the guard tells the operator when the well or its
// own sight of the well changes. Each event, once, at the moment it
// happens:
// - a line in the history window's list of the last events,
// - with a level log, an "Ereignis" line in it (control/level_log.h),
// - with an alarm command, a run of it (below).
//
// An event is announced once and not again while its condition holds: the
// state the events last announced is kept (AppState.Alarms.AlarmOutputOn,
// AppState.Alarms.AlarmBlindAnnounced); at start the outputs count as off and
// the connection as there.
//
// Every event calls an operator who is not looking at the main window: its
// taskbar button flashes until he activates it. Output 4 or 5 switched on
// by an evaluation calls him too when the board's status showed it off
// before, even without an event (so when an operator had switched it off
// by hand meanwhile).
//
// Nothing here waits for anything or changes what goes to the board.
#pragma once

#include <cstdint>

#include "base/state.h"

enum AlarmEvent {
  AlarmMinimumOn,        // output 4 (Minimum, dry run) switched on
  AlarmMaximumOn,        // output 5 (Maximum) switched on
  AlarmMinimumOff,       // output 4 switched off again: all clear
  AlarmMaximumOff,       // output 5 switched off again
  AlarmBlind,            // the connection lost for longer than AlarmBlindTime
  AlarmSightBack,        // the connection back after AlarmBlind
  AlarmReadingsDoubted,  // a whole cycle without a trusted reading
  AlarmGuardBlind,       // output 4 undecided past GuardBlindLimit
  AlarmGuardSeesAgain,   // output 4 decided again after AlarmGuardBlind
  AlarmMinimumLocked,    // output 4 switched off: its function locked
  AlarmMaximumLocked,    // output 5 switched off: its function locked
  AlarmDailySign,        // the daily sign of life, with the past day's counts
  AlarmOutputOtherwise,  // output 3, 4 or 5 not as the guard decided it
  AlarmPcSleeps,         // the system said that the PC goes to sleep
  AlarmPcAwake,          // the PC woke from a sleep, with its length
  AlarmSessionEnd,       // Windows ends the session: the guard ends
  AlarmProgramStart,     // the program started and guards
  AlarmSensorFailed,     // the level sensor failed (/sensor), with its cause
  AlarmSensorSuspect,    // the level sensor suspect: spread, rise, flat
  AlarmSensorOk,         // the level sensor good again after a failure
  AlarmEventCount
};

// The event's short name (ASCII, the alarm command's first argument) and
// its German text for the operator.
struct AlarmEventForm {
  const char* Name;
  const char* Message;
};
extern const AlarmEventForm AlarmEvents[AlarmEventCount];

enum {
  // The connection lost this long (ms) leaves the guard blind.
  AlarmBlindTime = 60000,
  // A run of the alarm command still going this long (ms) is shown and
  // counted; it keeps its place among those running.
  AlarmCommandLimit = 60000,
  // At most this many runs at once; an event while they run starts none.
  AlarmCommandsAtOnce = 4,
};

// The events of an evaluation are announced when it is done
// (AnnounceWaitingAlarms), after its record and its log line, so that
// nothing of them comes between its queries; the operator is called at
// once.
//
// What an evaluation did to output 4 or 5: `sent` 1, 0 or CommandNotSent,
// on a level of `level` V; `wasOnInStatus`: the board's last status showed
// the output on before it; `locked`: an "off" sent only because the
// operator has locked the output's function, on a level still beyond its
// threshold (no all-clear: the event says the function is locked). A
// command to switch on that finds the output off in the board's status
// calls the operator as an event does, whether or not an event is due.
void AlarmLevelOutput(int output, int sent, double level, bool wasOnInStatus,
                      bool locked = false);
// The evaluation that made a whole cycle (`of` evaluations) without a
// trusted reading for output 4; `output5Switched` of them still switched
// output 5 on the query before. The event says which stayed undecided.
void AlarmReadingsInDoubt(int output5Switched, int of);
// The guard's watch on itself: while the measurement is released, output 4
// going undecided on a proven reading for longer than this (ms) is an
// event, whatever the cause (a board gone, silent, talking unasked, or
// answering in doubt). One and a half cycles (the period and its five
// ticks), at least a minute: 547.5 s at the 360-s cycle. The one clock
// is AppState.Alarms.GuardDecidedAt; WatchAlarms looks at it every pass.
int GuardBlindLimit();
// Output 4 was just decided on a proven reading: `sent` went to it on
// `level` V. The watch starts over, and an announced blindness ends (its
// event waits for the evaluation's end).
void AlarmOutput4Decided(int sent, double level);
// The watch starts without a decision, at the end of start-up.
void AlarmGuardWatchFromNow();
// The measurement locked, and released again: a locked measurement decides
// nothing and is not blind, so the time it is locked is not counted; the
// watch goes on where it stood, it does not start over.
void AlarmGuardWatchPaused();
void AlarmGuardWatchResumed();
// The board's status shows output `output` (3, 4 or 5) other than the
// guard last decided (`decidedOn`), or, with `refused`, the board did not
// take the guard's command to it. Announced once per episode by the
// caller (control/guard_outputs.h); it waits, as an evaluation's events
// do, for the end of what runs.
void AlarmOutputDeviates(int output, bool decidedOn, bool refused);
// Announces the events that came during the evaluation just done, each at
// the local and universal time of the evaluation's record (its log line),
// or, without one, at its own time of decision.
void AnnounceWaitingAlarms(const LevelRecord* evaluation = nullptr);
// The level sensor's check (control/sensor_watch.h): a failure of the
// sensor at the first failed cycle of an episode, a suspicion, and the
// sensor good again, each with its cause and the volts it speaks of (NaN:
// none); they wait, as an evaluation's events do, for its end.
void AlarmSensor(AlarmEvent event, SensorCause cause, double volts);
// The PC's sleep (control/sleep_watch.h). At the system's notice that it
// goes to sleep: "pc-schlaf", at once, its alarm command started without
// waiting, while there may still be time. At the wake: "pc-wach" with the
// time asleep (`asleepMs`; the alarm command gets it in whole minutes as
// its fourth argument), and the watches' clocks carried over the sleep:
// the time asleep counts for them as time without sight of the well (the
// connection lost, output 4 undecided), held at their bounds, so that no
// sleep, however long, keeps them from firing.
void AlarmPcGoesToSleep();
void AlarmPcWoke(int64_t asleepMs);

// Every pass of the main loop: the events still waiting; whether the
// connection has been lost past AlarmBlindTime or is back; whether output
// 4 has gone undecided past GuardBlindLimit; and how the runs of the
// alarm command go; and whether the daily sign of life is due.
void WatchAlarms();
// Looks at the PC's clock (base/wall_clock.h) and tells what changed
// (control/clock_watch.h); what the history and the alarm events keep with
// a wall clock time is named anew on a step of it. Called before an
// evaluation is recorded (its line comes after the change's) and every
// pass of the main loop (by WatchAlarms).
void WatchClock();

// The daily sign of life (/alarm-taeglich HH:MM, only with an alarm
// command): once a day at Settings().AlarmDailyMinute of local time, an
// event "lebenszeichen" with the counts of the 24 hours before it: how
// often output 4 went on, how long it was on (whole minutes), the
// evaluations in doubt, and the connection's losses. The alarm command
// gets them as its fourth to seventh arguments. It calls no operator: an
// operator who does not get it knows the guard or its alarm path is down.
//
// Once per real day: it is due at the first pass at or after its minute
// of the local day, when that minute is at least half a day after the
// last one's (both as the clock names them now: a step of the clock moves
// the last one's too, base/wall_clock.h). So a clock set back (an hour,
// or a day) does not bring it again and the next real day still has its
// sign; a clock set a day ahead and corrected brings no second one. At
// start a minute already past today counts as done: a restart after it
// sends nothing that day, and one missed while the program was down is
// not sent late: its missing is the sign.
//
// The connection seen lost at `time` (universal, PlatUniversalClock): it
// counts among the losses of the 24 hours before a sign.
void AlarmConnectionLost(int64_t time);

// The program has started: its main window stands. The event names the
// board's address and port.
void AlarmProgramStarted();
// Windows ends the session (control/session.h): the events still waiting
// and then "pc-ende" with the reason, at once; the alarm command gets the
// reason's short name (abmelden, herunterfahren, update, kritisch) as its
// fourth argument. Nothing here waits.
void AlarmSessionEnds(SessionEndReason reason);

// The alarm command's arguments of an event at local time `time` with a
// level (NaN: none): its short name, the time as 2026-12-09T10:04:17,
// and the level in volts with a decimal comma ("0,18"), or "-".
std::vector<Text> AlarmArguments(AlarmEvent event, int64_t time, double level);
