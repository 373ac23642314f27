// The measurement with the level sensor's check on, against the simulated
// board's sensor faults on the driven clock: what goes to outputs 4 and 5,
// the events of an episode, and the word the level log gives the cycle.
#include <algorithm>

#include "control/alarms.h"
#include "control/measurement.h"
#include "tests/program_fixture.h"

namespace {

using Commands = std::vector<std::string>;
using kvxsim::SensorFault;
using kvxsim::SensorFaultKind;

const char Folder[] = "C:\\Brunnen";
const char AlarmScript[] = "C:\\Brunnen\\alarm.exe";

class SensorCycle : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    Sim.SetRates(0, 0);  // the well stands still unless a test moves it
    AppState.Sensor.Settings = {true, SensorProtect, false,
                                0.0,  0.0,           DefaultSensorFigures()};
    AppState.Settings.AlarmCommand = AlarmScript;
    HeadlessAddFolder(Folder);
    AppState.Settings.LogFolder = Folder;
  }
  // One whole cycle with the well at `counts`: the commands it sent to
  // outputs 4 and 5.
  Commands Cycle(double counts) {
    Sim.ClearLog();
    MeasureWholeCycle(counts);
    return LevelCommands();
  }
  void Fault(SensorFaultKind kind, int count = 0, int after = 0) {
    SensorFault f;
    f.kind = kind;
    f.count = count;
    f.after = after;
    Sim.SetSensorFault(f);
  }
  // The events the alarm command was run for, by name, and the volts of
  // the first one named `name`.
  std::vector<Text> Events() {
    std::vector<Text> names;
    for (const HeadlessProgramStart& s : HeadlessProgramStarts())
      names.push_back(s.Arguments.at(0));
    return names;
  }
  int EventCount(const char* name) {
    std::vector<Text> all = Events();
    return (int)std::count(all.begin(), all.end(), Text(name));
  }
  Text EventVolts(const char* name) {
    for (const HeadlessProgramStart& s : HeadlessProgramStarts())
      if (s.Arguments.at(0) == name) return s.Arguments.at(2);
    return "";
  }
  // The "Messwert" column of the level log's evaluations, in order.
  std::vector<Text> LogWords() {
    std::vector<Text> words;
    const Text* file =
        HeadlessFileContent("C:\\Brunnen\\korvalinex-2026-12.csv");
    if (!file) return words;
    size_t at = 0;
    while (at < file->size()) {
      size_t end = file->find("\r\n", at);
      Text line = file->substr(at, end - at);
      at = end + 2;
      if (line.find(";Messung;") == Text::npos) continue;
      std::vector<Text> f;
      size_t from = 0;
      for (size_t i = 0; i <= line.size(); i++)
        if (i == line.size() || line[i] == ';') {
          f.push_back(line.substr(from, i - from));
          from = i + 1;
        }
      words.push_back(f.at(6));
    }
    return words;
  }
};

const Commands Nothing;

TEST_F(SensorCycle, ASensorStuckAtTheTopIsNamedProtectedAgainstAndReleased) {
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.0"}));
  Fault(SensorFaultKind::Pinned, 1023);
  // The first failed cycle decides nothing and names the failure with its
  // volts (1023 counts, 4,995 V, cut as the main window shows them); from
  // the second on the protection goes on.
  EXPECT_EQ(Cycle(150), Nothing);
  EXPECT_EQ(EventCount("sensor-fehler"), 1);
  EXPECT_EQ(EventVolts("sensor-fehler"), "4,99");
  EXPECT_NE(AppState.Alarms.AlarmLines.back().find(
                "Sensorfehler: Messwert 4,99 V am oberen Ende des Eingangs"),
            Text::npos)
      << AppState.Alarms.AlarmLines.back();
  EXPECT_EQ(Cycle(150), (Commands{"setport 4.1"}));
  EXPECT_EQ(Cycle(150), (Commands{"setport 4.1"}));
  EXPECT_TRUE(Sim.Output(4));
  EXPECT_EQ(EventCount("sensor-fehler"), 1);
  EXPECT_EQ(EventCount("minimum-ein"), 1);

  // Good again: output 5 is decided at once, output 4 stays on until
  // sensor-ok, after the second good cycle.
  Sim.SetSensorFault(SensorFault{});
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.1"}));
  EXPECT_EQ(EventCount("sensor-ok"), 0);
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.0"}));
  EXPECT_EQ(EventCount("sensor-ok"), 1);
  EXPECT_EQ(EventCount("sensor-fehler"), 1);
  EXPECT_FALSE(Sim.Output(4));

  // One line per cycle, the failed ones named so.
  EXPECT_EQ(LogWords(),
            (std::vector<Text>{"sicher", "Sensorfehler", "Sensorfehler",
                               "Sensorfehler", "sicher", "sicher"}));
}

