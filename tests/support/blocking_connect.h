// A connect that blocks, for the tests' own links where no window waits:
// the platform's connect that does not block, waited for until it ends.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Waits this long at most (ms) for the connect to end.
enum { BlockingConnectLimit = 10000 };

// Connects `socket` to `address` (network byte order) and `port`: true
// once it is connected (the socket blocking again), false when the connect
// failed or did not end within BlockingConnectLimit.
bool BlockingConnect(PlatSocket socket, uint32_t address, int port);
