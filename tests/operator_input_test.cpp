// Hostile operator input against the whole program: the delay fields and
// the console field fed with empty, very long, non-ASCII and control-
// character texts, the trackbars pushed past their ends, clicks posted in
// quick succession, and the description window opened and closed many
// times. The program must stay alive, send exactly what the input asks
// for, and keep no growing state behind.
#include <dirent.h>
#include <malloc.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/program_fixture.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

namespace {

const std::string Suffix = " \\r\\n";

// Every Windows-1252 byte from 80 to FF, in order.
std::string HighBytes() {
  std::string s;
  for (int b = 0x80; b <= 0xFF; b++) s += (char)b;
  return s;
}

// Control characters, a zero byte among them.
std::string ControlBytes() {
  std::string s;
  for (int b = 0x01; b < 0x20; b++) s += (char)b;
  s.insert(5, 1, '\0');
  return s + "\x7F";
}

std::string QueryWire() {
  std::string wire;
  for (const std::string& q : QueryCommands) wire += q + Suffix;
  return wire;
}

int OpenFiles() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  while (readdir(d)) n++;
  closedir(d);
  return n;
}

class OperatorInput : public BoardTest {
 protected:
  // Bytes the board has received since `from`; waits (bounded) until they
  // end in a complete board query, the last thing every action sends.
  std::string WireSince(size_t from) {
    std::string q = QueryWire();
    Sim.WaitFor(
        [&] {
          std::string all = ReceivedBytes();
          return all.size() >= from + q.size() &&
                 all.compare(all.size() - q.size(), q.size(), q) == 0;
        },
        5000);
    return ReceivedBytes().substr(from);
  }

