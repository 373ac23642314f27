// The one TCP connection to the board and the exchange operations on it.
// Every conversation is one command, then exactly one receive.
#pragma once

#include "base/state.h"
#include "board/reply_reader.h"

// Resolves `address` (dotted IPv4 first, then a host name lookup);
// 255.255.255.255 counts as not resolvable.
bool ResolveBoardAddress(const Text& address, uint32_t* resolved);

// The address check of start-up: a datagram socket for the address, set
// non-blocking and kept unused until the networking cleanup.
bool CheckBoardAddress(const Text& address, int port);

// Opens the TCP connection, giving the connect at most `limitMs` and
// serving the windows every ServeSlice while it waits; NoSocket when the
// address cannot be resolved, the connect fails or the time is up.
PlatSocket ConnectBounded(const Text& address, int port, int limitMs);

// True while the connection to the board is open.
bool BoardConnected();
// The connection is gone (closed or reset by the board, a send failed, or
// a reply did not begin within ReplyStartLimit): closes it, forgets the
// board data (the next ShowBoard shows the loss) and sets the time of the
// next attempt to reconnect.
void LoseConnection();
// One attempt at a new connection to the same address and port, at most
// ConnectLimit long with the windows served meanwhile. On success the
// commands that end something and could not reach the board before
// ("setport n.0" of OffOwed) go out first. False when the attempt failed
// or the connection was lost again; the next attempt is then due
// ReconnectInterval later.
bool Reconnect();
// Before a board query: throws away whatever is already waiting on the
// connection (a piece that came too late to belong to its reply, bytes the
// board sent unasked), without waiting for more. True when there was
// something; the link is then in doubt.
bool DiscardWaitingBytes();
// Proves the link in step: waits until nothing has come for `quietMs`,
// throwing away what comes meanwhile, and so clears the doubt. A board
// that does not go quiet within ReplyStartLimit more (or sends more than
// DiscardLimit bytes) is taken for gone: the connection is lost. The
// windows are served meanwhile.
// With `notBefore`, the quiet also lasts at least until that tick: after
// a query a decision rides on, every reply a living board could still owe
// to it has begun by ReplyStartLimit after its last command.
// A quiet across a sleep of the PC proves nothing (the board may have said
// anything meanwhile, or lost its outputs): LinkQuietAcrossSleep, and the
// doubt stays.
enum {
  LinkLost = -1,
  LinkQuiet = 0,
  LinkQuietAfterBytes = 1,
  LinkQuietAcrossSleep = 2
};
int WaitUntilQuiet(int quietMs);
int WaitUntilQuiet(int quietMs, TickCount notBefore);
// The tick count when the last command went out.
TickCount LastCommandTime();
// The quiet that proves a query a decision rides on in step: longer than
// any reply has taken on this connection, twice that, so that a reply
// left over at the end by an extra line lands inside it; at least
// LinkQuietTime, at most ReplyStartLimit (by which every reply of a board
// that still lives has begun).
int ProofQuietTime();
// Sends `keyword` followed by the command suffix, in one send call. False
// when there is no connection or the send failed (the connection is then
// lost).
bool SendCommand(const Text& keyword);
// Writes `text` and one zero byte at the start of CommandBuffer, then sends
// all 100 bytes of it. A text of more than 99 bytes is cut to 99.
bool SendBlock(const Text& text);
// One whole reply, its first `max` bytes into `buffer` from its first
// byte on, its end told by `shape` (board/reply_reader.h): OneLineReply,
// LinesReply, or lines with the reply learned on this connection. Waits
// for it at most ReplyStartLimit to begin and ReplyWholeLimit to be whole,
// counted from the call, serving the windows at least every ServeSlice
// whether bytes come or not. Bytes beyond `max` are thrown away and put
// the link in doubt (AppState.LinkInDoubt), unless the reply is the one
// learned; so do a learned reply that came changed and a reply of lines
// taken at its deadline. A line behind a one-line reply's line feed is
// thrown away and counts as a faulty reply (AppState.ReplyFaults).
// Returns the bytes kept; 0 when there is no connection or it was lost
// (closed, reset, silent, or a reply not whole in time). The buffer is
// not cleared before. LastReplyRead() tells how the reply came. A reply
// whose wait spans a sleep of the PC puts the link in doubt.
extern const ReplyShape OneLineReply;
extern const ReplyShape LinesReply;
int ReceiveReply(ReplyBuffer* buffer, int max, ReplyShape shape);
const ReplyReader& LastReplyRead();
// A reply was found not to be its command's (of the wrong form, or more
// than its command asked for): counted, and the link is in doubt.
void NoteFaultyReply();
// The tick count when the last byte of the last reply came.
TickCount LastReplyByteTime();
// Every switching of an output goes through SetPort: "setport n.1" or
// "setport n.0" (n 1..8) and its one-line reply into CommandBuffer.
// PortNotSent (0, so it reads as false) when it did not complete: no
// connection, or lost meanwhile; PortRefused when the reply came but is
// not the board's acknowledgement (board/reply_forms.h, "ERR"): the board
// did not take it; PortInDoubt when a line no command asked for came
// behind the reply's own (an "OK" and an "ERR" together): which of them is
// the board's answer cannot be told, so the command counts neither as taken
// nor as refused; PortAcknowledged. With OweOff, output n's "off" is
// owed from now on (an "on" that may reach the board, or an "off" that
// must): while owed, it goes out first on the next connection
// (Reconnect). An "off" the board acknowledged is owed no longer.
enum PortDebt { OweNothing, OweOff };
enum PortReply { PortNotSent = 0, PortRefused, PortInDoubt, PortAcknowledged };
PortReply SetPort(int output, bool on, PortDebt debt);
// The console's raw command: a display command (WriteLCD in any case)
// goes out as a 100-byte block, any other as text. Its reply is read whole
// (LinesReply), its first CommandBufferSize bytes into CommandBuffer,
// which is filled with blanks first; the link is in doubt after it.
// Returns the bytes received, 0 when none came.
int ConsoleExchange(const Text& command);
// The buffer's bytes up to the first zero byte, or to its end.
Text ReplyText(const ReplyBuffer* buffer);
// Closes the connection at the normal end (no command before).
void CloseConnection();

// The five bytes that end every command sent as text: a blank, backslash,
// r, backslash, n (20 5C 72 5C 6E).
extern const char CommandSuffix[6];
