// How one board reply is told whole, without any I/O: the reader is fed
// the bytes as they come, each piece with the time it came (ms after its
// command was sent), and says whether the reply is complete, needs more
// (until when), or failed. The reply driver (board/reply_driver.cpp) does
// the waiting, the serving of the windows and the receives.
//
// The board's replies carry no name; where one ends is known only from
// its command's shape:
// - one line: it ends at its first line feed;
// - lines until a silence: it is whole once LineGapSettle has passed after
//   a line feed without a byte (Help, Version, every console command);
// - a reply learned on this connection: Help and Version read the same on
//   every query of a connection, so once one is known, the reply is whole
//   the moment its bytes equal it. Any difference falls back to the
//   silence rule, and the reply counts as changed.
// Every reply has one deadline, counted from its command: it must begin
// within ReplyStartLimit and be whole within ReplyWholeLimit, however its
// bytes trickle in.
#pragma once

#include "base/state.h"

enum ReplyShapeKind { ShapeOneLine, ShapeLines };

struct ReplyShape {
  ReplyShapeKind Kind;
  // The reply known from an earlier query of this connection (lines
  // only); null when none is known.
  const Text* Learned;
};

enum ReplyVerdict { ReplyNeedsMore, ReplyComplete, ReplyFailed };

enum {
  // The most bytes of one reply kept to compare with, and to learn.
  ReplyKeepLimit = 4096,
};

struct ReplyReader {
  ReplyShape Shape;
  int Max;         // the reply's first Max bytes are its kept bytes
  Text Bytes;      // the reply's bytes, ReplyKeepLimit at most
  int Kept;        // of them in the reply buffer (Max at most)
  int Thrown;      // bytes beyond Max, and beyond ReplyKeepLimit
  int Total;       // every byte of the reply
  int FirstAt;     // ms after the command of its first byte; -1: none yet
  int LastAt;      // ... and of its last
  bool AtLineEnd;  // the last byte was a line feed
  // A one-line reply had bytes behind its line feed: a line no command
  // asked for (they are no part of the reply).
  bool ExtraLine;
  // A learned reply came whole as it was learned; Changed: it came
  // different (it was then read by the silence rule).
  bool MatchedLearned;
  bool Changed;
  // A reply of lines taken at its deadline, at a line end, or a one-line
  // reply that filled its receive and fell silent without its line feed:
  // more of it may still come.
  bool Cut;
  ReplyVerdict Verdict;
};

void StartReply(ReplyReader* reader, ReplyShape shape, int max);
// `length` bytes that came `at` ms after the command. Bytes fed once the
// verdict is in change nothing.
void FeedReply(ReplyReader* reader, const unsigned char* bytes, int length,
               int at);
// The verdict `at` ms after the command, nothing having come since the
// last piece fed. While it needs more, `*until` is the time (ms after the
// command) by which it will have changed if nothing comes.
ReplyVerdict JudgeReply(ReplyReader* reader, int at, int* until);
