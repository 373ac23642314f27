// The whole program against a board that misbehaves: the connection closed
// or reset, silence, slow and split replies, replies too long for the
// buffers, with zero bytes, line ends only, non-ASCII bytes or garbage, and
// unsolicited bytes. Every run checks that the window stays usable (a pass
// at least every 2 s of real time), that the displays show only what the
// board said, that nothing goes out the program had no reason to send, that
// it is back with the board's values once the board behaves again, and that
// it ends normally on QUIT.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/program_fixture.h"
#include "ui/control_numbers.h"

namespace {

const char VersionReply[] = "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n";
const char Umlauts[] = "\xC4\xD6\xDC\xE4\xF6\xFC\xDF\x80";  // as the board adds
const char Closed[] = "GESCHLOSSEN";
const char Open[] = "OFFEN";

// What the board holds. Analog input 1 reads the well level while output 3
// powers the sensor, so output 3 is on in both settings.
struct Board {
  const char* outputs;  // '1' for on, output 1 first
  int analog[4];
  int digital[4];  // 1: open
  const char* ip;
  const char* mask;
  const char* gw;
};

// Two settings in which no two analog inputs read alike, before and after.
const Board First = {"10100100",     {100, 200, 300, 400}, {1, 0, 1, 0},
                     "192.168.1.50", "255.255.255.0",      "192.168.1.1"};
const Board Second = {"01100011", {600, 700, 800, 900}, {0, 1, 0, 1},
                      "10.0.0.7", "255.0.0.0",          "10.0.0.1"};

std::string VoltsOf(int count) {
  switch (count) {
    case 100:
      return "0,48";
    case 200:
      return "0,97";
    case 300:
      return "1,46";
    case 400:
      return "1,95";
    case 600:
      return "2,93";
    case 700:
      return "3,41";
    case 800:
      return "3,90";
    case 900:
      return "4,39";
  }
  ADD_FAILURE() << "no voltage text for " << count;
  return "";
}

std::string Label(int number) {
  const HeadlessControl* c = HeadlessFindControl(number);
  return c ? c->Content : "<missing>";
}

// The displays fed by the board query. The relay labels of outputs 1, 2,
// 6, 7 and 8 come from one status reply and are kept together.
struct Displays {
  std::string relays;
  std::string analog[4];
  std::string digital[4];
  std::string firmware, ip, mask, gw;
};

const int RelayOutputs[] = {1, 2, 6, 7, 8};

Displays Shown() {
  Displays d;
  for (int output : RelayOutputs)
    d.relays += Label(OutputStateLabel(output)) + "|";
  for (int n = 0; n < 4; n++) {
    d.analog[n] = Label(AnalogValueLabel(n + 1));
    d.digital[n] = Label(DigitalStateLabel(n + 1));
  }
  d.firmware = AppState.Readings.FirmwareText;
  d.ip = AppState.Readings.BoardIpText;
  d.mask = AppState.Readings.SubnetMaskText;
  d.gw = AppState.Readings.GatewayText;
  return d;
}

std::string RelaysOf(const std::string& outputs) {
  std::string relays;
  for (int output : RelayOutputs)
    relays += std::string(outputs[output - 1] == '1' ? Closed : Open) + "|";
  return relays;
}

// What the displays show once the board's replies to `b` have arrived.
Displays ExpectedFor(const Board& b) {
  Displays d;
  d.relays = RelaysOf(b.outputs);
  for (int n = 0; n < 4; n++) {
    d.analog[n] = VoltsOf(b.analog[n]);
    d.digital[n] = b.digital[n] ? Open : Closed;
  }
  d.firmware = VersionReply;
  d.ip = std::string(b.ip) + "\r\n";
  d.mask = std::string(b.mask) + "\r\n";
  d.gw = std::string(b.gw) + "\r\n";
  return d;
}

// Each display shows `a`'s or `b`'s text for its own channel; "" when so,
// else what is wrong.
std::string EachFrom(const Displays& s, const Displays& a, const Displays& b) {
  auto one = [](const std::string& what, const std::string& shown,
                const std::string& x, const std::string& y) {
    return shown == x || shown == y ? "" : what + " shows '" + shown + "'; ";
  };
  std::string wrong = one("relays", s.relays, a.relays, b.relays);
  for (int n = 0; n < 4; n++) {
    std::string i = std::to_string(n + 1);
    wrong += one("analog " + i, s.analog[n], a.analog[n], b.analog[n]);
    wrong += one("digital " + i, s.digital[n], a.digital[n], b.digital[n]);
  }
  wrong += one("firmware", s.firmware, a.firmware, b.firmware);
  wrong += one("ip", s.ip, a.ip, b.ip);
  wrong += one("mask", s.mask, a.mask, b.mask);
  wrong += one("gateway", s.gw, a.gw, b.gw);
  return wrong;
}

bool Same(const Displays& s, const Displays& e) {
  return EachFrom(s, e, e).empty();
}

// Whatever arrived, the displays stay within their forms and buffers.
std::string WellFormed(const Displays& s) {
  std::string wrong;
  for (int output : RelayOutputs) {
    std::string t = Label(OutputStateLabel(output));
    if (t != Open && t != Closed) wrong += "relay shows '" + t + "'; ";
  }
  for (int n = 0; n < 4; n++) {
    if (s.analog[n].empty() || s.analog[n].size() > 4)
      wrong += "analog shows '" + s.analog[n] + "'; ";
    if (s.digital[n] != Open && s.digital[n] != Closed)
      wrong += "digital shows '" + s.digital[n] + "'; ";
  }
  auto fits = [&](const char* what, const std::string& t, size_t size) {
    if (t.size() > size || t.find('\0') != std::string::npos)
      wrong += std::string(what) + " of " + std::to_string(t.size()) + "; ";
  };
  fits("firmware", s.firmware, VersionBufferSize);
  fits("ip", s.ip, IpBufferSize);
  fits("mask", s.mask, MaskBufferSize);
  fits("gateway", s.gw, GatewayBufferSize);
  return wrong;
}

void Apply(kvxsim::Simulator& sim, const Board& b) {
  for (int n = 1; n <= 8; n++) sim.SetOutput(n, b.outputs[n - 1] == '1');
  sim.SetLevel(b.analog[0]);
  for (int n = 2; n <= 4; n++) sim.SetAnalog(n, b.analog[n - 1]);
  for (int n = 1; n <= 4; n++) sim.SetDigital(n, b.digital[n - 1]);
  sim.SetNetwork(b.ip, b.mask, b.gw);
}

// How the displays must behave while the board misbehaves.
enum class Rule {
  Kept,              // nothing arrives: every display keeps First
  OwnChannel,        // replies fail or come late: each display First or Second
  Exact,             // replies of a fixed form: checked at the fault's end
  WellFormed,        // anything may arrive: the displays stay in their forms
  WellFormedOrLost,  // the same, or the first texts of a lost connection
};

struct Fault {
  std::function<void(kvxsim::Simulator&)> on;
  Rule rule;
  int passes = 4;  // main-loop passes the board misbehaves
  std::function<void(kvxsim::Simulator&)> off = [](kvxsim::Simulator& s) {
    s.ClearFaults();
  };
  bool reconnects = true;  // false: closed for good, First stays shown
  int recoverWithin = 6;   // passes after `off` until Second is shown
};

struct Outcome {
  int exitCode = -1;
  bool quit = false;
  // The longest the windows went unserved (no event wait, no serving while
  // waiting for the board), on the driven clock, from the fault on.
  long longestGapMs = 0;
  int recoveredAfter = -1;
  Displays atFaultEnd;
  std::string boardDataAtFaultEnd;  // label 17
};

const int WaitLimit = 600;

class Faults : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    Apply(Sim, First);
  }

  // Runs the program: once it shows First, the fault goes on and the board
  // changes to Second; after `fault.passes` passes the fault goes off, and
  // the run ends with QUIT once Second is shown (or, for a connection
  // closed for good, after `recoverWithin` passes).
  Outcome Run(const Fault& fault) {
    Outcome out;
    closedForGood_ = !fault.reconnects;
    enum { Warm, Misbehaving, Behaving, Done } phase = Warm;
    int phaseStart = 0;
    uint32_t last = 0;
    auto served = [&] {
      const uint32_t now = PlatTickCount();
      if (phase != Warm) {
        const long gap = (long)(now - last);
        if (gap > out.longestGapMs) out.longestGapMs = gap;
      }
      last = now;
    };
    HeadlessSetServeHook(served);
    out.exitCode = RunProgram(
        [&](int wait) {
          served();
          Displays s = Shown();
          switch (phase) {
            case Warm:
              if (Same(s, ExpectedFor(First))) {
                fault.on(Sim);
                Apply(Sim, Second);
                phase = Misbehaving;
                phaseStart = wait;
                last = PlatTickCount();
              } else if (wait > 10) {
                ADD_FAILURE()
                    << "First never shown: "
                    << EachFrom(s, ExpectedFor(First), ExpectedFor(First));
                phase = Done;
              }
              break;
            case Misbehaving:
              CheckWhileMisbehaving(fault, s, wait);
              if (wait - phaseStart >= fault.passes) {
                out.atFaultEnd = s;
                out.boardDataAtFaultEnd = Label(LabelBoardData);
                fault.off(Sim);
                phase = Behaving;
                phaseStart = wait;
              }
              break;
            case Behaving:
              if (!fault.reconnects) {
                EXPECT_TRUE(Same(s, ExpectedFor(First)))
                    << "pass " << wait << ": "
                    << EachFrom(s, ExpectedFor(First), ExpectedFor(First));
                if (wait - phaseStart >= fault.recoverWithin) phase = Done;
              } else if (Same(s, ExpectedFor(Second))) {
                out.recoveredAfter = wait - phaseStart;
                phase = Done;
              } else if (wait - phaseStart >= fault.recoverWithin) {
                phase = Done;
              }
              break;
            case Done:
              break;
          }
          if (phase == Done && !out.quit)
            out.quit = HeadlessPostClick(ButtonQuit);
        },
        WaitLimit);
    return out;
  }

  bool closedForGood_ = false;  // the last run's board closed for good

  void CheckWhileMisbehaving(const Fault& fault, const Displays& s, int wait) {
    switch (fault.rule) {
      case Rule::Kept:
        EXPECT_TRUE(Same(s, ExpectedFor(First)))
            << "pass " << wait << ": "
            << EachFrom(s, ExpectedFor(First), ExpectedFor(First));
        break;
      case Rule::OwnChannel:
        EXPECT_EQ(EachFrom(s, ExpectedFor(First), ExpectedFor(Second)), "")
            << "pass " << wait;
        break;
      case Rule::Exact:
      case Rule::WellFormed:
        EXPECT_EQ(WellFormed(s), "") << "pass " << wait;
        break;
      case Rule::WellFormedOrLost:
        if (AppState.Link.ConnectionLost)
          EXPECT_EQ(Label(AnalogValueLabel(1)), "--.--") << "pass " << wait;
        else
          EXPECT_EQ(WellFormed(s), "") << "pass " << wait;
        break;
    }
  }

  // The end every run must reach, and a window that stayed usable.
  void ExpectUsableAndEnded(const Outcome& out, long gapBoundMs = 2000) {
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_TRUE(out.quit);
    EXPECT_LT(HeadlessWaitCount(), WaitLimit) << "the run did not end on QUIT";
    EXPECT_LT(out.longestGapMs, gapBoundMs);
    EXPECT_TRUE(HeadlessMessageBoxes().empty());
  }

  // Nothing but board queries went out, and the wire carried nothing but
  // the commands the board parsed. With `whole`, every query made all its
  // exchanges in order; otherwise a query may leave out exchanges (while a
  // late reply is owed) but never repeats or reorders one: the queries
  // split into increasing runs, no more of them than queries were made
  // (one at the entry, one per automatic refresh, each of those followed
  // by a click, as is the end).
  void ExpectOnlyQueries(bool whole) {
    std::vector<kvxsim::CommandRecord> log = Sim.Commands();
    std::string raw;
    for (const kvxsim::CommandRecord& c : log) raw += c.raw;
    EXPECT_EQ(ReceivedBytes().substr(0, raw.size()), raw);
    int runs = 0;
    size_t previous = QueryCommands.size();
    for (size_t i = 0; i < log.size(); i++) {
      const std::string& text = log[i].text;
      size_t at = 0;
      while (at < QueryCommands.size() && QueryCommands[at] != text) at++;
      if (at == QueryCommands.size()) {
        ADD_FAILURE() << "command " << i << " not a query: '" << text << "'";
        continue;
      }
      if (whole) {
        EXPECT_EQ(text, QueryCommands[i % QueryCommands.size()])
            << "command " << i;
      }
      if (at <= previous) runs++;
      previous = at;
    }
    if (whole && !closedForGood_) {
      EXPECT_EQ(log.size(),
                QueryCommands.size() * (size_t)HeadlessClickCount());
    }
    EXPECT_LE(runs, HeadlessClickCount());
  }

  void ExpectRecovered(const Outcome& out, int within) {
    EXPECT_GE(out.recoveredAfter, 0)
        << "still not back after " << within << " passes: "
        << EachFrom(Shown(), ExpectedFor(Second), ExpectedFor(Second));
    EXPECT_LE(out.recoveredAfter, within);
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Replies that arrive in an odd form
// ---------------------------------------------------------------------------

TEST_F(Faults, SplitRepliesWithGaps) {
  Fault f;
  f.rule = Rule::WellFormed;
  f.recoverWithin = 30;  // the pieces still on their way are read through
  f.on = [](kvxsim::Simulator& s) { s.SetReplySplit(3, 60); };
  Outcome out = Run(f);
  ExpectUsableAndEnded(out);
  ExpectRecovered(out, f.recoverWithin);
  ExpectOnlyQueries(false);
}

// The rest of a reply too long for its buffer begins the next replies of
// the same query; whatever is left when the next query starts is thrown
// away, so the displays are right again after the first whole query.
TEST_F(Faults, RepliesLongerThanTheBuffers) {
  Fault f;
  f.rule = Rule::WellFormed;
  f.passes = 2;
  // Back with the first query after the fault, at its deadline: the long
  // replies took their time on the wire, so that comes a pass later than
  // the timer's next tick.
  f.recoverWithin = 4;
  f.on = [](kvxsim::Simulator& s) { s.SetReplyPadding(1500); };
  Outcome out = Run(f);
  ExpectUsableAndEnded(out);
  ExpectRecovered(out, f.recoverWithin);
  ExpectOnlyQueries(true);
}

TEST_F(Faults, ZeroByteEndsEveryReplyText) {
  // Each reply gets a zero byte after its second byte: the texts end there,
  // whatever the buffers held behind it before.
  Fault f;
  f.rule = Rule::Exact;
  f.on = [](kvxsim::Simulator& s) { s.SetZeroByteAt(2); };
  Outcome out = Run(f);
  ExpectUsableAndEnded(out);
  Displays& d = out.atFaultEnd;
  EXPECT_EQ(d.relays, RelaysOf("00000001"));  // "S1": output 8, no more
  const char* volts[4] = {"0,29", "0,34", "0,39", "0,43"};  // 60 .. 90
  for (int n = 0; n < 4; n++) EXPECT_EQ(d.analog[n], volts[n]) << n + 1;
  for (int n = 0; n < 4; n++)
    EXPECT_EQ(d.digital[n], ExpectedFor(Second).digital[n]) << n + 1;
  EXPECT_EQ(d.firmware, "uC");
  EXPECT_EQ(d.ip, "10");
  EXPECT_EQ(d.mask, "25");
  EXPECT_EQ(d.gw, "10");
  ExpectRecovered(out, f.recoverWithin);
  ExpectOnlyQueries(true);
}

TEST_F(Faults, LineEndsOnlyReadAsOffZeroAndClosed) {
  Fault f;
  f.rule = Rule::Exact;
  f.on = [](kvxsim::Simulator& s) { s.SetLineEndOnly(true); };
  Outcome out = Run(f);
  ExpectUsableAndEnded(out);
  Displays& d = out.atFaultEnd;
  EXPECT_EQ(d.relays, RelaysOf("00000000"));
  for (int n = 0; n < 4; n++) {
    EXPECT_EQ(d.analog[n], "0,00") << n + 1;
    EXPECT_EQ(d.digital[n], Closed) << n + 1;
  }
  EXPECT_EQ(d.firmware, "\r\n");
  EXPECT_EQ(d.ip, "\r\n");
  EXPECT_EQ(d.mask, "\r\n");
  EXPECT_EQ(d.gw, "\r\n");
  ExpectRecovered(out, f.recoverWithin);
  ExpectOnlyQueries(true);
}

TEST_F(Faults, NonAsciiBytesAreShownAsReceivedAndLeaveTheNumbers) {
  Fault f;
  f.rule = Rule::Exact;
  f.on = [](kvxsim::Simulator& s) { s.SetNonAscii(true); };
  Outcome out = Run(f);
  ExpectUsableAndEnded(out);
  Displays e = ExpectedFor(Second);
  auto marked = [](std::string text) {
    return text.insert(text.size() - 2, Umlauts);
  };
  e.firmware = marked(e.firmware);
  e.ip = marked(e.ip);
  e.mask = marked(e.mask);
  e.gw = marked(e.gw);
  EXPECT_EQ(EachFrom(out.atFaultEnd, e, e), "");
  EXPECT_NE(out.boardDataAtFaultEnd.find(e.ip), std::string::npos);
  ExpectRecovered(out, f.recoverWithin);
  ExpectOnlyQueries(true);
}

// Garbage: most replies lack the line feed that ends a reply, so the
// board is taken for gone after the reply bound and the displays show the
// loss; the connection is made again once the board answers in lines.
TEST_F(Faults, GarbageReplies) {
  Fault f;
  f.rule = Rule::WellFormedOrLost;
  f.passes = 8;
  f.recoverWithin = 20;
  f.on = [](kvxsim::Simulator& s) {
    s.SetSeed(20260612);
    s.SetGarbage(true);
  };
  Outcome out = Run(f);
  ExpectUsableAndEnded(out, ReplyStartLimit + 1000);
  ExpectRecovered(out, f.recoverWithin);
  ExpectOnlyQueries(false);
  EXPECT_GE(Sim.ConnectionCount(), 2u) << "garbage never ended the connection";
}

TEST_F(Faults, BoundedFloodOfUnsolicitedBytes) {
  // The flood is taken for replies within the query it reaches; the next
  // query starts in step with the board again.
  Fault f;
  f.rule = Rule::WellFormed;
  f.passes = 2;
  f.recoverWithin = 3;
  f.on = [](kvxsim::Simulator& s) { s.Flood(8192); };
  f.off = [](kvxsim::Simulator&) {};
  Outcome out = Run(f);
  ExpectUsableAndEnded(out);
  ExpectRecovered(out, f.recoverWithin);
  ExpectOnlyQueries(true);
}

// ---------------------------------------------------------------------------
// What the operator and the cycle cause still goes out, and nothing more
// ---------------------------------------------------------------------------

TEST_F(Faults, CycleCommandsGoOutAtItsTicksOnlyWhileRepliesAreLineEnds) {
  // Line ends only: no reply has its command's form, so the evaluations
  // decide nothing; the sensor's power still goes on and off on time.
  struct Pass {
    int event, number;
    uint64_t commands;  // parsed when the next pass began
  };
  std::vector<Pass> passes;
  bool on = false, quit = false;
  int code = RunProgram(
      [&](int) {
        passes.push_back({AppState.Loop.LastEvent,
                          AppState.Loop.LastEventNumber, Sim.CommandCount()});
        if (!on) {
          Sim.SetLineEndOnly(true);
          on = true;
        }
        if (AppState.Measurement.CycleCounter == 0 && passes.size() > 700 &&
            !quit)
          quit = HeadlessPostClick(ButtonQuit);
      },
      2000);
  EXPECT_EQ(code, 0);
  ASSERT_TRUE(quit);
  std::vector<kvxsim::CommandRecord> log = Sim.Commands();
  std::vector<std::string> setports;
  for (size_t p = 1; p < passes.size(); p++) {
    bool tick = passes[p].event == EventTimer && passes[p].number == 123;
    for (uint64_t i = passes[p - 1].commands; i < passes[p].commands; i++) {
      if (log[i].text.rfind("setport", 0) != 0) continue;
      EXPECT_TRUE(tick) << log[i].text << " in a pass without a tick";
      setports.push_back(log[i].text);
    }
  }
  const std::vector<std::string> cycle = {"setport 3.1", "setport 3.1",
                                          "setport 3.1", "setport 3.1",
                                          "setport 3.1", "setport 3.0"};
  EXPECT_EQ(setports, cycle);
  // Every query, before and after each switching command, made all of its
  // exchanges in order.
  std::vector<std::string> queries;
  for (const kvxsim::CommandRecord& c : log)
    if (c.text.rfind("setport", 0) != 0) queries.push_back(c.text);
  ASSERT_EQ(queries.size() % QueryCommands.size(), 0u);
  for (size_t i = 0; i < queries.size(); i++)
    ASSERT_EQ(queries[i], QueryCommands[i % QueryCommands.size()]) << i;
}
