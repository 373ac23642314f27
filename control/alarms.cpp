#include "control/alarms.h"

#include <cmath>
#include <string>

#include "base/clock_text.h"
#include "base/dry_runs.h"
#include "base/operator_numbers.h"
#include "base/sleep_clock.h"
#include "base/wall_clock.h"
#include "board/poll.h"
#include "control/clock_watch.h"
#include "control/level_log.h"
#include "control/mqtt_snapshot.h"
#include "control/web_snapshot.h"
#include "ui/control_numbers.h"

const AlarmEventForm AlarmEvents[AlarmEventCount] = {
    {"minimum-ein", "Trockenlauf: Ausgang 4 (Minimum) eingeschaltet"},
    {"maximum-ein", "Hochstand: Ausgang 5 (Maximum) eingeschaltet"},
    {"minimum-aus", "Entwarnung: Ausgang 4 (Minimum) wieder ausgeschaltet"},
    {"maximum-aus", "Entwarnung: Ausgang 5 (Maximum) wieder ausgeschaltet"},
    {"verbindung-weg",
     "Keine Verbindung zur Platine seit über 60 s: der Brunnen ist "
     "unbewacht"},
    {"verbindung-zurueck", "Verbindung zur Platine wieder da"},
    {"messwert-unsicher",
     "Ein ganzer Messzyklus ohne sicheren Messwert: nichts geschaltet"},
    {"waechter-blind",
     "Ausgang 4 (Minimum) seit über anderthalb Messzyklen nicht auf einen "
     "sicheren Messwert geschaltet: der Trockenlaufschutz ist blind"},
    {"waechter-sieht",
     "Trockenlaufschutz schaltet wieder auf sichere Messwerte"},
    {"minimum-gesperrt",
     "Ausgang 4 (Minimum) ausgeschaltet: Trockenlaufschutz gesperrt"},
    {"maximum-gesperrt",
     "Ausgang 5 (Maximum) ausgeschaltet: Hochstandmeldung gesperrt"},
    {"lebenszeichen", "Lebenszeichen des Wächters"},
    {"ausgang-abweichend",
     "Ein Ausgang auf der Platine steht anders, als der Wächter ihn "
     "geschaltet hat: neue Messung"},
    {"pc-schlaf",
     "Der PC geht in den Ruhezustand: der Brunnen ist unbewacht, bis er "
     "wieder aufwacht"},
    {"pc-wach", "Der PC ist aus dem Ruhezustand aufgewacht: neue Messung"},
    {"pc-ende",
     "Windows beendet die Sitzung: der Wächter endet, der Brunnen ist "
     "unbewacht"},
    {"programm-start", "Wächter gestartet"},
    {"sensor-fehler",
     "Sensorfehler: kein Schalten auf den Messwert des Sensors"},
    {"sensor-verdacht",
     "Sensorverdacht: der Messwert des Sensors ist zweifelhaft"},
    {"sensor-ok", "Sensor wieder in Ordnung: es wird wieder geschaltet"},
};

// What the board shows against what the guard decided, by output (3, 4,
// 5) and decision (off, on); and what it refused. No semicolon: each is a
// field of the level log.
static const char* const DeviationMessages[3][2] = {
    {"Ausgang 3 (Messung) auf der Platine ein, obwohl vom Wächter "
     "ausgeschaltet",
     "Ausgang 3 (Messung) auf der Platine aus, obwohl vom Wächter "
     "eingeschaltet: kein Messwert ohne Sensorstrom, neue Messung"},
    {"Ausgang 4 (Minimum) auf der Platine ein, obwohl vom Wächter "
     "ausgeschaltet: neue Messung",
     "Ausgang 4 (Minimum) auf der Platine aus, obwohl vom Wächter "
     "eingeschaltet: neue Messung"},
    {"Ausgang 5 (Maximum) auf der Platine ein, obwohl vom Wächter "
     "ausgeschaltet: neue Messung",
     "Ausgang 5 (Maximum) auf der Platine aus, obwohl vom Wächter "
     "eingeschaltet: neue Messung"},
};
static const char* const RefusalMessages[3][2] = {
    {"Die Platine nimmt das Ausschalten von Ausgang 3 (Messung) nicht an",
     "Die Platine nimmt das Einschalten von Ausgang 3 (Messung) nicht an: "
     "kein Messwert ohne Sensorstrom"},
    {"Die Platine nimmt das Ausschalten von Ausgang 4 (Minimum) nicht an: "
     "nicht entschieden",
     "Die Platine nimmt das Einschalten von Ausgang 4 (Minimum) nicht an: "
     "nicht entschieden"},
    {"Die Platine nimmt das Ausschalten von Ausgang 5 (Maximum) nicht an: "
     "nicht entschieden",
     "Die Platine nimmt das Einschalten von Ausgang 5 (Maximum) nicht an: "
     "nicht entschieden"},
};

