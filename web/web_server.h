// The status page's server: one listening socket on the address and port
// of /web, a few connections at a time, served from the program's one
// thread between its steps and while it waits for the board. It never
// waits: every socket call returns at once. What it answers comes from the
// snapshot alone (base/web_status.h); a request is read into its own
// connection's bytes, answered and forgotten, and none of its bytes is
// kept beyond its connection or seen by another.
#pragma once

#include "base/state.h"
#include "web/web_request.h"

// Bounds of the server.
enum {
  // Connections at once, and of them from one address. A newcomer takes
  // the place of a client that has not sent a whole request yet when all
  // are taken: of the address that holds the most places, its oldest. So
  // clients that send slowly or nothing, however many and however fast
  // they come, keep no phone out; only while every place is being
  // answered does a newcomer wait in the system's queue (as deep as the
  // system allows).
  WebClientsAtOnce = 8,
  WebClientsPerAddress = 3,
  // A request must be whole this long (ms) after its connection was
  // taken, and its answer written this long after the request was whole;
  // a client that sends slowly or does not read is dropped after it.
  WebRequestTime = 5000,
  WebAnswerTime = 5000,
  // Connections taken in one serving, at most.
  WebAcceptsAtOnce = 32,
  // A listening socket that could not be opened (a port in use, an
  // address the PC does not have yet) is tried again this often (ms).
  WebListenRetry = 30000,
};

// At start, after the main window is up: without /web nothing happens
// and no socket is opened; with it, the listening socket, and the
// history window's line says what it listens on or why it cannot.
void StartWebServer();
// Takes new connections, reads requests, answers them, drops clients past
// their bounds, and tries a listening socket again when it is due.
// Returns at once; does nothing without /web.
void ServeWebClients();
// The PC slept `asleepMs`: the clients' and the listener's clocks carried
// over the sleep, held at their bounds, so that a sleep of any length
// leaves them due (a client silent through it is dropped, a listening
// socket due again is tried at once).
void WebClocksAfterSleep(int64_t asleepMs);
// At the end, before the networking stops: every socket of the server
// closed.
void StopWebServer();

// What the server has done since the start, for the tests and
// benchmarks.
struct WebServerCounts {
  int Taken;     // connections taken
  int Answered;  // answers written whole (errors included)
  int Errors;    // of them, error answers
  int Dropped;   // connections dropped past a bound or for a new one
};
WebServerCounts WebServerCounted();
// Connections open now.
int WebClientsOpen();
// The port the server listens on; 0 while it does not.
int WebListeningPort();

// The whole answer to a request (its header lines and, unless for HEAD,
// its body), as the server writes it.

Text WebAnswer(const WebRequest& request, const WebSnapshot& s,
               const Text& token);
