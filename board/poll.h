// The board query: reads the whole board into the state record. It draws
// nothing; ui/board_view shows what it read.
#pragma once

#include "board/reply_driver.h"
#include "platform/platform.h"

// The link's doubt (AppState.Query.LinkInDoubt: something came that no command
// asked for, or might still come) and the count of faulty replies
// (AppState.Query.ReplyFaults) are written here alone. A reply's verdict: a
// faulty one is counted, one in doubt puts the link in doubt.
void TakeReplyVerdict(const ReceivedReply& reply);
// A reply found not to be its command's (of the wrong form, or more than
// its command asked for): counted, and the link is in doubt.
void NoteFaultyReply();
// Something may still come that no command of the program's asked for (a
// console exchange, the board's talk while the PC slept).
void DoubtTheLink();
// A new connection carries nothing of the old one: the link is in step.
void TrustNewConnection();

// The exchanges of BoardQuery in their order, with the display's between
// them when it is in use. What was waiting on the link before is thrown
// away; a reply of the wrong form puts the link in doubt. Until the Help
// and Version replies are learned on the connection, it runs as
// PollBoardProven and learns them.
void PollBoard();
// The same query proven in step: the link quiet before it (when in doubt)
// and after it (ProofQuietTime). True, and AppState.Readings.LevelProven set,
// when every reply came whole and of its command's form and nothing behind:
// LevelVoltage is then the board's answer to this query's GETADC 1. Help
// and Version are learned once the replies came whole and nothing behind,
// whatever the forms of the others.
bool PollBoardProven();
// The query a decision on the level rides on: proven as above, and the
// quiet after it lasts at least ReplyStartLimit after its last command, so
// that a reply held back on the way, which a living board may still owe
// to the query, cannot come after the proof.
bool PollBoardForDecision();