// A whole cycle in doubt for output 4, with output 5 switched each time or
// some of the times (nothing switched: the event's own text).
static const char DoubtedOutput4Message[] =
    "Ein ganzer Messzyklus ohne sicheren Messwert: Ausgang 4 (Minimum) nicht "
    "geschaltet, Ausgang 5 (Maximum) geschaltet";
static const char DoubtedOutput4SomeMessage[] =
    "Ein ganzer Messzyklus ohne sicheren Messwert: Ausgang 4 (Minimum) nicht "
    "geschaltet, Ausgang 5 (Maximum) nur teils geschaltet";

// What the sensor's check found, by cause (SensorCause), with the volts
// put in at the mark; the alarm command gets the volts as its third
// argument. No semicolon: each is a field of the level log.
static const char* const SensorMessages[] = {
    "Sensor: %",
    "Sensorfehler: Messwert % V am oberen Ende des Eingangs (Kabel oder "
    "Sensor defekt?): nicht geschaltet",
    "Sensorfehler: Messwert % V unter dem Nullpunkt des Sensors "
    "(Kabelbruch?): nicht geschaltet",
    "Sensorfehler: Messwert % V ändert sich nicht mit dem Sensorstrom "
    "(Sensor ohne Strom oder Eingang offen?): nicht geschaltet",
    "Sensorverdacht: Messwerte eines Zyklus streuen zu weit (Mitte % V): "
    "nichts geschaltet",
    "Sensorverdacht: Messwert % V weit über dem letzten: erst der nächste "
    "Zyklus gibt den Trockenlaufschutz frei",
    "Sensorverdacht: Messwert seit langem unverändert bei % V",
};

int GuardBlindLimit() {
  int64_t cycle = (int64_t)(AppState.Measurement.CyclePeriod > 0
                                ? AppState.Measurement.CyclePeriod
                                : 0) +
                  5;
  int64_t limit = cycle * 1500;
  if (limit < 60000) limit = 60000;
  if (limit > 0x7FFFFFFF) limit = 0x7FFFFFFF;
  return (int)limit;
}

// A level in volts with two decimals, cut as the main window cuts them;
// "-" for none (or one no board can give).
static Text LevelShown(double level) {
  if (!std::isfinite(level) || std::fabs(level) > 1e6) return "-";
  return VoltsToHundredths(level);
}

std::vector<Text> AlarmArguments(AlarmEvent event, int64_t time, double level) {
  // No blank, nothing a command line would take apart.
  return {AlarmEvents[event].Name, IsoDateTimeText(time), LevelShown(level)};
}

// The runs of the alarm command: those that ended are forgotten, one
// running past the bound is shown and counted once.
static void LookAfterAlarmCommands() {
  std::vector<RunningAlarmCommand>& running =
      AppState.Alarms.AlarmCommandsRunning;
  for (size_t i = 0; i < running.size();) {
    RunningAlarmCommand& run = running[i];
    if (!PlatProgramRunning(run.Program)) {
      running.erase(running.begin() + (long)i);
      continue;
    }
    if (!run.Overdue &&
        (int32_t)(PlatTickCount() - run.Started) >= AlarmCommandLimit) {
      run.Overdue = true;
      AppState.Alarms.AlarmCommandsOverdue++;
      AppState.Alarms.AlarmCommandProblem =
          "Alarmbefehl läuft seit über " +
          std::to_string(AlarmCommandLimit / 1000) + " s (" +
          DateTimeText(PlatLocalClock()) + ").";
    }
    i++;
  }
}

