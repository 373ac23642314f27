// The board's commands: the one switching of an output, the owed "off"s
// sent first on a new connection, and the console's raw command.
#pragma once

#include "base/state.h"

// One attempt at a new connection to the same address and port, at most
// ConnectLimit long with the windows served meanwhile. On success the
// commands that end something and could not reach the board before
// ("setport n.0" of OffOwed) go out first. False when the attempt failed
// or the connection was lost again; the next attempt is then due
// ReconnectInterval later.
bool Reconnect();
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
