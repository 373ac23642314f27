// The click that answers the operator's switching and the board query.
#pragma once

// Plays the click once, when the sound is loaded and wanted; never waits.
void PlaySwitchSound();
