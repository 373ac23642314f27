// The reply reader on its own, fed timestamped bytes: where a reply ends,
// at every split, around every bound, for trickles and learned replies.
#include "board/reply_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string Version = "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n";

struct Piece {
  std::string Bytes;
  int At;
};

// Feeds the pieces in order and judges at each moment given; the verdict
// at `end`, and the reader.
ReplyVerdict Read(ReplyReader* r, ReplyShape shape, int max,
                  const std::vector<Piece>& pieces, int end) {
  StartReply(r, shape, max);
  for (const Piece& p : pieces) {
    int until = 0;
    if (JudgeReply(r, p.At, &until) != ReplyNeedsMore) return r->Verdict;
    FeedReply(r, (const unsigned char*)p.Bytes.data(), (int)p.Bytes.size(),
              p.At);
  }
  int until = 0;
  return JudgeReply(r, end, &until);
}

const ReplyShape OneLine = {ShapeOneLine, nullptr};
const ReplyShape Lines = {ShapeLines, nullptr};

TEST(ReplyReader, AOneLineReplyEndsAtItsLineFeedAtEverySplit) {
  const std::string reply = "192.168.1.50\r\n";
  for (size_t cut = 1; cut < reply.size(); cut++) {
    SCOPED_TRACE(cut);
    ReplyReader r;
    StartReply(&r, OneLine, 100);
    FeedReply(&r, (const unsigned char*)reply.data(), (int)cut, 10);
    int until = 0;
    EXPECT_EQ(JudgeReply(&r, 10, &until), ReplyNeedsMore);
    FeedReply(&r, (const unsigned char*)reply.data() + cut,
              (int)(reply.size() - cut), 2999);
    EXPECT_EQ(JudgeReply(&r, 2999, &until), ReplyComplete);
    EXPECT_EQ(r.Bytes, reply);
    EXPECT_EQ(r.Kept, (int)reply.size());
    EXPECT_FALSE(r.ExtraLine);
    EXPECT_EQ(r.LastAt, 2999);
  }
  // A line behind the line feed, in the same piece: no part of the reply.
  ReplyReader r;
  EXPECT_EQ(Read(&r, OneLine, 100, {{"20\r\n600\r\n", 5}}, 5), ReplyComplete);
  EXPECT_EQ(r.Bytes, "20\r\n");
  EXPECT_TRUE(r.ExtraLine);
}

TEST(ReplyReader, LinesAreWholeAfterTheSilenceAtEverySplit) {
  for (size_t cut = 1; cut < Version.size(); cut++) {
    SCOPED_TRACE(cut);
    ReplyReader r;
    std::vector<Piece> pieces = {{Version.substr(0, cut), 0},
                                 {Version.substr(cut), 300}};
    // Just under the silence after the last line feed: not yet whole.
    EXPECT_EQ(Read(&r, Lines, 200, pieces, 300 + LineGapSettle - 1),
              ReplyNeedsMore);
    EXPECT_EQ(Read(&r, Lines, 200, pieces, 300 + LineGapSettle), ReplyComplete);
    EXPECT_EQ(r.Bytes, Version);
    EXPECT_FALSE(r.Cut);
  }
  // A silence after a piece without its line end does not end the reply.
  ReplyReader r;
  EXPECT_EQ(Read(&r, Lines, 200, {{"uC: ATm", 0}}, 2000), ReplyNeedsMore);
}

TEST(ReplyReader, EveryReplyHasOneDeadlineFromItsCommand) {
  ReplyReader r;
  // Nothing: failed at the start limit, not a moment before.
  EXPECT_EQ(Read(&r, OneLine, 100, {}, ReplyStartLimit - 1), ReplyNeedsMore);
  EXPECT_EQ(Read(&r, OneLine, 100, {}, ReplyStartLimit), ReplyFailed);
  // Begun in time, but never ended: failed at the whole limit.
  EXPECT_EQ(Read(&r, OneLine, 100, {{"4", 2999}}, ReplyWholeLimit - 1),
            ReplyNeedsMore);
  EXPECT_EQ(Read(&r, OneLine, 100, {{"4", 2999}}, ReplyWholeLimit),
            ReplyFailed);
  // Lines at a line end when the deadline comes: taken, cut short.
  std::vector<Piece> slowLines;
  for (int at = 2000; at < ReplyWholeLimit; at += LineGapSettle - 10)
    slowLines.push_back({"Zeile\r\n", at});
  EXPECT_EQ(Read(&r, Lines, 200, slowLines, ReplyWholeLimit - 1),
            ReplyNeedsMore);
  EXPECT_EQ(Read(&r, Lines, 200, slowLines, ReplyWholeLimit), ReplyComplete);
  EXPECT_TRUE(r.Cut);
  // ... but not in the middle of a line.
  slowLines.push_back({"Zei", ReplyWholeLimit - 5});
  EXPECT_EQ(Read(&r, Lines, 200, slowLines, ReplyWholeLimit), ReplyFailed);
  // The wait asked for never passes a deadline.
  StartReply(&r, Lines, 200);
  int until = 0;
  EXPECT_EQ(JudgeReply(&r, 0, &until), ReplyNeedsMore);
  EXPECT_EQ(until, ReplyStartLimit);
  FeedReply(&r, (const unsigned char*)"a\r\n", 3, 100);
  EXPECT_EQ(JudgeReply(&r, 100, &until), ReplyNeedsMore);
  EXPECT_EQ(until, 100 + LineGapSettle);
}