  // The bytes one action sent, without the board queries around it: the
  // automatic one the pass may have run first and the one after it.
  std::string ActionBytes(size_t from) {
    std::string wire = WireSince(from);
    std::string q = QueryWire();
    if (wire.compare(0, q.size(), q) == 0 && wire.size() >= 2 * q.size())
      wire.erase(0, q.size());
    EXPECT_GE(wire.size(), q.size());
    EXPECT_EQ(wire.substr(wire.size() - std::min(wire.size(), q.size())), q);
    wire.erase(wire.size() - std::min(wire.size(), q.size()));
    return wire;
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// The delay fields
// ---------------------------------------------------------------------------

TEST_F(OperatorInput, DelayFieldsTakeAnyTextAndPulseWithinTheLimits) {
  struct Case {
    std::string typed;
    int delay;  // -1: the output's default, which the field then shows
  };
  const Case cases[] = {
      {"", -1},
      {std::string(10000, 'x'), -1},
      {"250" + std::string(9997, 'x'), 250},
      {std::string(10000, '9'), 0},  // 0: any delay within 1..10000
      {HighBytes(), -1},
      {"1\xBD", 1},      // 1½
      {"\xB2\xB3", -1},  // superscript two and three are no digits
      {ControlBytes(), -1},
      {"\t\t250", 250},
      {std::string("2\0"
                   "5",
                   3),
       2},
      {"\r\n250", -1},
      {"250\r\n", 250},
  };
  const struct {
    int output, field, button;
  } fields[] = {{1, SpinDelay1, ButtonPulse1},
                {2, SpinDelay2, ButtonPulse2},
                {8, SpinDelay8, ButtonPulse8}};
  int pulses = 0;
  for (const auto& f : fields) {
    for (const Case& c : cases) {
      // Where the log and the sleeps stood when this case's click went out.
      auto mark = std::make_shared<std::pair<size_t, size_t>>();
      std::string trace = std::to_string(f.output) + ": " +
                          std::to_string(c.typed.size()) + " bytes from '" +
                          c.typed.substr(0, 12) + "'";
      if (f.output == 8) {
        Then([] { HeadlessPostClick(CheckSafetyLock); });
        ThenWithin(
            5, [] { return C(ButtonPulse8).Enabled; },
            [] { return "the safety lock does not free button 81"; });
      }
      Then([this, mark, f, c, trace] {
        mark->first = Sim.CommandCount();
        mark->second = HeadlessSleeps().size();
        HeadlessTypeText(f.field, c.typed);
        EXPECT_TRUE(HeadlessPostClick(f.button)) << trace;
      });
      Then([this, &pulses, mark, f, c, trace] {
        SCOPED_TRACE(trace);
        pulses++;
        size_t before = mark->first, sleeps = mark->second;
        ASSERT_TRUE(Sim.WaitForCommands(before + 2, 5000));
        std::vector<std::string> setports;
        std::vector<kvxsim::CommandRecord> log = Sim.Commands();
        for (size_t i = before; i < log.size(); i++)
          if (log[i].text.rfind("setport", 0) == 0)
            setports.push_back(log[i].text);
        std::string n = std::to_string(f.output);
        EXPECT_EQ(setports, std::vector<std::string>({"setport " + n + ".1",
                                                      "setport " + n + ".0"}));
        // The pulse waits in slices that keep the windows served.
        ASSERT_GT(HeadlessSleeps().size(), sleeps);
        int slept = 0;
        for (size_t i = sleeps; i < HeadlessSleeps().size(); i++) {
          EXPECT_LE(HeadlessSleeps()[i], (int)ServeSlice);
          slept += HeadlessSleeps()[i];
        }
        int fallback = AppState.Settings.DefaultSwitchDelay[f.output];
        if (c.delay == 0) {
          EXPECT_GE(slept, 1);
          EXPECT_LE(slept, 10000);
          EXPECT_EQ(C(f.field).Content,
                    slept == fallback ? std::to_string(fallback) : c.typed);
        } else if (c.delay < 0) {
          EXPECT_EQ(slept, fallback);
          EXPECT_EQ(C(f.field).Content, std::to_string(fallback));
        } else {
          EXPECT_EQ(slept, c.delay);
          EXPECT_EQ(C(f.field).Content, c.typed);  // kept as typed
        }
        EXPECT_FALSE(Sim.Output(f.output));
        // Greyed until the main loop has taken the clicks made meanwhile.
        EXPECT_FALSE(C(f.button).Enabled);
      });
      ThenWithin(
          5, [f] { return C(f.button).Enabled || f.output == 8; },
          [trace] { return trace + ": the pulse button stays greyed"; });
    }
  }
  RunSteps();
  EXPECT_EQ(pulses, 3 * (int)(sizeof cases / sizeof cases[0]));
}

// ---------------------------------------------------------------------------
// The console field
// ---------------------------------------------------------------------------

TEST_F(OperatorInput, ConsoleSendsExactlyWhatWasTyped) {
  // The board's display commands go out as one 100-byte block; everything
  // else as typed, with the suffix. A zero byte ends a text, as it ends
  // the window system's text of a field.
  auto block = [](const std::string& text) {
    std::string b = text.substr(0, 99);
    b += '\0';
    return b + std::string(100 - b.size(), ' ');
  };
  const std::string longText(10000, 'G');
  const std::string longDisplay = "writelcd 1." + std::string(9989, 'L');
  const struct {
    std::string typed;
    std::string wire;
  } cases[] = {
      {"", Suffix},
      {longText, longText + Suffix},
      {HighBytes(), HighBytes() + Suffix},
      {"GETIP\r\nGETMASK", "GETIP\r\nGETMASK" + Suffix},
      {"\tGETSTATUS\t", "\tGETSTATUS\t" + Suffix},
      {std::string("GETGW\0junk", 10), "GETGW" + Suffix},
      {ControlBytes(), ControlBytes().substr(0, 5) + Suffix},
      {longDisplay, block(longDisplay)},
      {"writelcd 2." + HighBytes(), block("writelcd 2." + HighBytes())},
      {std::string("WriteLCD 1.ab\0cd", 16), block("WriteLCD 1.ab")},
  };
  for (const auto& c : cases) {
    std::string trace = std::to_string(c.typed.size()) + " bytes from '" +
                        c.typed.substr(0, 12) + "'";
    auto from = std::make_shared<size_t>(0);
    ThenWithin(
        5, [] { return C(ButtonConsoleSend).Enabled; },
        [trace] { return trace + ": button 92 stays greyed"; });
    Then([this, from, c] {
      *from = ReceivedBytes().size();
      HeadlessTypeText(EditConsole, c.typed);
      EXPECT_TRUE(HeadlessPostClick(ButtonConsoleSend));
    });
    Then([this, from, c, trace] {
      SCOPED_TRACE(trace);
      EXPECT_EQ(ActionBytes(*from), c.wire);
      // The echo line shows the command (its line feeds start new lines
      // in the box), the field still holds it, and the button stays
      // greyed until the main loop has taken the clicks made meanwhile.
      std::string echo = ">" + c.typed.substr(0, c.typed.find('\0'));
      for (size_t at; (at = echo.find("\r\n")) != std::string::npos;)
        echo.erase(at + 1, 1);
      std::replace(echo.begin(), echo.end(), '\n', '\r');
      EXPECT_EQ(C(RichConsole).Content.compare(0, echo.size(), echo), 0);
      EXPECT_EQ(C(EditConsole).Content, c.typed);
      EXPECT_FALSE(C(ButtonConsoleSend).Enabled);
    });
    // The board may answer an odd command with several replies, which the
    // receives after it read through; then the displays are the board's
    // again.
    ThenWithin(
        40,
        [] {
          return AppState.Readings.FirmwareText ==
                     "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n" &&
                 AppState.Readings.BoardIpText == "192.168.1.50\r\n";
        },
        [trace] {
          return trace + ": firmware '" + AppState.Readings.FirmwareText +
                 "', ip '" + AppState.Readings.BoardIpText + "'";
        });
  }
  RunSteps();
  EXPECT_EQ(Sim.Lcd(2).substr(0, 5), HighBytes().substr(0, 5));
}

// ---------------------------------------------------------------------------
// Trackbars past their ends
// ---------------------------------------------------------------------------

TEST_F(OperatorInput, TrackbarsPushedPastTheirEndsStayInRange) {
  const int pushes[] = {INT_MIN, -1, 0, 11, 4001, 1000000, INT_MAX};
  // The cycle period is read from its trackbar while the measurement is
  // off.
  ThenWithin(
      10, [] { return C(ButtonMeasurementOff).Enabled; },
      [] { return std::string("the measurement never showed as on"); });
  Then([] { EXPECT_TRUE(HeadlessPostClick(ButtonMeasurementOff)); });
  for (int value : pushes) {
    Then([value] {
      HeadlessMoveTrackbar(TrackbarRefresh, value);
      HeadlessMoveTrackbar(TrackbarCycle, value);
    });
    Then([value] {
      SCOPED_TRACE(value);
      int refresh = value < 1 ? 1 : value > 10 ? 10 : value;
      int cycle = value < 0 ? 0 : value > 4000 ? 4000 : value;
      EXPECT_EQ(AppState.Refresh.RefreshInterval, refresh * 1000);
      EXPECT_EQ(C(LabelRefreshSeconds).Content, std::to_string(refresh));
      EXPECT_EQ(AppState.Measurement.CyclePeriod, cycle);
      EXPECT_EQ(C(LabelCyclePeriod).Content, std::to_string(cycle) + " s");
    });
  }
  // At the top end the board is queried every ten seconds.
  uint32_t start = 0;
  size_t helps = 0;
  auto queries = [this] {
    size_t n = 0;
    for (const std::string& t : CommandTexts()) n += t == "Help";
    return n;
  };
  Then([&] {
    start = PlatTickCount();
    helps = queries();
  });
  for (int pass = 0; pass < 60; pass++) Then([] {});
  Then([&] {
    uint32_t elapsed = PlatTickCount() - start;
    EXPECT_GE(elapsed, 25000u);
    EXPECT_LE(queries() - helps, elapsed / 10000 + 1);
    EXPECT_GE(queries() - helps, elapsed / 10000 - 1);
  });
  RunSteps();
}

// ---------------------------------------------------------------------------
// Clicks in quick succession
// ---------------------------------------------------------------------------

TEST_F(OperatorInput, ClicksPostedAtOnceAreTakenInOrderNoneOnAGreyedButton) {
  size_t before = 0;
  Then([&] {
    before = Sim.CommandCount();
    HeadlessTypeText(SpinDelay1, "300");
    HeadlessTypeText(SpinDelay2, "40");
    HeadlessTypeText(EditConsole, "GETSTATUS");
    for (int i = 0; i < 5; i++) EXPECT_TRUE(HeadlessPostClick(ButtonPulse1));
    // Output 7 is off: only its EIN button takes clicks.
    for (int i = 0; i < 3; i++) EXPECT_TRUE(HeadlessPostClick(ButtonOutput7On));
    for (int i = 0; i < 4; i++) EXPECT_TRUE(HeadlessPostClick(ButtonPulse2));
    for (int i = 0; i < 7; i++)
      EXPECT_TRUE(HeadlessPostClick(ButtonConsoleSend));
  });
  Then([&] {
    // The clicks after the first on each button are taken while it is
    // greyed: the pulse buttons and button 92 until the main loop has
    // taken them all, button 79 since output 7 is on. They do nothing.
    const std::vector<std::string> expected = {"setport 1.1", "setport 1.0",
                                               "setport 7.1", "setport 2.1",
                                               "setport 2.0", "GETSTATUS"};
    std::vector<kvxsim::CommandRecord> log = Sim.Commands();
    std::vector<std::string> caused;
    std::vector<uint32_t> on, off;
    for (size_t i = before; i < log.size(); i++) {
      const std::string& t = log[i].text;
      if (std::find(QueryCommands.begin(), QueryCommands.end(), t) !=
          QueryCommands.end())
        continue;
      caused.push_back(t);
      if (t == "setport 1.1") on.push_back(log[i].time);
      if (t == "setport 1.0") off.push_back(log[i].time);
    }
    EXPECT_EQ(caused, expected);
    // The pulse lasts its delay.
    ASSERT_EQ(on.size(), 1u);
    ASSERT_EQ(off.size(), 1u);
    EXPECT_EQ(PulseFault(log, 1, 300), "");
    EXPECT_EQ(PulseFault(log, 2, 40), "");
    EXPECT_FALSE(Sim.Output(1));
    EXPECT_FALSE(Sim.Output(2));
    EXPECT_TRUE(Sim.Output(7));
  });
  RunSteps();
}

// Clicks on a pulse button made while its pulse runs meet a greyed button:
// they do nothing, also once the pulse is over. A click after that pulses
// again.
TEST_F(OperatorInput, ClicksOnAGreyedPulseButtonDoNothing) {
  size_t before = 0;
  Then([&] {
    before = Sim.CommandCount();
    for (int i = 0; i < 4; i++) EXPECT_TRUE(HeadlessPostClick(ButtonPulse1));
    for (int i = 0; i < 3; i++) EXPECT_TRUE(HeadlessPostClick(ButtonPulse2));
  });
  ThenWithin(
      20, [] { return C(ButtonPulse1).Enabled && C(ButtonPulse2).Enabled; },
      [] { return "the pulse buttons stay greyed"; });
  Then([&] {
    EXPECT_EQ(OnlySetports(CommandTexts()).size(), 4u);
    EXPECT_TRUE(HeadlessPostClick(ButtonPulse1));
  });
  ThenWithin(
      20, [] { return C(ButtonPulse1).Enabled; },
      [] { return "button 74 stays greyed"; });
  Then([&] {
    std::vector<std::string> setports;
    std::vector<kvxsim::CommandRecord> log = Sim.Commands();
    for (size_t i = before; i < log.size(); i++)
      if (log[i].text.rfind("setport", 0) == 0) setports.push_back(log[i].text);
    EXPECT_EQ(setports, std::vector<std::string>(
                            {"setport 1.1", "setport 1.0", "setport 2.1",
                             "setport 2.0", "setport 1.1", "setport 1.0"}));
  });
  RunSteps();
}

TEST_F(OperatorInput, OneTickOfTheSafetyLockFreesOnePulseOfOutput8) {
  // Clicks on output 8 made while its pulse runs are taken afterwards; by
  // then the lock is off again, and they pulse nothing.
  size_t before = 0;
  Then([] { EXPECT_TRUE(HeadlessPostClick(CheckSafetyLock)); });
  ThenWithin(
      5, [] { return C(ButtonPulse8).Enabled; },
      [] { return "the safety lock does not free button 81"; });
  Then([&] {
    before = Sim.CommandCount();
    for (int i = 0; i < 4; i++) EXPECT_TRUE(HeadlessPostClick(ButtonPulse8));
  });
  Then([&] {
    std::vector<std::string> setports;
    std::vector<kvxsim::CommandRecord> log = Sim.Commands();
    for (size_t i = before; i < log.size(); i++)
      if (log[i].text.rfind("setport", 0) == 0) setports.push_back(log[i].text);
    EXPECT_EQ(setports,
              std::vector<std::string>({"setport 8.1", "setport 8.0"}));
    EXPECT_FALSE(C(CheckSafetyLock).Checked);
    EXPECT_FALSE(C(ButtonPulse8).Enabled);
  });
  RunSteps();
}

// ---------------------------------------------------------------------------
// The description window, many times over
// ---------------------------------------------------------------------------

TEST_F(OperatorInput, DescriptionWindowOpenedAndClosedManyTimesLeavesNothing) {
  int blocks = 0, files = 0, mainControls = 0, clicks = 0, opened = 0;
  size_t heap = 0;
  auto count = [&] {
    heap = mallinfo2().uordblks;
    blocks = HeadlessLiveMemoryBlocks();
    files = OpenFiles();
    mainControls = (int)HeadlessCreationOrder(MainWindow).size();
    clicks = HeadlessClickCount();
    const HeadlessWindow* w = HeadlessFindWindow(DescriptionWindow);
    opened = w ? w->OpenCount : 0;
  };
  auto unchanged = [&](int moreOpens) {
    EXPECT_EQ(HeadlessLiveMemoryBlocks(), blocks);
    EXPECT_EQ(OpenFiles(), files);
    EXPECT_EQ((int)HeadlessCreationOrder(MainWindow).size(), mainControls);
    const HeadlessWindow* w = HeadlessFindWindow(DescriptionWindow);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->OpenCount, opened + moreOpens);
    EXPECT_TRUE(HeadlessSleeps().empty());
    EXPECT_TRUE(HeadlessOpenedAddresses().empty());
    // Nothing of 200 windows stays behind on the heap (a little slack for
    // the board simulator's log of the queries meanwhile).
    size_t now = mallinfo2().uordblks;
    EXPECT_LT(now, heap + 64 * 1024) << "heap grew from " << heap;
  };
  // Open and close, one pass each, 200 times.
  Then([&] { EXPECT_TRUE(HeadlessPostClick(ButtonPicture)); });
  Then([&] {
    EXPECT_TRUE(PlatWindowIsOpen(DescriptionWindow));
    EXPECT_TRUE(HeadlessPostClick(ButtonCloseDescription));
  });
  Then(count);
  for (int i = 0; i < 200; i++) {
    Then([] { EXPECT_TRUE(HeadlessPostClick(ButtonPicture)); });
    Then([] {
      EXPECT_EQ(HeadlessCreationOrder(DescriptionWindow).size(), 3u);
      EXPECT_TRUE(HeadlessPostClick(ButtonCloseDescription));
    });
  }
  Then([&] {
    EXPECT_FALSE(PlatWindowIsOpen(DescriptionWindow));
    EXPECT_EQ(HeadlessFindControl(RichDescription), nullptr);
    unchanged(200);
    // One click sound for each opening and each closing.
    EXPECT_EQ(HeadlessClickCount() - clicks >= 400, true);
    count();
    // 200 clicks on the picture posted at once: each replaces the window.
    for (int i = 0; i < 200; i++) EXPECT_TRUE(HeadlessPostClick(ButtonPicture));
  });
  Then([&] {
    EXPECT_TRUE(PlatWindowIsOpen(DescriptionWindow));
    EXPECT_EQ(HeadlessCreationOrder(DescriptionWindow).size(), 3u);
    unchanged(200);
  });
  RunSteps();
}
