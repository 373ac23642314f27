#include "control/guard_outputs.h"

#include "base/sleep_clock.h"
#include "board/link.h"
#include "control/alarms.h"

void GuardSent(int output, bool on, PortReply reply) {
  if (output < 3 || output > 5) return;
  AppState.GuardWants[output] = on ? DecidedOn : DecidedOff;
  if (reply == PortAcknowledged) {
    if (AppState.RefusedOn[output] == on) AppState.RefusalShown[output] = false;
  } else if (reply == PortRefused && !AppState.RefusalShown[output]) {
    AppState.RefusalShown[output] = true;
    AppState.RefusedOn[output] = on;
    AlarmOutputDeviates(output, on, true);
  }
}

bool StatusShows(int output, bool on) {
  return AppState.StatusFresh && AppState.StatusInForm &&
         (AppState.OutputState[output] == ContactClosed) == on;
}

// The outputs the guard owns now: 4 and 5 while the measurement and their
// function are released and it has decided them; 3 while a measurement
// wants the sensor powered.
static bool GuardOwns(int output) {
  if (!AppState.MeasurementEnabled) return false;
  switch (output) {
    case 3:
      return AppState.GuardWants[3] == DecidedOn;
    case 4:
      return AppState.MinimumEnabled &&
             AppState.GuardWants[4] != DecidedNothing;
    case 5:
      return AppState.MaximumEnabled &&
             AppState.GuardWants[5] != DecidedNothing;
    default:
      return false;
  }
}

// The sensor is powered from the first status that shows output 3 on while
// the guard wants it so; a status that shows it off ends that.
static void FollowSensorPower() {
  if (AppState.GuardWants[3] != DecidedOn) return;
  if (AppState.OutputState[3] != ContactClosed) {
    AppState.SensorPowered = false;
  } else if (!AppState.SensorPowered) {
    AppState.SensorPowered = true;
    AppState.SensorOnSince = AppState.MeasurementTicks;
  }
}

void HoldBoardToGuard() {
  if (!BoardConnected() || !AppState.StatusFresh || !AppState.StatusInForm)
    return;
  FollowSensorPower();
  TickCount now = PlatTickCount();
  for (int output = 3; output <= 5; output++) {
    bool wanted = AppState.GuardWants[output] == DecidedOn;
    if (!GuardOwns(output)) {
      AppState.DeviationShown[output] = false;
      continue;
    }
    // An episode ends once the board has shown the decision for the
    // retry interval: someone who keeps switching makes one.
    if (StatusShows(output, wanted)) {
      if ((int32_t)(now - AppState.DeviationSeenAt[output]) >=
          DeviationRetryInterval)
        AppState.DeviationShown[output] = false;
      continue;
    }
    AppState.DeviationSeenAt[output] = now;
    // A refusal of the command already said why the board shows otherwise.
    if (!AppState.DeviationShown[output]) {
      AppState.DeviationShown[output] = true;
      if (!AppState.RefusalShown[output])
        AlarmOutputDeviates(output, wanted, false);
    }
    AppState.FreshMeasurementWanted = true;
  }
}

void GuardClocksAfterSleep(int64_t asleepMs) {
  for (int output = 3; output <= 5; output++)
    AppState.DeviationSeenAt[output] = SinceAcrossSleep(
        AppState.DeviationSeenAt[output], asleepMs, DeviationRetryInterval);
  AppState.FreshMeasurementAt = SinceAcrossSleep(
      AppState.FreshMeasurementAt, asleepMs, DeviationRetryInterval);
}
