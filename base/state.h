// The program's one global state record, made of sub-records with one
// writer each (below, at struct AppStateRecord). Every procedure of the
// program reads their fields directly; arrays of per-channel fields are
// indexed from 1, as the board numbers its outputs and inputs.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/platform.h"

// A reading of the system tick count: milliseconds since system start,
// wrapping at 2^32. Compare two only through their signed difference.
using TickCount = uint32_t;

// A fixed block of bytes that takes one board reply at a time. Taken once
// at start from the program's heap, zero-filled, never freed before the end.
struct ReplyBuffer {
  unsigned char* Bytes;
  int Size;
};

// Sizes of the reply buffers, in bytes.
enum {
  StatusBufferSize = 1000,
  AdcBufferSize = 100,
  PortBufferSize = 100,
  PingBufferSize = 200,
  VersionBufferSize = 200,
  IpBufferSize = 100,
  MaskBufferSize = 100,
  GatewayBufferSize = 100,
  CommandBufferSize = 100,
  LcdReplyBufferSize = 100,
};

// One evaluation of the measurement cycle: when, the level each output was
// decided on, and what it sent to outputs 4 and 5. Output 5 is decided on
// the query before its command, output 4 on the query after it; a level
// that no decision was taken on is NaN.
enum { CommandNotSent = -1 };
struct LevelRecord {
  int64_t Time;    // local wall clock (PlatLocalClock), s
  double Level5;   // V, the level of output 5's decision (drawn, shown)
  double Level4;   // V, the level of output 4's decision
  int8_t Output4;  // 1: "setport 4.1" went out, 0: "setport 4.0", or
  int8_t Output5;  // CommandNotSent (likewise output 5)
  bool Doubted;    // a reading not proven the board's own answer to
                   // GETADC 1 kept a decision from being taken
  // The same instant in universal time (PlatUniversalClock), s: the order
  // of events and their durations, whatever the local clock did.
  int64_t Universal;
  // With the sensor's check on (/sensor): the cycle's grade when the sensor
  // failed or was suspect (SensorFailed, SensorSuspect), which kept its
  // reading from being decided on; 0 otherwise.
  int8_t Sensor = 0;
};

// The level history keeps this many evaluations, the oldest dropped first:
// more than 30 days at the 360-s cycle (three evaluations a cycle, 720 a
// day), so the level log's last 30 days read back at start all fit.
enum { HistoryCapacity = 25000 };

// Evaluations kept in a ring: Count of them in Records[0 .. Capacity - 1],
// the oldest at First, the later ones after it, wrapping at the end.
struct LevelRing {
  const LevelRecord* Records;
  int Capacity;
  int First;
  int Count;
};
// The evaluation `index` of the ring, the oldest first (0 .. Count - 1).
const LevelRecord& RingEntry(const LevelRing& ring, int index);

// Lines of the level log that could not be written yet are kept for the
// next try, this many at most (the oldest dropped beyond it): a week of
// evaluations at the 360-s cycle.
enum { LogPendingLimit = 5000 };

// A line of the level log that waits to be written: the file it belongs
// in and its bytes, line end included.
struct PendingLogLine {
  Text File;
  Text Bytes;
};

// What the level log knows of one of its files: the size the program left
// it at, ending on a line end of its own (-1: not known; the file is looked
// at again before the next line goes to it), and how the last append to it
// ended.
struct LogFileState {
  Text File;
  int64_t Left;
  AppendResult Last;
};

// A run of the alarm command that has not been seen to end: the program
// started and when.
struct RunningAlarmCommand {
  PlatProgram Program;
  TickCount Started;
  bool Overdue;  // running past AlarmCommandLimit, already shown
};

// An alarm event that came during an evaluation, announced once the
// evaluation is done: which (control/alarms.h), its output (4, 5 or 0),
// what went to it, the level, and when.
struct WaitingAlarm {
  int Event;
  int Output;
  int Sent;
  double Level;
  int64_t Time;       // local (PlatLocalClock)
  int64_t Universal;  // the same instant (PlatUniversalClock)
  // Its text when it says more than the event's own (none: that one);
  // Said, when not empty, in its place: a text made for the event.
  const char* Message = nullptr;
  Text Said = Text();
};

// The history window shows this many of the last alarm events.
enum { AlarmLinesShown = 6 };

