// The operator's switches against the simulated board: the delay fields,
// the pulses on the driven clock, the safety lock of output 8, the on/off
// pairs and the function switches.
#include "control/switching.h"

#include "board/poll.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"
#include "ui/held_buttons.h"
#include "ui/main_window.h"

namespace {

using Commands = std::vector<std::string>;

Commands Concat(std::initializer_list<Commands> parts) {
  Commands all;
  for (const Commands& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

using Switching = HandlerTest;

// What is wrong with the windows' service during the last pulse of output
// `n`, "" when nothing is: from the command before its off (the board
// query after the on) to the off, the windows were served at least every
// ServeSlice ms (`served`: the ticks of PlatServeWindows).
std::string ServiceFault(const std::vector<kvxsim::CommandRecord>& log, int n,
                         const std::vector<uint32_t>& served) {
  const std::string off = "setport " + std::to_string(n) + ".0";
  size_t offAt = log.size();
  for (size_t i = 1; i < log.size(); i++)
    if (log[i].text == off) offAt = i;
  if (offAt == log.size()) return "no " + off;
  uint32_t from = log[offAt - 1].time, to = log[offAt].time;
  uint32_t last = from;
  for (uint32_t t : served) {
    if (t < from || t > to) continue;
    if (t - last > ServeSlice)
      return "not served from " + std::to_string(last) + " to " +
             std::to_string(t) + " ms";
    last = t;
  }
  if (to - last > ServeSlice)
    return "not served from " + std::to_string(last) + " ms to the off at " +
           std::to_string(to) + " ms";
  return "";
}

}  // namespace

TEST_F(Switching, DelayFieldsReadWithTheirLimitsAndDefaults) {
  struct Case {
    const char* typed;
    int delay;  // for output 1; -1: the output's default
    const char* shown;
  };
  const Case cases[] = {
      {"10000", 10000, "10000"},
      {"1", 1, "1"},
      {"10001", -1, nullptr},
      {"0", -1, nullptr},
      {"-5", -1, nullptr},
      {"abc", -1, nullptr},
      {"", -1, nullptr},
      {"  250 ms", 250, "  250 ms"},
      {"$FA", 250, "$FA"},
      {"%11111010", 250, "%11111010"},
      {"4294967297", 1, "4294967297"},
  };
  const std::pair<int, int> fields[] = {
      {1, SpinDelay1}, {2, SpinDelay2}, {8, SpinDelay8}};
  for (const auto& f : fields) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(f.first) + ": '" + c.typed + "'");
      AppState.Switching.SwitchDelay[f.first] = 4711;
      HeadlessTypeText(f.second, c.typed);
      ReadSwitchDelay(f.first);
      int expected =
          c.delay < 0 ? AppState.Settings.DefaultSwitchDelay[f.first] : c.delay;
      EXPECT_EQ(AppState.Switching.SwitchDelay[f.first], expected);
      EXPECT_EQ(C(f.second).Content,
                c.shown ? c.shown : std::to_string(expected));
    }
  }
}

TEST_F(Switching, PulseIsOnForItsDelayOnTheDrivenClock) {
  const std::pair<const char*, int> cases[] = {
      {"10000", 10000}, {"1", 1}, {"abc", 1000}, {"  250 ms", 250}};
  PollBoard();  // the connection's first query learns the board's replies
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    Sim.ClearLog();
    HeadlessTypeText(SpinDelay1, c.first);
    int clicks = HeadlessClickCount();
    std::vector<uint32_t> served;
    HeadlessSetServeHook([&] { served.push_back(PlatTickCount()); });
    PulseOutput(1);
    HeadlessSetServeHook(nullptr);

    EXPECT_EQ(
        CommandTexts(),
        Concat(
            {{"setport 1.1"}, QueryCommands, {"setport 1.0"}, QueryCommands}));
    EXPECT_EQ(PulseFault(Sim.Commands(), 1, (uint32_t)c.second), "");
    EXPECT_EQ(ServiceFault(Sim.Commands(), 1, served), "");
    EXPECT_EQ(HeadlessClickCount() - clicks, 2);
    EXPECT_FALSE(Sim.Output(1));
    EXPECT_EQ(AppState.Readings.OutputState[1], ContactOpen);
    // Greyed until the main loop has taken the clicks made meanwhile.
    EXPECT_FALSE(C(ButtonPulse1).Enabled);
    ReleaseHeldButtons();
    EXPECT_TRUE(C(ButtonPulse1).Enabled);
  }
}

