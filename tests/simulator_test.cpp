// Tests of the board simulator over real loopback TCP, with a plain POSIX
// client.
#include "simulator/simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "simulator/faults.h"

namespace {

using kvxsim::CommandKind;
using kvxsim::Simulator;

const std::string kSuffix = " \\r\\n";

// A blocking loopback client with bounded waits.
class Client {
 public:
  explicit Client(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~Client() { Close(); }
  bool Connected() const { return connected_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // One receive, waiting at most timeoutMs. "" on timeout; sets closed_ on
  // EOF and error_ on an error.
  std::string RecvOnce(int timeoutMs = 2000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return "";
    char buf[65536];
    ssize_t r = recv(fd_, buf, sizeof buf, 0);
    if (r == 0) closed_ = true;
    if (r < 0) error_ = errno;
    return r > 0 ? std::string(buf, static_cast<size_t>(r)) : "";
  }
  // Collects until `n` bytes arrived or timeoutMs passed.
  std::string RecvBytes(size_t n, int timeoutMs = 2000) {
    std::string out;
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n && !closed_ && !error_) {
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(
              end - std::chrono::steady_clock::now())
              .count());
      if (left <= 0) break;
      out += RecvOnce(left);
    }
    return out;
  }
  // Collects until the peer is quiet for quietMs.
  std::string RecvQuiet(int quietMs = 150) {
    std::string out, got;
    while (!(got = RecvOnce(quietMs)).empty()) out += got;
    return out;
  }
  // Sends a command with the suffix; returns its reply (the first chunk
  // and whatever follows it within a short quiet time).
  std::string Exchange(const std::string& command) {
    Send(command + kSuffix);
    std::string out = RecvOnce(2000);
    return out + RecvQuiet(30);
  }
  bool closed_ = false;
  int error_ = 0;

 private:
  int fd_ = -1;
  bool connected_ = false;
};

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.Start(0)) << sim_.LastError();
    ASSERT_NE(sim_.Port(), 0);
  }
  void TearDown() override {
    const auto t0 = std::chrono::steady_clock::now();
    sim_.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  }
  Simulator sim_;
};

TEST_F(SimulatorTest, ParsingSuffixLineBlockAndSplitArrival) {
  Client c(sim_.Port());
  ASSERT_TRUE(c.Connected());
  // The suffix ends a command; several commands in one chunk.
  c.Send("Getstatus" + kSuffix + "GETPORT 1" + kSuffix);
  EXPECT_EQ(c.RecvBytes(14), "S00000000\r\n1\r\n");
  // CR, LF or CR LF end a command (a terminal); keywords ignore case.
  c.Send("getport 2\rgEtPoRt 3\nGETPORT 4\r\n\r\n");
  EXPECT_EQ(c.RecvBytes(9), "1\r\n1\r\n1\r\n");
  // Split arrival: byte by byte.
  const std::string cmd = "setport 3.1" + kSuffix;
  for (char ch : cmd) {
    c.Send(std::string(1, ch));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(c.RecvBytes(4), "OK\r\n");
  EXPECT_TRUE(sim_.Output(3));
  // A 100-byte block: no reply until all 100 bytes are there.
  std::string block = "writelcd 1.** KORVALINEX **";
  block += '\0';
  block += std::string(100 - block.size(), ' ');
  block.replace(60, 5, kSuffix);  // filler that looks like a suffix
  c.Send(block.substr(0, 50));
  EXPECT_EQ(c.RecvOnce(200), "");
  c.Send(block.substr(50) + "Getstatus" + kSuffix);
  EXPECT_EQ(c.RecvBytes(15), "OK\r\nS00000100\r\n");
  EXPECT_EQ(sim_.Lcd(1), "** KORVALINEX **");

  ASSERT_TRUE(sim_.WaitForCommands(8, 1000));
  std::vector<kvxsim::CommandRecord> log = sim_.Commands();
  ASSERT_EQ(log.size(), 8u);
  EXPECT_EQ(log[0].kind, CommandKind::Text);
  EXPECT_EQ(log[0].raw, "Getstatus" + kSuffix);
  EXPECT_EQ(log[0].text, "Getstatus");
  EXPECT_EQ(log[0].keyword, "GETSTATUS");
  EXPECT_EQ(log[0].reply, "S00000000\r\n");
  EXPECT_EQ(log[2].kind, CommandKind::Line);
  EXPECT_EQ(log[2].raw, "getport 2\r");
  EXPECT_EQ(log[4].raw, "GETPORT 4\r\n");
  EXPECT_EQ(log[5].raw, cmd);
  EXPECT_EQ(log[6].kind, CommandKind::Block);
  EXPECT_EQ(log[6].raw, block);
  EXPECT_EQ(log[6].text, "writelcd 1.** KORVALINEX **");
  // The byte-by-byte command arrived in many chunks.
  EXPECT_GE(sim_.Chunks().size(), 8u);
}

// A block ends after its 100 bytes even when its zero byte comes later (in
// the next block): its text is taken from its own bytes only.
TEST_F(SimulatorTest, BlockTextStaysWithinItsHundredBytes) {
  Client c(sim_.Port());
  std::string first = "WRITELCD 1.FIRST";
  first += std::string(100 - first.size(), '.');
  std::string second = "WRITELCD 2.SECOND";
  second += std::string(100 - second.size(), '\0');
  c.Send(first + second);
  EXPECT_EQ(c.RecvBytes(8), "OK\r\nOK\r\n");
  ASSERT_TRUE(sim_.WaitForCommands(2, 1000));
  std::vector<kvxsim::CommandRecord> log = sim_.Commands();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].kind, CommandKind::Block);
  EXPECT_EQ(log[0].raw, first);
  EXPECT_EQ(log[0].text, first);
  EXPECT_EQ(log[1].raw, second);
  EXPECT_EQ(log[1].text, "WRITELCD 2.SECOND");
  EXPECT_EQ(sim_.Lcd(1), "FIRST...........");
  EXPECT_EQ(sim_.Lcd(2), "SECOND          ");
}

