// A KORVALINEX board on the headless driven clock, for the guard tests and
// the guard fuzz harness: it answers the program's commands as the firmware
// does, each reply to its command in order, with faults drawn per reply.
//
// The first three profiles are a fast sequential board (a reply begins only
// once its command is in and the reply before it is written out). The
// faulty one of them draws: a delay before the reply (0..300 ms); the reply
// written in pieces, cut at random points or at its line ends, with gaps of
// 0..500 ms; a Help or Version text longer than the program's 200-byte
// receive, with or without its last line feed; now and then garbage in
// place of the reply, or an extra line after it (after a gap); rarely the
// board drops the connection. That profile never lies about the well:
// garbage in place of a GETADC reply never has the form of a count, and
// the board never pauses longer than before a reply (300 ms) before a line
// of the form of a count.
//
// The other profiles take replies of 0 to 2.5 s, either as a busy board
// (sequential, with a processing time before every reply) or over a slow
// link (a latency on every reply, so that several replies can be on the way
// at once), drawn per connection. The healthy ones among them write every
// reply whole, or a multi-line reply (Help, Version) a line at a time up to
// 300 ms apart. The faulty ones add what a real board and its link do
// without restraint: stray lines of every reply form (a count, a status,
// an address, "0" or "1", "OK", Help- and Version-like text, garbage)
// before or between replies; trickles (bytes 5 ms..2.9 s apart, no line
// feed); chatter (an unasked line every few hundred ms); the connection
// dropped once a query is answered. What stays true of every profile: no
// reply is ever left out, and a reply's own bytes are its command's, so
// that every fault leaves the stream with more lines than commands, and
// the last of them within the board's reply time.
//
// The last profiles add what befalls the board and its link outside the
// program: a link that holds back the stream for 0 to 2.9 s from any of
// its bytes on (every byte behind it waits as well, as TCP keeps them in
// order), the last reply of a query more often; a power cut (every relay
// off, the connection gone, new ones refused for 2 to 30 s, then the board
// up again with all outputs off); another client or the operator's
// console switching output 3, 4 or 5 at any moment; "ERR" in place of the
// "OK" to a setport, which the board then does not carry out, for one
// command or for a stretch of time. A hold never makes a reply's bytes
// reach the program later than LatestHeldReply after its command: a board
// whose replies take longer is gone for the program, which could not tell
// a reply so late from one left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/headless/headless.h"
#include "tests/guard/model_sensor.h"

namespace guard {

// The scenario's choices: from the given bytes first (a fuzzer's input),
// then from a generator seeded with `seed`.
class Draws {
 public:
  explicit Draws(uint64_t seed, const uint8_t* data = nullptr, size_t size = 0);
  // 0 .. n - 1 (0 when n is 0).
  uint32_t Below(uint32_t n);
  // lo .. hi, both included.
  int Between(int lo, int hi) {
    return lo + (int)Below((uint32_t)(hi - lo + 1));
  }
  bool Percent(int percent) { return (int)Below(100) < percent; }

