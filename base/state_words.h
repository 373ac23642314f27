// The words of the states, as every view writes them: the board window,
// the history window, the status page and the history's CSV. One place,
// so that a contact, a reading in doubt or a failed sensor reads the same
// wherever the operator looks.
#pragma once

#include "base/state.h"

// The word of a contact as the labels and the page show it: "GESCHLOSSEN",
// "OFFEN", or "---" while the board has not said it on this connection.
Text ContactWord(Contact contact);
// The same as the page's data names it: "geschlossen", "offen",
// "unbekannt".
Text ContactKey(Contact contact);

// A reading not proven its command's answer, and the sensor's verdicts:
// the words every line about them starts with.
extern const char DoubtedReadingWord[];  // "Messwert unsicher"
extern const char SensorFailedWord[];    // "Sensorfehler"
extern const char SensorSuspectWord[];   // "Sensorverdacht"

// Label 36 and the page after an evaluation that decided nothing because
// its reading was not proven the board's answer to GETADC 1.
extern const char DoubtedReadingText[];
// Label 36 when output 5 was switched and only output 4 stayed undecided
// (short, to fit the label).
extern const char DoubtedOutput4Text[];
// The same in full, for the page and the history window.
extern const char DoubtedOutput4LongText[];

// The trust in the readings as the page's line says it, and whether they
// are trusted: on a standing connection, the last evaluation decided on
// proven readings (or none was in doubt yet), and the guard is not blind.
Text TrustText(const WebSnapshot& s);
bool Trusted(const WebSnapshot& s);
