#include "board/reply_reader.h"

#include <cstring>

void StartReply(ReplyReader* r, ReplyShape shape, int max) {
  r->Shape = shape;
  if (shape.Kind != ShapeLines) r->Shape.Learned = nullptr;
  r->Max = max > 0 ? max : 0;
  r->Bytes.clear();
  r->Kept = 0;
  r->Thrown = 0;
  r->Total = 0;
  r->FirstAt = -1;
  r->LastAt = -1;
  r->AtLineEnd = false;
  r->ExtraLine = false;
  r->MatchedLearned = false;
  r->Changed = false;
  r->Cut = false;
  r->Verdict = ReplyNeedsMore;
}

// The bytes so far against the learned reply: whole the moment they equal
// it, changed the moment they part from it.
static void CompareWithLearned(ReplyReader* r) {
  const Text* learned = r->Shape.Learned;
  if (!learned || r->Changed) return;
  if (r->Total > (int)r->Bytes.size() || r->Bytes.size() > learned->size() ||
      learned->compare(0, r->Bytes.size(), r->Bytes) != 0) {
    r->Changed = true;
    return;
  }
  if (r->Bytes.size() == learned->size()) {
    r->MatchedLearned = true;
    r->Verdict = ReplyComplete;
  }
}

void FeedReply(ReplyReader* r, const unsigned char* bytes, int length, int at) {
  if (r->Verdict != ReplyNeedsMore || length <= 0) return;
  if (r->Shape.Kind == ShapeOneLine) {
    // The reply ends at its first line feed; what came with it behind
    // that is a line no command asked for.
    const void* feed = memchr(bytes, '\n', (size_t)length);
    if (feed) {
      int upTo = (int)((const unsigned char*)feed - bytes) + 1;
      if (upTo < length) r->ExtraLine = true;
      length = upTo;
      r->Verdict = ReplyComplete;
    }
  }
  if (r->FirstAt < 0) r->FirstAt = at;
  r->LastAt = at;
  r->Total += length;
  int room = ReplyKeepLimit - (int)r->Bytes.size();
  int keep = length < room ? length : room;
  r->Bytes.append((const char*)bytes, (size_t)keep);
  int kept = r->Total < r->Max ? r->Total : r->Max;
  r->Thrown = r->Total - kept;
  r->Kept = kept;
  r->AtLineEnd = bytes[length - 1] == '\n';
  if (r->Shape.Kind == ShapeLines) CompareWithLearned(r);
  // A board that keeps sending is not answering a command.
  if (r->Thrown > DiscardLimit) r->Verdict = ReplyFailed;
}

ReplyVerdict JudgeReply(ReplyReader* r, int at, int* until) {
  if (r->Verdict != ReplyNeedsMore) return r->Verdict;
  int next = ReplyWholeLimit;
  if (r->FirstAt < 0) {
    if (at >= ReplyStartLimit) return r->Verdict = ReplyFailed;
    next = ReplyStartLimit;
  } else if ((r->Shape.Kind == ShapeLines && r->AtLineEnd) ||
             r->Total >= r->Max) {
    // Whole once a line end (or a full receive) is followed by silence. A
    // one-line reply that filled its receive without its line feed is
    // taken so too, and more of it may still come.
    int settled = r->LastAt + LineGapSettle;
    bool atDeadline = at >= ReplyWholeLimit;
    if (at >= settled ||
        (atDeadline && r->Shape.Kind == ShapeLines && r->AtLineEnd)) {
      if (at < settled || r->Shape.Kind == ShapeOneLine) r->Cut = true;
      if (r->Shape.Learned) r->Changed = true;  // it did not match
      return r->Verdict = ReplyComplete;
    }
    if (atDeadline) return r->Verdict = ReplyFailed;
    if (settled < next) next = settled;
  } else if (at >= ReplyWholeLimit) {
    return r->Verdict = ReplyFailed;
  }
  if (until) *until = next;
  return ReplyNeedsMore;
}