// The level thresholds of the well, in volts: output 5 (Maximum) goes on
// above MaximumThreshold, output 4 (Minimum, dry run) below
// MinimumThreshold. 0.21 itself is the double just below
// 0.21000000000000002; the threshold is the next one up, so a measured
// 0.210 is below it and switches the Minimum output on.
constexpr double MinimumThreshold = 0.21000000000000002;
constexpr double MaximumThreshold = 1.18;

// Replies learned on a connection: Help's and Version's.
enum { LearnedReplyCount = 2 };

// What the board last said of a relay's or a digital input's contact:
// closed (an output on, an input the board reports 0), open, or nothing
// yet on this connection. Only the main window turns it into words.
enum Contact : int8_t { ContactUnknown = 0, ContactOpen, ContactClosed };

// What the guard last decided for an output: nothing yet, off or on.
enum GuardDecision : int8_t { DecidedNothing = 0, DecidedOff, DecidedOn };

// What the program knows of the PC's sleeps (base/sleep_clock.h). The
// clocks and the system's notices as the last look found them; whether a
// sleep was found by the clocks since the last suspend notice (Open) and
// at which tick, so that the resume notice that follows is not a second
// sleep; the sleeps found since the start and their whole length; and of
// those, the ones the operator was told of (SleepWatchState).
// The wall clock as base/wall_clock.h follows it: whether it has been
// looked at, the tick count then, universal time (ms) as the tick count
// carries it from the first look, and the local clock's lead then (s).
struct WallClockState {
  bool Started;
  TickCount SeenTick;
  int64_t SteadyMs;
  int64_t SeenLead;
};

// A change of the wall clock: the step of universal time (s, 0 when none)
// or of the local clock's lead on it (a zone or summer time, s), and the
// local and universal time at which it was found (after it).
struct WallClockChange {
  int64_t Step;
  int64_t LeadChange;
  int64_t Local;
  int64_t Universal;
};

struct SleepClockState {
  bool Started;
  TickCount SeenTick;
  int64_t SeenUniversal;  // s
  uint64_t SeenRunning;   // ms, PlatRunningTime
  bool RunningKnown;
  PlatPowerNotices SeenNotices;
  bool Open;
  TickCount FoundAt;
  int Found;
  int64_t SleptMs;
  // The main loop's passes: whether one was seen, the tick and universal
  // time of the last one, and the sleeps found by then.
  bool PassSeen;
  TickCount PassTick;
  int64_t PassUniversal;
  int PassFound;
};

// The status page's settings and snapshot (AppState.Web).
#include "base/web_status.h"

// The level sensor's check (AppState.Sensor).
#include "base/sensor_state.h"

// The well in the home automation: what is published (AppState.Mqtt).
#include "base/mqtt_status.h"

// The record is made of sub-records, each written by one file, its owner
// (named at each; scripts/check_writers.py holds the table and checks it):
// every other file reads it, or asks the owner through a call. The
// settings are written at start-up alone and read through Settings().

// The settings: the program's fixed defaults (InitDefaults), then what the
// command line gave (app/command_line.cpp); app/startup.cpp takes the
// sound. Written at start-up alone (and by tests' setup); everyone else
// reads them through Settings(), a const reference.
struct SettingsRecord {
  // The board's address and port.
  Text BoardAddress;
  int BoardPort;

  // Reply buffers, taken at start (their bytes are written by each
  // exchange, the buffers themselves stay as taken).
  ReplyBuffer StatusBuffer;
  ReplyBuffer AdcBuffer;
  ReplyBuffer PortBuffer;
  ReplyBuffer PingBuffer;
  ReplyBuffer VersionBuffer;
  ReplyBuffer IpBuffer;
  ReplyBuffer MaskBuffer;
  ReplyBuffer GatewayBuffer;
  ReplyBuffer CommandBuffer;
  ReplyBuffer LcdReplyBuffer;

  // Captions and units.
  Text OutputName[9];
  Text AnalogName[5];
  Text AnalogUnit[5];
  Text DigitalInputName[5];

  // Analog conversion.
  double AnalogScale[5];
  int AnalogRoundFactor[5];
  int AnalogTextWidth[5];  // leading characters of a voltage's shown text

