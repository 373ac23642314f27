// The words of the states and the durations, which every view takes from
// the floor: each state has its word, a value the record should never hold
// reads as unknown, and each duration form keeps its own rounding and
// padding.
#include "base/state_words.h"

#include <gtest/gtest.h>

#include "base/clock_text.h"
#include "base/state.h"

TEST(StateWords, ContactsAndOutOfRangeValues) {
  EXPECT_EQ(ContactWord(ContactClosed), "GESCHLOSSEN");
  EXPECT_EQ(ContactWord(ContactOpen), "OFFEN");
  EXPECT_EQ(ContactWord(ContactUnknown), "---");
  EXPECT_EQ(ContactWord((Contact)7), "---");
  EXPECT_EQ(ContactKey(ContactClosed), "geschlossen");
  EXPECT_EQ(ContactKey(ContactOpen), "offen");
  EXPECT_EQ(ContactKey((Contact)-3), "unbekannt");
}

TEST(StateWords, TrustFollowsTheWorstFinding) {
  WebSnapshot s{};
  EXPECT_EQ(TrustText(s), "Noch keine Messwerte");
  s.Taken = true;
  EXPECT_EQ(TrustText(s), "Keine Messwerte: keine Verbindung");
  EXPECT_FALSE(Trusted(s));
  s.Connected = true;
  EXPECT_EQ(TrustText(s), "Messwerte sicher");
  EXPECT_TRUE(Trusted(s));
  s.DoubtedEvaluations = 1;
  EXPECT_EQ(TrustText(s), DoubtedReadingText);
  s.DoubtedLastSwitched5 = true;
  EXPECT_EQ(TrustText(s), DoubtedOutput4LongText);
  EXPECT_FALSE(Trusted(s));
  s.SensorSuspicionOpen = true;
  EXPECT_EQ(TrustText(s).rfind(SensorSuspectWord, 0), 0u);
  s.SensorFailureOpen = true;
  EXPECT_EQ(TrustText(s).rfind(SensorFailedWord, 0), 0u);
  s.GuardBlind = true;
  EXPECT_EQ(TrustText(s).rfind("W\xE4"
                               "chter blind:",
                               0),
            0u);
}

TEST(StateWords, DurationFormsKeepTheirOwnCuts) {
  // The time switched on pads the minutes; the time asleep does not.
  EXPECT_EQ(OnTimeText(0), "0 min");
  EXPECT_EQ(OnTimeText(3599), "59 min");
  EXPECT_EQ(OnTimeText(3600), "1 h 00 min");
  EXPECT_EQ(OnTimeText(7 * 3600 + 5 * 60 + 59), "7 h 05 min");
  EXPECT_EQ(OnTimeText(30 * 3600), "30 h 00 min");
  EXPECT_EQ(SleepDurationText(3600 * 1000 + 5 * 60 * 1000), "1 h 5 min");
  EXPECT_EQ(AgeText(3600 * 1000 + 5 * 60 * 1000), "1 h 05 min");
}