TEST_F(SimulatorTest, ReplyForms) {
  Client c(sim_.Port());
  EXPECT_EQ(c.Exchange("setport 1.1"), "OK\r\n");
  EXPECT_EQ(c.Exchange("SETPORT 8.1"), "OK\r\n");
  EXPECT_EQ(c.Exchange("Getstatus"), "S10000001\r\n");
  EXPECT_EQ(sim_.Outputs(), "10000001");
  EXPECT_EQ(c.Exchange("setport 9.1"), "ERR\r\n");
  sim_.SetAnalog(2, 512);
  sim_.SetDigital(3, 0);
  EXPECT_EQ(c.Exchange("GETADC 2"), "512\r\n");
  EXPECT_EQ(c.Exchange("GETADC 3"), "0\r\n");
  EXPECT_EQ(c.Exchange("GETPORT 3"), "0\r\n");
  EXPECT_EQ(c.Exchange("Version"),
            "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n");
  EXPECT_EQ(c.Exchange("Getip"), "192.168.1.50\r\n");
  EXPECT_EQ(c.Exchange("Getmask"), "255.255.255.0\r\n");
  EXPECT_EQ(c.Exchange("Getgw"), "192.168.1.1\r\n");
  EXPECT_EQ(c.Exchange("SETIP 10.0.0.7"), "OK\r\n");
  EXPECT_EQ(c.Exchange("GETIP"), "10.0.0.7\r\n");
  std::string help = c.Exchange("Help");
  EXPECT_GT(help.size(), 40u);
  EXPECT_LT(help.size(), 200u);
  EXPECT_NE(help.find("\r\n"), std::string::npos);
  EXPECT_EQ(c.Exchange("WRITELCD 2.0123456789abcdefXYZ"), "OK\r\n");
  EXPECT_EQ(sim_.Lcd(2), "0123456789abcdef");
  EXPECT_EQ(c.Exchange("CLEARLCD 2"), "OK\r\n");
  EXPECT_EQ(sim_.Lcd(2), std::string(16, ' '));
  EXPECT_EQ(c.Exchange("frobnicate"), "ERR unknown command\r\n");
  EXPECT_EQ(c.Exchange(""), "ERR unknown command\r\n");
  // Garbage input does not crash it and gets answers.
  std::string junk;
  for (int i = 1; i < 256; ++i) junk += static_cast<char>(i);
  c.Send(junk + kSuffix);
  EXPECT_FALSE(c.RecvQuiet().empty());
  // RESET answers, closes, and resets the outputs; the next client is served.
  c.Send("RESET" + kSuffix);
  EXPECT_EQ(c.RecvBytes(7), "RESET\r\n");
  c.RecvOnce(1000);
  EXPECT_TRUE(c.closed_);
  ASSERT_TRUE(sim_.WaitFor([&] { return !sim_.Connected(); }, 1000));
  EXPECT_EQ(sim_.Outputs(), "00000000");
  Client d(sim_.Port());
  EXPECT_EQ(d.Exchange("Getstatus"), "S00000000\r\n");
  EXPECT_EQ(sim_.ConnectionCount(), 2u);
}

TEST_F(SimulatorTest, WellModelDirection) {
  double t = 0;
  sim_.SetModelClock([&t] { return t; });
  sim_.SetLevel(100);
  sim_.SetRates(1.0, 3.0);
  Client c(sim_.Port());
  // Sensor unpowered: analog 1 reads 0.
  EXPECT_EQ(c.Exchange("GETADC 1"), "0\r\n");
  EXPECT_EQ(c.Exchange("setport 3.1"), "OK\r\n");
  EXPECT_EQ(c.Exchange("GETADC 1"), "100\r\n");
  // Output 4 off: the pump draws, the level falls by 2/s.
  t = 10;
  EXPECT_EQ(c.Exchange("GETADC 1"), "80\r\n");
  // Output 4 on (Minimum): the pump stops, the inflow raises the level.
  EXPECT_EQ(c.Exchange("setport 4.1"), "OK\r\n");
  t = 20;
  EXPECT_EQ(c.Exchange("GETADC 1"), "90\r\n");
  EXPECT_NEAR(sim_.Level(), 90.0, 1e-9);
  // Clamped to 0..1023.
  t = 5000;
  EXPECT_EQ(c.Exchange("GETADC 1"), "1023\r\n");
  EXPECT_EQ(c.Exchange("setport 4.0"), "OK\r\n");
  t = 10000;
  EXPECT_EQ(c.Exchange("GETADC 1"), "0\r\n");
  EXPECT_EQ(sim_.Level(), 0.0);
  sim_.SetModelClock(nullptr);  // `t` goes out of scope
}

TEST_F(SimulatorTest, OverridesLogAndClock) {
  uint32_t now = 4242;
  sim_.SetClock([&now] { return now; });
  sim_.SetReply("GETSTATUS", "S00000001");
  sim_.SetReply("GETADC 2", "abc");
  sim_.SetReply("getport", std::string("1\0x\r\n", 5), 1);
  Client c(sim_.Port());
  EXPECT_EQ(c.Exchange("Getstatus"), "S00000001");
  EXPECT_EQ(c.Exchange("GETADC 2"), "abc");
  EXPECT_EQ(c.Exchange("GETADC 3"), "0\r\n");
  EXPECT_EQ(c.Exchange("GETPORT 1"), std::string("1\0x\r\n", 5));
  EXPECT_EQ(c.Exchange("GETPORT 1"), "1\r\n");  // used up
  sim_.ClearReplies();
  EXPECT_EQ(c.Exchange("Getstatus"), "S00000000\r\n");
  std::vector<kvxsim::CommandRecord> log = sim_.Commands();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[0].time, 4242u);
  EXPECT_EQ(sim_.Chunks()[0].time, 4242u);
  sim_.ClearLog();
  EXPECT_EQ(sim_.CommandCount(), 0u);
  EXPECT_TRUE(sim_.Chunks().empty());
  EXPECT_EQ(kvxsim::EscapeBytes("Help \\r\\n"), "Help \\x5cr\\x5cn");
  EXPECT_EQ(kvxsim::EscapeBytes(std::string("a \0", 3) + "\xfc "),
            "a \\x00\\xfc\\x20");
  std::string back;
  ASSERT_TRUE(kvxsim::UnescapeBytes("S\\x30\\r\\n\\0\\\\", &back));
  EXPECT_EQ(back, std::string("S0\r\n\0\\", 6));
  EXPECT_EQ(kvxsim::Cp1252ToUtf8("\xe4\x80"), "\xc3\xa4\xe2\x82\xac");
  sim_.SetClock(nullptr);  // `now` goes out of scope
}

