#include "app/session.h"

#include <string>

#include "app/command_line.h"
#include "base/state.h"
#include "board/link.h"
#include "control/alarms.h"

Text WellClaimName() {
  Text where;
  uint32_t resolved;
  if (ResolveBoardAddress(Settings().BoardAddress, &resolved)) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&resolved);
    where = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." +
            std::to_string(b[2]) + "." + std::to_string(b[3]);
  } else {
    for (char c : Settings().BoardAddress) {
      if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
      bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '.' || c == '-';
      where += plain ? c : '_';
    }
  }
  return "KORVALINEX-Brunnen-" + where + "-" +
         std::to_string(Settings().BoardPort);
}

Text WellGuardedText() {
  return "Dieser Brunnen (" + Settings().BoardAddress + ":" +
         std::to_string(Settings().BoardPort) +
         ") wird schon von einem laufenden KORVALINEX bewacht!";
}

bool ClaimTheWell() { return PlatClaimName(WellClaimName()) != ClaimTaken; }

// Windows ends the session: told at once, inside the system's message;
// the main loop ends at its next wait as after QUIT.
static void SessionEnds(SessionEndReason reason) { AlarmSessionEnds(reason); }

void GuardStarts() {
  AlarmProgramStarted();
  PlatRegisterRestart(ArgumentsAsGiven(PlatCommandLine()));
  PlatSetSessionEndProcedure(SessionEnds);
}

void GuardEnds() { PlatSetSessionEndProcedure(nullptr); }
