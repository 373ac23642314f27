// One fixed run of the whole program against the simulated board on the
// driven clock, written out and compared with tests/golden/run.txt: every
// byte the board received, command by command with its driven time and its
// connection, and after each step of the operator (or of the board) what
// the main window shows. Its first step lists every control of the main
// window; each later one the controls that changed in it. At the end the
// history window, opened from the system menu, whole with its picture.
//
// The run is the same each time: nothing in it depends on real time. A
// change on purpose: run with KVX_GOLDEN_UPDATE=1 and review
// `git diff tests/golden/run.txt` (see tests/golden.h).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/state.h"
#include "platform/headless/headless.h"
#include "tests/golden.h"
#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

// The board query's commands, written here once so that the file can name
// a whole query in one line.
const std::vector<std::string> QueryTexts = {
    "Help",      "Version",   "Getip",     "Getgw",    "Getmask",
    "Getstatus", "GETADC 1",  "GETADC 2",  "GETADC 3", "GETADC 4",
    "GETPORT 1", "GETPORT 2", "GETPORT 3", "GETPORT 4"};

struct Received {
  uint64_t Connection;
  kvxsim::CommandRecord Command;
};

class GoldenRun : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    Sim.SetNetwork("127.0.0.1", "255.0.0.0", "127.0.0.254");
    Sim.SetAnalog(2, 200);
    Sim.SetAnalog(3, 512);
    Sim.SetAnalog(4, 1023);
    Sim.SetDigital(2, 0);
    Sim.SetLevel(150);  // between the thresholds
    Sim.SetCommandListener([this](const kvxsim::CommandRecord& c) {
      received_.push_back({Sim.ConnectionCount(), c});
    });
  }
  void TearDown() override {
    Sim.SetCommandListener(nullptr);
    BoardTest::TearDown();
  }

  // Whether the commands received from index `from` on hold commands
  // whose texts start with these, in this order (others between them).
  bool InOrderSince(size_t from, const std::vector<std::string>& heads) const {
    size_t next = 0;
    for (size_t i = from; i < received_.size() && next < heads.size(); i++)
      if (received_[i].Command.text.rfind(heads[next], 0) == 0) next++;
    return next == heads.size();
  }

  // A step: `act` at one wait of the main loop, then, at the first later
  // wait where `done` holds, the record of what went out and what the
  // main window shows.
  void Step(const std::string& name, std::function<void()> act,
            std::function<bool()> done) {
    Then(std::move(act));
    ThenWhen(
        400, std::move(done), [this, name] { Record(name); }, name);
  }

  void Record(const std::string& name, bool screen = true) {
    steps_++;
    out_ += "== " + std::to_string(steps_) + " " + name + "\n";
    out_ += "  at " + std::to_string(PlatTickCount()) + " ms, " +
            std::to_string(HeadlessClickCount()) + " clicks so far\n";
    WireSinceLastRecord();
    if (screen) ScreenSinceLastRecord();
    recorded_ = received_.size();
  }

  // Whether the commands from `at` on are one whole board query: its
  // fourteen commands in order, each as text with the suffix, all at one
  // time on one connection.
  bool WholeQueryAt(size_t at) const {
    if (at + QueryTexts.size() > received_.size()) return false;
    const Received& first = received_[at];
    for (size_t i = 0; i < QueryTexts.size(); i++) {
      const Received& r = received_[at + i];
      if (r.Connection != first.Connection ||
          r.Command.time != first.Command.time ||
          r.Command.kind != kvxsim::CommandKind::Text ||
          r.Command.raw != QueryTexts[i] + " \\r\\n")
        return false;
    }
    return true;
  }

  void WireSinceLastRecord() {
    while (wired_ < received_.size()) {
      const Received& r = received_[wired_];
      std::string head = "  > " + std::to_string(r.Command.time) + " #" +
                         std::to_string(r.Connection) + " ";
      if (WholeQueryAt(wired_)) {
        out_ += head + "query\n";
        wired_ += QueryTexts.size();
        continue;
      }
      out_ += head + kvxsim::KindName(r.Command.kind) + " " +
              AsciiQuoted(r.Command.raw) + "\n";
      wired_++;
    }
  }

  // The main window's controls as they stand, those that changed since
  // the last record (all of them the first time); a control gone or come
  // says so.
  void ScreenSinceLastRecord() {
    std::map<int, std::string> now;
    for (int number : HeadlessCreationOrder(MainWindow)) {
      const HeadlessControl* c = HeadlessFindControl(number);
      if (c) now[number] = ControlLine(*c, "  ");
    }
    const HeadlessWindow* w = HeadlessFindWindow(MainWindow);
    std::string head = w && w->Open ? WindowHead(*w) : "main window closed\n";
    if (head != shownHead_) out_ += head;
    shownHead_ = head;
    for (int number : HeadlessCreationOrder(MainWindow)) {
      auto before = shown_.find(number);
      if (before == shown_.end() || before->second != now[number])
        out_ += "  " + now[number];
    }
    for (const auto& before : shown_)
      if (!now.count(before.first))
        out_ += "  control " + std::to_string(before.first) + " gone\n";
    shown_ = now;
  }

  std::string out_;
  std::vector<Received> received_;
  size_t recorded_ = 0;  // commands received up to the last record

 private:
  int steps_ = 0;
  size_t wired_ = 0;
  std::string shownHead_;
  std::map<int, std::string> shown_;
};