size_t CommandBytes(const std::vector<kvxsim::CommandRecord>& log) {
  size_t n = 0;
  for (const kvxsim::CommandRecord& r : log)
    n += r.raw.size() + r.text.size() + r.keyword.size() + r.reply.size();
  return n;
}

// Long input and long replies do not make the log grow without bound: it
// keeps the newest records within its bytes.
TEST_F(SimulatorTest, LogIsBoundedByBytes) {
  const size_t kBound = Simulator::kLogBytes;
  Client c(sim_.Port());
  // 3 MiB without a line end: 3072 overlong commands of 1024 bytes.
  const std::string piece(64 * 1024, 'A');
  for (int i = 0; i < 48; ++i) c.Send(piece);
  ASSERT_TRUE(sim_.WaitForCommands(3072, 10000));
  size_t chunkBytes = 0;
  for (const kvxsim::ChunkRecord& r : sim_.Chunks())
    chunkBytes += r.bytes.size();
  EXPECT_LE(chunkBytes, kBound);
  EXPECT_GT(chunkBytes, kBound - 64 * 1024);
  std::vector<kvxsim::CommandRecord> log = sim_.Commands();
  EXPECT_LE(CommandBytes(log), kBound);
  EXPECT_GT(CommandBytes(log), kBound - 4096);
  EXPECT_EQ(sim_.CommandCount(), 3072u);
  c.RecvBytes(3072 * 14);

  // Replies padded to 1 MiB: only the newest stay, the last one always.
  sim_.ClearLog();
  sim_.SetReplyPadding(1024 * 1024);
  for (int i = 0; i < 3; ++i) {
    c.Send("GETIP" + kSuffix);
    ASSERT_EQ(c.RecvBytes(1024 * 1024, 10000).size(), 1024u * 1024u);
  }
  ASSERT_TRUE(sim_.WaitForCommands(3, 1000));
  log = sim_.Commands();
  EXPECT_LE(CommandBytes(log), kBound);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().reply.size(), 1024u * 1024u);
  EXPECT_EQ(sim_.CommandCount(), 3u);
}

TEST_F(SimulatorTest, FaultsSilentSplitPadAndGarbage) {
  Client c(sim_.Port());
  ASSERT_TRUE(sim_.WaitForConnection(1, 1000));
  sim_.SetSilent(true);
  c.Send("Getstatus" + kSuffix);
  EXPECT_EQ(c.RecvOnce(300), "");
  EXPECT_EQ(sim_.CommandCount(), 1u);
  sim_.SetSilent(false);

  sim_.SetReplySplit(3, 100);
  c.Send("Version" + kSuffix);
  std::string first = c.RecvOnce();
  EXPECT_LT(first.size(), 20u);
  EXPECT_EQ(first + c.RecvBytes(39 - first.size()),
            "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n");
  sim_.SetReplySplit(0, 0);

  sim_.SetReplyPadding(250);
  std::string help = c.Exchange("Help");
  EXPECT_EQ(help.size(), 250u);
  EXPECT_EQ(help.back(), '#');
  sim_.SetReplyPadding(0);

  sim_.SetLineEndOnly(true);
  EXPECT_EQ(c.Exchange("GETADC 1"), "\r\n");
  sim_.SetLineEndOnly(false);
  sim_.SetNonAscii(true);
  EXPECT_EQ(c.Exchange("GETPORT 1"), "1\xC4\xD6\xDC\xE4\xF6\xFC\xDF\x80\r\n");
  sim_.SetNonAscii(false);
  sim_.SetZeroByteAt(1);
  EXPECT_EQ(c.Exchange("GETPORT 1"), std::string("1\0\r\n", 4));
  sim_.ClearFaults();
  sim_.SetGarbage(true);
  std::string g = c.Exchange("Getstatus");
  EXPECT_GE(g.size(), 1u);
  EXPECT_LE(g.size(), 64u);
  sim_.ClearFaults();

  sim_.SetReplyDelay(300);
  const auto t0 = std::chrono::steady_clock::now();
  c.Send("Getgw" + kSuffix);
  EXPECT_EQ(c.RecvBytes(13), "192.168.1.1\r\n");
  EXPECT_GE(std::chrono::steady_clock::now() - t0,
            std::chrono::milliseconds(290));
  sim_.SetReplyDelay(0);

  sim_.Flood(5000, "0123456789");
  std::string flood = c.RecvBytes(5000);
  EXPECT_EQ(flood.size(), 5000u);
  EXPECT_EQ(flood.substr(0, 12), "012345678901");
}