// Holding decides output 4 on nothing: the guard's watch says so once its
// bound (a minute at these 15-s cycles) has passed; the protection, from
// the second failed cycle, keeps it satisfied.
TEST_F(SensorCycle, HoldingKeepsTheOutputsAsTheyWereAndTheWatchSaysSo) {
  for (SensorAction action : {SensorHold, SensorProtect}) {
    AppState.Sensor.Settings.Action = action;
    Sim.SetSensorFault(SensorFault{});
    EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.0"}));
    WatchAlarms();
    Fault(SensorFaultKind::Pinned, 1023);
    for (int cycle = 0; cycle < 5; cycle++) {
      Commands sent = Cycle(150);
      WatchAlarms();
      if (action == SensorHold || cycle == 0)
        EXPECT_EQ(sent, Nothing) << cycle;
      else
        EXPECT_EQ(sent, (Commands{"setport 4.1"})) << cycle;
    }
    EXPECT_EQ(Sim.Output(4), action == SensorProtect);
  }
  EXPECT_EQ(EventCount("sensor-fehler"), 1);  // one episode all along
  EXPECT_EQ(EventCount("waechter-blind"), 1);
  EXPECT_EQ(EventCount("waechter-sieht"), 1);  // the good cycle between
}

TEST_F(SensorCycle, ASensorThatDoesNotAnswerItsPowerFailsInTheSecondCycle) {
  Fault(SensorFaultKind::Pinned, 127);  // 0,62 V, powered or not
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.0"}));
  EXPECT_EQ(Cycle(150), Nothing);
  EXPECT_EQ(EventCount("sensor-fehler"), 1);
  EXPECT_NE(AppState.Alarms.AlarmLines.back().find("ändert sich nicht"),
            Text::npos);
  EXPECT_EQ(EventVolts("sensor-fehler"), "0,62");
  EXPECT_EQ(Cycle(150), (Commands{"setport 4.1"}));
}

TEST_F(SensorCycle, ABrokenCableOfALiveZeroSensorFailsBelowItsZero) {
  AppState.Sensor.Settings.SpanGiven = true;
  AppState.Sensor.Settings.LiveZeroVolts = 0.88;
  AppState.Sensor.Settings.SpanTopVolts = 4.40;
  Fault(SensorFaultKind::LiveZero, 180);  // 0,88 V + the level
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.1", "setport 4.0"}));
  Fault(SensorFaultKind::CableBreak);
  EXPECT_EQ(Cycle(150), Nothing);  // not an empty well: no dry-run trip
  EXPECT_EQ(EventCount("minimum-ein"), 0);
  EXPECT_NE(AppState.Alarms.AlarmLines.back().find("unter dem Nullpunkt"),
            Text::npos);
}

TEST_F(SensorCycle, ARealDropTripsWithinItsCycleARiseWaitsForTheNext) {
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.0"}));
  EXPECT_EQ(Cycle(20), (Commands{"setport 5.0", "setport 4.1"}));
  EXPECT_TRUE(Sim.Output(4));
  // From 0,10 V to 0,73 V: suspect, nothing switched, then confirmed.
  EXPECT_EQ(Cycle(150), Nothing);
  EXPECT_EQ(EventCount("sensor-verdacht"), 1);
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.0"}));
  EXPECT_EQ(EventCount("sensor-fehler"), 0);
  EXPECT_EQ(LogWords(), (std::vector<Text>{"sicher", "sicher", "Sensorverdacht",
                                           "sicher"}));
}

TEST_F(SensorCycle, ASingleSpikeSpreadsItsCycleAndSwitchesNothing) {
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.0"}));
  // The sixth powered GETADC 1 of the cycle: its second evaluation (each
  // powered tick queries the board once, each evaluation once more).
  Fault(SensorFaultKind::Spike, 200, 5);
  EXPECT_EQ(Cycle(150), Nothing);
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.0"}));
  EXPECT_EQ(EventCount("sensor-verdacht"), 1);
  EXPECT_NE(AppState.Alarms.AlarmLines.back().find("streuen"), Text::npos);
}

TEST_F(SensorCycle, ACycleWithoutTwoProvenReadingsIsInDoubtAsWithoutTheCheck) {
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.0"}));
  // Every reply to GETADC 1 of the wrong form: no reading is proven.
  Sim.SetReply("GETADC 1", "x\r\n");
  EXPECT_EQ(Cycle(150), Nothing);
  EXPECT_EQ(AppState.Measurement.DoubtedEvaluations, 3);
  EXPECT_EQ(EventCount("messwert-unsicher"), 1);
  EXPECT_EQ(EventCount("sensor-fehler"), 0);
}

TEST_F(SensorCycle, AThirdReadingInDoubtGradesNothingAndLeavesNothingBehind) {
  EXPECT_EQ(Cycle(150), (Commands{"setport 5.0", "setport 4.0"}));
  // The last tick of the next cycle: its own query and its evaluation's
  // read input 1 in a wrong form; the two evaluations before were proven.
  Sim.ClearLog();
  AppState.Measurement.CycleCounter = 0;
  for (int tick = 1; tick <= 15; tick++) {
    if (tick == 15) Sim.SetReply("GETADC 1", "x\r\n", 2);
    HeadlessAdvanceClock(1000);
    MeasurementCycle();
  }
  EXPECT_EQ(LevelCommands(), Nothing);
  EXPECT_EQ(AppState.Measurement.DoubtedEvaluations, 1);
  EXPECT_EQ(AppState.Sensor.Run.Readings, 0);
  // The next cycle grades on its own readings alone: a drop decided.
  EXPECT_EQ(Cycle(20), (Commands{"setport 5.0", "setport 4.1"}));
  EXPECT_EQ(AppState.Measurement.DoubtedEvaluations, 0);
  EXPECT_EQ(LogWords(), (std::vector<Text>{"sicher", "unsicher", "sicher"}));
}

}  // namespace
