// Replies drawn at random, reply by reply, from a seed: a board whose
// replies come late, in pieces, line by line, too long, as garbage, or with
// a line too many behind them. Each fault has its own probability, drawn
// anew for every reply; the replies stay in order (the board's firmware is
// sequential: a reply begins only after its command arrived and the reply
// before it was written entirely, which the server thread gives).
//
// Also the fixed pacing of multi-line replies: one line at a time, a fixed
// time apart (for a board whose firmware writes Version line by line).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvxsim {

// One piece of a reply as it goes out: wait `waitMs`, then send `bytes`.
struct ReplyPiece {
  int waitMs;
  std::string bytes;
};

// Probabilities in percent (0..100) of the replies that meet each fault,
// each drawn on its own for every reply.
struct RandomReplies {
  bool on = false;
  uint32_t seed = 1;
  double delayPct = 0;  // the reply begins 0..delayMaxMs late
  int delayMaxMs = 300;
  // Sent in 2..splitMaxPieces pieces, 0..splitGapMaxMs apart; a cut lies
  // on a line boundary (after a LF, before a CR) with boundaryPct.
  double splitPct = 0;
  int splitMaxPieces = 4;
  int splitGapMaxMs = 500;
  double boundaryPct = 50;
  // A reply of more than one line (Help, Version) written line by line,
  // 0..lineGapMaxMs between the lines.
  double linesPct = 0;
  int lineGapMaxMs = 200;
  // Help or Version longer than 200 bytes, half of them without the final
  // line feed.
  double longPct = 0;
  // A line that is not a well-formed reply of the command instead of the
  // reply (for GETADC never a count 0..1023).
  double garbagePct = 0;
  // A line too many after the reply (a count, "OK", a digit, a status, a
  // copy of the reply), 0..extraGapMaxMs after it.
  double extraPct = 0;
  int extraGapMaxMs = 500;
};

// The profiles: "whole" (every reply whole, at once), "lines" (multi-line
// replies line by line, 0..50 ms apart, nothing else) and "faults" (all of
// the faults above, at rates that make most measurements meet one).
bool RandomProfile(const std::string& name, RandomReplies* out);

// Reads "off" or "PROFILE [NAME=VALUE]..." (names: seed delay delayms split
// pieces gapms boundary lines linems long garbage extra extrams; the
// probabilities in percent). False with `*error` set when malformed; then
// `*out` is unchanged.
bool ParseRandomReplies(const std::string& text, RandomReplies* out,
                        std::string* error);
// The settings in the form ParseRandomReplies reads ("off" when off).
std::string DescribeRandomReplies(const RandomReplies& r);
// The words ParseRandomReplies takes, for the help texts.
extern const char kRandomRepliesHelp[];

// The pieces the reply to a command with `keyword` (upper case) goes out
// in, drawn from `*state`; `reply` is the board's correct reply. An empty
// reply stays empty (no piece).
std::vector<ReplyPiece> DrawReply(const RandomReplies& r, uint32_t* state,
                                  const std::string& keyword,
                                  const std::string& reply);

// A reply of more than one line, one line at a time `gapMs` apart (the
// first at once); a reply of one line as one piece.
std::vector<ReplyPiece> LineByLine(const std::string& reply, int gapMs);

// True when `line` (without its CR LF) is a well-formed GETADC count:
// decimal digits only, 0..1023.
bool IsWellFormedCount(const std::string& line);

}  // namespace kvxsim
