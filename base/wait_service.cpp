#include "base/wait_service.h"

#include "platform/platform.h"

static WaitService Service;

void SetWaitService(WaitService service) { Service = service; }

void ServeWhileWaiting() {
  PlatServeWindows();
  if (Service) Service();
}
