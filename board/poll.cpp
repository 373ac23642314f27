#include "board/poll.h"

#include <utility>

#include "base/clock_text.h"
#include "base/sleep_clock.h"
#include "base/state.h"
#include "board/link.h"
#include "board/query_table.h"
#include "board/readings.h"
#include "board/reply_driver.h"
#include "board/reply_forms.h"

// The link's doubt is written here alone, from what the receiving half
// found (board/reply_driver.h) and what the handlers tell.
void TakeReplyVerdict(const ReceivedReply& reply) {
  if (reply.Faulty) AppState.Query.ReplyFaults++;
  if (reply.InDoubt) AppState.Query.LinkInDoubt = true;
}

void NoteFaultyReply() {
  AppState.Query.ReplyFaults++;
  AppState.Query.LinkInDoubt = true;
}

void DoubtTheLink() { AppState.Query.LinkInDoubt = true; }

void TrustNewConnection() { AppState.Query.LinkInDoubt = false; }

// The quiet that proves the link in step clears the doubt; one across a
// sleep of the PC leaves it in doubt; a loss changes nothing of it.
static int QuietLink(int quietMs, TickCount notBefore) {
  int quiet = WaitUntilQuiet(quietMs, notBefore);
  if (quiet == LinkQuietAcrossSleep)
    AppState.Query.LinkInDoubt = true;
  else if (quiet != LinkLost)
    AppState.Query.LinkInDoubt = false;
  return quiet;
}

// A reply of the query running came cut, or with a line behind it: its
// framing is not proven.
static bool ReplyUnframed;

static void NoteFraming(const ReceivedReply& reply) {
  if (reply.Kept >= 1 && (reply.Read.ExtraLine || reply.Read.Cut))
    ReplyUnframed = true;
}

// One exchange of the board query: the reply text is what this receive
// delivered, ended by a zero byte written after it where it fits; when
// nothing arrived (the connection is lost), the buffer's previous text.
// `delivered` tells which, `read` how the reply came. `shape` as for
// ReceiveReply.
static Text Exchange(const Text& keyword, const ReplyBuffer* buffer, int max,
                     ReplyShape shape, bool* delivered = nullptr,
                     ReplyReader* read = nullptr) {
  if (delivered) *delivered = false;
  if (!SendCommand(keyword)) return ReplyText(buffer);
  ReceivedReply reply = ReceiveReply(buffer, max, shape);
  TakeReplyVerdict(reply);
  NoteFraming(reply);
  int n = reply.Kept;
  if (read) *read = std::move(reply.Read);
  if (n >= 1 && n < buffer->Size) buffer->Bytes[n] = 0;
  // A reply whose connection was found gone right after it (the board
  // closed it behind the reply) is not taken: the displays already show
  // the loss.
  if (delivered) *delivered = n >= 1 && BoardConnected();
  return ReplyText(buffer);
}

static Text BlockExchange(const Text& text) {
  const ReplyBuffer* b = &Settings().LcdReplyBuffer;
  if (!SendBlock(text)) return ReplyText(b);
  ReceivedReply reply = ReceiveReply(b, LcdReplyBufferSize, OneLineReply);
  TakeReplyVerdict(reply);
  NoteFraming(reply);
  int n = reply.Kept;
  if (n >= 1 && n < b->Size) b->Bytes[n] = 0;
  return ReplyText(b);
}

static void WriteDisplay() {
  Exchange("initlcd", &Settings().LcdReplyBuffer, LcdReplyBufferSize,
           OneLineReply);
  AppState.Query.LcdLine1Command = "writelcd 1.** KORVALINEX **";
  BlockExchange(AppState.Query.LcdLine1Command);
  AppState.Query.LcdLine2Command =
      "writelcd 2." + DisplayDateTimeText(PlatLocalClock());
  BlockExchange(AppState.Query.LcdLine2Command);
}

static bool InForm(QueryReplyForm form, const Text& reply) {
  switch (form) {
    case FormAnyLines:
      return true;
    case FormAddress:
      return IsAddressReply(reply);
    case FormStatus:
      return IsStatusReply(reply);
    case FormCount:
      return IsCountReply(reply);
    case FormInput:
      return IsInputReply(reply);
  }
  return false;
}

// What a query learned of the board's replies of lines, taken as learned
// once the query is proven in step.
struct QueryReplies {
  bool Read[LearnedReplyCount];  // read by the silence rule, whole
  Text Bytes[LearnedReplyCount];
  bool Changed;  // a learned reply came different
};

// The shape of an exchange's reply: one line, or lines, with the reply
// learned on this connection where there is one.
static ReplyShape ShapeOf(const QueryExchange& e) {
  if (e.Form != FormAnyLines) return OneLineReply;
  ReplyShape shape = LinesReply;
  if (e.LearnSlot >= 0 && AppState.Link.ReplyLearned[e.LearnSlot]) {
    const Text& learned = AppState.Link.LearnedReply[e.LearnSlot];
    shape.Learned = &learned;
  }
  return shape;
}

// A reply of lines as it came: one read by the silence rule may be
// learned; a learned one that came changed is learned anew.
static void NoteLines(const QueryExchange& e, const ReplyReader& r,
                      QueryReplies* replies) {
  if (e.LearnSlot < 0) return;
  if (r.MatchedLearned) return;
  if (r.Changed) {
    replies->Changed = true;
    UnlearnReply(e.LearnSlot);
  }
  if (!r.Cut && r.Total <= ReplyKeepLimit) {
    replies->Read[e.LearnSlot] = true;
    replies->Bytes[e.LearnSlot] = r.Bytes;
  }
}