static void RunAlarmCommand(const std::vector<Text>& arguments,
                            const Text& when) {
  if (Settings().AlarmCommand.empty()) return;
  LookAfterAlarmCommands();
  if ((int)AppState.Alarms.AlarmCommandsRunning.size() >= AlarmCommandsAtOnce) {
    AppState.Alarms.AlarmCommandsLeftOut++;
    AppState.Alarms.AlarmCommandProblem =
        "Alarmbefehl für " + arguments[0] + " (" + when +
        ") nicht gestartet: " + std::to_string(AlarmCommandsAtOnce) +
        " laufen noch.";
    return;
  }
  PlatProgram program = PlatStartProgram(Settings().AlarmCommand, arguments);
  if (program == NoProgram) {
    AppState.Alarms.AlarmCommandsFailed++;
    AppState.Alarms.AlarmCommandProblem =
        "Alarmbefehl " + Settings().AlarmCommand +
        " ließ sich nicht starten (" + when + ").";
    return;
  }
  AppState.Alarms.AlarmCommandsRunning.push_back(
      RunningAlarmCommand{program, PlatTickCount(), false});
}

// The main window's taskbar button flashes until the operator activates
// it, unless he looks at it already.
static void CallOperator() {
  if (!PlatWindowIsActive(MainWindow)) PlatFlashUntilActive(MainWindow);
}

// The event, everywhere it goes. `output` is 4 or 5 for the events of an
// output (its line in the log shows what went to it), 0 otherwise.
// `message`: its text when it says more than the event's own; `more`:
// arguments after the first three.
// A line in the history window's list of the last events.
static void ShowEventLine(const Text& line) {
  AppState.Alarms.AlarmLines.push_back(line);
  while ((int)AppState.Alarms.AlarmLines.size() > AlarmLinesShown)
    AppState.Alarms.AlarmLines.pop_front();
}

// Everything the alarm events keep with a wall clock time, named anew
// after a step of `step` seconds: what happened at an instant the old
// clock called t, the clock now calls t + step.
static void RenameAlarmTimes(int64_t step) {
  for (int64_t& t : AppState.Alarms.AlarmLossTimes) t += step;
  for (WaitingAlarm& a : AppState.Alarms.AlarmsWaiting) {
    a.Time += step;
    a.Universal += step;
  }
  AppState.Alarms.AlarmDailyNotBefore += step;
}

void WatchClock() {
  int64_t step = WatchWallClock();
  if (step != 0) RenameAlarmTimes(step);
  std::vector<WallClockChange> changes = TakeWallClockChanges();
  // The history's times were carried onto the clock as it is now: the
  // status page's day is read from it anew at its next snapshot.
  if (!changes.empty()) WebDayRenamed();
  for (const WallClockChange& c : changes) {
    Text told[2];
    ClockChangeTexts(c, told);
    for (const Text& message : told) {
      if (message.empty()) continue;
      ShowEventLine(DateTimeText(c.Local) + "  " + message);
      LogAlarmEvent(c.Local, c.Universal, 0, 0, NAN, message);
    }
  }
}

static void Announce(AlarmEvent event, int output, int sent, double level,
                     int64_t now, int64_t universal,
                     const Text& message = Text(),
                     const std::vector<Text>& more = {}) {
  std::vector<Text> arguments = AlarmArguments(event, now, level);
  arguments.insert(arguments.end(), more.begin(), more.end());
  Text said = message.empty() ? Text(AlarmEvents[event].Message) : message;
  Text when = DateTimeText(now);
  Text line = when + "  " + said;
  // A level the text already says is not said twice.
  if (arguments[2] != "-" && said.find(arguments[2] + " V") == Text::npos)
    line += " (" + arguments[2] + " V)";
  ShowEventLine(line);
  AppState.Alarms.AlarmEventsAnnounced++;
  LogAlarmEvent(now, universal, output, sent, level, said);
  NoteMqttEvent(AlarmEvents[event].Name, said, level, now, universal);
  RunAlarmCommand(arguments, when);
}

