// The commands of one board query as the board receives them, in their
// order: written out here, so that a query that sends another command, or
// the same ones in another order, fails the tests.
#pragma once

#include <string>
#include <vector>

// The fourteen commands of one board query without the display.
extern const std::vector<std::string> QueryCommands;

// The seventeen of one query with the board's display in use: after
// "Getmask" the display's "initlcd" and its two lines, the second with the
// local date and time `dateTime` ("06.12.2026/07:45").
std::vector<std::string> QueryCommandsWithDisplay(const std::string& dateTime);