  // Switch delays of the pulse switches, in ms: the default, its text as
  // the delay fields show it at start, and the bounds.
  int DefaultSwitchDelay[9];
  Text SwitchDelayText[9];
  int MinSwitchDelay[9];
  int MaxSwitchDelay[9];

  // The board query's interval at start, ms.
  int InitialRefreshInterval;

  // Flags: the click (SoundLoaded: and its sound could be loaded), the
  // board's display.
  bool SoundEnabled;
  bool SoundLoaded;
  bool LcdEnabled;

  // Colours (COLORREF 0x00BBGGRR).
  uint32_t ColourRed;
  uint32_t ColourBlue;

  // The level log's folder given on the command line (empty: no log,
  // nothing is written or read; control/level_log.h).
  Text LogFolder;
  // The alarm command given on the command line (empty: none is run), and
  // the minute of the day of the daily sign of life (-1: none;
  // control/alarms.h).
  Text AlarmCommand;
  int AlarmDailyMinute = -1;
};

// The board connection (board/link.cpp).
struct LinkRecord {
  // NoSocket until the connection is open; the datagram socket of the
  // address check.
  PlatSocket BoardConnection = NoSocket;
  PlatSocket AddressCheckSocket = NoSocket;
  // Lost: the connection that was open is gone (closed, reset or silent
  // past ReplyStartLimit); a new one is tried at NextReconnectTime.
  bool ConnectionLost;
  TickCount NextReconnectTime;
  // What is known of the board on this connection (forgotten when it is
  // lost): ConnectionNumber counts the connections made again since the
  // start; SlowestReply, the longest any reply has taken on it, in ms
  // (board/reply_driver.h, ProofQuietTime); the Help and Version replies
  // learned in a proven query (board/reply_reader.h), by LearnedReplyCount
  // slot.
  int ConnectionNumber;
  int SlowestReply;
  bool ReplyLearned[LearnedReplyCount];
  Text LearnedReply[LearnedReplyCount];
};

// The board's commands (board/commands.cpp). OffOwed[n]: "setport n.0",
// which ends a pulse or a measurement, could not reach the board and goes
// out first on the next connection.
struct CommandsRecord {
  bool OffOwed[9];
};

// The board as the last replies said it (board/readings.cpp); forgotten
// when the connection is lost. Every exchange is followed by a board query
// and its redraw, which shows the loss.
struct ReadingsRecord {
  // Board data, as the board query takes it from the replies.
  Text FirmwareText = "V1.5";
  Text BoardIpText;
  Text SubnetMaskText;
  Text GatewayText;
  Text StatusReplyText;
  Text AdcReplyText[5];
  int PingTime;
  // StatusFresh: the last board query received a reply to Getstatus, at
  // StatusAnsweredTick (the tick) and StatusAnsweredTime (the local time);
  // StatusInForm: and that reply was of the status's form.
  bool StatusFresh;
  TickCount StatusAnsweredTick;
  int64_t StatusAnsweredTime;
  bool StatusInForm;
  // LevelProven: the last board query was proven in step and LevelVoltage
  // is the board's answer to its GETADC 1.
  bool LevelProven;
  // The board's outputs and inputs as the last replies said them.
  // OutputState[n]: the board query sets 1 to 8 from the status reply (3
  // too, though its label shows the measurement), a switching handler
  // sets the output it switched once its "setport" was answered.
  // InputState[n]: digital input n. AnalogRead[n]: AnalogVoltage[n] was
  // read on this connection. All unknown again when the connection is
  // lost.
  Contact OutputState[9];
  Contact InputState[5];
  bool AnalogRead[5];
  double AnalogVoltage[5];
  double LevelVoltage;
};

// The board query's own (board/poll.cpp): whether the replies are in step
// with their commands (board/reply_forms.h). LinkInDoubt: something came
// that no command asked for, or might still come (a reply too long for its
// receive, an extra line, a reply of the wrong form, bytes waiting before
// a query, a console exchange); the next query a decision rides on first
// waits for the link to go quiet. ReplyFaults counts the replies found
// wrong since the start, so a query can tell whether one of its own was.
// The display's two lines as last written.
struct QueryRecord {
  bool LinkInDoubt;
  int ReplyFaults;
  Text LcdLine1Command;
  Text LcdLine2Command;
};

