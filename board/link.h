// The one TCP connection to the board: connecting, sending a command,
// closing, and its loss.
#pragma once

#include "base/state.h"

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

// The connection of start-up to the board's address and port, given up
// after `limitMs`: true when it is open.
bool OpenBoardConnection(int limitMs);
// A new connection after a loss, given up after ConnectLimit: true when it
// is open (counted, nothing learned on the old one holds); when not, the
// next attempt is due ReconnectInterval later.
bool ConnectAgain();
// The next attempt to connect again is due at `tick`.
void ReconnectAt(TickCount tick);
// Closes the address check's datagram socket, at the end.
void CloseAddressCheck();

// True while the connection to the board is open.
bool BoardConnected();
// The connection is gone (closed or reset by the board, a send failed, or
// a reply did not begin within ReplyStartLimit): closes it, forgets the
// board data (the next ShowBoard shows the loss) and sets the time of the
// next attempt to reconnect.
void LoseConnection();
// What was learned of the board on one connection (how fast it answers,
// its Help and Version texts) holds for that connection alone: forgets it.
void ForgetConnectionKnowledge();
// A reply on this connection took `ms` (board/reply_driver.h,
// ProofQuietTime): the slowest is kept.
void NoteReplyTime(int ms);
// The reply of lines in `slot` (board/reply_reader.h) learned on this
// connection as `bytes`, or learned no more (it came changed).
void LearnReply(int slot, const Text& bytes);
void UnlearnReply(int slot);
// The tick count when the last command went out.
TickCount LastCommandTime();
// Sends `keyword` followed by the command suffix, in one send call. False
// when there is no connection or the send failed (the connection is then
// lost).
bool SendCommand(const Text& keyword);
// Writes `text` and one zero byte at the start of CommandBuffer, then sends
// all 100 bytes of it. A text of more than 99 bytes is cut to 99.
bool SendBlock(const Text& text);
// Closes the connection at the normal end (no command before).
void CloseConnection();

// The five bytes that end every command sent as text: a blank, backslash,
// r, backslash, n (20 5C 72 5C 6E).
extern const char CommandSuffix[6];
