#include "base/wait_service.h"

#include "platform/platform.h"

static WaitService Service;
static int WaitDepth;

void SetWaitService(WaitService service) { Service = service; }

void ServeWhileWaiting() {
  WaitDepth++;
  PlatServeWindows();
  if (Service) Service();
  WaitDepth--;
}

bool WaitingForBoard() { return WaitDepth > 0; }
