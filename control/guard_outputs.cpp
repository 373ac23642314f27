#include "control/guard_outputs.h"

#include "base/sleep_clock.h"
#include "board/link.h"
#include "control/alarms.h"

void GuardSent(int output, bool on, PortReply reply) {
  if (output < 3 || output > 5) return;
  AppState.Guard.GuardWants[output] = on ? DecidedOn : DecidedOff;
  if (reply == PortAcknowledged) {
    if (AppState.Guard.RefusedOn[output] == on)
      AppState.Guard.RefusalShown[output] = false;
  } else if (reply == PortRefused && !AppState.Guard.RefusalShown[output]) {
    AppState.Guard.RefusalShown[output] = true;
    AppState.Guard.RefusedOn[output] = on;
    AlarmOutputDeviates(output, on, true);
  }
}

bool StatusShows(int output, bool on) {
  return AppState.Readings.StatusFresh && AppState.Readings.StatusInForm &&
         (AppState.Readings.OutputState[output] == ContactClosed) == on;
}

// The outputs the guard owns now: 4 and 5 while the measurement and their
// function are released and it has decided them; 3 while a measurement
// wants the sensor powered.
static bool GuardOwns(int output) {
  if (!AppState.Switching.MeasurementEnabled) return false;
  switch (output) {
    case 3:
      return AppState.Guard.GuardWants[3] == DecidedOn;
    case 4:
      return AppState.Switching.MinimumEnabled &&
             AppState.Guard.GuardWants[4] != DecidedNothing;
    case 5:
      return AppState.Switching.MaximumEnabled &&
             AppState.Guard.GuardWants[5] != DecidedNothing;
    default:
      return false;
  }
}

// The sensor is powered from the first status that shows output 3 on while
// the guard wants it so; a status that shows it off ends that.
static void FollowSensorPower() {
  if (AppState.Guard.GuardWants[3] != DecidedOn) return;
  if (AppState.Readings.OutputState[3] != ContactClosed) {
    AppState.Guard.SensorPowered = false;
  } else if (!AppState.Guard.SensorPowered) {
    AppState.Guard.SensorPowered = true;
    AppState.Guard.SensorOnSince = AppState.Measurement.MeasurementTicks;
  }
}

void HoldBoardToGuard() {
  if (!BoardConnected() || !AppState.Readings.StatusFresh ||
      !AppState.Readings.StatusInForm)
    return;
  FollowSensorPower();
  TickCount now = PlatTickCount();
  for (int output = 3; output <= 5; output++) {
    bool wanted = AppState.Guard.GuardWants[output] == DecidedOn;
    if (!GuardOwns(output)) {
      AppState.Guard.DeviationShown[output] = false;
      continue;
    }
    // An episode ends once the board has shown the decision for the
    // retry interval: someone who keeps switching makes one.
    if (StatusShows(output, wanted)) {
      if ((int32_t)(now - AppState.Guard.DeviationSeenAt[output]) >=
          DeviationRetryInterval)
        AppState.Guard.DeviationShown[output] = false;
      continue;
    }
    AppState.Guard.DeviationSeenAt[output] = now;
    // A refusal of the command already said why the board shows otherwise.
    if (!AppState.Guard.DeviationShown[output]) {
      AppState.Guard.DeviationShown[output] = true;
      if (!AppState.Guard.RefusalShown[output])
        AlarmOutputDeviates(output, wanted, false);
    }
    AppState.Guard.FreshMeasurementWanted = true;
  }
}

void SensorPowerLost() { AppState.Guard.SensorPowered = false; }

void FreshMeasurementDropped() {
  AppState.Guard.FreshMeasurementWanted = false;
}

void FreshMeasurementStarts(TickCount now) {
  AppState.Guard.FreshMeasurementWanted = false;
  AppState.Guard.FreshMeasurementStarted = true;
  AppState.Guard.FreshMeasurementAt = now;
}

void GuardClocksAfterSleep(int64_t asleepMs) {
  for (int output = 3; output <= 5; output++)
    AppState.Guard.DeviationSeenAt[output] =
        SinceAcrossSleep(AppState.Guard.DeviationSeenAt[output], asleepMs,
                         DeviationRetryInterval);
  AppState.Guard.FreshMeasurementAt = SinceAcrossSleep(
      AppState.Guard.FreshMeasurementAt, asleepMs, DeviationRetryInterval);
}
