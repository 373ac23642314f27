// The console for raw board commands.
#pragma once

// Button 92: sends the text of field 97 and shows the exchange.
void SendConsoleCommand();
// Button 93: shows the command summary.
void ShowCommandOverview();