// The board held to the guard's decisions (control/guard_outputs.cpp).
struct GuardRecord {
  // GuardWants[n], n 3..5: what the guard last sent to output n (3: the
  // sensor's power while a measurement runs). DeviationShown[n]: a status
  // showing output n otherwise was announced, at DeviationSeenAt[n] the
  // last one did, and the statuses since have not shown it as decided for
  // DeviationRetryInterval.
  GuardDecision GuardWants[9];
  bool DeviationShown[9];
  TickCount DeviationSeenAt[9];
  // RefusalShown[n]: the board's refusal of a command of the guard to
  // output n (on, if RefusedOn[n]) was announced, and it has not taken that
  // command since.
  bool RefusalShown[9];
  bool RefusedOn[9];
  // FreshMeasurementWanted: a measurement is to start at the next tick;
  // FreshMeasurementAt: when the last one so started, if
  // FreshMeasurementStarted.
  bool FreshMeasurementWanted;
  bool FreshMeasurementStarted;
  TickCount FreshMeasurementAt;
  // The level sensor's power: the board's status has shown output 3 on
  // since tick SensorOnSince (of MeasurementTicks), after the guard
  // switched it on, and nothing has switched it off or made its state
  // unknown since (a "setport 3.0", a status showing it off, a lost
  // connection).
  bool SensorPowered;
  int SensorOnSince;
};

// The measurement cycle (control/measurement.cpp).
struct MeasurementRecord {
  // The measurement's trust in its readings: how many evaluations in a row
  // left output 4 undecided for want of a proven reading. Above 0, the
  // last evaluation decided nothing on a reading that was not proven
  // (label 36 says so). Of them, those of the first cycle that still
  // switched output 5, and whether the last one did (label 36 says which
  // output stayed undecided).
  int DoubtedEvaluations;
  int DoubtedWithOutput5;
  bool DoubtedLastSwitched5;
  // MeasurementTicks counts the ticks of timer 123 since the start.
  int MeasurementTicks;
  int CyclePeriod;   // s
  int CycleCounter;  // ticks of timer 123 in the current cycle
  // A measurement is to start afresh at the first tick with the board
  // connected (MeasureAfterSleep).
  bool MeasureWanted;
};

// The pulse switches' delays at start, in ms.
constexpr int DefaultSwitchDelays[9] = {0,   1000, 200, 100, 100,
                                        100, 100,  100, 100};

// The well's functions and the pulse switches (control/switching.cpp):
// released or locked, and the switch delays in ms.
struct SwitchingRecord {
  bool MeasurementEnabled;
  bool MinimumEnabled;
  bool MaximumEnabled;
  int SwitchDelay[9] = {
      DefaultSwitchDelays[0], DefaultSwitchDelays[1], DefaultSwitchDelays[2],
      DefaultSwitchDelays[3], DefaultSwitchDelays[4], DefaultSwitchDelays[5],
      DefaultSwitchDelays[6], DefaultSwitchDelays[7], DefaultSwitchDelays[8]};
};

// The board query's timing (control/refresh.cpp): its interval and the
// tick of the next one.
struct RefreshRecord {
  int RefreshInterval = 10000;  // ms
  TickCount NextRefreshTime;
};

// The main loop's last event (app/main_loop.cpp): its kind and the
// control, timer or window it came from.
struct LoopRecord {
  EventKind LastEvent;
  int LastEventNumber;
};

// The level history, in memory (base/state.cpp; with the level log, its
// last 30 days are read back into it at start): a ring of HistoryCapacity
// records taken from the heap at start (none when it could not be taken),
// the oldest at HistoryFirst. The lowest and highest level since the start
// are kept apart from it, as the ring forgets old evaluations.
// EvaluationCount counts every evaluation recorded since the start.
struct HistoryRecord {
  LevelRecord* History;
  int HistoryCount;
  int HistoryFirst;
  int EvaluationCount;
  bool HistoryHasExtremes;
  LevelRecord LowestLevel;
  LevelRecord HighestLevel;
};

