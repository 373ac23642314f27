// The simulator's control channel: plain text lines on a loopback TCP port,
// so that a shell (bash's /dev/tcp) can drive the simulator during the
// end-to-end tests of the Windows program.
//
// One command per line ("\n" or "\r\n"), words separated by blanks, the
// command word case-insensitive. Every command answers exactly one line,
// except log, chunks and help, whose lines end with a line "END".
// A value that was set answers "OK"; a bad command "ERR <reason>".
// BYTES arguments use the escapes of UnescapeBytes: \xNN \\ \r \n \t \0 \s.
//
//   ping                     OK
//   outputs                  e.g. 00100000 : eight digits, OUTPUT 1 FIRST
//   output N                 0 or 1
//   setoutput N 0|1          OK
//   status                   outputs=00100000 level=123.456 adc=123,0,0,0
//                            din=1111 connected=1 connections=1 commands=42
//   analog N [COUNT]         set (N 1 sets the level) / get what GETADC N
//                            answers now
//   digital N [0|1]          set / get digital input N (1 = open)
//   level [COUNTS]           set / get the well level (counts, %.3f)
//   levelafter [KEY COUNTS]  the well goes to COUNTS when the board takes
//                            the next command matching KEY (no blanks, e.g.
//                            setport3.0 for the end of a cycle); alone:
//                            "armed", "changed N" (the command's number in
//                            the log) or "none"
//   rates [INFLOW DRAW]      set / get "INFLOW DRAW" (counts/s)
//   sensor [FAULT]           the level sensor's fault on analog input 1
//                            (board state: "faults off" leaves it); alone:
//                            the fault as set, e.g. "pinned 1023"
//     sensor off             none: the level while output 3 is on, else 0
//     sensor pinned COUNT    COUNT whatever output 3 does (1023: 5,00 V at
//                            the top; 127: 0,62 V, no response to power)
//     sensor livezero COUNT  a live-zero sensor: COUNT plus the level while
//                            powered, 0 unpowered
//     sensor cablebreak      a live-zero sensor's broken cable: 0 always
//     sensor spike COUNT [AFTER]
//                            one powered reading off by COUNT (-1023..1023),
//                            the one after AFTER powered readings (0); once
//     sensor flat COUNT      COUNT while powered, whatever the well does
//     sensor slowstart SECONDS
//                            the powered reading climbs from 0 to the level
//                            over the first SECONDS (0..3600) of power
//   lcd 1|2                  the display line, escaped (16 bytes)
//   network                  "IP MASK GW"
//   count                    commands parsed since the last clearlog
//   log [FROM]               one line per command from index FROM (0):
//                            "<ms> <kind> <escaped raw bytes>", then END
//   replies [FROM]           the same with the reply sent:
//                            "<ms> <kind> <escaped raw> => <escaped reply>"
//   chunks [FROM]            "<ms> <escaped bytes>" per received chunk, END
//   clearlog                 OK
//   wait COUNT [MS]          OK once count >= COUNT, else "TIMEOUT <count>"
//                            (MS default 10000, at most 120000)
//   waitconnect N [MS]       OK once N connections were accepted and one is
//                            open, else TIMEOUT
//   connectedat              when the last connection was accepted, ms on
//                            the log's clock (as in log), or "none"
//   reply KEY [BYTES]        reply override (KEY: keyword, keyword with
//                            arguments without blank e.g. GETADC2, their
//                            beginning and * e.g. setport4*, or *);
//                            no BYTES = an empty reply (nothing is sent);
//                            BYTES beginning with ERR refuse the command:
//                            it does nothing (setport4* ERR\r\n: output
//                            4 is not switched)
//   replyonce KEY [BYTES]    the same for one use
//   unreply [KEY]            remove one / all overrides
//   close                    close the board connection now (FIN)
//   reset                    reset it now (RST)
//   silent on|off            read, answer nothing
//   delay MS                 delay each reply
//   jitter MS                a further 0..MS before each reply (0 off)
//   delayonce KEY MS [TRIGGER]
//                            the next reply to KEY comes MS after its
//                            command, the replies behind it after it, in
//                            order (a reply held back); KEY * is whatever
//                            comes next, a KEY ending in * every command
//                            that begins so; with TRIGGER, the next reply
//                            to KEY after a command matching TRIGGER
//                            (delayonce GETPORT4 1000 setport5*: the last
//                            reply of the query after output 5's switching)
//   listen on|off            off: close the connection, refuse connects
//   powercut SECONDS         a power cut: every output off at once, the
//                            connection reset, connects refused for SECONDS
//                            (decimals allowed, at most 3600), then the
//                            board listens again, outputs still off; OK once
//                            in effect
//   powercut                 "off" during a power cut, else "on"
//   split N GAPMS            each reply in N pieces, GAPMS apart (N<=1 off)
//   pad N [BYTE]             pad each reply to N bytes (default '#'; 0 off)
//   garbage on|off           random replies
//   crlf on|off              every reply is CR LF only
//   nonascii on|off          Windows-1252 umlauts before the line end
//   zero POS|off             insert a zero byte at POS into each reply
//   closeafter N|off         close the connection after N more commands
//   flood N                  send N unsolicited bytes now (at most 1 MiB)
//   raw BYTES                send these bytes now, unsolicited
//   linegap MS [KEY]         multi-line replies one line at a time, MS
//                            apart (0 off); only to KEY when given
//   strayafter TRIGGER KEY COUNT GAPMS BYTES
//                            once a command matching TRIGGER ("-": now) was
//                            answered, the next COUNT replies to KEY are
//                            each followed, GAPMS after them, by BYTES;
//                            a key ending in * matches every command that
//                            begins so (setport5*)
//   strayafter off           no more stray lines
//   trickle MS [KEY]|off     replies (only to KEY when given) one byte
//                            every MS, line ends left out, over and over;
//                            the reply never ends (off: it stays unfinished)
//   random [off|PROFILE [NAME=VALUE]...]
//                            each reply drawn at random (random_replies.h:
//                            profiles whole, lines, faults; e.g. "random
//                            faults seed=7 garbage=5"); alone: the settings
//   faults off               all faults off (overrides stay)
//   shutdown                 OK, then the program ends
//   help                     this list, then END
//
// The commands are one table below: name, argument check, handler and the
// words "help" lists for it.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "simulator/sim_system.h"
#include "simulator/simulator.h"