// The fault pipeline on its own: the order of the changes to a reply's
// bytes, the pieces it is sent in, and a once-delay that is used up.
TEST(SimulatorFaults, PipelineOrderPiecesAndOnceDelay) {
  kvxsim::Faults f;
  f.nonAscii = true;
  f.zeroAt = 0;
  f.padTo = 14;
  uint32_t seed = 1;
  EXPECT_EQ(kvxsim::DistortReply(f, &seed, "1\r\n"),
            std::string("\0"
                        "1\xC4\xD6\xDC\xE4\xF6\xFC\xDF\x80\r\n##",
                        14));
  f.silent = true;
  EXPECT_EQ(kvxsim::DistortReply(f, &seed, "1\r\n"), "");

  using Pieces = std::vector<std::string>;
  EXPECT_EQ(kvxsim::SplitReply("abcdefg", 3), (Pieces{"ab", "cd", "efg"}));
  EXPECT_EQ(kvxsim::SplitReply("ab", 5), (Pieces{"a", "b"}));
  EXPECT_EQ(kvxsim::SplitReply("abc", 1), (Pieces{"abc"}));

  kvxsim::Faults d;
  d.delayMs = 20;
  d.onceDelayKey = "GETADC2";
  d.onceDelayMs = 500;
  uint32_t jitter = 1;
  EXPECT_EQ(kvxsim::ReplyDelayMs(&d, &jitter, "GETADC", "GETADC 1"), 20);
  EXPECT_EQ(kvxsim::ReplyDelayMs(&d, &jitter, "GETADC", "getadc 2"), 500);
  EXPECT_EQ(kvxsim::ReplyDelayMs(&d, &jitter, "GETADC", "GETADC 2"), 20);

  // With a trigger: only the key's first command after the trigger's.
  kvxsim::Faults t;
  t.onceDelayKey = "GETPORT4";
  t.onceDelayTrigger = "SETPORT5*";
  t.onceDelayAwaitsTrigger = true;
  t.onceDelayMs = 1000;
  const char* const run[][2] = {
      {"GETPORT", "GETPORT 4"},   {"SETPORT", "setport 4.1"},
      {"SETPORT", "setport 5.0"}, {"GETSTATUS", "Getstatus"},
      {"GETPORT", "GETPORT 4"},   {"SETPORT", "setport 5.1"},
      {"GETPORT", "GETPORT 4"}};
  std::string delays;
  for (const auto& cmd : run)
    delays +=
        std::to_string(kvxsim::ReplyDelayMs(&t, &jitter, cmd[0], cmd[1])) + " ";
  EXPECT_EQ(delays, "0 0 0 0 1000 0 0 ");
  // "*" holds whatever comes next.
  kvxsim::Faults any;
  any.onceDelayKey = "*";
  any.onceDelayMs = 300;
  EXPECT_EQ(kvxsim::ReplyDelayMs(&any, &jitter, "HELP", "Help"), 300);
  EXPECT_EQ(kvxsim::ReplyDelayMs(&any, &jitter, "HELP", "Help"), 0);
}

// Version written one line at a time (as the Wine tests start the
// simulator), and replies drawn at random, set over the control channel:
// each reply begins only after the one before it was written whole.
TEST_F(SimulatorTest, LineGapAndRandomRepliesOnTheWire) {
  ASSERT_TRUE(sim_.StartControl(0)) << sim_.LastError();
  EXPECT_EQ(sim_.ControlCommand("linegap 120 VERSION"), "OK\n");
  Client c(sim_.Port());
  ASSERT_TRUE(sim_.WaitForConnection(1, 1000));
  const auto t0 = std::chrono::steady_clock::now();
  c.Send("Version" + kSuffix);
  EXPECT_EQ(c.RecvOnce(), "uC: ATmega32\r\n");
  EXPECT_EQ(c.RecvBytes(10), "Ver: 1.5\r\n");
  EXPECT_EQ(c.RecvBytes(15), "NIC: ENC28J60\r\n");
  EXPECT_GE(std::chrono::steady_clock::now() - t0,
            std::chrono::milliseconds(230));
  std::string help = c.Exchange("Help");  // other replies whole
  EXPECT_EQ(help.substr(0, 20), "KORVALINEX Befehle:\r");
  EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 5);

  EXPECT_EQ(sim_.ControlCommand("random faults seed=2 garbage=100 extra=100 "
                                "extrams=0 split=100 gapms=20"),
            "OK\n");
  sim_.SetLevel(43);
  sim_.SetOutput(3, true);
  // Three commands at once: each reply is garbage plus one line more, in
  // pieces; all six lines come, in the order of the commands (Version and
  // Help were answered before).
  c.Send("GETADC 1" + kSuffix + "GETADC 1" + kSuffix + "GETADC 1" + kSuffix);
  ASSERT_TRUE(sim_.WaitFor([&] { return sim_.AnsweredCount() >= 5; }, 5000));
  std::string all;
  for (const kvxsim::CommandRecord& r : sim_.Commands())
    if (r.keyword == "GETADC") all += r.reply;
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 6);
  EXPECT_EQ(c.RecvBytes(all.size()), all);
  EXPECT_EQ(all.find("43\r\n"), std::string::npos);
  EXPECT_EQ(sim_.ControlCommand("random off"), "OK\n");
  EXPECT_EQ(c.Exchange("GETADC 1"), "43\r\n");
}

// A stray line armed by a command: only the reply to the first Getstatus
// after a "setport 5.x" is followed by it, in a piece of its own.
TEST_F(SimulatorTest, StrayLineBehindTheReplyAfterItsTrigger) {
  ASSERT_TRUE(sim_.StartControl(0)) << sim_.LastError();
  EXPECT_EQ(
      sim_.ControlCommand("strayafter setport5* GETSTATUS 1 80 600\\r\\n"),
      "OK\n");
  Client c(sim_.Port());
  ASSERT_TRUE(sim_.WaitForConnection(1, 1000));
  EXPECT_EQ(c.Exchange("Getstatus"), "S00000000\r\n");  // not yet armed
  EXPECT_EQ(c.Exchange("setport 4.1"), "OK\r\n");       // not the trigger
  EXPECT_EQ(c.Exchange("Getstatus"), "S00001000\r\n");
  EXPECT_EQ(c.Exchange("setport 5.0"), "OK\r\n");
  EXPECT_EQ(c.Exchange("GETADC 2"), "0\r\n");  // not the key
  c.Send("Getstatus" + kSuffix);
  EXPECT_EQ(c.RecvOnce(), "S00001000\r\n");
  EXPECT_EQ(c.RecvOnce(60), "");  // the gap
  EXPECT_EQ(c.RecvBytes(5), "600\r\n");
  EXPECT_EQ(c.Exchange("setport 5.1"), "OK\r\n");
  EXPECT_EQ(c.Exchange("Getstatus"), "S00011000\r\n");  // used up
  const std::vector<kvxsim::CommandRecord> log = sim_.Commands();
  ASSERT_EQ(log.size(), 8u);
  EXPECT_EQ(log[5].reply, "S00001000\r\n600\r\n");
  EXPECT_EQ(log[5].pieces, "+0:11 +80:5");
  EXPECT_EQ(log[7].pieces, "");
}