// The level log (control/level_log.cpp). LogPending: lines not written
// yet, the oldest first; LogDropped: lines given up for want of room in
// LogPending. LogFiles: the files the last try wrote or failed to write,
// the one of the oldest line first. LogReadProblem and LogWriteProblem:
// what went wrong reading the log at start and writing it now, for the
// history window; empty when nothing did. LogReadWaiting: the folder was
// missing at start: the log is read back when an evaluation is logged and
// finds it there, once.
struct LogRecord {
  std::deque<PendingLogLine> LogPending;
  int LogDropped;
  std::vector<LogFileState> LogFiles;
  Text LogReadProblem;
  Text LogWriteProblem;
  bool LogReadWaiting;
};

// How the history window's last save went, shown there
// (control/history.cpp).
struct SavingRecord {
  Text HistorySaveText;
};

// Alarm events (control/alarms.cpp).
struct AlarmsRecord {
  // AlarmOutputOn[4], [5]: what the events last announced of outputs 4
  // and 5 (off at start). AlarmBlindAnnounced: the loss of the connection
  // was announced and its return not yet. AlarmLossSeen, AlarmLostSince:
  // the connection was seen lost, since that tick. AlarmLines: the last
  // events as the history window lists them, the oldest first.
  bool AlarmOutputOn[9];
  bool AlarmBlindAnnounced;
  // The guard's own watch (GuardBlindLimit): when output 4 was last
  // decided on a proven reading (or the watch began), moved on by the time
  // the measurement was locked since (GuardLockedAt), and whether the
  // guard's blindness since then has been announced.
  TickCount GuardDecidedAt;
  TickCount GuardLockedAt;
  bool GuardBlindAnnounced;
  bool AlarmLossSeen;
  TickCount AlarmLostSince;
  std::deque<Text> AlarmLines;
  std::vector<WaitingAlarm> AlarmsWaiting;
  // Events announced since the start.
  int AlarmEventsAnnounced;
  // The alarm command's runs not yet seen to end, and what went wrong:
  // runs that could not be started, that ran past the bound, that were
  // left out because too many still ran; the last of these as the history
  // window says it.
  std::vector<RunningAlarmCommand> AlarmCommandsRunning;
  int AlarmCommandsFailed;
  int AlarmCommandsOverdue;
  int AlarmCommandsLeftOut;
  Text AlarmCommandProblem;
  // The daily sign of life: the universal time before which the next may
  // not be due (half a day after the last one's minute, or the start), and
  // whether that has been settled since the start; the universal times the
  // connection was lost in about the last day.
  int64_t AlarmDailyNotBefore;
  bool AlarmDailyArmed;
  std::deque<int64_t> AlarmLossTimes;
};

// The operator's console (control/console.cpp): the command typed and the
// board's reply.
struct ConsoleRecord {
  Text ConsoleCommandText;
  Text ConsoleReplyText;
};

// The views' own state, each part written by its view.
struct ViewRecord {
  // The main window's board displays (ui/board_view.cpp): the level the
  // level bar was last drawn at (LevelBarDrawn: it has been since the
  // start).
  struct {
    bool LevelBarDrawn;
    double LevelBarVoltage;
  } Board;
  // The history window (ui/history_window.cpp): the evaluations and the
  // events it has drawn.
  struct {
    int HistoryShownCount;
    int HistoryShownEvents;
  } History;
  // Held buttons (ui/held_buttons.cpp). HeldButton[n]: button n was made
  // usable again while clicks made when it was greyed may still be queued;
  // it stays greyed until an event wait finds nothing. HeldFocus: the held
  // button that takes the keyboard focus then, 0 when none.
  struct {
    bool HeldButton[PlatControlCount];
    int HeldFocus;
  } Held;
};

// What the program told the operator of the PC's sleeps
// (control/sleep_watch.cpp): the sleeps and their time, the suspend
// notices announced; and whether the request to keep the system awake
// stands.
struct SleepWatchState {
  int Told;
  int64_t ToldMs;
  int SuspendsTold;
  bool KeepingAwake;
};

struct AppStateRecord {
  SettingsRecord Settings;
  LinkRecord Link;
  CommandsRecord Commands;
  ReadingsRecord Readings;
  QueryRecord Query;
  GuardRecord Guard;
  MeasurementRecord Measurement;
  SwitchingRecord Switching;
  RefreshRecord Refresh;
  LoopRecord Loop;
  HistoryRecord History;
  LogRecord Log;
  SavingRecord Saving;
  AlarmsRecord Alarms;
  ConsoleRecord Console;
  ViewRecord View;