// An event of an evaluation waits for its end: the next query goes out
// without the log's writing or the command's start before it.
static void Await(AlarmEvent event, int output, int sent, double level,
                  const char* message = nullptr) {
  AppState.Alarms.AlarmsWaiting.push_back(
      WaitingAlarm{event, output, sent, level, PlatLocalClock(),
                   PlatUniversalClock(), message});
}

void AnnounceWaitingAlarms(const LevelRecord* evaluation) {
  std::vector<WaitingAlarm> waiting;
  waiting.swap(AppState.Alarms.AlarmsWaiting);
  for (const WaitingAlarm& a : waiting)
    Announce((AlarmEvent)a.Event, a.Output, a.Sent, a.Level,
             evaluation ? evaluation->Time : a.Time,
             evaluation ? evaluation->Universal : a.Universal,
             !a.Said.empty() ? a.Said
             : a.Message     ? Text(a.Message)
                             : Text());
}

void AlarmLevelOutput(int output, int sent, double level, bool wasOnInStatus,
                      bool locked) {
  if (sent == CommandNotSent || (output != 4 && output != 5)) return;
  bool on = sent == 1;
  bool event = on != AppState.Alarms.AlarmOutputOn[output];
  // The operator is called for the event, and as the board sees it: the
  // output went on and was off before.
  if (event || (on && !wasOnInStatus)) CallOperator();
  if (event) {
    AppState.Alarms.AlarmOutputOn[output] = on;
    AlarmEvent event;
    if (on)
      event = output == 4 ? AlarmMinimumOn : AlarmMaximumOn;
    else if (locked)
      event = output == 4 ? AlarmMinimumLocked : AlarmMaximumLocked;
    else
      event = output == 4 ? AlarmMinimumOff : AlarmMaximumOff;
    Await(event, output, sent, level);
  }
}

void AlarmOutput4Decided(int sent, double level) {
  AppState.Alarms.GuardDecidedAt = PlatTickCount();
  if (!AppState.Alarms.GuardBlindAnnounced) return;
  AppState.Alarms.GuardBlindAnnounced = false;
  CallOperator();
  Await(AlarmGuardSeesAgain, 4, sent, level);
}

void AlarmGuardWatchFromNow() {
  AppState.Alarms.GuardDecidedAt = PlatTickCount();
}

void AlarmGuardWatchPaused() {
  AppState.Alarms.GuardLockedAt = PlatTickCount();
}

void AlarmGuardWatchResumed() {
  AppState.Alarms.GuardDecidedAt +=
      PlatTickCount() - AppState.Alarms.GuardLockedAt;
}

void AlarmOutputDeviates(int output, bool decidedOn, bool refused) {
  if (output < 3 || output > 5) return;
  CallOperator();
  const char* message = refused ? RefusalMessages[output - 3][decidedOn]
                                : DeviationMessages[output - 3][decidedOn];
  Await(AlarmOutputOtherwise, 0, 0, NAN, message);
}

// Output 4 undecided past the bound, counted on the one clock whatever
// kept it so; a locked measurement is not watched.
static void WatchGuard() {
  if (!AppState.Switching.MeasurementEnabled ||
      AppState.Alarms.GuardBlindAnnounced)
    return;
  if ((int32_t)(PlatTickCount() - AppState.Alarms.GuardDecidedAt) <=
      GuardBlindLimit())
    return;
  AppState.Alarms.GuardBlindAnnounced = true;
  CallOperator();
  Announce(AlarmGuardBlind, 0, 0, NAN, PlatLocalClock(), PlatUniversalClock());
}