// A trickle: one byte at a time, no line end, the reply never done; the
// next command is answered only once it is switched off.
TEST_F(SimulatorTest, TrickleNeverEndsTheReplyUntilOff) {
  ASSERT_TRUE(sim_.StartControl(0)) << sim_.LastError();
  sim_.SetLevel(43);
  sim_.SetOutput(3, true);
  EXPECT_EQ(sim_.ControlCommand("trickle 40 GETADC1"), "OK\n");
  Client c(sim_.Port());
  ASSERT_TRUE(sim_.WaitForConnection(1, 1000));
  EXPECT_EQ(c.Exchange("GETADC 2"), "0\r\n");  // not the key
  const auto t0 = std::chrono::steady_clock::now();
  c.Send("GETADC 1" + kSuffix + "Getstatus" + kSuffix);
  std::string got;
  for (int i = 0; i < 5; ++i) {
    const std::string one = c.RecvOnce();
    EXPECT_EQ(one.size(), 1u) << one;
    got += one;
  }
  EXPECT_EQ(got, "43434");
  EXPECT_GE(std::chrono::steady_clock::now() - t0,
            std::chrono::milliseconds(190));
  EXPECT_EQ(sim_.AnsweredCount(), 1u);
  EXPECT_EQ(sim_.ControlCommand("trickle off"), "OK\n");
  // At most the byte under way, then the status.
  std::string rest = c.RecvBytes(12);
  if (rest.size() == 12) {
    EXPECT_EQ(rest, "3S00000100\r\n");
  } else {
    EXPECT_EQ(rest + c.RecvBytes(11 - rest.size()), "S00000100\r\n");
  }
  const std::vector<kvxsim::CommandRecord> log = sim_.Commands();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].reply, "43");
  EXPECT_EQ(log[1].pieces, "+40:1 ...");
  // A long trickle is cut short by Stop() (checked in TearDown).
  EXPECT_EQ(sim_.ControlCommand("trickle 60000"), "OK\n");
  c.Send("Help" + kSuffix);
  ASSERT_TRUE(sim_.WaitForCommands(4, 1000));
}

TEST_F(SimulatorTest, FaultsCloseAndReset) {
  {
    Client c(sim_.Port());
    ASSERT_TRUE(sim_.WaitForConnection(1, 1000));
    sim_.CloseNow();
    c.RecvOnce(1000);
    EXPECT_TRUE(c.closed_);
  }
  {
    Client c(sim_.Port());
    ASSERT_TRUE(sim_.WaitForConnection(2, 1000));
    sim_.ResetNow();
    c.RecvOnce(1000);
    EXPECT_EQ(c.error_, ECONNRESET);
  }
  {
    Client c(sim_.Port());
    ASSERT_TRUE(sim_.WaitForConnection(3, 1000));
    // A long delay is cut short by Stop() (checked in TearDown).
    sim_.SetReplyDelay(60000);
    c.Send("Help" + kSuffix);
    ASSERT_TRUE(sim_.WaitForCommands(1, 1000));
  }
}

// A power cut on the board port: the outputs drop at once, the
// connection is reset, the reply under way never comes and the command
// behind it is never taken; connects are refused for the cut's time, then
// the board takes a connection again with every output still off.
TEST_F(SimulatorTest, PowerCutResetsRefusesForItsTimeAndKeepsOutputsOff) {
  ASSERT_TRUE(sim_.StartControl(0)) << sim_.LastError();
  Client c(sim_.Port());
  ASSERT_TRUE(sim_.WaitForConnection(1, 1000));
  EXPECT_EQ(c.Exchange("setport 4.1"), "OK\r\n");
  EXPECT_EQ(c.Exchange("writelcd 1.Brunnen"), "OK\r\n");
  sim_.SetReplyDelay(5000);
  c.Send("setport 5.1" + kSuffix + "setport 6.1" + kSuffix);
  ASSERT_TRUE(sim_.WaitForCommands(3, 1000));
  EXPECT_EQ(sim_.Outputs(), "00011000");  // 5.1 taken, its reply waits

  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(sim_.ControlCommand("powercut 0.4"), "OK\n");
  EXPECT_EQ(sim_.Outputs(), "00000000");
  EXPECT_EQ(sim_.Lcd(1), std::string(16, ' '));
  EXPECT_EQ(sim_.ControlCommand("powercut"), "off\n");
  EXPECT_EQ(c.RecvOnce(1000), "");
  EXPECT_EQ(c.error_, ECONNRESET);
  EXPECT_FALSE(sim_.Connected());
  {
    Client refused(sim_.Port());
    EXPECT_FALSE(refused.Connected());
  }
  sim_.SetReplyDelay(0);
  std::unique_ptr<Client> again;
  ASSERT_TRUE(sim_.WaitFor(
      [&] {
        again = std::make_unique<Client>(sim_.Port());
        return again->Connected();
      },
      3000));
  const auto off = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(off, std::chrono::milliseconds(390));
  EXPECT_LT(off, std::chrono::milliseconds(1500));
  EXPECT_EQ(sim_.ControlCommand("powercut"), "on\n");
  EXPECT_EQ(again->Exchange("Getstatus"), "S00000000\r\n");
  EXPECT_EQ(sim_.ConnectionCount(), 2u);
  // setport 6.1 was never taken; nothing was answered before the cut.
  const std::vector<kvxsim::CommandRecord> log = sim_.Commands();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2].text, "setport 5.1");
  EXPECT_EQ(log[3].text, "Getstatus");
  EXPECT_FALSE(sim_.Output(6));
}

