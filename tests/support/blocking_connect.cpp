#include "tests/support/blocking_connect.h"

bool BlockingConnect(PlatSocket socket, uint32_t address, int port) {
  const int Slice = 100;
  int state = PlatConnectStart(socket, address, port);
  for (int waited = 0; state == ConnectPending && waited < BlockingConnectLimit;
       waited += Slice)
    state = PlatConnectWait(socket, Slice);
  return state == ConnectDone;
}
