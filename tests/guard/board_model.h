// A KORVALINEX board on the headless driven clock, for the guard tests and
// the guard fuzz harness: a sequential board (a reply begins only once its
// command is in and the reply before it is written out) that answers the
// program's commands as the firmware does, with faults drawn per reply.
//
// Faults it draws, in the faulty profile: a delay before the reply
// (0..300 ms); the reply written in pieces, cut at random points or at its
// line ends, with gaps of 0..500 ms; a Help or Version text longer than the
// program's 200-byte receive, with or without its last line feed; now and
// then garbage in place of the reply, or an extra line after it (after a
// gap); rarely the board drops the connection. It never lies about the
// well: garbage in place of a GETADC reply never has the form of a count
// ("1 to 4 digits, 0..1023, then CR LF"), neither as a whole nor in its
// first line, and GETADC 1 always gets some bytes, so that a stray count
// line before it can always be told from its own reply. For the same
// reason the board never pauses longer than before a reply (300 ms)
// before a line of a reply that has the form of a count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/headless/headless.h"

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
};
const char* ProfileName(Profile profile);

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
};

// The well-formed count reply: 1 to 4 decimal digits, 0..1023, CR LF.
bool IsCountReply(const std::string& reply);

class ModelBoard : public HeadlessBoardModel {
 public:
  ModelBoard(Draws* draws, Profile profile);

  Truth Now{};                        // set by the scenario
  std::vector<LevelSwitch> Switches;  // every one received, in order
  bool Tracing = false;               // keep a readable trace (TraceText)
  // The trace in the order of time: commands when the board has them,
  // replies when they reach the program; nothing after `until`.
  std::string TraceText(uint32_t until) const;
  int Connections = 0;

  // Adds a line to the trace (when tracing).
  void Note(uint32_t at, const std::string& text);

  // Bytes the faulty board may send in place of its reply to `command`.
  std::string Garbage(const std::string& command);

  bool Accept(uint32_t now, std::vector<HeadlessArrival>* out) override;
  void Take(const char* bytes, int length, uint32_t now,
            std::vector<HeadlessArrival>* out) override;

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
  std::vector<std::pair<uint32_t, std::string>> trace_;
};

// Printable form of board bytes: CR LF as \r\n, others as \xNN.
std::string Shown(const std::string& bytes);

}  // namespace guard
