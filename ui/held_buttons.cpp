#include "ui/held_buttons.h"

#include "base/state.h"
#include "platform/platform.h"

static bool Holdable(int button) {
  return button >= 0 && button < PlatControlCount;
}

void EnableButton(int button, bool usable) {
  if (!usable) {
    if (Holdable(button)) AppState.View.Held.HeldButton[button] = false;
    PlatEnable(button, false);
    return;
  }
  if (PlatIsEnabled(button)) return;
  if (Holdable(button))
    AppState.View.Held.HeldButton[button] = true;
  else
    PlatEnable(button, true);  // no button has such a number
}

void FocusButton(int button) {
  if (Holdable(button) && AppState.View.Held.HeldButton[button]) {
    AppState.View.Held.HeldFocus = button;
    return;
  }
  AppState.View.Held.HeldFocus = 0;  // the latest focus wins
  PlatSetFocus(button);
}

bool ButtonsHeld() {
  for (bool held : AppState.View.Held.HeldButton)
    if (held) return true;
  return false;
}

void ReleaseHeldButtons() {
  for (int button = 0; button < PlatControlCount; button++) {
    if (!AppState.View.Held.HeldButton[button]) continue;
    AppState.View.Held.HeldButton[button] = false;
    PlatEnable(button, true);
  }
  // The focus goes where the program last put it, if that button is
  // usable; a button greyed again meanwhile does not take it.
  if (AppState.View.Held.HeldFocus &&
      PlatIsEnabled(AppState.View.Held.HeldFocus))
    PlatSetFocus(AppState.View.Held.HeldFocus);
  AppState.View.Held.HeldFocus = 0;
}

bool ButtonTakesClick(int control) { return PlatIsEnabled(control); }
