// Headless stand-in: the session's end a test posts, the restart
// registrations and the names one program at a time holds.
#include <set>

#include "platform/headless/headless.h"
#include "platform/headless/headless_internal.h"

namespace {

struct SessionModel {
  SessionEndProcedure Procedure = nullptr;
  bool EndPosted = false;
  SessionEndReason PostedReason = SessionEndShutdown;
  bool Told = false;
  std::vector<Text> Registrations;
  Text Held;  // the name the program holds, "" none
  std::set<Text> HeldElsewhere;
  std::vector<Text> Asked;
  bool ClaimsFail = false;
};

SessionModel Session;

}  // namespace

void HeadlessResetSession() { Session = SessionModel(); }

// As Windows sends it: wherever the program takes the system's messages.
// The program hears of it once.
void HeadlessDeliverSessionEnd() {
  if (!Session.EndPosted) return;
  Session.EndPosted = false;
  if (!Session.Procedure || Session.Told) return;
  Session.Told = true;
  Session.Procedure(Session.PostedReason);
  HeadlessQueueEvent(EventSessionEnd, (int)Session.PostedReason);
}

void HeadlessPostSessionEnd(SessionEndReason reason) {
  Session.EndPosted = true;
  Session.PostedReason = reason;
}

const std::vector<Text>& HeadlessRestartRegistrations() {
  return Session.Registrations;
}

const Text& HeadlessClaimHeld() { return Session.Held; }

const std::vector<Text>& HeadlessClaimsAsked() { return Session.Asked; }

void HeadlessHoldClaimElsewhere(const Text& name, bool held) {
  if (held)
    Session.HeldElsewhere.insert(name);
  else
    Session.HeldElsewhere.erase(name);
}

void HeadlessSetClaimsFail(bool fail) { Session.ClaimsFail = fail; }

void PlatSetSessionEndProcedure(SessionEndProcedure procedure) {
  Session.Procedure = procedure;
}

bool PlatRegisterRestart(const Text& arguments) {
  Session.Registrations.push_back(arguments);
  return true;
}

ClaimResult PlatClaimName(const Text& name) {
  PlatReleaseClaim();
  Session.Asked.push_back(name);
  if (Session.ClaimsFail) return ClaimFailed;
  if (Session.HeldElsewhere.count(name) > 0) return ClaimTaken;
  Session.Held = name;
  return ClaimHeld;
}

void PlatReleaseClaim() { Session.Held.clear(); }
