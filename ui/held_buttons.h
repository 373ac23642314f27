// The program's one rule for its buttons: a click on a greyed button does
// nothing, ever.
//
// While the program works for a click (a board exchange, a pulse's sleep)
// it takes no input: the window system keeps the operator's clicks queued
// and delivers them at the next event wait, to the button as it is by
// then. So a greyed button that the program makes usable again stays
// greyed, held, until an event wait has found nothing: by then every click
// made while it was greyed has met it greyed. A click that has already
// become a queued event is taken only on a button usable when it is taken.
#pragma once

// Greys `button` at once, or makes it usable: a greyed one is held and
// becomes usable at ReleaseHeldButtons, unless it is greyed again before.
void EnableButton(int button, bool usable);
// Gives `button` the keyboard focus; a held button takes it when released.
void FocusButton(int button);
// True while a button is held.
bool ButtonsHeld();
// An event wait found nothing: every held button becomes usable.
void ReleaseHeldButtons();
// The main loop handles a click taken from the event queue only on a
// control that is usable now.
bool ButtonTakesClick(int control);
