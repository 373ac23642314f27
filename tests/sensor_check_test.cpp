// The grading of a measurement cycle by the level sensor's check: each
// rule at its edge, the median decided on, and the asymmetry of the jump.
#include "control/sensor_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

class SensorGrading : public ::testing::Test {
 protected:
  SensorSettings Settings{true, SensorProtect, false,
                          0.0,  0.0,           DefaultSensorFigures()};
  SensorRunState Run{};
  int64_t Now = 1000000;

  SensorCycleResult Grade(std::vector<double> readings) {
    return GradeSensorCycle(Settings, readings.data(), (int)readings.size(),
                            Now, &Run);
  }
  SensorCycleResult GradeAfterUnpowered(double unpowered,
                                        std::vector<double> readings) {
    Run.UnpoweredKnown = true;
    Run.Unpowered = unpowered;
    return Grade(readings);
  }
};

double Counts(int n) { return n * SensorVoltsPerCount; }

TEST_F(SensorGrading, TheMedianIsDecidedOnAndTooFewReadingsGradeNothing) {
  EXPECT_EQ(SensorMedian(std::vector<double>{0.9, 0.3, 0.5}.data(), 3), 0.5);
  EXPECT_DOUBLE_EQ(SensorMedian(std::vector<double>{0.4, 0.6}.data(), 2), 0.5);
  EXPECT_TRUE(std::isnan(SensorMedian(nullptr, 0)));

  SensorCycleResult one = Grade({0.5});
  EXPECT_EQ(one.Grade, SensorUngraded);
  EXPECT_FALSE(one.Decides);
  SensorCycleResult ok = Grade({0.50, 0.52, 0.51});
  EXPECT_EQ(ok.Grade, SensorOk);
  EXPECT_TRUE(ok.Decides);
  EXPECT_DOUBLE_EQ(ok.Volts, 0.51);
}

// Two readings inside the spread but on either side of a threshold: their
// mean is a level neither showed (a sensor still settling read 1,025 V and
// then 1,191 V; the mean, 1,108 V, would have switched output 5 off under a
// well above its Maximum). Without a third reading nothing is decided; two
// on the same side decide, and three settle it by their median.
TEST_F(SensorGrading, TwoReadingsAcrossAThresholdDecideNothing) {
  for (std::vector<double> two :
       {std::vector<double>{1.025, 1.191}, std::vector<double>{0.20, 0.22},
        std::vector<double>{0.21, 0.211}, std::vector<double>{1.18, 1.19}}) {
    SensorRunState run{};
    SensorCycleResult r = GradeSensorCycle(Settings, two.data(), 2, 0, &run);
    EXPECT_EQ(r.Grade, SensorUngraded) << two[0] << " " << two[1];
    EXPECT_FALSE(r.Decides);
    EXPECT_FALSE(run.LastKnown);
  }
  SensorCycleResult same = Grade({1.19, 1.25});
  EXPECT_EQ(same.Grade, SensorOk);
  EXPECT_TRUE(same.Decides);
  SensorCycleResult three = Grade({1.025, 1.191, 1.195});
  EXPECT_EQ(three.Grade, SensorOk);
  EXPECT_DOUBLE_EQ(three.Volts, 1.191);
}

TEST_F(SensorGrading, OutOfSpanFailsOnlyWhenEveryReadingIsBeyond) {
  // The top of the input: 4,90 V and above, every reading.
  SensorCycleResult top = Grade({5.0, 4.9, 4.995});
  EXPECT_EQ(top.Grade, SensorFailed);
  EXPECT_EQ(top.Cause, SensorAtTop);
  EXPECT_FALSE(top.Decides);
  EXPECT_NE(Grade({4.95, 4.89, 4.95}).Grade, SensorFailed);

  // Without a live-zero span, 0 V is a level (an empty well), not a fault.
  EXPECT_EQ(Grade({0.0, 0.0, 0.0}).Grade, SensorOk);

  // 0,88:4,40 V: 2,5 % of the span is 0,088 V below 0,88 V.
  Settings.SpanGiven = true;
  Settings.LiveZeroVolts = 0.88;
  Settings.SpanTopVolts = 4.40;
  SensorCycleResult broken = Grade({0.0, 0.0, 0.0});
  EXPECT_EQ(broken.Grade, SensorFailed);
  EXPECT_EQ(broken.Cause, SensorBelowZero);
  EXPECT_EQ(Grade({0.79, 0.79, 0.79}).Grade, SensorFailed);
  Run = SensorRunState{};  // no level before: no rise
  EXPECT_EQ(Grade({0.80, 0.80, 0.80}).Grade, SensorOk);
}

