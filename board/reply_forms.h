// The forms of the board's one-line replies. A reply of the wrong form
// may belong to another command: the query it came in is then not taken
// for proof of anything. Each form is one line, ended by a line feed with
// or without a carriage return before it, and nothing else.
#pragma once

#include "base/state.h"

// GETADC n: the converter's count, 1 to 4 decimal digits, 0..1023.
bool IsCountReply(const Text& reply);
// GETPORT n: the input's state, 0 or 1, alone on its line. Nothing may
// follow the digit: bytes the board sent where no reply was due, run into
// the next reply, must not pass for it.
bool IsInputReply(const Text& reply);
// Getstatus: a letter, then one digit 0 or 1 per output, output 8 first
// ("S00011000").
bool IsStatusReply(const Text& reply);
// Getip, Getgw, Getmask: a dotted IPv4 address ("192.168.1.50").
bool IsAddressReply(const Text& reply);
// A setport: the board's acknowledgement, "OK" alone on its line (in any
// case). Anything else ("ERR", a line of another form) means the board did
// not take the command.
bool IsAckReply(const Text& reply);
