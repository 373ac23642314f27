#include "base/state_words.h"

#include <string>

Text ContactWord(Contact contact) {
  switch (contact) {
    case ContactClosed:
      return "GESCHLOSSEN";
    case ContactOpen:
      return "OFFEN";
    case ContactUnknown:
      break;
  }
  return "---";
}

Text ContactKey(Contact contact) {
  switch (contact) {
    case ContactClosed:
      return "geschlossen";
    case ContactOpen:
      return "offen";
    case ContactUnknown:
      break;
  }
  return "unbekannt";
}

const char DoubtedReadingWord[] = "Messwert unsicher";
const char SensorFailedWord[] = "Sensorfehler";
const char SensorSuspectWord[] = "Sensorverdacht";

const char DoubtedReadingText[] = "Messwert unsicher: nichts geschaltet";
const char DoubtedOutput4Text[] = "Messwert unsicher: Ausg. 4 nicht geschaltet";
const char DoubtedOutput4LongText[] =
    "Messwert unsicher: Ausgang 4 nicht geschaltet";

Text TrustText(const WebSnapshot& s) {
  if (s.GuardBlind)
    return "Wächter blind: Ausgang 4 lange nicht mehr auf einen sicheren "
           "Messwert entschieden";
  if (s.SensorFailureOpen)
    return Text(SensorFailedWord) +
           ": kein Schalten auf den Messwert des Sensors";
  if (s.SensorSuspicionOpen)
    return Text(SensorSuspectWord) +
           ": der Messwert des Sensors ist zweifelhaft";
  if (s.DoubtedEvaluations > 0)
    return s.DoubtedLastSwitched5 ? DoubtedOutput4LongText : DoubtedReadingText;
  if (!s.Taken) return "Noch keine Messwerte";
  if (!s.Connected) return "Keine Messwerte: keine Verbindung";
  return "Messwerte sicher";
}

bool Trusted(const WebSnapshot& s) {
  return s.Connected && s.DoubtedEvaluations == 0 && !s.GuardBlind &&
         !s.SensorFailureOpen && !s.SensorSuspicionOpen;
}