namespace kvxsim {

// What the control commands need beyond the Simulator's interface.
struct ControlChannel {
  static bool Stopping(Simulator& sim) {
    std::lock_guard<std::mutex> lk(sim.mu_);
    return sim.stopping_;
  }
  static void RequestShutdown(Simulator& sim) {
    {
      std::lock_guard<std::mutex> lk(sim.mu_);
      sim.shutdown_ = true;
    }
    sim.cv_.notify_all();
  }
};

namespace {

const size_t kMaxClients = 8;
const size_t kMaxLine = 65536;
const char kOk[] = "OK\n";
const char kMalformed[] =
    "ERR unknown or malformed control command (try help)\n";

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

// The text after the first `n` words of `line` and the single blank after
// them (blanks inside it are kept).
std::string RestAfterWords(const std::string& line, int n) {
  size_t i = 0;
  for (int k = 0; k < n; ++k) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  }
  if (i < line.size()) ++i;  // the one separating blank
  return i < line.size() ? line.substr(i) : std::string();
}

bool ToInt(const std::string& s, long* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long r = std::strtol(s.c_str(), &end, 10);
  if (errno || *end) return false;
  *v = r;
  return true;
}

bool ToDouble(const std::string& s, double* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  double r = std::strtod(s.c_str(), &end);
  if (*end) return false;
  *v = r;
  return true;
}

bool OnOff(const std::string& s, bool* v) {
  const std::string l = Lower(s);
  if (l == "on" || l == "1") {
    *v = true;
  } else if (l == "off" || l == "0") {
    *v = false;
  } else {
    return false;
  }
  return true;
}

// One control line being executed: its words and what the argument check
// read from them for the handler.
struct Call {
  Simulator& sim;
  std::string line;            // without its line end
  std::vector<std::string> w;  // w[0] is the command
  size_t argc;                 // words after it
  long a = 0, b = 0;
  double d = 0, e = 0;
  bool on = false;
};

// ---- Argument checks ----

bool AnyArgs(Call*) { return true; }
bool NoArgs(Call* c) { return c->argc == 0; }
bool UpToOneArg(Call* c) { return c->argc <= 1; }
bool SomeArgs(Call* c) { return c->argc >= 1; }
bool OneInt(Call* c) { return c->argc == 1 && ToInt(c->w[1], &c->a); }
bool OneCount(Call* c) { return OneInt(c) && c->a >= 0; }
bool OneOnOff(Call* c) { return c->argc == 1 && OnOff(c->w[1], &c->on); }
bool OutputAndValue(Call* c) {
  return c->argc == 2 && ToInt(c->w[1], &c->a) && ToInt(c->w[2], &c->b) &&
         c->a >= 1 && c->a <= 8;
}
// N 1..4, then nothing (get) or a value (set).
bool InputAndValue(Call* c) {
  return c->argc >= 1 && ToInt(c->w[1], &c->a) && c->a >= 1 && c->a <= 4 &&
         (c->argc == 1 || (c->argc == 2 && ToInt(c->w[2], &c->b)));
}
bool NoneOrOneNumber(Call* c) {
  return c->argc == 0 || (c->argc == 1 && ToDouble(c->w[1], &c->d));
}
bool NoneOrTwoNumbers(Call* c) {
  return c->argc == 0 ||
         (c->argc == 2 && ToDouble(c->w[1], &c->d) && ToDouble(c->w[2], &c->e));
}
bool LcdLine(Call* c) {
  return c->argc == 1 && (c->w[1] == "1" || c->w[1] == "2");
}
bool CountAndMs(Call* c) {
  return c->argc >= 1 && c->argc <= 2 && ToInt(c->w[1], &c->a) && c->a >= 0;
}
bool NoneOrKeyAndNumber(Call* c) {
  return c->argc == 0 || (c->argc == 2 && ToDouble(c->w[2], &c->d));
}
// KEY MS, then optionally a TRIGGER.
bool KeyMsAndTrigger(Call* c) {
  return (c->argc == 2 || c->argc == 3) && ToInt(c->w[2], &c->a) && c->a >= 0;
}
// Nothing (ask), or seconds 0..3600 (d).
bool NoneOrSeconds(Call* c) {
  return c->argc == 0 || (c->argc == 1 && ToDouble(c->w[1], &c->d) &&
                          c->d >= 0 && c->d <= 3600);
}
bool PiecesAndGap(Call* c) {
  return c->argc == 2 && ToInt(c->w[1], &c->a) && ToInt(c->w[2], &c->b) &&
         c->b >= 0;
}
bool SizeAndByte(Call* c) {
  return c->argc >= 1 && c->argc <= 2 && ToInt(c->w[1], &c->a) && c->a >= 0;
}
// "off" (a = -1) or a number from `least` on.
bool OffOrFrom(Call* c, long least) {
  if (c->argc != 1) return false;
  if (Lower(c->w[1]) == "off") {
    c->a = -1;
    return true;
  }
  return ToInt(c->w[1], &c->a) && c->a >= least;
}
bool OffOrPosition(Call* c) { return OffOrFrom(c, 0); }
bool OffOrCommands(Call* c) { return OffOrFrom(c, 1); }
bool WordOff(Call* c) { return c->argc == 1 && Lower(c->w[1]) == "off"; }
bool MsAndKey(Call* c) {
  return c->argc >= 1 && c->argc <= 2 && ToInt(c->w[1], &c->a) && c->a >= 0;
}
// "off", or TRIGGER KEY COUNT GAPMS BYTES (a = COUNT, b = GAPMS).
bool OffOrStray(Call* c) {
  if (c->argc == 1) return Lower(c->w[1]) == "off";
  return c->argc >= 5 && ToInt(c->w[3], &c->a) && c->a >= 1 &&
         ToInt(c->w[4], &c->b) && c->b >= 0;
}
// "off" (a = 0), or MS [KEY].
bool OffOrMsAndKey(Call* c) {
  if (c->argc == 1 && Lower(c->w[1]) == "off") {
    c->a = 0;
    return true;
  }
  return MsAndKey(c);
}

// The sensor's fault: nothing (ask), "off", or a kind and its numbers
// (a = COUNT, b = AFTER, d = SECONDS).
bool SensorFaultArgs(Call* c) {
  if (c->argc == 0) return true;
  const std::string kind = Lower(c->w[1]);
  auto count = [c](long lo) {
    return ToInt(c->w[2], &c->a) && c->a >= lo && c->a <= 1023;
  };
  if (kind == "off" || kind == "cablebreak") return c->argc == 1;
  if (kind == "pinned" || kind == "livezero" || kind == "flat")
    return c->argc == 2 && count(0);
  if (kind == "spike")
    return (c->argc == 2 ||
            (c->argc == 3 && ToInt(c->w[3], &c->b) && c->b >= 0)) &&
           count(-1023);
  if (kind == "slowstart")
    return c->argc == 2 && ToDouble(c->w[2], &c->d) && c->d >= 0 &&
           c->d <= 3600;
  return false;
}

// ---- Handlers ----

std::string Help(Call&);

std::string Ping(Call&) { return kOk; }

std::string OutputsNow(Call& c) { return c.sim.Outputs() + "\n"; }

std::string OutputNow(Call& c) {
  return std::string(c.sim.Output(static_cast<int>(c.a)) ? "1" : "0") + "\n";
}

std::string SetOutputTo(Call& c) {
  c.sim.SetOutput(static_cast<int>(c.a), c.b != 0);
  return kOk;
}

std::string Status(Call& c) {
  const BoardSnapshot s = c.sim.Snapshot();
  std::string o, din;
  for (int i = 1; i <= 8; ++i) o += s.outputs[i] ? '1' : '0';
  for (int i = 1; i <= 4; ++i) din += s.digital[i] ? '1' : '0';
  char buf[256];
  snprintf(buf, sizeof buf,
           "outputs=%s level=%.3f adc=%d,%d,%d,%d din=%s connected=%d "
           "connections=%llu commands=%llu\n",
           o.c_str(), s.level, s.analog[1], s.analog[2], s.analog[3],
           s.analog[4], din.c_str(), s.connected ? 1 : 0,
           static_cast<unsigned long long>(s.connections),
           static_cast<unsigned long long>(s.commands));
  return buf;
}

std::string AnalogInput(Call& c) {
  const int n = static_cast<int>(c.a);
  if (c.argc == 1) return std::to_string(c.sim.Analog(n)) + "\n";
  c.sim.SetAnalog(n, static_cast<int>(c.b));
  return kOk;
}

std::string DigitalInput(Call& c) {
  const int n = static_cast<int>(c.a);
  if (c.argc == 1) return std::to_string(c.sim.Snapshot().digital[n]) + "\n";
  c.sim.SetDigital(n, static_cast<int>(c.b));
  return kOk;
}

std::string WellLevel(Call& c) {
  char buf[64];
  if (c.argc == 0) {
    snprintf(buf, sizeof buf, "%.3f\n", c.sim.Level());
    return buf;
  }
  c.sim.SetLevel(c.d);
  return kOk;
}

std::string LevelAfter(Call& c) {
  if (c.argc == 0) {
    const int64_t at = c.sim.LevelChangedAt();
    if (at == -2) return "none\n";
    if (at == -1) return "armed\n";
    return "changed " + std::to_string(at) + "\n";
  }
  c.sim.SetLevelAfter(c.w[1], c.d);
  return kOk;
}

std::string Rates(Call& c) {
  if (c.argc == 0) {
    const BoardSnapshot s = c.sim.Snapshot();
    char buf[128];
    snprintf(buf, sizeof buf, "%g %g\n", s.inflow, s.draw);
    return buf;
  }
  c.sim.SetRates(c.d, c.e);
  return kOk;
}

std::string LevelSensor(Call& c) {
  static const struct {
    SensorFaultKind kind;
    const char* name;
  } kKinds[] = {{SensorFaultKind::None, "none"},
                {SensorFaultKind::Pinned, "pinned"},
                {SensorFaultKind::LiveZero, "livezero"},
                {SensorFaultKind::CableBreak, "cablebreak"},
                {SensorFaultKind::Spike, "spike"},
                {SensorFaultKind::Flat, "flat"},
                {SensorFaultKind::SlowStart, "slowstart"}};
  if (c.argc == 0) {
    const SensorFault f = c.sim.GetSensorFault();
    std::string name = "none";
    for (const auto& k : kKinds)
      if (k.kind == f.kind) name = k.name;
    char buf[96];
    switch (f.kind) {
      case SensorFaultKind::Pinned:
      case SensorFaultKind::LiveZero:
      case SensorFaultKind::Flat:
        snprintf(buf, sizeof buf, "%s %d\n", name.c_str(), f.count);
        break;
      case SensorFaultKind::Spike:
        snprintf(buf, sizeof buf, "spike %d %d\n", f.count, f.after);
        break;
      case SensorFaultKind::SlowStart:
        snprintf(buf, sizeof buf, "slowstart %g\n", f.seconds);
        break;
      default:
        snprintf(buf, sizeof buf, "%s\n", name.c_str());
    }
    return buf;
  }
  SensorFault f;
  const std::string kind = Lower(c.w[1]);
  for (const auto& k : kKinds)
    if (kind == k.name) f.kind = k.kind;
  f.count = static_cast<int>(c.a);
  f.after = static_cast<int>(c.b);
  f.seconds = c.d;
  c.sim.SetSensorFault(f);
  return kOk;
}

std::string LcdText(Call& c) {
  return EscapeBytes(c.sim.Lcd(c.w[1][0] - '0')) + "\n";
}

std::string Network(Call& c) {
  const BoardSnapshot s = c.sim.Snapshot();
  return s.ip + " " + s.mask + " " + s.gw + "\n";
}

std::string Count(Call& c) {
  return std::to_string(c.sim.CommandCount()) + "\n";
}

// "log", "replies" and "chunks": the records from index FROM on, then END.
std::string LogLines(Call& c) {
  if (c.argc == 1 && (!ToInt(c.w[1], &c.a) || c.a < 0)) return "ERR bad FROM\n";
  const size_t from = static_cast<size_t>(c.a);
  const std::string cmd = Lower(c.w[0]);
  std::string out;
  if (cmd == "chunks") {
    const std::vector<ChunkRecord> records = c.sim.Chunks();
    for (size_t i = from; i < records.size(); ++i)
      out += std::to_string(records[i].time) + " " +
             EscapeBytes(records[i].bytes) + "\n";
    return out + "END\n";
  }
  const std::vector<CommandRecord> records = c.sim.Commands();
  for (size_t i = from; i < records.size(); ++i) {
    const CommandRecord& r = records[i];
    out += std::to_string(r.time) + " " + KindName(r.kind) + " " +
           EscapeBytes(r.raw);
    if (cmd == "replies") out += " => " + EscapeBytes(r.reply);
    out += "\n";
  }
  return out + "END\n";
}

std::string ClearLog(Call& c) {
  c.sim.ClearLog();
  return kOk;
}

// "wait" and "waitconnect": polls in 100 ms steps so that Stop() ends it.
std::string Wait(Call& c) {
  long ms = 10000;
  if (c.argc == 2 && (!ToInt(c.w[2], &ms) || ms < 0)) return "ERR bad MS\n";
  ms = std::min(ms, 120000L);
  const bool commands = Lower(c.w[0]) == "wait";
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  const uint64_t want = static_cast<uint64_t>(c.a);
  while (true) {
    const bool done = commands ? c.sim.WaitForCommands(want, 100)
                               : c.sim.WaitForConnection(want, 100);
    if (done) return kOk;
    if (ControlChannel::Stopping(c.sim)) break;
    if (std::chrono::steady_clock::now() >= end) break;
  }
  return "TIMEOUT " +
         std::to_string(commands ? c.sim.CommandCount()
                                 : c.sim.ConnectionCount()) +
         "\n";
}

// "reply" and "replyonce".
std::string Reply(Call& c) {
  std::string bytes;
  if (!UnescapeBytes(RestAfterWords(c.line, 2), &bytes))
    return "ERR bad escape\n";
  c.sim.SetReply(c.w[1], bytes, Lower(c.w[0]) == "reply" ? -1 : 1);
  return kOk;
}

std::string Unreply(Call& c) {
  if (c.argc == 0) {
    c.sim.ClearReplies();
  } else {
    c.sim.ClearReply(c.w[1]);
  }
  return kOk;
}

std::string Close(Call& c) {
  c.sim.CloseNow();
  return kOk;
}

std::string Reset(Call& c) {
  c.sim.ResetNow();
  return kOk;
}

std::string Silent(Call& c) {
  c.sim.SetSilent(c.on);
  return kOk;
}

std::string Delay(Call& c) {
  c.sim.SetReplyDelay(static_cast<int>(std::min(c.a, 600000L)));
  return kOk;
}

std::string Jitter(Call& c) {
  c.sim.SetReplyJitter(static_cast<int>(std::min(c.a, 600000L)));
  return kOk;
}

std::string DelayOnce(Call& c) {
  c.sim.DelayReplyOnce(c.w[1], static_cast<int>(std::min(c.a, 600000L)),
                       c.argc == 3 ? c.w[3] : std::string());
  return kOk;
}

std::string PowerCut(Call& c) {
  if (c.argc == 0) return c.sim.PoweredOff() ? "off\n" : "on\n";
  c.sim.PowerCut(static_cast<int>(c.d * 1000 + 0.5));
  return kOk;
}

std::string ConnectedAt(Call& c) {
  uint32_t at = 0;
  if (!c.sim.LastConnectAt(&at)) return "none\n";
  return std::to_string(at) + "\n";
}

std::string Listen(Call& c) {
  c.sim.SetListening(c.on);
  return kOk;
}

std::string Split(Call& c) {
  c.sim.SetReplySplit(static_cast<int>(std::min(c.a, 1000L)),
                      static_cast<int>(std::min(c.b, 60000L)));
  return kOk;
}

std::string Pad(Call& c) {
  std::string fill = "#";
  if (c.argc == 2 && (!UnescapeBytes(c.w[2], &fill) || fill.size() != 1))
    return "ERR bad BYTE\n";
  c.sim.SetReplyPadding(static_cast<size_t>(c.a), fill[0]);
  return kOk;
}

std::string Garbage(Call& c) {
  c.sim.SetGarbage(c.on);
  return kOk;
}

std::string LineEndOnly(Call& c) {
  c.sim.SetLineEndOnly(c.on);
  return kOk;
}

std::string NonAscii(Call& c) {
  c.sim.SetNonAscii(c.on);
  return kOk;
}

std::string ZeroByte(Call& c) {
  c.sim.SetZeroByteAt(c.a < 0 ? -1 : static_cast<int>(std::min(c.a, 100000L)));
  return kOk;
}

std::string CloseAfter(Call& c) {
  c.sim.SetCloseAfter(c.a < 0 ? -1 : static_cast<int>(std::min(c.a, 1000000L)));
  return kOk;
}

std::string Flood(Call& c) {
  c.sim.Flood(static_cast<size_t>(c.a));
  return kOk;
}

std::string Raw(Call& c) {
  std::string bytes;
  if (!UnescapeBytes(RestAfterWords(c.line, 1), &bytes))
    return "ERR bad escape\n";
  c.sim.SendRaw(bytes);
  return kOk;
}

std::string LineGap(Call& c) {
  c.sim.SetLineGap(static_cast<int>(std::min(c.a, 60000L)),
                   c.argc == 2 ? c.w[2] : std::string());
  return kOk;
}

std::string StrayAfter(Call& c) {
  if (c.argc == 1) {
    c.sim.SetStray(std::string(), std::string(), 0, 0, std::string());
    return kOk;
  }
  std::string bytes;
  if (!UnescapeBytes(RestAfterWords(c.line, 5), &bytes) || bytes.empty())
    return "ERR bad BYTES\n";
  c.sim.SetStray(c.w[1] == "-" ? std::string() : c.w[1], c.w[2],
                 static_cast<int>(std::min(c.a, 1000000L)),
                 static_cast<int>(std::min(c.b, 60000L)), bytes);
  return kOk;
}

std::string Trickle(Call& c) {
  c.sim.SetTrickle(static_cast<int>(std::min(c.a, 60000L)),
                   c.argc == 2 ? c.w[2] : std::string());
  return kOk;
}

std::string Random(Call& c) {
  RandomReplies r = c.sim.GetRandomReplies();
  if (c.argc == 0) return DescribeRandomReplies(r) + "\n";
  std::string error;
  if (!ParseRandomReplies(RestAfterWords(c.line, 1), &r, &error))
    return "ERR " + error + "\n";
  c.sim.SetRandomReplies(r);
  return kOk;
}

std::string FaultsOff(Call& c) {
  c.sim.ClearFaults();
  return kOk;
}

std::string Shutdown(Call& c) {
  ControlChannel::RequestShutdown(c.sim);
  return kOk;
}

// ---- The table ----

struct ControlCommandEntry {
  const char* name;
  bool (*check)(Call*);  // false: malformed
  std::string (*run)(Call&);
  const char* help;  // what "help" lists; nullptr: not listed
  bool helpLineEnds;
};

// In the order "help" lists them.
const ControlCommandEntry kCommands[] = {
    {"ping", AnyArgs, Ping, "ping", false},
    {"outputs", AnyArgs, OutputsNow, "outputs (output 1 first)", false},
    {"output", OneInt, OutputNow, "output N", false},
    {"setoutput", OutputAndValue, SetOutputTo, "setoutput N V", false},
    {"status", AnyArgs, Status, "status", true},
    {"analog", InputAndValue, AnalogInput, "analog N [COUNT]", false},
    {"digital", InputAndValue, DigitalInput, "digital N [V]", false},
    {"level", NoneOrOneNumber, WellLevel, "level [COUNTS]", false},
    {"levelafter", NoneOrKeyAndNumber, LevelAfter, "levelafter [KEY COUNTS]",
     false},
    {"rates", NoneOrTwoNumbers, Rates, "rates [IN DRAW]", true},
    {"sensor", SensorFaultArgs, LevelSensor,
     "sensor [off|pinned N|livezero N|cablebreak|spike N [AFTER]|flat "
     "N|slowstart S]",
     true},
    {"lcd", LcdLine, LcdText, "lcd 1|2", false},
    {"network", AnyArgs, Network, "network", false},
    {"count", AnyArgs, Count, "count", false},
    {"log", UpToOneArg, LogLines, "log [FROM]", false},
    {"replies", UpToOneArg, LogLines, "replies [FROM]", false},
    {"chunks", UpToOneArg, LogLines, "chunks [FROM]", true},
    {"clearlog", AnyArgs, ClearLog, "clearlog", false},
    {"wait", CountAndMs, Wait, "wait COUNT [MS]", false},
    {"waitconnect", CountAndMs, Wait, "waitconnect N [MS]", false},
    {"connectedat", NoArgs, ConnectedAt, "connectedat", true},
    {"reply", SomeArgs, Reply, "reply KEY [BYTES]", false},
    {"replyonce", SomeArgs, Reply, "replyonce KEY [BYTES]", false},
    {"unreply", AnyArgs, Unreply, "unreply [KEY]", true},
    {"close", NoArgs, Close, "close", false},
    {"reset", NoArgs, Reset, "reset", false},
    {"silent", OneOnOff, Silent, "silent on|off", false},
    {"delay", OneCount, Delay, "delay MS", false},
    {"split", PiecesAndGap, Split, "split N GAPMS", false},
    {"pad", SizeAndByte, Pad, "pad N [BYTE]", true},
    {"jitter", OneCount, Jitter, "jitter MS", false},
    {"delayonce", KeyMsAndTrigger, DelayOnce, "delayonce KEY MS [TRIGGER]",
     false},
    {"listen", OneOnOff, Listen, "listen on|off", false},
    {"powercut", NoneOrSeconds, PowerCut, "powercut [SECONDS]", true},
    {"garbage", OneOnOff, Garbage, "garbage on|off", false},
    {"crlf", OneOnOff, LineEndOnly, "crlf on|off", false},
    {"nonascii", OneOnOff, NonAscii, "nonascii on|off", false},
    {"zero", OffOrPosition, ZeroByte, "zero POS|off", true},
    {"closeafter", OffOrCommands, CloseAfter, "closeafter N|off", false},
    {"flood", OneCount, Flood, "flood N", false},
    {"raw", AnyArgs, Raw, "raw BYTES", false},
    {"linegap", MsAndKey, LineGap, "linegap MS [KEY]", false},
    {"strayafter", OffOrStray, StrayAfter,
     "strayafter TRIGGER KEY COUNT GAPMS BYTES|off", false},
    {"trickle", OffOrMsAndKey, Trickle, "trickle MS [KEY]|off", true},
    {"random", AnyArgs, Random, "random [off|PROFILE [NAME=VALUE]...]", true},
    {"faults", WordOff, FaultsOff, "faults off", false},
    {"shutdown", AnyArgs, Shutdown, "shutdown", true},
    {"help", AnyArgs, Help, nullptr, false},
};

std::string Help(Call&) {
  std::string out;
  for (const ControlCommandEntry& e : kCommands) {
    if (!e.help) continue;
    out += e.help;
    out += e.helpLineEnds ? "\n" : " | ";
  }
  return out + "END\n";
}

bool SendLines(int fd, const std::string& bytes) {
  return SendBounded(fd, bytes, 5000, nullptr);
}

// A shell connected to the control channel.
struct ControlClient {
  int fd;
  std::string in;  // received, not yet a whole line
};

bool IsBlankLine(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

// Reads what the client sent and answers each whole line; closes the
// client (fd -1) when it closed, failed or sent an overlong line.
void ServeControlClient(Simulator& sim, ControlClient* c) {
  char buf[4096];
  const long r = SysReceive(c->fd, buf, sizeof buf);
  if (r == SysWouldBlock) return;
  bool drop = r <= 0;
  if (r > 0) c->in.append(buf, static_cast<size_t>(r));
  size_t nl;
  while (!drop && (nl = c->in.find('\n')) != std::string::npos) {
    const std::string line = c->in.substr(0, nl);
    c->in.erase(0, nl + 1);
    if (IsBlankLine(line)) continue;
    if (!SendLines(c->fd, sim.ControlCommand(line))) drop = true;
  }
  if (c->in.size() > kMaxLine) drop = true;
  if (!drop) return;
  // A last line without "\n" before the peer closed still counts.
  if (r == 0 && !IsBlankLine(c->in))
    SendLines(c->fd, sim.ControlCommand(c->in));
  SysClose(c->fd);
  c->fd = -1;
}

}  // namespace

std::string Simulator::ControlCommand(const std::string& rawLine) {
  std::string line = rawLine;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
    line.pop_back();
  std::vector<std::string> w = Words(line);
  if (w.empty()) return "ERR empty\n";
  const std::string name = Lower(w[0]);
  for (const ControlCommandEntry& e : kCommands) {
    if (name != e.name) continue;
    const size_t argc = w.size() - 1;
    Call call{*this, line, std::move(w), argc};
    return e.check(&call) ? e.run(call) : kMalformed;
  }
  return kMalformed;
}

void Simulator::ControlLoop() {
  std::vector<ControlClient> clients;
  while (!ControlChannel::Stopping(*this)) {
    std::vector<SysWatch> p;
    p.push_back({controlFd_, false, false});
    for (const ControlClient& c : clients) p.push_back({c.fd, false, false});
    SysWait(p.data(), p.size(), 200);
    // No wake pipe here (the server thread drains it): Stop() is seen
    // within one 200 ms poll.
    if (p[0].ready) {
      const int fd = SysAccept(controlFd_);
      if (fd >= 0 && clients.size() < kMaxClients) {
        clients.push_back({fd, std::string()});
      } else if (fd >= 0) {
        SysClose(fd);
      }
    }
    for (size_t i = 0; i + 1 < p.size(); ++i) {  // not the one just accepted
      if (p[i + 1].ready) ServeControlClient(*this, &clients[i]);
    }
    clients.erase(
        std::remove_if(clients.begin(), clients.end(),
                       [](const ControlClient& c) { return c.fd < 0; }),
        clients.end());
  }
  for (const ControlClient& c : clients) SysClose(c.fd);
}

}  // namespace kvxsim
