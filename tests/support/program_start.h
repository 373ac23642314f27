// The program's start-up as the tests, the fuzz harnesses and the
// benchmarks need it: the steps the program itself takes, in its order,
// without the connection notice, the picture, the click and the main loop,
// and without a message box when a step fails.
#pragma once

#include <string>

// How far StartLink goes.
enum class StartUpTo { Connection, MainWindow };

// The program's state on the headless platform as it stands: zeroed, the
// platform's facilities started and the defaults in place.
void StartState();

// A fresh headless platform whose board listens on loopback port
// `boardPort` (the build's port when 0), then StartState.
void StartFresh(int boardPort = 0);

// After StartState: networking started, the connection to the board at
// AppState's address and port opened, the main window built, as far as
// `last`. Returns what failed first, "" when every step went.
std::string StartLink(StartUpTo last = StartUpTo::MainWindow);

// The level sensor as after its warm-up: the guard has switched it on and
// the board's status has shown it on for two ticks, so that EvaluateLevel,
// called by itself, reads the level (the board must show output 3 on).
void SensorAsWarmedUp();