TEST_F(Switching, FunctionSwitchesOnlySetTheirFlagAndQuery) {
  struct Case {
    int output;
    bool* flag;
    int label;
    const char* onText;
    const char* offText;
  };
  const Case cases[] = {
      {3, &AppState.Switching.MeasurementEnabled, OutputStateLabel(3), nullptr,
       "keine Messung"},
      {4, &AppState.Switching.MinimumEnabled, OutputStateLabel(4),
       "Freigegeben", "gesperrt"},
      {5, &AppState.Switching.MaximumEnabled, OutputStateLabel(5),
       "Freigegeben", "gesperrt"},
  };
  for (const Case& c : cases) {
    for (bool on : {true, false}) {
      SCOPED_TRACE(std::to_string(c.output) + (on ? " on" : " off"));
      Sim.ClearLog();
      int clicks = HeadlessClickCount();
      SwitchFunction(c.output, on);
      EXPECT_EQ(*c.flag, on);
      EXPECT_EQ(CommandTexts(), QueryCommands);
      EXPECT_EQ(HeadlessClickCount(), clicks);
      const char* shown = on ? c.onText : c.offText;
      if (shown) {
        EXPECT_EQ(C(c.label).Content, shown);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Whole program: the buttons reach their handlers
// ---------------------------------------------------------------------------

using SwitchingRun = BoardTest;

TEST_F(SwitchingRun, SafetyLockFreesOnePulseOfOutput8) {
  int clicks = 0, queries = 0;
  auto helps = [&] {
    int n = 0;
    for (const std::string& c : CommandTexts()) n += c == "Help";
    return n;
  };
  Then([] {});
  Then([&] {
    EXPECT_FALSE(C(ButtonPulse8).Enabled);
    EXPECT_FALSE(HeadlessPostClick(ButtonPulse8));
    clicks = HeadlessClickCount();
    queries = helps();
    EXPECT_TRUE(HeadlessPostClick(CheckSafetyLock));
  });
  Then([&] {
    // Ticking plays one click and sends nothing; every automatic query
    // in between plays its own. Button 81 is usable once the main loop
    // has taken the clicks made while it was greyed.
    EXPECT_FALSE(C(ButtonPulse8).Enabled);
    EXPECT_TRUE(OnlySetports(CommandTexts()).empty());
    EXPECT_EQ(HeadlessClickCount() - clicks, 1 + helps() - queries);
  });
  Then([&] {
    EXPECT_TRUE(C(ButtonPulse8).Enabled);
    EXPECT_TRUE(HeadlessPostClick(ButtonPulse8));
  });
  Then([&] {
    EXPECT_FALSE(C(CheckSafetyLock).Checked);
    EXPECT_EQ(OnlySetports(CommandTexts()),
              Commands({"setport 8.1", "setport 8.0"}));
    EXPECT_EQ(PulseFault(Sim.Commands(), 8, 100), "");
  });
  Then([&] {
    EXPECT_FALSE(C(ButtonPulse8).Enabled);
    EXPECT_FALSE(HeadlessPostClick(ButtonPulse8));
  });
  RunSteps();
  EXPECT_EQ(OnlySetports(CommandTexts()).size(), 2u);
}

TEST_F(SwitchingRun, EveryButtonReachesItsHandler) {
  Sim.SetOutput(6, true);
  Commands afterAus;
  Then([] {});
  Then([&] {
    // The board reports output 6 on: only its "AUS" can be clicked.
    EXPECT_FALSE(HeadlessPostClick(ButtonOutput6On));
    EXPECT_TRUE(HeadlessPostClick(ButtonOutput6Off));
  });
  ThenClick(ButtonOutput7On);
  ThenClick(ButtonOutput7Off);
  Then([&] {
    HeadlessTypeText(SpinDelay1, "30");
    HeadlessTypeText(SpinDelay2, "40");
  });
  ThenClick(ButtonPulse1);
  ThenClick(ButtonPulse2);
  Then([&] {
    EXPECT_EQ(Sim.Outputs(), "00000000");
    afterAus = OnlySetports(CommandTexts());
  });
  ThenClick(ButtonMinimumOff);
  Then([&] { EXPECT_EQ(AppState.Switching.MinimumEnabled, 0); });
  ThenClick(ButtonMaximumOff);
  Then([&] { EXPECT_EQ(AppState.Switching.MaximumEnabled, 0); });
  ThenClick(ButtonMinimumOn);
  Then([&] {
    EXPECT_EQ(AppState.Switching.MinimumEnabled, 1);
    EXPECT_EQ(OnlySetports(CommandTexts()), afterAus);
  });
  RunSteps();
  EXPECT_EQ(afterAus, Commands({"setport 6.0", "setport 7.1", "setport 7.0",
                                "setport 1.1", "setport 1.0", "setport 2.1",
                                "setport 2.0"}));
  EXPECT_EQ(PulseFault(Sim.Commands(), 1, 30), "");
  EXPECT_EQ(PulseFault(Sim.Commands(), 2, 40), "");
}

// Button 89 is greyed while output 6 is off. A click on it made while
// output 6 is being switched on waits in the window system's input queue
// until the exchange and the redraw that frees the button are over: it
// must still meet the button greyed and switch nothing off.
TEST_F(SwitchingRun, ClickOnAGreyedAusButtonDuringTheSwitchingDoesNothing) {
  Sim.DelayReplyOnce("setport 6.1", 200);
  bool queued = false;
  HeadlessSetServeHook([&] {
    if (!queued && !C(ButtonOutput6Off).Enabled) {
      HeadlessQueueMouseClick(ButtonOutput6Off);
      queued = true;
    }
  });
  ThenClick(ButtonOutput6On);
  ThenWithin(
      20,
      [&] {
        return C(ButtonOutput6Off).Enabled ||
               OnlySetports(CommandTexts()).size() > 1;
      },
      [] { return "button 89 stays greyed"; });
  Then([&] {
    EXPECT_TRUE(queued);
    EXPECT_EQ(OnlySetports(CommandTexts()), Commands({"setport 6.1"}));
    EXPECT_TRUE(Sim.Output(6));
  });
  // Usable now, it switches as any.
  ThenClick(ButtonOutput6Off);
  Then([&] {
    EXPECT_EQ(OnlySetports(CommandTexts()),
              Commands({"setport 6.1", "setport 6.0"}));
  });
  RunSteps();
}

// The pulse serves the windows while it waits, but takes no operator
// input: a click on its button made meanwhile waits in the input queue and
// meets the button greyed, as during an exchange.
TEST_F(SwitchingRun, AClickDuringThePulseMeetsItsButtonGreyed) {
  std::vector<uint32_t> served;
  bool queued = false;
  HeadlessSetServeHook([&] {
    served.push_back(PlatTickCount());
    if (!queued && Sim.Output(1)) {
      HeadlessQueueMouseClick(ButtonPulse1);
      queued = true;
    }
  });
  Then([] { HeadlessTypeText(SpinDelay1, "3000"); });
  ThenClick(ButtonPulse1);
  ThenWithin(
      20, [] { return C(ButtonPulse1).Enabled; },
      [] { return std::string("button 74 stays greyed"); });
  Then([] {});
  RunSteps();
  EXPECT_TRUE(queued);
  EXPECT_EQ(OnlySetports(CommandTexts()),
            Commands({"setport 1.1", "setport 1.0"}));
  EXPECT_EQ(PulseFault(Sim.Commands(), 1, 3000), "");
  EXPECT_EQ(ServiceFault(Sim.Commands(), 1, served), "");
}