// One exchange of the list. A reply that did not come changes nothing: the
// inputs share one buffer each, so an input without its reply keeps its own
// last value instead of showing the previous input's. A reply that came is
// shown as it is, whatever its form; one of the wrong form counts as a
// faulty reply. False when no reply came.
static bool RunExchange(const QueryExchange& e, uint32_t queryStart,
                        QueryReplies* replies) {
  bool delivered;
  ReplyReader read;
  Text reply = Exchange(e.Keyword, &(Settings().*e.Buffer), e.ReceiveMax,
                        ShapeOf(e), &delivered, &read);
  if (!delivered) return false;
  if (e.Form == FormAnyLines) NoteLines(e, read, replies);
  if (!InForm(e.Form, reply)) NoteFaultyReply();
  switch (e.Use) {
    case ReplyTimesTheBoard:
      TakePingTime((int32_t)(LastReplyByteTime() - queryStart));
      break;
    case ReplyIsBoardText:
      TakeBoardText(e.TextField, reply);
      break;
    case ReplyIsOutputStatus:
      TakeOutputStatus(reply);
      break;
    case ReplyIsAnalogInput:
      TakeAnalogInput(e.Channel, reply);
      break;
    case ReplyIsDigitalInput:
      TakeDigitalInput(e.Channel, reply);
      break;
  }
  return true;
}

// How the replies of one query came: every one of them whole as its
// command's shape tells (Framed), and each also of its command's form
// (InForm).
struct QueryVerdict {
  bool Framed;
  bool InForm;
};

// The exchanges of the list, with the display's between them when it is
// in use.
static QueryVerdict RunQuery(QueryReplies* replies) {
  ReadingsOfNewQuery();
  *replies = QueryReplies();
  ReplyUnframed = false;
  int faults = AppState.Query.ReplyFaults;
  bool all = true;
  uint32_t queryStart = PlatTickCount();
  for (int i = 0; i < BoardQueryLength; i++) {
    if (i == DisplayExchangesAfter && Settings().LcdEnabled) WriteDisplay();
    if (!RunExchange(BoardQuery[i], queryStart, replies)) all = false;
  }
  QueryVerdict v;
  v.Framed = all && !replies->Changed && !ReplyUnframed && BoardConnected();
  v.InForm = v.Framed && AppState.Query.ReplyFaults == faults;
  return v;
}

static bool AllRepliesLearned() {
  for (int i = 0; i < LearnedReplyCount; i++)
    if (!AppState.Link.ReplyLearned[i]) return false;
  return true;
}

// A plain query takes the replies learned on this connection as they come.
// Until they are learned (the first query of a connection, or after one
// came changed), it is proven in step as a decision query is, and learns
// them.
void PollBoard() {
  if (BoardConnected() && !AllRepliesLearned()) {
    PollBoardProven();
    return;
  }
  if (DiscardWaitingBytes()) DoubtTheLink();
  QueryReplies replies;
  RunQuery(&replies);
}

// The board's replies carry no name, so a reading is proven its command's
// by the count and form of the replies around it: the link quiet before
// the query (after any doubt), every reply whole and of its command's
// form, the learned replies as learned, and nothing behind the last one.
// A reply owed to an earlier command or an extra line anywhere would leave
// a reply over at the end. `notBefore`: the quiet after the query lasts at
// least to then. The framing alone (every reply whole, nothing behind)
// proves the replies of lines the board's own, whatever the forms of the
// inputs: they are learned then.
static bool ProveQuery(bool decision) {
  int sleeps = SleepsFound();
  bool waiting = DiscardWaitingBytes();
  if (waiting) DoubtTheLink();
  QueryReplies replies;
  if ((waiting || AppState.Query.LinkInDoubt) &&
      QuietLink(ProofQuietTime(), PlatTickCount()) == LinkLost) {
    RunQuery(&replies);  // nothing goes out: the loss is shown
    return false;
  }
  QueryVerdict v = RunQuery(&replies);
  if (!BoardConnected()) return false;
  // A reply held back on its way (a retransmission of the link) may come
  // as late as a living board may take to begin one: after a query a
  // decision rides on, the quiet lasts to ReplyStartLimit after its last
  // command, so that no reply it could still owe comes after the proof.
  TickCount notBefore = PlatTickCount();
  if (decision) notBefore = LastCommandTime() + (TickCount)ReplyStartLimit;
  int behind = QuietLink(ProofQuietTime(), notBefore);
  if (behind == LinkQuietAfterBytes) NoteFaultyReply();
  bool framed = v.Framed && behind == LinkQuiet;
  // A query the PC slept through proves nothing of the board as it is now.
  if (SleepsFound() != sleeps) framed = false;
  AppState.Query.LinkInDoubt = !framed || !v.InForm;
  TakeLevelProven(framed && v.InForm);
  // What a query proven in step read is the board's own: its replies of
  // lines are learned for the connection.
  if (framed) {
    for (int i = 0; i < LearnedReplyCount; i++) {
      if (!replies.Read[i]) continue;
      LearnReply(i, replies.Bytes[i]);
    }
  }
  return AppState.Readings.LevelProven;
}

bool PollBoardProven() { return ProveQuery(false); }

bool PollBoardForDecision() { return ProveQuery(true); }
