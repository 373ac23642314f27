// The one TCP connection to the board and the exchange operations on it.
// Every conversation is one command, then exactly one receive.
#pragma once

#include "app/state.h"

// Resolves `address` (dotted IPv4 first, then a host name lookup);
// 255.255.255.255 counts as not resolvable.
bool ResolveBoardAddress(const Text& address, uint32_t* resolved);

// The address check of start-up: a datagram socket for the address, set
// non-blocking and kept unused until the networking cleanup.
bool CheckBoardAddress(const Text& address, int port);

// Opens the TCP connection; NoSocket when it cannot be opened.
PlatSocket OpenConnection(const Text& address, int port);

// Waits, within the pass's allowance, for a late reply the board still
// owes and throws it away. False while it is still owed: an exchange of
// the board query is then left out, so that the query never talks over a
// board that has not answered yet.
bool BringIntoStep();
// Before a board query: once no late reply is owed, throws away whatever
// is already waiting on the connection, so that the query starts in step
// with the board. Within a query, the rest of a reply still begins the
// next command's reply.
void CatchUpWithBoard();
// Sends `keyword` followed by the command suffix, in one send call; also
// while a late reply is still owed (what the operator or the cycle caused
// always goes out).
void SendCommand(const Text& keyword);
// Writes `text` and one zero byte at the start of CommandBuffer, then sends
// all 100 bytes of it. A text of more than 99 bytes is cut to 99.
void SendBlock(const Text& text);
// One receive of at most `max` bytes into `buffer` from its first byte on.
// Returns the bytes delivered, 0 when none (closed, failed or no reply
// within the bounded wait). The buffer is not cleared before.
int ReceiveReply(ReplyBuffer* buffer, int max);
// The buffer's bytes up to the first zero byte, or to its end.
Text ReplyText(const ReplyBuffer* buffer);
void CloseConnection();

// Gives the main loop's new pass its allowance for waiting on the board.
void RenewReplyWait();

// The five bytes that end every command sent as text: a blank, backslash,
// r, backslash, n (20 5C 72 5C 6E).
extern const char CommandSuffix[6];
