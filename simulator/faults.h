// The faults the simulator can put into its replies: one record, set by the
// Simulator's fault setters, read by the reply pipeline below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "simulator/random_replies.h"

namespace kvxsim {

// The most bytes of padding, and of one flood of unasked-for bytes.
const size_t kMaxFlood = 1024 * 1024;

struct Faults {
  // The reply's bytes, in this order: transform, garbage or CR LF only,
  // non-ASCII bytes, a zero byte, padding, silence.
  std::function<std::string(const std::string&, const std::string&)>
      transform;             // (keyword, reply) -> reply
  bool garbage = false;      // 1..64 random bytes 01..FF
  bool lineEndOnly = false;  // "\r\n"
  bool nonAscii = false;     // C4 D6 DC E4 F6 FC DF 80 before the line end
  int zeroAt = -1;           // a zero byte inserted here; -1 off
  size_t padTo = 0;          // padded to this many bytes; 0 off
  char padFill = '#';
  bool silent = false;  // nothing is sent
  // When it is sent: after a delay (plus a jitter of 0..jitterMs), or after
  // onceDelayMs instead for the next command matching onceDelayKey (once a
  // command matching onceDelayTrigger has been answered, when that is not
  // empty); in splitPieces pieces splitGapMs apart. Keys as for
  // CommandMatches.
  int delayMs = 0;
  int jitterMs = 0;
  std::string onceDelayKey;
  std::string onceDelayTrigger;
  bool onceDelayAwaitsTrigger = false;
  int onceDelayMs = 0;  // 0 off
  int splitPieces = 0;  // <= 1 off
  int splitGapMs = 0;
  // A reply of more than one line goes out one line at a time, lineGapMs
  // apart (0 off), for every command or only those matching lineGapKey
  // (as NormalKey; empty: every command). Instead of the split.
  int lineGapMs = 0;
  std::string lineGapKey;
  // Each reply drawn at random (instead of the split and the line gap).
  RandomReplies random;
  // The connection is closed after this many more commands; -1 off.
  int closeAfter = -1;
  // A line no command asked for: once a command matching strayTrigger has
  // been answered (armed at once when the trigger is empty), the next
  // strayCount replies to commands matching strayKey are each followed,
  // strayGapMs after their last byte, by strayBytes. Keys as for
  // CommandMatches.
  std::string strayTrigger;
  bool strayArmed = false;
  std::string strayKey;
  int strayCount = 0;  // 0 off
  int strayGapMs = 0;
  std::string strayBytes;
  // A board that trickles: the reply to every command matching trickleKey
  // (empty: every command) goes out one byte every trickleMs (0 off), its
  // line ends left out, its bytes over and over, until the trickle is
  // switched off or the connection ends; the reply never ends.
  int trickleMs = 0;
  std::string trickleKey;
};

// Whether the command (keyword, text) matches `key` (as NormalKey): its
// keyword or its whole text; a key ending in '*' matches every command
// whose text (as NormalKey) begins with the key's other bytes.
bool CommandMatches(const std::string& key, const std::string& keyword,
                    const std::string& text);

// The stray line to send behind the reply to the command (keyword, text):
// its bytes (empty: none) and, in `*gapMs`, the wait before them. A stray
// sent is counted off; the command that is the trigger arms the strays
// for the commands after it.
std::string TakeStray(Faults* faults, const std::string& keyword,
                      const std::string& text, int* gapMs);

// Whether the reply to the command (keyword, text) trickles.
bool Trickles(const Faults& faults, const std::string& keyword,
              const std::string& text);
// What a trickle sends, one byte at a time and over and over: the reply
// without its CR and LF bytes, or "." when nothing else is left.
std::string TrickleBytes(const std::string& reply);

// The reply after the faults that change its bytes, except the transform
// (the caller's code, called without the simulator's lock). `*seed` drives
// the garbage.
std::string DistortReply(const Faults& faults, uint32_t* seed,
                         std::string reply);

// How long to wait before the reply to the command (keyword, text): the
// once-delay if it is armed and the command matches its key (and then it
// is used up), else the delay plus a jitter drawn from `*jitterState`. The
// command that is the once-delay's trigger arms it for the commands after
// it.
int ReplyDelayMs(Faults* faults, uint32_t* jitterState,
                 const std::string& keyword, const std::string& text);

// The reply in the pieces it is sent in: at most `pieces` (and at most one
// per byte), equal but for the last, which takes the rest.
std::vector<std::string> SplitReply(const std::string& reply, int pieces);

// How the reply to the command (keyword, text) goes out, after `delayMs`:
// drawn at random (from `*randomState`) when the random replies are on,
// else line by line when the line gap applies to the command, else in the
// split's pieces. The first piece waits `delayMs` more; an empty reply is
// one empty piece (the wait alone).
std::vector<ReplyPiece> PlanReply(const Faults& faults, uint32_t* randomState,
                                  const std::string& keyword,
                                  const std::string& text,
                                  const std::string& reply, int delayMs);

}  // namespace kvxsim