std::string Shown(int number) { return C(number).Content; }

bool StartsWith(const std::string& text, const std::string& head) {
  return text.rfind(head, 0) == 0;
}

// How to read the file, at its head.
const char Legend[] =
    "# Each step: its name, the driven clock and the clicks played so far;\n"
    "# every command the board received since the step before, as\n"
    "#   > <driven ms> #<connection> <text|line|block|overlong> \"<bytes>\"\n"
    "# (a backslash reads \\\\ here: the suffix of a command reads "
    "\\\\r\\\\n),\n"
    "# or, for the fourteen commands of one board query (Help, Version,\n"
    "# Getip, Getgw, Getmask, Getstatus, GETADC 1..4, GETPORT 1..4, each\n"
    "# with the suffix) at one time on one connection,\n"
    "#   > <driven ms> #<connection> query\n"
    "# then the main window's controls that changed since the step before.\n";

TEST_F(GoldenRun, TheWireAndTheScreenOfAFixedScenario) {
  out_ = Legend;
  // Commands since the last record.
  auto seen = [&](const std::vector<std::string>& heads) {
    return InOrderSince(recorded_, heads);
  };

  // Start-up: the connection, the main window, the first query and the
  // well functions released at the loop's entry.
  Then([] {});
  Then([this] { Record("start-up, connected, first query"); });

  Step(
      "three one-second queries", [] {},
      [&] {
        return seen({"Help", "Help", "Help"});
      });

  // The measurement locked, its period set to 4 s by the trackbar (read
  // while the measurement is locked), released again on a full well: the
  // cycle switches output 5 on; on a dry well the next switches output 4
  // on and output 5 off.
  Step(
      "measurement locked (button 86)",
      [] { EXPECT_TRUE(HeadlessPostClick(ButtonMeasurementOff)); },
      [] { return !AppState.Switching.MeasurementEnabled; });
  Step(
      "cycle period 4 s (trackbar 102)",
      [] { HeadlessMoveTrackbar(TrackbarCycle, 4); },
      [] { return Shown(LabelCyclePeriod) == "4 s"; });
  Step(
      "full well: measurement released (button 76), its first evaluation",
      [&] {
        Sim.SetLevel(600);
        EXPECT_TRUE(HeadlessPostClick(ButtonMeasurementOn));
      },
      [&] {
        return seen({"setport 3.1", "setport 5.1", "setport 4.0"});
      });
  Step(
      "full well: the cycle's end", [] {},
      [&] { return seen({"setport 3.0"}); });
  Step(
      "dry well: the evaluation that switches output 4 on",
      [this] { Sim.SetLevel(20); }, [&] { return seen({"setport 4.1"}); });
  Step(
      "dry well: the cycle's end", [] {},
      [&] { return seen({"setport 3.0"}); });

  // The pulse switches: output 1 with a delay out of bounds (the field is
  // put back to the default), output 2 with its own, output 8 behind the
  // safety lock.
  Step(
      "delay of output 1: 0 typed (field 83)",
      [] { HeadlessTypeText(SpinDelay1, "0"); },
      [] { return Shown(SpinDelay1) == "0"; });
  Step(
      "pulse output 1 (button 74): the field back at 1000",
      [&] { EXPECT_TRUE(HeadlessPostClick(ButtonPulse1)); },
      [&] { return seen({"setport 1.0"}) && PlatIsEnabled(ButtonPulse1); });
  Step(
      "pulse output 2 (button 75), delay 300 ms",
      [&] {
        HeadlessTypeText(SpinDelay2, "300");
        EXPECT_TRUE(HeadlessPostClick(ButtonPulse2));
      },
      [&] { return seen({"setport 2.0"}) && PlatIsEnabled(ButtonPulse2); });
  Step(
      "safety lock ticked (check box 110)",
      [] { EXPECT_TRUE(HeadlessPostClick(CheckSafetyLock)); },
      [] { return PlatIsEnabled(ButtonPulse8); });
  Step(
      "pulse output 8 (button 81)",
      [&] { EXPECT_TRUE(HeadlessPostClick(ButtonPulse8)); },
      [&] {
        return seen({"setport 8.0"}) && !PlatIsEnabled(ButtonPulse8) &&
               !PlatIsChecked(CheckSafetyLock);
      });

  Step(
      "output 6 on (button 79)",
      [] { EXPECT_TRUE(HeadlessPostClick(ButtonOutput6On)); },
      [] { return Shown(OutputStateLabel(6)) == "GESCHLOSSEN"; });
  Step(
      "output 6 off (button 89)",
      [] { EXPECT_TRUE(HeadlessPostClick(ButtonOutput6Off)); },
      [] { return Shown(OutputStateLabel(6)) == "OFFEN"; });

  // The console: an ordinary command, a display command (a block of 100
  // bytes), and the command summary.
  Step(
      "console: GETSTATUS",
      [] {
        HeadlessTypeText(EditConsole, "GETSTATUS");
        EXPECT_TRUE(HeadlessPostClick(ButtonConsoleSend));
      },
      [] {
        return StartsWith(Shown(RichConsole), ">GETSTATUS\r") &&
               PlatIsEnabled(ButtonConsoleSend);
      });
  Step(
      "console: WriteLCD 1.Hallo",
      [] {
        HeadlessTypeText(EditConsole, "WriteLCD 1.Hallo");
        EXPECT_TRUE(HeadlessPostClick(ButtonConsoleSend));
      },
      [] {
        return StartsWith(Shown(RichConsole), ">WriteLCD 1.Hallo\r") &&
               PlatIsEnabled(ButtonConsoleSend);
      });
  Step(
      "console: command summary (button 93)",
      [] { EXPECT_TRUE(HeadlessPostClick(ButtonCommandOverview)); },
      [] { return C(RichConsole).TextColour == Red; });

  // The board closes the connection; the program shows the loss, connects
  // again by itself and queries the board at once.
  Step(
      "the board closes the connection", [this] { Sim.CloseNow(); },
      [] { return StartsWith(Shown(LabelPingCountdown), "Keine Verbindung"); });
  Step(
      "the connection is back", [] {},
      [this] {
        return Sim.ConnectionCount() == 2 && !AppState.Link.ConnectionLost &&
               StartsWith(Shown(LabelPingCountdown), "Ping war ");
      });

  std::string history;
  Step(
      "history window (system menu)",
      [] {
        EXPECT_TRUE(HeadlessChooseSystemMenuItem(MainWindow, MenuLevelHistory));
      },
      [&] {
        history = DumpWindow(HistoryWindow, true);
        return !history.empty();
      });
  RunSteps();

  // QUIT: what went out after the last step (the windows are gone).
  Record("QUIT (button 82), the program ended", false);
  out_ += "== the history window at its step\n" + history;
  ExpectGolden("run.txt", WithoutBoardPort(out_, Sim.Port()));
}

}  // namespace
