// The console's exchange: a raw command typed by the operator, sent to the
// board, its reply shown.
#pragma once

// Button 92: sends the text of field 97 and shows the exchange, followed
// by a board query and its redraw.
void SendConsoleCommand();