TEST_F(SensorGrading, NoResponseToPowerFailsInTheSecondCycleInARow) {
  double pinned = Counts(127);  // 0,62 V whatever output 3 does
  SensorCycleResult first =
      GradeAfterUnpowered(pinned, {Counts(127), Counts(129), Counts(125)});
  EXPECT_EQ(first.Grade, SensorOk);  // one cycle is no fault yet
  SensorCycleResult second =
      GradeAfterUnpowered(pinned, {Counts(127), Counts(127), Counts(128)});
  EXPECT_EQ(second.Grade, SensorFailed);
  EXPECT_EQ(second.Cause, SensorNoResponse);

  // The unpowered reading is used up: a cycle without a new one neither
  // counts nor ends the run of cycles without a response.
  EXPECT_FALSE(Run.UnpoweredKnown);
  EXPECT_EQ(Grade({Counts(127), Counts(127)}).Cause, SensorNoResponse);

  // A cycle that responds ends the run.
  EXPECT_EQ(GradeAfterUnpowered(pinned, {Counts(130), Counts(130)}).Grade,
            SensorOk);
  EXPECT_EQ(GradeAfterUnpowered(pinned, {Counts(127), Counts(127)}).Grade,
            SensorOk);

  // An input below 0,10 V unpowered is not floating: a level near it is
  // a level.
  Run = SensorRunState{};
  double low = Counts(20);  // 0,098 V
  GradeAfterUnpowered(low, {low, low});
  EXPECT_EQ(GradeAfterUnpowered(low, {low, low}).Grade, SensorOk);
}

TEST_F(SensorGrading, AWideSpreadDecidesNothing) {
  EXPECT_EQ(Grade({1.0, 1.2, 1.1}).Grade, SensorOk);
  SensorCycleResult wide = Grade({1.0, 1.21, 1.1});
  EXPECT_EQ(wide.Grade, SensorSuspect);
  EXPECT_EQ(wide.Cause, SensorSpread);
  EXPECT_FALSE(wide.Decides);
}

TEST_F(SensorGrading, ADropIsTakenAtOnceARiseThatReleasesWaitsForTheNextCycle) {
  EXPECT_EQ(Grade({1.0, 1.0, 1.0}).Grade, SensorOk);
  // A drop across the Minimum, however far: at once.
  SensorCycleResult drop = Grade({0.1, 0.1, 0.1});
  EXPECT_EQ(drop.Grade, SensorOk);
  EXPECT_TRUE(drop.Decides);

  // A rise of more than 0,50 V out of the protection: suspect now, ...
  SensorCycleResult rise = Grade({0.7, 0.7, 0.7});
  EXPECT_EQ(rise.Grade, SensorSuspect);
  EXPECT_EQ(rise.Cause, SensorRise);
  // ... decided when the next cycle confirms it.
  SensorCycleResult confirmed = Grade({0.72, 0.71, 0.72});
  EXPECT_EQ(confirmed.Grade, SensorOk);
  EXPECT_DOUBLE_EQ(confirmed.Volts, 0.72);

  // A rise that the next cycle does not confirm is not decided on; the
  // low level that follows is.
  Grade({0.1, 0.1, 0.1});
  EXPECT_EQ(Grade({0.9, 0.9, 0.9}).Grade, SensorSuspect);
  EXPECT_EQ(Grade({0.12, 0.12, 0.12}).Grade, SensorOk);

  // Rises within 0,50 V, or from above the Minimum (nothing to release),
  // are decided at once.
  EXPECT_EQ(Grade({0.6, 0.6, 0.6}).Grade, SensorOk);  // from 0,12: 0,48 V
  EXPECT_EQ(Grade({1.5, 1.5, 1.5}).Grade, SensorOk);
}

TEST_F(SensorGrading, AFlatLineIsToldOnceAfterItsTimeAndStillDecides) {
  Grade({Counts(200), Counts(200)});
  Now += 23 * 3600;
  EXPECT_FALSE(Grade({Counts(201), Counts(201)}).FlatLine);
  Now += 3600;
  SensorCycleResult flat = Grade({Counts(199), Counts(199)});
  EXPECT_TRUE(flat.FlatLine);
  EXPECT_EQ(flat.Grade, SensorOk);
  EXPECT_TRUE(flat.Decides);
  Now += 3600;
  EXPECT_FALSE(Grade({Counts(200), Counts(200)}).FlatLine);
  // A change of 2 counts starts the line afresh.
  Grade({Counts(202), Counts(202)});
  Now += 24 * 3600;
  EXPECT_TRUE(Grade({Counts(202), Counts(202)}).FlatLine);
  // 0 hours: no flat-line check.
  Settings.Figures.FlatHours = 0;
  Run = SensorRunState{};
  Grade({Counts(202), Counts(202)});
  Now += 100 * 3600;
  EXPECT_FALSE(Grade({Counts(202), Counts(202)}).FlatLine);
}

}  // namespace
