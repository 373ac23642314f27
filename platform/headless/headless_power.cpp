// Headless stand-in: the system's sleeps as the tests make them, and the
// program's request to keep the system awake.

#include "platform/headless/headless.h"
#include "platform/headless/headless_internal.h"

namespace {

struct PowerModel {
  PlatPowerNotices Notices = {0, 0};
  bool Awake = false;
  Text Reason;
  int Changes = 0;
};

PowerModel Power;

}  // namespace

void HeadlessResetPower() { Power = PowerModel(); }

void HeadlessPowerNotice(bool suspend) {
  if (suspend)
    Power.Notices.Suspends++;
  else
    Power.Notices.Resumes++;
  HeadlessQueueEvent(EventOther, 0);
}

void HeadlessSystemSleep(int64_t ms, bool notices) {
  if (notices) Power.Notices.Suspends++;
  HeadlessSleepClocks(ms);
  if (notices) HeadlessPowerNotice(false);
}

bool HeadlessKeptAwake() { return Power.Awake; }
Text HeadlessKeepAwakeReason() { return Power.Reason; }
int HeadlessKeepAwakeChanges() { return Power.Changes; }

PlatPowerNotices PlatPowerNoticesSoFar() { return Power.Notices; }

void PlatKeepSystemAwake(bool awake, const Text& reason) {
  if (awake == Power.Awake && (!awake || reason == Power.Reason)) return;
  Power.Changes++;
  Power.Awake = awake;
  Power.Reason = awake ? reason : Text();
}