// A trickle keeps no reply alive past its deadline, however slowly or
// quickly the bytes come.
TEST(ReplyReader, TricklesEndAtTheDeadline) {
  for (int gap : {2900, 5}) {
    SCOPED_TRACE(gap);
    ReplyReader r;
    StartReply(&r, OneLine, 200);
    int at = 0;
    int until = 0;
    while (JudgeReply(&r, at, &until) == ReplyNeedsMore) {
      FeedReply(&r, (const unsigned char*)"S", 1, at);
      at += gap;
      ASSERT_LE(at, ReplyWholeLimit + gap);
    }
    EXPECT_EQ(r.Verdict, ReplyFailed);
    EXPECT_GE(at, ReplyWholeLimit);
  }
  // A trickle of 5 ms that ends its line in time is a reply.
  std::vector<Piece> pieces;
  std::string status = "S00011000\r\n";
  for (size_t i = 0; i < status.size(); i++)
    pieces.push_back({status.substr(i, 1), (int)i * 5});
  ReplyReader r;
  EXPECT_EQ(Read(&r, OneLine, 200, pieces, 60), ReplyComplete);
  EXPECT_EQ(r.Bytes, status);
}

TEST(ReplyReader, ALearnedReplyIsWholeTheMomentItMatches) {
  ReplyShape learned = {ShapeLines, &Version};
  ReplyReader r;
  // Whole at once, in one piece or line by line: no silence waited for.
  EXPECT_EQ(Read(&r, learned, 200, {{Version, 7}}, 7), ReplyComplete);
  EXPECT_TRUE(r.MatchedLearned);
  EXPECT_FALSE(r.Changed);
  EXPECT_EQ(Read(&r, learned, 200,
                 {{"uC: ATmega32\r\n", 0},
                  {"Ver: 1.5\r\n", 300},
                  {"NIC: ENC28J60\r\n", 600}},
                 600),
            ReplyComplete);
  EXPECT_TRUE(r.MatchedLearned);
  // Longer than its receive, yet known: matched on every byte.
  std::string help;
  while (help.size() < 250) help += "HELP   Hilfetext zum Board\r\n";
  ReplyShape learnedHelp = {ShapeLines, &help};
  EXPECT_EQ(Read(&r, learnedHelp, 200, {{help, 0}}, 0), ReplyComplete);
  EXPECT_TRUE(r.MatchedLearned);
  EXPECT_EQ(r.Kept, 200);
  EXPECT_EQ(r.Thrown, (int)help.size() - 200);
}

TEST(ReplyReader, AChangedReplyFallsBackToTheSilence) {
  ReplyShape learned = {ShapeLines, &Version};
  struct Case {
    const char* What;
    std::string Bytes;
  } cases[] = {
      {"a byte differs", "uC: ATmega33\r\nVer: 1.5\r\nNIC: ENC28J60\r\n"},
      {"a stray line before it", "600\r\n" + Version},
      {"a line more", Version + "Build: 2\r\n"},
      {"a line less", "uC: ATmega32\r\nVer: 1.5\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ReplyReader r;
    EXPECT_EQ(Read(&r, learned, 200, {{c.Bytes, 0}}, LineGapSettle - 1),
              ReplyNeedsMore);
    EXPECT_EQ(Read(&r, learned, 200, {{c.Bytes, 0}}, LineGapSettle),
              ReplyComplete);
    EXPECT_TRUE(r.Changed);
    EXPECT_FALSE(r.MatchedLearned);
    EXPECT_EQ(r.Bytes, c.Bytes);
  }
}

TEST(ReplyReader, ExcessIsCountedAndAFloodFails) {
  ReplyReader r;
  std::string big(150, '7');
  // A one-line reply that fills its receive and falls silent without its
  // line feed: taken, cut, its excess counted.
  EXPECT_EQ(Read(&r, OneLine, 100, {{big, 0}}, LineGapSettle), ReplyComplete);
  EXPECT_EQ(r.Kept, 100);
  EXPECT_EQ(r.Thrown, 50);
  EXPECT_TRUE(r.Cut);
  std::string flood(2 * DiscardLimit, 'F');
  EXPECT_EQ(Read(&r, Lines, 200, {{flood, 0}}, 0), ReplyFailed);
}

}  // namespace
