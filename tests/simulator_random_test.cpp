// The simulator's replies drawn at random: what each fault does to a reply,
// that the two healthy profiles leave every reply's bytes alone, that
// garbage never passes for a count, and that a seed gives the same board
// again.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "simulator/random_replies.h"

namespace {

using kvxsim::DrawReply;
using kvxsim::RandomReplies;
using kvxsim::ReplyPiece;

const std::string kHelp =
    "KORVALINEX Befehle:\r\n"
    "GETPORT n, GETADC n, SETPORT x.y, GETSTATUS\r\n"
    "GETIP, GETMASK, GETGW, SETIP, SETMASK, SETGW\r\n"
    "HELP, RESET, VERSION\r\n"
    "INITLCD, WRITELCD x.y, CLEARLCD [x]\r\n";
const std::string kVersion = "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n";

std::string Joined(const std::vector<ReplyPiece>& pieces) {
  std::string all;
  for (const ReplyPiece& p : pieces) all += p.bytes;
  return all;
}

// The lines of `bytes`, each without its line end.
std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> out;
  std::string line;
  for (char c : bytes) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) out.push_back(line);
  return out;
}

RandomReplies Profile(const std::string& text) {
  RandomReplies r;
  std::string error;
  EXPECT_TRUE(kvxsim::ParseRandomReplies(text, &r, &error)) << error;
  return r;
}

TEST(SimulatorRandomReplies, HealthyProfilesKeepEveryReplyWhole) {
  const RandomReplies whole = Profile("whole seed=3");
  const RandomReplies lines = Profile("lines seed=3");
  uint32_t state = 3;
  for (int i = 0; i < 200; ++i) {
    for (const std::string& reply : {kHelp, kVersion, std::string("512\r\n")}) {
      const std::vector<ReplyPiece> w = DrawReply(whole, &state, "HELP", reply);
      ASSERT_EQ(w.size(), 1u);
      EXPECT_EQ(w[0].waitMs, 0);
      EXPECT_EQ(w[0].bytes, reply);

      const std::vector<ReplyPiece> l = DrawReply(lines, &state, "HELP", reply);
      EXPECT_EQ(Joined(l), reply);
      ASSERT_EQ(l.size(), Lines(reply).size());
      EXPECT_EQ(l[0].waitMs, 0);
      for (const ReplyPiece& p : l) {
        EXPECT_EQ(Lines(p.bytes).size(), 1u);
        EXPECT_EQ(p.bytes.back(), '\n');
        EXPECT_LE(p.waitMs, 50);
      }
    }
  }
}

TEST(SimulatorRandomReplies, FixedLineGap) {
  const std::vector<ReplyPiece> v = kvxsim::LineByLine(kVersion, 5);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].bytes, "uC: ATmega32\r\n");
  EXPECT_EQ(v[0].waitMs, 0);
  EXPECT_EQ(v[1].bytes, "Ver: 1.5\r\n");
  EXPECT_EQ(v[1].waitMs, 5);
  EXPECT_EQ(v[2].bytes, "NIC: ENC28J60\r\n");
  EXPECT_EQ(v[2].waitMs, 5);
  EXPECT_EQ(kvxsim::LineByLine("OK\r\n", 5).size(), 1u);
  // A last line without its line feed is a piece of its own too.
  EXPECT_EQ(kvxsim::LineByLine("a\r\nb", 5).size(), 2u);
}

// Garbage instead of a GETADC reply never reads as a count: a board that
// answered GETADC 1 with a well-formed wrong count could not be caught.
TEST(SimulatorRandomReplies, GarbageIsNeverACount) {
  const RandomReplies r = Profile("faults seed=11 garbage=100 extra=0");
  uint32_t state = 11;
  std::set<std::string> seen;
  for (int i = 0; i < 3000; ++i) {
    const std::string bytes = Joined(DrawReply(r, &state, "GETADC", "43\r\n"));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    const std::vector<std::string> lines = Lines(bytes);
    ASSERT_EQ(lines.size(), 1u) << bytes;
    EXPECT_FALSE(kvxsim::IsWellFormedCount(lines[0])) << lines[0];
    seen.insert(lines[0]);
  }
  for (const char* expected :
       {"abc", "", "S00001100", "-3", "1023 1023", "5000"})
    EXPECT_EQ(seen.count(expected), 1u) << expected;
  EXPECT_GT(seen.size(), 100u);  // random bytes too

  EXPECT_TRUE(kvxsim::IsWellFormedCount("0"));
  EXPECT_TRUE(kvxsim::IsWellFormedCount("1023"));
  EXPECT_FALSE(kvxsim::IsWellFormedCount("1024"));
  EXPECT_FALSE(kvxsim::IsWellFormedCount(" 12"));
}

