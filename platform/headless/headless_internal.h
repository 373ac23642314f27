// What the pieces of the headless stand-in tell each other. Not for the
// program or the tests: they see platform.h and headless.h only.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

// headless_windows.cpp
void HeadlessResetWindows();
std::vector<int> HeadlessOpenWindowNumbers();  // ascending

// headless_events.cpp: event queue, window timers, the driven clock.
void HeadlessResetEvents();
void HeadlessQueueEvent(EventKind kind, int number);
// Drops control events already queued for these controls (their window
// went away, and its messages with it).
void HeadlessDropControlEvents(const std::vector<int>& numbers);
void HeadlessStartTimer(int window, int timer, int intervalMs);
// Stops the timer of `window` and forgets its pending tick.
void HeadlessStopTimer(int window);
// Milliseconds the driven clock has moved since the reset.
int64_t HeadlessElapsedMs();
// The tick count and the wall clock jump by `ms`, the time the system ran
// does not: the system slept. Timers have one pending tick at most.
void HeadlessSleepClocks(int64_t ms);

// headless_power.cpp
void HeadlessResetPower();

// A held save dialog: runs its loop when one is held (headless_events.cpp).
void HeadlessRunHeldSaveDialog();

// headless_drawing.cpp
void HeadlessResetDrawings();
// The window closed or opened anew: its drawing is empty.
void HeadlessForgetDrawing(int window);

// headless_process.cpp
int HeadlessDefaultFont();  // -1: the platform's default font

// headless_sockets.cpp
void HeadlessResetSockets();

// headless_listen.cpp: listening sockets and the connections they took.
void HeadlessResetListens();
// A real connection that the system gave its own port as its peer (a
// connect to a port of this machine on which nothing listens): no board's.
bool HeadlessConnectedToItself(int fd);
// A real connect begun without waiting, after at most `waitMs`:
// ConnectPending, ConnectFailed (refused, or connected to itself) or
// ConnectDone.
int HeadlessRealConnectState(int fd, int waitMs);
// The networking cleanup: every listener and connection taken is closed.
void HeadlessCloseListens();
// Closes `socket` when it is a listener or a connection taken by one.
bool HeadlessCloseListenSocket(PlatSocket socket);

// headless_files.cpp
void HeadlessResetFiles();
// A program file that is known not to be there: its folder is in the
// model and holds no such file.
bool HeadlessFileKnownMissing(const Text& path);

// headless_programs.cpp
void HeadlessResetPrograms();

// headless_session.cpp
void HeadlessResetSession();
// A session's end the test posted reaches the program (its procedure,
// then EventSessionEnd queued): at an event wait or a serve.
void HeadlessDeliverSessionEnd();