 private:
  uint64_t state_;
  const uint8_t* data_;
  size_t left_;
};

enum class Profile {
  Faulty,
  WholeReplies,  // healthy: every reply whole, at once
  LineByLine,    // healthy: multi-line replies a line at a time, 0..50 ms apart
  // Replies of 0 to 2.5 s, healthy: a busy board, then a slow link.
  BusyBoard,
  SlowLink,
  // The same speeds with stray lines of every form now and then.
  BusyStrays,
  LinkStrays,
  Trickles,  // strays, and bytes without a line feed 5 ms..2.9 s apart
  Chatter,   // strays, and unasked lines every 150..900 ms for stretches
  Drops,     // strays, and the connection dropped once a query is answered
  Anything,  // every fault of the slow profiles, drawn per connection
  // The troubles outside the program (above), at the slow speeds.
  Holds,       // strays, and the link holding back the stream
  PowerCuts,   // the board's power cut now and then
  Meddling,    // another client switching outputs 3, 4 and 5
  Refusals,    // "ERR" to setports, one at a time or for stretches
  Everything,  // every fault of the slow profiles and these
  // The program's sensor check on (/sensor), the level sensor with its
  // faults (tests/guard/model_sensor.h), the board answering as one of the
  // healthy profiles above, or as one of the others.
  Sensor,
  SensorFaulty,
};
enum { ProfileCount = (int)Profile::SensorFaulty + 1 };
const char* ProfileName(Profile profile);
// A short name without blanks (for test names and the command line).
const char* ProfileKey(Profile profile);
// Every reply begins within 2.5 s and comes whole (or a multi-line one a
// line at a time up to 300 ms apart); no strays.
bool IsHealthy(Profile profile);
// The sensor check's profiles.
bool IsSensorProfile(Profile profile);
// How the board answers in a scenario of `profile`: itself, or for a
// sensor profile one of the board's profiles drawn.
Profile BoardProfile(Profile profile, Draws* draws);

// The well and the operator's releases, as they are in truth.
struct Truth {
  int LevelCount;  // the count of analog input 1, 0..1023
  bool MinimumReleased;
  bool MaximumReleased;
};

// A "setport 4.x" or "setport 5.x" the board received.
struct LevelSwitch {
  int Output;  // 4 or 5
  int On;      // 1 or 0
  uint32_t At;
  Truth When;  // the truth at that moment
  // A line reached the program after it (before any close), at AnsweredAt:
  // the command is answered for the program.
  bool Answered = false;
  uint32_t AnsweredAt = 0;
  bool Accepted = true;  // answered "OK" and carried out, not "ERR"
  // The next status that reached the program came at JudgedAt; it showed
  // the output as this command set it, or not.
  bool Judged = false, Shown = false;
  uint32_t JudgedAt = 0;
  int Cycle = 0;  // the sensor's cycle (ModelSensor::Cycle) at that moment
  // A decision for the guard's watch by `now`: answered "OK", and not
  // belied by the next status the program has had by then.
  bool Decides(uint32_t now) const {
    return Answered && Accepted && (int32_t)(AnsweredAt - now) <= 0 &&
           !(Judged && !Shown && (int32_t)(JudgedAt - now) <= 0);
  }
};

// How the board answers on one connection (the slow profiles).
struct Manner {
  bool Link = false;     // a slow link; else a busy board
  int Speed = 0;         // ms: processing (busy board) or latency (link)
  int LineGap = 0;       // multi-line replies a line at a time, gaps to this
  int StrayPercent = 0;  // per reply, a stray line before or after it
  int TricklePercent = 0;
  int ChatterEvery = 0;  // ms between unasked lines (0: no chatter)
  uint32_t ChatterFrom = 0, ChatterUntil = 0;
  int DropPercent = 0;    // per query, the connection dropped after it
  bool Steady = false;    // every reply exactly Speed (else a little off)
  int HoldPercent = 0;    // per piece written, the link holds it back
  int RefusePercent = 0;  // per setport, "ERR" and nothing switched
};

// The latest a reply's bytes reach the program after its command when the
// link holds them back (ms): within the program's ReplyStartLimit.
enum { LatestHeldReply = 2990 };

// The well-formed count reply: 1 to 4 decimal digits, 0..1023, CR LF.
bool IsCountReply(const std::string& reply);

class ModelBoard : public HeadlessBoardModel {
 public:
  ModelBoard(Draws* draws, Profile profile);

  Truth Now{};  // set by the scenario
  // The level sensor on analog input 1 (tests/guard/model_sensor.h); none:
  // GETADC 1 reads the true count whatever output 3 does.
  ModelSensor* Sensor = nullptr;
  // With a sensor: the well's truth and the sensor of the next cycle, from
  // the "setport 3.0" that ends the present one on.
  void NextCycle(const Truth& truth, const SensorCondition& sensor) {
    next_ = truth;
    Sensor->Next(sensor);
  }
  std::vector<LevelSwitch> Switches;  // every one received, in order
  bool Tracing = false;               // keep a readable trace (TraceText)
  // The trace in the order of time: commands when the board has them,
  // replies when they reach the program; nothing after `until`.
  std::string TraceText(uint32_t until) const;
  int Connections = 0;
  int QueriesThisConnection = 0;  // Help commands on the current connection
  Manner Way;                     // of the current connection

