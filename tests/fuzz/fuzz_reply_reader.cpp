// Fuzzes the reply reader without sockets: the input chooses the reply's
// shape, its receive size, a learned reply, and then pieces of bytes with
// the times they came and moments the reader is asked for its verdict.
// Every verdict is checked against what the fed bytes say, worked out here
// from the bytes themselves: a reply is never whole before its end, never
// kept waiting once its end or a bound is there, never held for more than
// the bytes that came, and a verdict once in stays.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "board/reply_reader.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  fprintf(stderr, "reply reader: %s\n", what);
  abort();
}

struct Input {
  const uint8_t* Data;
  size_t Left;
  uint8_t Byte() {
    if (Left == 0) return 0;
    Left--;
    return *Data++;
  }
  int Number(int below) { return (int)((Byte() << 8 | Byte()) % below); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  uint8_t mode = in.Byte();
  int max = 1 + in.Number(300);
  std::string learned;
  ReplyShape shape = {mode % 3 == 0 ? ShapeOneLine : ShapeLines, nullptr};
  if (mode % 3 == 2) {
    int n = in.Byte();
    for (int i = 0; i < n; i++) learned += (char)in.Byte();
    shape.Learned = &learned;
  }
  ReplyReader r;
  StartReply(&r, shape, max);

  std::string fed;  // every byte the reader took
  int at = 0;
  int lastAt = -1;
  while (in.Left > 0) {
    at += in.Number(1200);
    int until = 0;
    ReplyVerdict v = JudgeReply(&r, at, &until);
    if (v == ReplyNeedsMore) {
      Check(until > at, "a wait that ends at once");
      // Nor is a reply kept waiting once its end or a bound is there.
      bool oneLineEnded =
          shape.Kind == ShapeOneLine && fed.find('\n') != std::string::npos;
      bool endable =
          (shape.Kind == ShapeLines && !fed.empty() && fed.back() == '\n') ||
          (int)fed.size() >= max;
      Check(!oneLineEnded, "a line not whole at its line feed");
      Check(!(shape.Learned && !fed.empty() && fed == learned),
            "a learned reply kept waiting");
      Check(!(endable && at - lastAt >= LineGapSettle),
            "a reply kept waiting past its silence");
      Check(at < ReplyWholeLimit && (!fed.empty() || at < ReplyStartLimit),
            "a reply kept waiting past its bound");
    }
    if (v == ReplyFailed) {
      Check((r.FirstAt < 0 && at >= ReplyStartLimit) || at >= ReplyWholeLimit ||
                r.Thrown > DiscardLimit,
            "failed before any bound");
    }
    if (v == ReplyComplete && !r.MatchedLearned) {
      bool feedSeen = !fed.empty() && fed.back() == '\n';
      if (shape.Kind == ShapeOneLine && fed.find('\n') != std::string::npos)
        feedSeen = true;
      Check(feedSeen || r.Total >= r.Max, "whole without an end");
      if (shape.Kind == ShapeLines && r.Total < r.Max && !r.Cut)
        Check(at - lastAt >= LineGapSettle, "whole before the silence");
    }
    if (v != ReplyNeedsMore) {
      // Once the verdict is in, later bytes and time change nothing.
      int total = r.Total;
      FeedReply(&r, (const unsigned char*)"x\n", 2, at);
      ReplyVerdict later = JudgeReply(&r, at + 1 + in.Number(9000), &until);
      Check(later == v && r.Total == total, "a verdict changed");
      break;
    }
    // A piece.
    int n = in.Byte() % 64;
    std::string piece;
    for (int i = 0; i < n; i++) {
      uint8_t b = in.Byte();
      piece += (char)(b < 16 ? '\n' : b);
    }
    if (piece.empty()) continue;
    FeedReply(&r, (const unsigned char*)piece.data(), (int)piece.size(), at);
    if (shape.Kind == ShapeOneLine) {
      size_t lf = piece.find('\n');
      Check((lf != std::string::npos && lf + 1 < piece.size()) == r.ExtraLine,
            "a line behind the line feed not noticed");
      if (lf != std::string::npos) piece.resize(lf + 1);
    }
    fed += piece;
    lastAt = at;
    Check(r.Total == (int)fed.size(), "bytes lost or made up");
    Check(r.Kept == (r.Total < max ? r.Total : max), "kept wrongly");
    Check(r.Thrown == r.Total - r.Kept, "thrown wrongly");
    Check(r.Bytes == fed.substr(0, ReplyKeepLimit), "bytes not as they came");
    if (r.MatchedLearned) Check(fed == learned, "matched what differs");
    if (shape.Learned && fed.size() <= learned.size() &&
        learned.compare(0, fed.size(), fed) == 0)
      Check(!r.Changed, "a prefix of the learned reply taken for changed");
  }
  return 0;
}
