#include "ui/click.h"

#include "base/state.h"
#include "platform/platform.h"

void PlaySwitchSound() {
  if (Settings().SoundLoaded && Settings().SoundEnabled) PlatPlayClick();
}