  // The board on its own up to `now`: power cuts and returns, another
  // client's switching, refusal stretches beginning and ending. The
  // program's looks at the stream bring it up to date too.
  void Advance(uint32_t now);
  // From now on no power cut, switching by others or refusal begins (one
  // under way still ends as drawn).
  bool Calm = false;
  // The relay of output n (1..8) now.
  bool Relay(int n) const { return outputs_[n]; }
  // Output 4 or 5 differs from the last setport the board received for it
  // (the guard's decision), since DiffersSince(n).
  bool Differs(int n) const { return differs_[n]; }
  uint32_t DiffersSince(int n) const { return differsSince_[n]; }
  // The board takes connections and carries out setports: powered, and
  // no refusal stretch under way; since when it does (or last refused).
  bool Steady() const { return powered_ && !refusing_; }
  uint32_t SteadySince() const { return steadySince_; }
  int PowerCuts = 0, OthersSwitched = 0, Refused = 0;

  // Adds a line to the trace (when tracing).
  void Note(uint32_t at, const std::string& text);

  // Bytes the faulty board may send in place of its reply to `command`.
  std::string Garbage(const std::string& command);

  bool Accept(uint32_t now, std::vector<HeadlessArrival>* out) override;
  void Take(const char* bytes, int length, uint32_t now,
            std::vector<HeadlessArrival>* out) override;
  bool Update(uint32_t now, std::vector<HeadlessArrival>* out) override;
  void Closed(uint32_t now) override;

  // A stray line of one of the reply forms, or garbage.
  std::string StrayLine();
  // Output n's relay as something earlier left it (no command of this
  // scenario's).
  void SetRelay(int n, bool on) {
    outputs_[n] = on;
    Recheck(n, 0);
    if (n == 3 && Sensor) Sensor->Power(on, 0);
  }
  // The count of analog input n (2..4) from now on.
  void SetAnalog(int n, int count) { adc_[n] = count; }
  // Every connection answers this way, instead of a drawn one.
  void Fix(const Manner& way) {
    fixed_ = true;
    fixedWay_ = way;
  }
  // On every connection, in its query number `query` (from 1), `line`
  // comes `gap` ms after the reply to `command`.
  void StrayAfter(const std::string& command, int query,
                  const std::string& line, int gap) {
    strayCommand_ = command;
    strayQuery_ = query;
    strayLine_ = line;
    strayGap_ = gap;
  }
  // On every connection, in its query number `query`, the reply to
  // `command` reaches the program `ms` later than the board writes it, and
  // so does every byte after it: the link holds them back in their order.
  void HoldReply(const std::string& command, int query, int ms) {
    holdCommand_ = command;
    holdQuery_ = query;
    holdMs_ = ms;
  }

