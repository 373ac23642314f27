// The exchange's receiving half on the board's connection: a reply read
// whole, the waiting bytes thrown away, and the quiet that proves the
// link in step. Every conversation is one command, then exactly one
// receive.
#pragma once

#include "base/state.h"
#include "board/reply_reader.h"

// The receiving half reports what it found; board/poll.cpp alone decides
// from that whether the link is in doubt (AppState.Query.LinkInDoubt).
//
// Before a board query: throws away whatever is already waiting on the
// connection (a piece that came too late to belong to its reply, bytes the
// board sent unasked), without waiting for more. True when there was
// something: the link is in doubt then.
bool DiscardWaitingBytes();
// Proves the link in step: waits until nothing has come for `quietMs`,
// throwing away what comes meanwhile, which clears the doubt. A board
// that does not go quiet within ReplyStartLimit more (or sends more than
// DiscardLimit bytes) is taken for gone: the connection is lost. The
// windows are served meanwhile.
// With `notBefore`, the quiet also lasts at least until that tick: after
// a query a decision rides on, every reply a living board could still owe
// to it has begun by ReplyStartLimit after its last command.
// A quiet across a sleep of the PC proves nothing (the board may have said
// anything meanwhile, or lost its outputs): LinkQuietAcrossSleep, and the
// link is in doubt.
enum {
  LinkLost = -1,
  LinkQuiet = 0,
  LinkQuietAfterBytes = 1,
  LinkQuietAcrossSleep = 2
};
int WaitUntilQuiet(int quietMs);
int WaitUntilQuiet(int quietMs, TickCount notBefore);
// The quiet that proves a query a decision rides on in step: longer than
// any reply has taken on this connection, twice that, so that a reply
// left over at the end by an extra line lands inside it; at least
// LinkQuietTime, at most ReplyStartLimit (by which every reply of a board
// that still lives has begun).
int ProofQuietTime();
// One whole reply, its first `max` bytes into `buffer` from its first
// byte on, its end told by `shape` (board/reply_reader.h): OneLineReply,
// LinesReply, or lines with the reply learned on this connection. Waits
// for it at most ReplyStartLimit to begin and ReplyWholeLimit to be whole,
// counted from the call, serving the windows at least every ServeSlice
// whether bytes come or not. The buffer is not cleared before.
// Its verdict: Kept, the bytes kept, 0 when there is no connection or it
// was lost (closed, reset, silent, or a reply not whole in time); Read,
// how the reply came; InDoubt, the link is in doubt after it: bytes
// beyond `max` were thrown away (unless the reply is the one learned), a
// learned reply came changed, a reply of lines was taken at its deadline,
// a line came behind a one-line reply (Faulty too: a faulty reply), or
// the wait spanned a sleep of the PC.
struct ReceivedReply {
  int Kept;
  bool InDoubt;
  bool Faulty;
  ReplyReader Read;
};
extern const ReplyShape OneLineReply;
extern const ReplyShape LinesReply;
ReceivedReply ReceiveReply(const ReplyBuffer* buffer, int max,
                           ReplyShape shape);
// The tick count when the last byte of the last reply came.
TickCount LastReplyByteTime();
// The buffer's bytes up to the first zero byte, or to its end.
Text ReplyText(const ReplyBuffer* buffer);