TEST(SimulatorRandomReplies, LongHelpAndVersionWithAndWithoutLineFeed) {
  const RandomReplies r = Profile("faults seed=5 long=100 garbage=0 extra=0");
  uint32_t state = 5;
  int withLf = 0, without = 0;
  for (int i = 0; i < 400; ++i) {
    const bool help = i % 2 == 0;
    const std::string& reply = help ? kHelp : kVersion;
    const std::string bytes =
        Joined(DrawReply(r, &state, help ? "HELP" : "VERSION", reply));
    EXPECT_GT(bytes.size(), 200u);
    EXPECT_EQ(bytes.substr(0, reply.size()), reply);
    (bytes.back() == '\n' ? withLf : without)++;
  }
  EXPECT_GT(withLf, 100);
  EXPECT_GT(without, 100);
  // Only Help and Version grow.
  EXPECT_EQ(Joined(DrawReply(r, &state, "GETIP", "192.168.1.50\r\n")),
            "192.168.1.50\r\n");
}

TEST(SimulatorRandomReplies, ExtraLineFollowsTheWholeReply) {
  const RandomReplies r = Profile("faults seed=8 extra=100 garbage=0 long=0");
  uint32_t state = 8;
  int counts = 0;
  for (int i = 0; i < 500; ++i) {
    const std::vector<ReplyPiece> p =
        DrawReply(r, &state, "GETIP", "1.2.3.4\r\n");
    const std::string bytes = Joined(p);
    ASSERT_EQ(bytes.substr(0, 9), "1.2.3.4\r\n");
    const std::vector<std::string> lines = Lines(bytes.substr(9));
    ASSERT_EQ(lines.size(), 1u) << bytes;
    EXPECT_LE(p.back().waitMs, 500);
    if (kvxsim::IsWellFormedCount(lines[0])) ++counts;
  }
  EXPECT_GT(counts, 150);  // the dangerous one, a count, is the most common
}

TEST(SimulatorRandomReplies, SplitsKeepTheBytesAndCutOnLineBoundaries) {
  const RandomReplies r = Profile(
      "faults seed=21 split=100 lines=0 delay=0 garbage=0 extra=0 "
      "long=0 pieces=4 gapms=500");
  uint32_t state = 21;
  int onBoundary = 0, inside = 0;
  for (int i = 0; i < 500; ++i) {
    const std::vector<ReplyPiece> p = DrawReply(r, &state, "VERSION", kVersion);
    EXPECT_EQ(Joined(p), kVersion);
    ASSERT_GE(p.size(), 2u);
    EXPECT_LE(p.size(), 4u);
    EXPECT_EQ(p[0].waitMs, 0);
    for (size_t k = 1; k < p.size(); ++k) {
      EXPECT_LE(p[k].waitMs, 500);
      const char before = p[k - 1].bytes.back(), first = p[k].bytes[0];
      (before == '\n' || first == '\r' ? onBoundary : inside)++;
    }
  }
  EXPECT_GT(onBoundary, 200);
  EXPECT_GT(inside, 200);
}

TEST(SimulatorRandomReplies, DelaysWithinBoundsAndTheSeedRepeats) {
  const RandomReplies r = Profile("faults seed=4 delay=100 delayms=300");
  uint32_t a = 4, b = 4, c = 5;
  int longest = 0, shortest = 1000;
  bool differ = false;
  for (int i = 0; i < 300; ++i) {
    const std::vector<ReplyPiece> x = DrawReply(r, &a, "VERSION", kVersion);
    const std::vector<ReplyPiece> y = DrawReply(r, &b, "VERSION", kVersion);
    const std::vector<ReplyPiece> z = DrawReply(r, &c, "VERSION", kVersion);
    ASSERT_EQ(x.size(), y.size());
    for (size_t k = 0; k < x.size(); ++k) {
      EXPECT_EQ(x[k].waitMs, y[k].waitMs);
      EXPECT_EQ(x[k].bytes, y[k].bytes);
    }
    differ = differ || Joined(x) != Joined(z) || x[0].waitMs != z[0].waitMs;
    longest = std::max(longest, x[0].waitMs);
    shortest = std::min(shortest, x[0].waitMs);
  }
  EXPECT_LE(longest, 300);
  EXPECT_GT(longest, 250);
  EXPECT_LT(shortest, 50);
  EXPECT_TRUE(differ);
  EXPECT_TRUE(DrawReply(r, &a, "HELP", "").empty());
}

TEST(SimulatorRandomReplies, SettingsReadBackAsWritten) {
  RandomReplies r = Profile("faults seed=77 garbage=2.5 linems=40");
  EXPECT_TRUE(r.on);
  EXPECT_EQ(r.seed, 77u);
  EXPECT_DOUBLE_EQ(r.garbagePct, 2.5);
  EXPECT_EQ(r.lineGapMaxMs, 40);
  RandomReplies again;
  std::string error;
  ASSERT_TRUE(kvxsim::ParseRandomReplies(kvxsim::DescribeRandomReplies(r),
                                         &again, &error))
      << error;
  EXPECT_EQ(kvxsim::DescribeRandomReplies(again),
            kvxsim::DescribeRandomReplies(r));
  ASSERT_TRUE(kvxsim::ParseRandomReplies("off", &r, &error));
  EXPECT_FALSE(r.on);
  EXPECT_EQ(kvxsim::DescribeRandomReplies(r), "off");
  // A malformed setting changes nothing.
  EXPECT_FALSE(kvxsim::ParseRandomReplies("faults seed=-1", &r, &error));
  EXPECT_FALSE(r.on);
}

}  // namespace
