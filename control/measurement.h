// The well's measurement cycle: powering the level sensor, evaluating the
// level and switching the Minimum and Maximum outputs.
#pragma once

// Every tick of timer 123. An evaluation comes only once the level sensor
// has been powered for two ticks since it was last switched on after being
// off or in an unknown state.
void MeasurementCycle();
// The cycle's period at the main loop's beginning: 360 s, on its trackbar
// and label.
void StartCyclePeriod();
// Every pass of the main loop: while the measurement is off, the cycle
// period follows its trackbar.
void ReadCyclePeriod();
// The sensor's power is no longer known (a new connection to a board that
// may have lost its outputs): the next "setport 3.1" starts its warm-up.
void ForgetSensorPower();
// Reads the level (PollBoard), fills the level bar and commands outputs 5
// and 4 against their thresholds. With the sensor's check (/sensor) only
// the cycle's last evaluation commands them, on the median of the cycle's
// readings once the cycle is graded good (control/sensor_watch.h); a
// failed sensor decides nothing but, from the fail-safe time on and with
// the protection chosen, output 4 on. Before the sensor's power goes on,
// the check takes the input's unpowered reading in a proven query.
void EvaluateLevel();
// The PC woke from a sleep: the board may have lost its outputs, the well
// changed. A released measurement starts afresh at the next tick with the
// board connected (the sensor's power on, its warm-up, the evaluations),
// whatever stage the cycle stood at.
void MeasureAfterSleep();