void AlarmReadingsInDoubt(int output5Switched, int of) {
  CallOperator();
  const char* message = output5Switched <= 0    ? nullptr
                        : output5Switched >= of ? DoubtedOutput4Message
                                                : DoubtedOutput4SomeMessage;
  Await(AlarmReadingsDoubted, 0, 0, NAN, message);
}

void AlarmSensor(AlarmEvent event, SensorCause cause, double volts) {
  CallOperator();
  Text message;
  if (event == AlarmSensorOk) {
    message = AlarmEvents[event].Message;
  } else {
    int which = (int)cause;
    if (which < 0 ||
        which >= (int)(sizeof SensorMessages / sizeof SensorMessages[0]))
      which = 0;
    message = SensorMessages[which];
    size_t mark = message.find('%');
    message.replace(mark, 1, LevelShown(volts));
  }
  AppState.Alarms.AlarmsWaiting.push_back(
      WaitingAlarm{event, 0, 0, volts, PlatLocalClock(), PlatUniversalClock(),
                   nullptr, message});
}

void AlarmPcGoesToSleep() {
  CallOperator();
  Announce(AlarmPcSleeps, 0, 0, NAN, PlatLocalClock(), PlatUniversalClock());
}

void AlarmPcWoke(int64_t asleepMs) {
  // The time asleep was time without sight of the well.
  if (AppState.Switching.MeasurementEnabled)
    AppState.Alarms.GuardDecidedAt =
        SinceAcrossSleep(AppState.Alarms.GuardDecidedAt, asleepMs,
                         (int64_t)GuardBlindLimit() + 1);
  if (AppState.Alarms.AlarmLossSeen)
    AppState.Alarms.AlarmLostSince = SinceAcrossSleep(
        AppState.Alarms.AlarmLostSince, asleepMs, AlarmBlindTime + 1);
  for (RunningAlarmCommand& run : AppState.Alarms.AlarmCommandsRunning)
    run.Started = SinceAcrossSleep(run.Started, asleepMs, AlarmCommandLimit);
  CallOperator();
  // No semicolon: the text is a field of the level log.
  Text message = "Der PC hat " + SleepDurationText(asleepMs) +
                 " geschlafen – so lange war der Brunnen unbewacht";
  Announce(AlarmPcAwake, 0, 0, NAN, PlatLocalClock(), PlatUniversalClock(),
           message, {std::to_string(asleepMs / 60000)});
}

// The losses of a connection kept: those of the last day, at most this many.
enum { LossTimesKept = 20000 };

static void ForgetLossesBefore(int64_t from) {
  std::deque<int64_t>& times = AppState.Alarms.AlarmLossTimes;
  while (!times.empty() &&
         (times.front() <= from || (int)times.size() > LossTimesKept))
    times.pop_front();
}

void AlarmConnectionLost(int64_t time) {
  AppState.Alarms.AlarmLossTimes.push_back(time);
  ForgetLossesBefore(time - 86400);
}

// The counts of the 24 hours before it, on universal time: a clock put
// forward or back makes the day neither longer nor shorter.
static void AnnounceDailySign(int64_t now) {
  int64_t universal = PlatUniversalClock();
  DryRuns counts = DryRunsBetween(HistoryRing(), universal - 86400, universal);
  ForgetLossesBefore(universal - 86400);
  int losses = (int)AppState.Alarms.AlarmLossTimes.size();
  int64_t minutes = counts.OnSeconds / 60;
  // No semicolon: the text is a field of the level log.
  Text message = "Lebenszeichen, letzte 24 h: Ausgang 4 (Minimum) " +
                 std::to_string(counts.Trips) + "-mal ein, " +
                 std::to_string(minutes) + " min lang, " +
                 std::to_string(counts.Doubted) + " Messungen unsicher, " +
                 "Verbindung " + std::to_string(losses) + "-mal verloren";
  Announce(AlarmDailySign, 0, 0, NAN, now, universal, message,
           {std::to_string(counts.Trips), std::to_string(minutes),
            std::to_string(counts.Doubted), std::to_string(losses)});
}

