// The simulator's few calls to the operating system: IPv4 sockets on
// loopback, a wake-up pair that a socket wait can watch, and the console of
// the simulator program. POSIX here, Winsock 2 and the Windows console in
// the Windows build (korvalinex-sim.exe); everything else in simulator/ is
// the same on both.
//
// A socket is an int, as on POSIX; -1 is none. A Winsock socket is a
// kernel handle, and those carry no more than 32 significant bits, so it
// fits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvxsim {

// A dotted IPv4 address (four decimal parts) in host byte order.
bool SysDottedAddress(const std::string& text, uint32_t* hostOrder);

// A listening TCP socket on address:port (port 0: any free one), non-
// blocking, with its port in `*bound`. -1 with `*error` on failure.
int SysListen(uint32_t hostOrder, uint16_t port, uint16_t* bound,
              std::string* error);
// A waiting connection, non-blocking; -1 when there is none.
int SysAccept(int listening);
void SysSetNonBlocking(int socket);
void SysSetNoDelay(int socket);

enum { SysWouldBlock = -2 };
// One send or receive that never waits: the byte count, SysWouldBlock, or
// -1 on an error. A receive returns 0 when the peer has closed. A send to
// a peer that is gone fails; it raises no signal.
long SysSend(int socket, const char* bytes, size_t length);
long SysReceive(int socket, char* bytes, size_t length);

// One socket to watch: for reading (or for writing when `write`). `ready`
// tells whether it is readable (writable), closed or failed.
struct SysWatch {
  int socket;
  bool write;
  bool ready;
};
// Waits at most `ms` until one of `count` sockets is ready.
void SysWait(SysWatch* watch, size_t count, int ms);

// Ends a connection: gracefully (FIN after what is sent), or with a reset
// (RST). SysClose just closes.
void SysCloseGracefully(int socket);
void SysCloseWithReset(int socket);
void SysClose(int socket);

// The wake-up pair: a byte signalled on `*writeEnd` makes `*readEnd`
// readable, so that a thread in SysWait wakes at once.
bool SysWakePair(int* readEnd, int* writeEnd);
void SysWakeSignal(int writeEnd);
void SysWakeDrain(int readEnd);
void SysWakeClose(int readEnd, int writeEnd);

// The simulator program's console: `handler` is called on Ctrl+C and on a
// request to terminate; whether its output is a terminal that understands
// the cursor moves of the live display (UTF-8 text); its width.
void SysOnStopRequest(void (*handler)(int));
bool SysConsoleIsTerminal();
int SysConsoleColumns();

}  // namespace kvxsim
