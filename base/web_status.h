// The read-only status page for the operator's phone: what the command
// line asked for, and the snapshot the program writes for it after each
// board query and each evaluation. The page's server (web/web_server.h)
// reads nothing but this snapshot; no request it takes ever reaches the
// board, the rest of the state record or a file.
//
// A part of the state record (AppState.Web): base/state.h includes it
// where the types it uses are declared. Include base/state.h.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

// /web ADDRESS:PORT and /web-token TEXT, as the command line gave them.
// Address empty: no page, no listening socket.
struct WebSettings {
  Text Address;   // dotted IPv4, as written
  uint32_t Bind;  // the same in network byte order
  int Port;       // 1..65535
  Text Token;     // empty: none asked for
};

// The last day's evaluations at the resolution the picture shows them:
// gathered into columns of WebColumnSeconds of universal time (600 to a
// day), each with the first, lowest, highest and last level that came in
// it. A day of evaluations at the shortest cycle is a few hundred columns.
enum { WebColumnSeconds = 144 };
struct WebColumn {
  int64_t Index;   // its universal time divided by WebColumnSeconds
  int Count;       // evaluations in it
  int64_t Newest;  // the universal time of its newest
  bool HasLevel;   // one of them had a level
  bool Joined;     // the line comes on from the column before it, unbroken
  double First, Low, High, Last;
};
// A span in which output 4 or 5 was on, from the evaluation that switched
// it on to the one that switched it off (Open: still on, up to the last
// evaluation); spans less than a column apart are one.
struct WebSpan {
  int64_t From, To;
  bool Open;
};
struct WebDay {
  std::deque<WebColumn> Columns;  // the oldest first
  std::deque<WebSpan> On[2];      // output 4, output 5
  bool LastHadLevel;              // the newest evaluation taken had a level
};

// The figures of the page, as the program had them when it wrote them.
// Times are local wall-clock seconds (PlatLocalClock); the ticks beside
// them give their age without regard to a clock put forward or back.
struct WebSnapshot {
  bool Taken;  // written at least once since the start
  TickCount TakenTick;
  int Serial;  // counts the snapshots written: what is drawn from one alone
               // is drawn once
  int RefreshInterval;  // ms, the board query's
  // The connection: standing since, or gone since (a time of this run).
  bool Connected;
  int64_t ConnectionSince;
  int ConnectionNumber;  // AppState.Link.ConnectionNumber it was taken at
  // The last query the board answered, at the moment its answer came.
  bool Queried;
  int64_t QueryTime;
  TickCount QueryTick;
  // The level as the main window's label of analog input 1 shows it
  // ("--.--" while not read), and as its level bar shows it: the level of
  // the last evaluation that read one (LevelRead), also while the sensor
  // is off between measurements.
  Text LevelText;
  bool LevelRead;
  double LevelVolts;
  // Outputs 1..8 and digital inputs 1..4 as the board last said them, the
  // analog inputs 1..4 as their labels show them, and the captions.
  Contact Output[9];
  Text OutputName[9];
  Contact Input[5];
  Text InputName[5];
  Text AnalogText[5];
  Text AnalogName[5];
  Text AnalogUnit[5];
  // The three well functions: released or locked.
  bool MeasurementEnabled;
  bool MinimumEnabled;
  bool MaximumEnabled;
  int CycleSecondsLeft;  // to the next measurement, when released
  // Trust in the readings: evaluations in a row that decided nothing on
  // output 4 for want of a proven reading, and whether the last of them
  // still switched output 5; the guard's blindness has been announced
  // (control/alarms.h).
  int DoubtedEvaluations;
  bool DoubtedLastSwitched5;
  bool GuardBlind;
  // With the sensor's check (/sensor): a failure of the sensor told and
  // not yet its end (sensor-ok), or a suspicion not yet ended by a good
  // cycle.
  bool SensorFailureOpen;
  bool SensorSuspicionOpen;
  // The last evaluation (from the level log's read-back too); its age
  // goes by universal time.
  bool Evaluated;
  LevelRecord LastEvaluation;
  int EvaluationCount;  // AppState.History.EvaluationCount it was taken at
  // The history window's texts: the last events, the newest last, and the
  // dry-run line.
  std::vector<Text> Events;
  Text DryRunText;
  // The evaluations of the last day for the picture, and the universal
  // and local time the day ends at.
  WebDay Day;
  int64_t DayEndUniversal;
  int64_t DayEndLocal;
  // The dry-run line's minutes of local and universal time and the
  // evaluations counted when it was last made: it is made anew only when
  // one of them moved on (it names minutes).
  int64_t DryRunMinute[2];
  int DryRunCount;
};

// What the page's server says of itself: the listening address, a port in
// use, a bound reached; shown in the history window's line.
struct WebState {
  WebSettings Settings;
  WebSnapshot Snapshot;
  Text StatusText;
};
