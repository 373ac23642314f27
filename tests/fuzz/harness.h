// The end of one run of a harness over the scripted board: the connection
// closed, everything released, the script off and the state zeroed, so the
// next run starts as the program does.
#pragma once

#include "app/startup.h"
#include "app/state.h"
#include "board/connection.h"
#include "platform/headless/headless.h"

// True when every reply buffer had been released.
inline bool EndScriptedRun() {
  CloseConnection();
  ReleaseFacilities();
  HeadlessSetReceiveScript(nullptr);
  bool released = HeadlessLiveMemoryBlocks() == 0;
  ZeroAppState();
  HeadlessReset();
  return released;
}