  // The read-only status page (/web): its settings (start-up), the
  // snapshot it shows (control/web_snapshot.cpp) and what its server says
  // of itself (web/web_server.cpp).
  WebState Web;

  // The level sensor's check (/sensor): its settings (start-up) and what
  // it knows (control/sensor_watch.cpp).
  SensorState Sensor;

  // The read-only MQTT client (/mqtt): its settings (start-up), what it
  // publishes (control/mqtt_snapshot.cpp) and what it says of itself
  // (mqtt/mqtt_client.cpp).
  MqttState Mqtt;

  // The PC's sleeps (base/sleep_clock.cpp) and what the program told of
  // them (control/sleep_watch.cpp).
  SleepClockState Sleep;
  SleepWatchState SleepWatch;

  // The PC's wall clock as the tick count carries it, and the changes of
  // it found and not yet told (base/wall_clock.cpp).
  WallClockState WallClock;
  std::vector<WallClockChange> WallClockChanges;
};

extern AppStateRecord AppState;

// The settings, for reading: const to everyone after start-up.
inline const SettingsRecord& Settings() { return AppState.Settings; }

// Bounds of the board link, in ms.
enum {
  // A reply that has not begun this long after its command, or that breaks
  // off before its line feed for this long, means the board is gone: the
  // connection is closed. A healthy board answers within a
  // few hundred ms, also over the internet. So does a link that does not
  // go quiet within this bound when it has to (LinkQuietTime).
  ReplyStartLimit = 3000,
  // A reply must be whole this long after its command, however its bytes
  // trickle in: a board that begins within ReplyStartLimit and writes a
  // Help text of a few lines a line at a time has it out well before.
  ReplyWholeLimit = 8000,
  // A reply that may span lines (Help, Version, every console command) is
  // whole once this long has passed after a line feed without a byte. A
  // board may write such a reply a line at a time; a small TCP stack
  // keeps one segment in flight and waits for its acknowledgement, which
  // the PC may delay by up to 200 ms, so lines can come up to 300 ms
  // apart. Help and Version, once learned on a connection, are whole
  // without this wait (board/reply_reader.h).
  LineGapSettle = 400,
  // The link is in step when nothing at all has come for this long: longer
  // than a board takes to begin a reply (a few hundred ms at worst) and
  // than it pauses within one (half a second at worst), so whatever is
  // still owed to an earlier command has begun to come by then.
  LinkQuietTime = 600,
  // While the program waits, the windows and the services are served this
  // often (base/wait_service.h).
  ServeSlice = 20,
  // After a loss, a new connection is tried this often, each attempt at
  // most ConnectLimit long.
  ReconnectInterval = 5000,
  ConnectLimit = 1000,
  // The connect at start-up, while the connection notice is up, is given
  // up after this long. Windows itself gives up a connect after about
  // 21 s, having sent its third SYN at 9 s; 15 s gives that try time to be
  // answered while an operator still waits with patience.
  StartupConnectLimit = 15000,
};

// Zeroes the whole record.
void ZeroAppState();

// The evaluations the level history keeps, the oldest first
// (0 .. HistorySize() - 1); control/history.cpp records them.
int HistorySize();
const LevelRecord& HistoryEntry(int index);
// Adds an evaluation to the history as its newest (the oldest goes when it
// is full) and to the count and extremes since the start; a level that is
// no number (a hostile analog reply can give one) is no extreme.
void KeepEvaluation(const LevelRecord& r);
// Takes a level into the lowest and highest since the start; of equal
// levels the one taken first stays.
void TakeExtremes(const LevelRecord& r);
// The level history as handed to the floor's reckonings (base/dry_runs.h,
// base/level_csv.h): AppState's ring.
LevelRing HistoryRing();
// Empties the ring and forgets the extremes, to be filled anew in order
// (the level log read back at start); and takes back the count of an
// evaluation that is kept again.
void RestartHistory();
void UncountEvaluation();
// The wall clock was put `step` seconds forward (back when negative): the
// history's times are named anew on it (base/wall_clock.h).
void RenameHistoryTimes(int64_t step);
// The history's memory is given back at the end: no history.
void ForgetHistory();
// Fills the record with the program's fixed defaults, in their order.
void InitDefaults();