// A refusal ("ERR" in place of the reply) leaves the board as it was; any
// other override still lets the command act. Keys ending in '*' take every
// command that begins so, the longest one first.
TEST_F(SimulatorTest, ARefusedCommandDoesNothing) {
  ASSERT_TRUE(sim_.StartControl(0)) << sim_.LastError();
  Client c(sim_.Port());
  ASSERT_TRUE(sim_.WaitForConnection(1, 1000));
  EXPECT_EQ(c.Exchange("setport 4.1"), "OK\r\n");
  EXPECT_EQ(sim_.ControlCommand("reply setport4* ERR\\r\\n"), "OK\n");
  EXPECT_EQ(c.Exchange("setport 4.0"), "ERR\r\n");
  EXPECT_TRUE(sim_.Output(4));
  EXPECT_EQ(c.Exchange("Getstatus"), "S00001000\r\n");
  // The longer beginning wins over the shorter, the whole command over both.
  EXPECT_EQ(sim_.ControlCommand("reply setport* ERR\\r\\n"), "OK\n");
  EXPECT_EQ(sim_.ControlCommand("reply setport6* OK\\r\\n"), "OK\n");
  EXPECT_EQ(c.Exchange("setport 6.1"), "OK\r\n");
  EXPECT_TRUE(sim_.Output(6));
  EXPECT_EQ(c.Exchange("setport 7.1"), "ERR\r\n");
  EXPECT_FALSE(sim_.Output(7));
  EXPECT_EQ(sim_.ControlCommand("replyonce setport4.0 ok?\\r\\n"), "OK\n");
  EXPECT_EQ(c.Exchange("setport 4.0"), "ok?\r\n");  // not a refusal
  EXPECT_FALSE(sim_.Output(4));
  EXPECT_EQ(c.Exchange("setport 4.1"), "ERR\r\n");  // the once is used up
  EXPECT_FALSE(sim_.Output(4));
  // A refused RESET restarts nothing and keeps the connection.
  EXPECT_EQ(sim_.ControlCommand("reply RESET ERR\\r\\n"), "OK\n");
  EXPECT_EQ(c.Exchange("RESET"), "ERR\r\n");
  EXPECT_TRUE(sim_.Output(6));
  EXPECT_EQ(sim_.ControlCommand("unreply"), "OK\n");
  EXPECT_EQ(c.Exchange("setport 4.1"), "OK\r\n");
  EXPECT_TRUE(sim_.Output(4));
  EXPECT_TRUE(sim_.Connected());
}

TEST(SimulatorStart, RefusesNonLoopback) {
  Simulator sim;
  EXPECT_FALSE(sim.Start(0, "0.0.0.0"));
  EXPECT_FALSE(sim.Start(0, "192.168.1.50"));
  EXPECT_FALSE(sim.StartControl(0, "10.1.2.3"));
  EXPECT_TRUE(kvxsim::IsLoopbackAddress("127.0.0.2"));
  EXPECT_FALSE(kvxsim::IsLoopbackAddress("128.0.0.1"));
}

TEST_F(SimulatorTest, ControlChannel) {
  ASSERT_TRUE(sim_.StartControl(0)) << sim_.LastError();
  sim_.SetClock([] { return 4242u; });
  Client ctl(sim_.ControlPort());
  auto ask = [&ctl](const std::string& line) {
    ctl.Send(line + "\n");
    std::string out = ctl.RecvOnce(2000);
    return out + ctl.RecvQuiet(30);
  };
  EXPECT_EQ(ask("ping"), "OK\n");
  EXPECT_EQ(ask("analog 2 700"), "OK\n");
  EXPECT_EQ(ask("digital 1 0"), "OK\n");
  EXPECT_EQ(ask("reply GETSTATUS S00000001\\r\\n"), "OK\n");
  Client c(sim_.Port());
  EXPECT_EQ(c.Exchange("GETADC 2"), "700\r\n");
  EXPECT_EQ(c.Exchange("GETPORT 1"), "0\r\n");
  EXPECT_EQ(c.Exchange("setport 6.1"), "OK\r\n");
  EXPECT_EQ(c.Exchange("Getstatus"), "S00000001\r\n");
  EXPECT_EQ(ask("outputs"), "00000100\n");
  EXPECT_EQ(ask("wait 4 1000"), "OK\n");
  EXPECT_EQ(ask("connectedat"), "4242\n");
  EXPECT_EQ(ask("count"), "4\n");
  EXPECT_EQ(ask("log 3"), "4242 text Getstatus \\x5cr\\x5cn\nEND\n");
  EXPECT_EQ(ask("replies 3"),
            "4242 text Getstatus \\x5cr\\x5cn => S00000001\\x0d\\x0a\nEND\n");
  EXPECT_EQ(ask("chunks 3"), "4242 Getstatus \\x5cr\\x5cn\nEND\n");
  EXPECT_EQ(ask("clearlog"), "OK\n");
  EXPECT_EQ(ask("wait 1 50"), "TIMEOUT 0\n");
  EXPECT_EQ(ask("bogus"),
            "ERR unknown or malformed control command (try help)\n");
  EXPECT_EQ(ask("close"), "OK\n");
  c.RecvOnce(1000);
  EXPECT_TRUE(c.closed_);
  EXPECT_EQ(ask("shutdown"), "OK\n");
  EXPECT_TRUE(sim_.ShutdownRequested());
}