// Two signs at least this far apart (s) in real time: the day's minute
// named by the clock as it is now, whatever it was set to meanwhile.
static const int64_t DailySignSpacing = 12 * 3600;

static void WatchDailySign() {
  int minuteDue = Settings().AlarmDailyMinute;
  if (minuteDue < 0) return;
  int64_t local = PlatLocalClock();
  int64_t universal = PlatUniversalClock();
  if (!AppState.Alarms.AlarmDailyArmed) {
    // At the start a minute already past today counts as done.
    AppState.Alarms.AlarmDailyArmed = true;
    AppState.Alarms.AlarmDailyNotBefore = universal + 1;
  }
  int64_t due = DayOfTime(local) * 86400 + minuteDue * 60 - (local - universal);
  if (universal < due || due < AppState.Alarms.AlarmDailyNotBefore) return;
  AppState.Alarms.AlarmDailyNotBefore = due + DailySignSpacing;
  AnnounceDailySign(local);
}

void WatchAlarms() {
  WatchClock();
  AnnounceWaitingAlarms();
  if (AppState.Link.ConnectionLost) {
    if (!AppState.Alarms.AlarmLossSeen) {
      AppState.Alarms.AlarmLossSeen = true;
      AppState.Alarms.AlarmLostSince = PlatTickCount();
      if (Settings().AlarmDailyMinute >= 0)
        AlarmConnectionLost(PlatUniversalClock());
    } else if (!AppState.Alarms.AlarmBlindAnnounced &&
               (int32_t)(PlatTickCount() - AppState.Alarms.AlarmLostSince) >
                   AlarmBlindTime) {
      AppState.Alarms.AlarmBlindAnnounced = true;
      CallOperator();
      Announce(AlarmBlind, 0, 0, NAN, PlatLocalClock(), PlatUniversalClock());
    }
  } else {
    AppState.Alarms.AlarmLossSeen = false;
    if (AppState.Alarms.AlarmBlindAnnounced) {
      AppState.Alarms.AlarmBlindAnnounced = false;
      CallOperator();
      Announce(AlarmSightBack, 0, 0, NAN, PlatLocalClock(),
               PlatUniversalClock());
    }
  }
  WatchGuard();
  WatchDailySign();
  if (!AppState.Alarms.AlarmCommandsRunning.empty()) LookAfterAlarmCommands();
}

// Why the session ends: the alarm command's fourth argument and the text.
// No semicolon: each text is a field of the level log.
static const AlarmEventForm SessionEndForms[] = {
    {"herunterfahren",
     "Windows wird heruntergefahren oder neu gestartet: der Wächter endet, "
     "der Brunnen ist unbewacht"},
    {"abmelden",
     "Windows meldet den Benutzer ab: der Wächter endet, der Brunnen ist "
     "unbewacht"},
    {"update",
     "Windows beendet das Programm für ein Update: der Wächter endet, der "
     "Brunnen ist unbewacht bis zum Neustart"},
    {"kritisch",
     "Windows endet sofort: der Wächter endet, der Brunnen ist unbewacht"},
};

void AlarmSessionEnds(SessionEndReason reason) {
  int which = (int)reason;
  if (which < 0 ||
      which >= (int)(sizeof SessionEndForms / sizeof SessionEndForms[0]))
    which = SessionEndShutdown;
  AnnounceWaitingAlarms();
  Announce(AlarmSessionEnd, 0, 0, NAN, PlatLocalClock(), PlatUniversalClock(),
           SessionEndForms[which].Message, {SessionEndForms[which].Name});
}

void AlarmProgramStarted() {
  Text where = Settings().BoardAddress;
  // No semicolon: the text is a field of the level log.
  for (char& c : where)
    if (c == ';') c = ',';
  Announce(AlarmProgramStart, 0, 0, NAN, PlatLocalClock(), PlatUniversalClock(),
           "Wächter gestartet: KORVALINEX-Board " + where + ", Port " +
               std::to_string(Settings().BoardPort));
}