 private:
  void Command(const std::string& text, uint32_t now,
               std::vector<HeadlessArrival>* out);
  std::string Reply(const std::string& command);
  std::string HelpText();
  std::string NewHelpText();
  void Write(const std::string& command, std::string reply, uint32_t now,
             std::vector<HeadlessArrival>* out);
  void Emit(uint32_t at, const std::string& bytes, const char* how,
            const std::string& command, std::vector<HeadlessArrival>* out);
  int Gap(int longest);
  bool Slow() const { return profile_ >= Profile::BusyBoard; }
  void DrawManner(uint32_t now);
  int ReplyTime();
  // The slow profiles: the reply and what comes with it.
  void Answer(const std::string& command, const std::string& reply,
              uint32_t now, std::vector<HeadlessArrival>* out);
  // Writes `bytes` at board time `at` (arriving a latency later on a slow
  // link); the board is busy until then.
  // A hold of `hold` ms (-1: drawn by the connection's manner) from its
  // first byte on.
  void Put(uint32_t at, const std::string& bytes, const std::string& how,
           std::vector<HeadlessArrival>* out, int hold = -1);
  uint32_t Trickle(uint32_t at, std::vector<HeadlessArrival>* out);
  // What the board says unasked up to board time `until`: the strays due
  // and the chatter, in their order, each once the board is idle.
  void Unasked(uint32_t until, std::vector<HeadlessArrival>* out);
  void Due(uint32_t at, const std::string& line, const std::string& how);
  // Unanswered level commands once the stream ends at `now`.
  void StreamEnds(uint32_t now);
  // The troubles of the scenario, drawn once its first connection begins.
  void DrawTroubles(uint32_t now);
  void PowerCut(uint32_t at);
  void OtherClientSwitches(uint32_t at);
  // Output n's relay or decision changed at `at`.
  void Recheck(int n, uint32_t at);
  // A status reply that reaches the program at `at`.
  void StatusArrives(const std::string& reply, uint32_t at);
  // How long the link holds back the piece it is to write now (0: not).
  int DrawnHold(uint32_t written, uint32_t arrives);
  // Bytes reach the program at `at`: a line among them answers the level
  // command waiting for one.
  void Arrives(uint32_t at, const std::string& bytes);
  void Answered(uint32_t at);

  Draws* draws_;
  Profile profile_;
  std::string inbox_;   // bytes of a command not yet complete
  std::string help_;    // the Help text of this connection
  uint32_t busyUntil_;  // the last reply is written out by then
  bool outputs_[9];
  int adc_[5];
  int port_[5];
  bool closed_ = false;
  int commandNumber_ = 0;  // commands received since the start
  uint32_t lastArrival_ = 0;
  int latency_ = 0;  // of the reply being written (slow link)
  uint32_t nextChatter_ = 0;
  struct DueLine {
    uint32_t At;
    std::string Line, How;
  };
  std::vector<DueLine> due_;  // strays to come, by their time
  bool closing_ = false;      // a drop is due at closeAt_
  uint32_t closeAt_ = 0;
  int pendingSwitch_ = -1;  // the level command not yet answered by a line
  std::deque<uint32_t> onTheWay_;  // arrivals of lines, the last few
  bool fixed_ = false;
  Manner fixedWay_;
  std::string strayCommand_, strayLine_;
  int strayQuery_ = 0, strayGap_ = 0;
  std::string holdCommand_;
  int holdQuery_ = 0, holdMs_ = 0;
  // The reply being written: its command's time, and whether the link
  // holds it back more often (the last of a query).
  bool inReply_ = false, lastOfQuery_ = false;
  bool answering_ = false;  // from a command's taking to its reply's end
  uint32_t replyCommandAt_ = 0;
  // The scenario's troubles and what they have done.
  bool troublesDrawn_ = false;
  bool cuts_ = false, meddling_ = false, stretches_ = false;
  bool powered_ = true;
  bool cutClose_ = false;  // the connection ends with the power
  bool cutDue_ = false, meddleDue_ = false, stretchDue_ = false;
  uint32_t cutAt_ = 0, powerBackAt_ = 0, meddleAt_ = 0, stretchAt_ = 0;
  bool refusing_ = false;
  uint32_t steadySince_ = 0;
  int decided_[9];  // the last setport received per output, -1 none
  bool differs_[9] = {};
  uint32_t differsSince_[9] = {};
  int toConfirm_[9];  // the switch the next status confirms, -1 none
  std::vector<std::pair<uint32_t, std::string>> trace_;
  Truth next_{};   // the truth of the sensor's next cycle
  int level_ = 0;  // what GETADC 1 reads for the command being answered
};

// Printable form of board bytes: CR LF as \r\n, others as \xNN.
std::string Shown(const std::string& bytes);

}  // namespace guard