// Every control command's reply, for good and for malformed arguments, on a
// simulator without a connection (the model clock stands still).
TEST(SimulatorControl, RepliesToEveryCommand) {
  Simulator sim;
  sim.SetModelClock([] { return 0.0; });
  // The well ran on real time until the clock stood still: back to the
  // level it starts with.
  sim.SetLevel(100);
  const struct {
    const char* line;
    const char* reply;
  } cases[] = {
      {"", "ERR empty\n"},
      {"   ", "ERR empty\n"},
      {"ping", "OK\n"},
      {"PING extra", "OK\n"},
      {"help",
       "ping | outputs (output 1 first) | output N | setoutput N V | "
       "status\nanalog N [COUNT] | digital N [V] | level [COUNTS] | "
       "levelafter [KEY COUNTS] | rates [IN DRAW]\nsensor "
       "[off|pinned N|livezero N|cablebreak|spike N [AFTER]|flat "
       "N|slowstart S]\nlcd 1|2 | network | count | "
       "log [FROM] | replies [FROM] | "
       "chunks [FROM]\nclearlog | wait COUNT [MS] | waitconnect N [MS] | "
       "connectedat\nreply "
       "KEY [BYTES] | replyonce KEY [BYTES] | unreply [KEY]\nclose | reset | "
       "silent on|off | delay MS | split N GAPMS | pad N [BYTE]\njitter MS | "
       "delayonce KEY MS [TRIGGER] | listen on|off | powercut "
       "[SECONDS]\ngarbage on|off | crlf on|off | "
       "nonascii on|off | zero POS|off\ncloseafter N|off | flood N | raw BYTES "
       "| linegap MS [KEY] | strayafter TRIGGER KEY COUNT GAPMS BYTES|off | "
       "trickle MS [KEY]|off\nrandom [off|PROFILE [NAME=VALUE]...]\nfaults "
       "off | shutdown\nEND\n"},
      {"outputs", "00000000\n"},
      {"output 3", "0\n"},
      {"output x", "ERR unknown or malformed control command (try help)\n"},
      {"output", "ERR unknown or malformed control command (try help)\n"},
      {"setoutput 3 1", "OK\n"},
      {"setoutput 9 1",
       "ERR unknown or malformed control command (try help)\n"},
      {"setoutput 3", "ERR unknown or malformed control command (try help)\n"},
      {"output 3", "1\n"},
      {"status",
       "outputs=00100000 level=100.000 adc=100,0,0,0 din=1111 connected=0 "
       "connections=0 commands=0\n"},
      {"analog 2 700", "OK\n"},
      {"analog 2", "700\n"},
      {"analog 5", "ERR unknown or malformed control command (try help)\n"},
      {"analog 2 x", "ERR unknown or malformed control command (try help)\n"},
      {"analog 1 300", "OK\n"},
      {"analog 1 300 4",
       "ERR unknown or malformed control command (try help)\n"},
      {"digital 1 0", "OK\n"},
      {"digital 1", "0\n"},
      {"digital 1 x", "ERR unknown or malformed control command (try help)\n"},
      {"digital 0", "ERR unknown or malformed control command (try help)\n"},
      {"level", "300.000\n"},
      {"level 12.5", "OK\n"},
      {"level abc", "ERR unknown or malformed control command (try help)\n"},
      {"level 1 2", "ERR unknown or malformed control command (try help)\n"},
      {"rates", "0.5 1.5\n"},
      {"rates 1 2", "OK\n"},
      {"rates 1", "ERR unknown or malformed control command (try help)\n"},
      {"rates", "1 2\n"},
      {"sensor", "none\n"},
      {"sensor pinned 1023", "OK\n"},
      {"sensor", "pinned 1023\n"},
      {"analog 1", "1023\n"},
      {"sensor PINNED 1024",
       "ERR unknown or malformed control command (try help)\n"},
      {"sensor spike -200 3", "OK\n"},
      {"sensor", "spike -200 3\n"},
      {"sensor spike 5 -1",
       "ERR unknown or malformed control command (try help)\n"},
      {"sensor slowstart 2.5", "OK\n"},
      {"sensor", "slowstart 2.5\n"},
      {"sensor livezero 180", "OK\n"},
      {"sensor", "livezero 180\n"},
      {"sensor cablebreak", "OK\n"},
      {"analog 1", "0\n"},
      {"sensor cablebreak 3",
       "ERR unknown or malformed control command (try help)\n"},
      {"sensor flat x",
       "ERR unknown or malformed control command (try help)\n"},
      {"sensor bent 3",
       "ERR unknown or malformed control command (try help)\n"},
      {"sensor off", "OK\n"},
      {"sensor", "none\n"},
      {"lcd 1", "               \\x20\n"},
      {"lcd 3", "ERR unknown or malformed control command (try help)\n"},
      {"lcd", "ERR unknown or malformed control command (try help)\n"},
      {"network", "192.168.1.50 255.255.255.0 192.168.1.1\n"},
      {"count", "0\n"},
      {"count 5", "0\n"},
      {"log", "END\n"},
      {"log x", "ERR bad FROM\n"},
      {"log -1", "ERR bad FROM\n"},
      {"log 0 1", "ERR unknown or malformed control command (try help)\n"},
      {"replies", "END\n"},
      {"replies 0", "END\n"},
      {"chunks", "END\n"},
      {"chunks 0", "END\n"},
      {"clearlog", "OK\n"},
      {"wait 0", "OK\n"},
      {"wait 0 x", "ERR bad MS\n"},
      {"wait x", "ERR unknown or malformed control command (try help)\n"},
      {"wait 1 0", "TIMEOUT 0\n"},
      {"wait 1 -5", "ERR bad MS\n"},
      {"waitconnect 0 0", "TIMEOUT 0\n"},
      {"waitconnect", "ERR unknown or malformed control command (try help)\n"},
      {"reply GETSTATUS S1\\r\\n", "OK\n"},
      {"reply X \\q", "ERR bad escape\n"},
      {"reply", "ERR unknown or malformed control command (try help)\n"},
      {"reply GETIP", "OK\n"},
      {"replyonce getport 1\\x00 x", "OK\n"},
      {"unreply GETSTATUS", "OK\n"},
      {"unreply", "OK\n"},
      {"close", "OK\n"},
      {"close now", "ERR unknown or malformed control command (try help)\n"},
      {"reset", "OK\n"},
      {"reset x", "ERR unknown or malformed control command (try help)\n"},
      {"silent on", "OK\n"},
      {"silent maybe", "ERR unknown or malformed control command (try help)\n"},
      {"silent", "ERR unknown or malformed control command (try help)\n"},
      {"delay 10", "OK\n"},
      {"delay -1", "ERR unknown or malformed control command (try help)\n"},
      {"delay 9999999", "OK\n"},
      {"jitter 5", "OK\n"},
      {"jitter x", "ERR unknown or malformed control command (try help)\n"},
      {"delayonce GETIP 50", "OK\n"},
      {"delayonce GETIP",
       "ERR unknown or malformed control command (try help)\n"},
      {"delayonce GETIP -1",
       "ERR unknown or malformed control command (try help)\n"},
      {"delayonce GETPORT4 1000 setport5*", "OK\n"},
      {"delayonce * 1000", "OK\n"},
      {"delayonce GETPORT4 1000 setport5* x",
       "ERR unknown or malformed control command (try help)\n"},
      {"connectedat", "none\n"},
      {"connectedat 1",
       "ERR unknown or malformed control command (try help)\n"},
      {"listen on", "OK\n"},
      {"listen x", "ERR unknown or malformed control command (try help)\n"},
      {"split 2 10", "OK\n"},
      {"split 2 -1", "ERR unknown or malformed control command (try help)\n"},
      {"split 2", "ERR unknown or malformed control command (try help)\n"},
      {"pad 10", "OK\n"},
      {"pad 10 \\x2a", "OK\n"},
      {"pad 10 ab", "ERR bad BYTE\n"},
      {"pad 0 \\s", "OK\n"},
      {"pad x", "ERR unknown or malformed control command (try help)\n"},
      {"pad 1 2 3", "ERR unknown or malformed control command (try help)\n"},
      {"garbage off", "OK\n"},
      {"garbage", "ERR unknown or malformed control command (try help)\n"},
      {"crlf on", "OK\n"},
      {"crlf off", "OK\n"},
      {"nonascii off", "OK\n"},
      {"zero off", "OK\n"},
      {"zero OFF", "OK\n"},
      {"zero 3", "OK\n"},
      {"zero -2", "ERR unknown or malformed control command (try help)\n"},
      {"zero x", "ERR unknown or malformed control command (try help)\n"},
      {"closeafter off", "OK\n"},
      {"closeafter 0", "ERR unknown or malformed control command (try help)\n"},
      {"closeafter 5", "OK\n"},
      {"closeafter x", "ERR unknown or malformed control command (try help)\n"},
      {"flood 10", "OK\n"},
      {"flood -1", "ERR unknown or malformed control command (try help)\n"},
      {"raw A\\r\\n", "OK\n"},
      {"raw \\z", "ERR bad escape\n"},
      {"raw", "OK\n"},
      {"linegap 5", "OK\n"},
      {"linegap 5 VERSION", "OK\n"},
      {"linegap 0", "OK\n"},
      {"linegap", "ERR unknown or malformed control command (try help)\n"},
      {"linegap -5", "ERR unknown or malformed control command (try help)\n"},
      {"strayafter - GETSTATUS 1 0 600\\r\\n", "OK\n"},
      {"strayafter setport5* GETSTATUS 2 50 \\sx", "OK\n"},
      {"strayafter - GETSTATUS 0 0 600",
       "ERR unknown or malformed control command (try help)\n"},
      {"strayafter - GETSTATUS 1 0",
       "ERR unknown or malformed control command (try help)\n"},
      {"strayafter - GETSTATUS 1 0 \\q", "ERR bad BYTES\n"},
      {"strayafter off", "OK\n"},
      {"trickle 2900", "OK\n"},
      {"trickle 100 GETADC1", "OK\n"},
      {"trickle off", "OK\n"},
      {"trickle", "ERR unknown or malformed control command (try help)\n"},
      {"trickle -1", "ERR unknown or malformed control command (try help)\n"},
      {"random", "off\n"},
      {"random whole seed=9", "OK\n"},
      {"random",
       "faults seed=9 delay=0 delayms=300 split=0 pieces=4 gapms=500 "
       "boundary=50 lines=0 linems=200 long=0 garbage=0 extra=0 extrams=500\n"},
      {"random faults garbage=101", "ERR garbage is a percentage, 0..100\n"},
      {"random faults pieces=1", "ERR pieces must be a whole number 2..1000\n"},
      {"random faults bogus=1", "ERR unknown setting bogus\n"},
      {"random faults garbage", "ERR not NAME=VALUE: garbage\n"},
      {"random storm", "ERR unknown profile storm\n"},
      {"random off now", "ERR nothing may follow off\n"},
      {"random off", "OK\n"},
      {"random", "off\n"},
      {"faults off", "OK\n"},
      {"faults on", "ERR unknown or malformed control command (try help)\n"},
      {"faults", "ERR unknown or malformed control command (try help)\n"},
      {"status",
       "outputs=00100000 level=12.500 adc=13,700,0,0 din=0111 connected=0 "
       "connections=0 commands=0\n"},
      {"bogus", "ERR unknown or malformed control command (try help)\n"},
      {"SETOUTPUT 2 1\r\n", "OK\n"},
      {"OUTPUTS", "01100000\n"},
      {"powercut", "on\n"},
      {"powercut -1", "ERR unknown or malformed control command (try help)\n"},
      {"powercut 3601",
       "ERR unknown or malformed control command (try help)\n"},
      {"powercut 1 2", "ERR unknown or malformed control command (try help)\n"},
      {"powercut x", "ERR unknown or malformed control command (try help)\n"},
      {"powercut 0", "OK\n"},
      {"OUTPUTS", "00000000\n"},
      {"powercut", "on\n"},
      {"setoutput 2 1", "OK\n"},
      {"powercut 3600", "OK\n"},
      {"powercut", "off\n"},
      {"OUTPUTS", "00000000\n"},
      {"Shutdown", "OK\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sim.ControlCommand(c.line), c.reply) << "line: " << c.line;
  EXPECT_TRUE(sim.ShutdownRequested());
  EXPECT_EQ(sim.Lcd(1), std::string(16, ' '));
  sim.SetModelClock(nullptr);
}

}  // namespace
