#include "board/reply_driver.h"

#include <cstring>

#include "base/sleep_clock.h"
#include "base/wait_service.h"
#include "board/link.h"
#include "board/reply_reader.h"

// The board's replies carry no name: they belong to the commands by their
// order alone. So a reply is read whole, never cut where the next command
// would take its rest: its end is told by its shape (board/reply_reader.h).
// A reply too long for its receive is read to its end just the same and
// the excess thrown away; bytes behind the line feed of a one-line reply
// are an extra line no command asked for. Either puts the link in doubt.
// A board that does not begin its reply within ReplyStartLimit, does not
// end it within ReplyWholeLimit, or keeps sending past DiscardLimit bytes,
// is taken for gone: only a new connection is sure to be in step.
const ReplyShape OneLineReply = {ShapeOneLine, nullptr};
const ReplyShape LinesReply = {ShapeLines, nullptr};

static TickCount ReplyEnd;

TickCount LastReplyByteTime() { return ReplyEnd; }

// How long a reply took: a one-line reply to its line feed, one of lines
// to its first byte.
static int ReplyTime(const ReplyReader& r) {
  return r.Shape.Kind == ShapeOneLine ? r.LastAt : r.FirstAt;
}

ReceivedReply ReceiveReply(const ReplyBuffer* buffer, int max,
                           ReplyShape shape) {
  ReceivedReply v{};
  if (!BoardConnected() || !buffer->Bytes) return v;
  if (max > buffer->Size) max = buffer->Size;
  if (max <= 0) return v;
  ReplyReader* r = &v.Read;
  StartReply(r, shape, max);
  int sleeps = SleepsFound();
  PlatSocket s = AppState.Link.BoardConnection;
  unsigned char piece[512];
  WaitClock clock = StartWaitClock();
  WaitFor bytes = WaitForBytesOn(s, piece, (int)sizeof piece);
  for (;;) {
    int until = 0;
    if (JudgeReply(r, WaitTime(clock), &until) != ReplyNeedsMore) break;
    WaitEnd end = ServedWait(&clock, until, &bytes);
    if (end == WaitCame) {
      ReplyEnd = PlatTickCount();
      FeedReply(r, piece, bytes.Got, WaitTime(clock));
    } else if (end == WaitClosed) {
      LoseConnection();
      return v;
    }
  }
  if (r->Verdict != ReplyComplete) {
    LoseConnection();
    return v;
  }
  memcpy(buffer->Bytes, r->Bytes.data(), (size_t)r->Kept);
  NoteReplyTime(ReplyTime(*r));
  // A reply too long for its receive was still read to its end: the link
  // is in doubt, unless it is the reply learned on this connection, but
  // the reply counts as its command's if its form says so. So it is after
  // a reply that changed or was taken at its deadline. A line behind a
  // one-line reply is one no command asked for.
  if ((r->Thrown > 0 && !r->MatchedLearned) || r->Changed || r->Cut)
    v.InDoubt = true;
  if (r->ExtraLine) v.Faulty = v.InDoubt = true;
  if (SleepsFound() != sleeps) v.InDoubt = true;
  v.Kept = r->Kept;
  return v;
}

bool DiscardWaitingBytes() {
  if (!BoardConnected()) return false;
  return PlatDiscardPending(AppState.Link.BoardConnection) > 0;
}

int ProofQuietTime() {
  int quiet = 2 * AppState.Link.SlowestReply;
  if (quiet < LinkQuietTime) quiet = LinkQuietTime;
  if (quiet > ReplyStartLimit) quiet = ReplyStartLimit;
  return quiet;
}

int WaitUntilQuiet(int quietMs) {
  return WaitUntilQuiet(quietMs, PlatTickCount());
}

int WaitUntilQuiet(int quietMs, TickCount notBefore) {
  if (!BoardConnected()) return LinkLost;
  int sleeps = SleepsFound();
  unsigned char scrap[DiscardPiece];
  WaitClock clock = StartWaitClock();
  WaitFor bytes =
      WaitForBytesOn(AppState.Link.BoardConnection, scrap, DiscardPiece);
  // The quiet runs at least to `notBefore`; a board that keeps talking is
  // given ReplyStartLimit and the quiet beyond that.
  int32_t least = (int32_t)(notBefore - clock.Start);
  if (least < 0) least = 0;
  int quietFrom = 0;  // the time of the last byte, or the start
  int thrown = 0;
  for (;;) {
    int now = WaitTime(clock);
    if (now - quietFrom >= quietMs && now >= least) break;
    // A board that keeps talking is not in step and will not come back
    // into it by itself.
    if (thrown > DiscardLimit || now >= least + ReplyStartLimit + quietMs) {
      LoseConnection();
      return LinkLost;
    }
    int until = quietFrom + quietMs;
    if (least > until) until = least;
    if (until > least + ReplyStartLimit + quietMs)
      until = least + ReplyStartLimit + quietMs;
    WaitEnd end = ServedWait(&clock, until, &bytes);
    if (end == WaitCame) {
      thrown += bytes.Got;
      quietFrom = WaitTime(clock);
    } else if (end == WaitClosed) {
      LoseConnection();
      return LinkLost;
    }
  }
  if (SleepsFound() != sleeps) return LinkQuietAcrossSleep;
  return thrown > 0 ? LinkQuietAfterBytes : LinkQuiet;
}

Text ReplyText(const ReplyBuffer* buffer) {
  if (!buffer->Bytes) return Text();
  const void* zero = memchr(buffer->Bytes, 0, buffer->Size);
  size_t n = zero ? (const unsigned char*)zero - buffer->Bytes : buffer->Size;
  return Text((const char*)buffer->Bytes, n);
}
