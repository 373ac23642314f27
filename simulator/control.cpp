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
//   rates [INFLOW DRAW]      set / get "INFLOW DRAW" (counts/s)
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
//   reply KEY [BYTES]        reply override (KEY: keyword, keyword with
//                            arguments without blank e.g. GETADC2, or *);
//                            no BYTES = an empty reply (nothing is sent)
//   replyonce KEY [BYTES]    the same for one use
//   unreply [KEY]            remove one / all overrides
//   close                    close the board connection now (FIN)
//   reset                    reset it now (RST)
//   silent on|off            read, answer nothing
//   delay MS                 delay each reply
//   jitter MS                a further 0..MS before each reply (0 off)
//   delayonce KEY MS         the next reply to KEY comes MS late
//   listen on|off            off: close the connection, refuse connects
//   split N GAPMS            each reply in N pieces, GAPMS apart (N<=1 off)
//   pad N [BYTE]             pad each reply to N bytes (default '#'; 0 off)
//   garbage on|off           random replies
//   crlf on|off              every reply is CR LF only
//   nonascii on|off          Windows-1252 umlauts before the line end
//   zero POS|off             insert a zero byte at POS into each reply
//   closeafter N|off         close the connection after N more commands
//   flood N                  send N unsolicited bytes now (at most 1 MiB)
//   raw BYTES                send these bytes now, unsolicited
//   faults off               all faults off (overrides stay)
//   shutdown                 OK, then the program ends
//   help                     this list, then END
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "simulator/sim_system.h"
#include "simulator/simulator.h"

namespace kvxsim {

namespace {

const size_t kMaxClients = 8;
const size_t kMaxLine = 65536;

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

const char kHelp[] =
    "ping | outputs (output 1 first) | output N | setoutput N V | status\n"
    "analog N [COUNT] | digital N [V] | level [COUNTS] | rates [IN DRAW]\n"
    "lcd 1|2 | network | count | log [FROM] | replies [FROM] | chunks [FROM]\n"
    "clearlog | wait COUNT [MS] | waitconnect N [MS]\n"
    "reply KEY [BYTES] | replyonce KEY [BYTES] | unreply [KEY]\n"
    "close | reset | silent on|off | delay MS | split N GAPMS | pad N [BYTE]\n"
    "jitter MS | delayonce KEY MS | listen on|off\n"
    "garbage on|off | crlf on|off | nonascii on|off | zero POS|off\n"
    "closeafter N|off | flood N | raw BYTES | faults off | shutdown\n";

bool SendLines(int fd, const std::string& bytes) {
  return SendBounded(fd, bytes, 5000, nullptr);
}

}  // namespace

std::string Simulator::ControlCommand(const std::string& rawLine) {
  std::string line = rawLine;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
    line.pop_back();
  const std::vector<std::string> w = Words(line);
  if (w.empty()) return "ERR empty\n";
  const std::string cmd = Lower(w[0]);
  const size_t argc = w.size() - 1;
  const std::string OK = "OK\n";
  long a = 0, b = 0;
  double d = 0, e = 0;
  bool on = false;
  char buf[256];

  if (cmd == "ping") return OK;
  if (cmd == "help") return std::string(kHelp) + "END\n";
  if (cmd == "outputs") return Outputs() + "\n";
  if (cmd == "output" && argc == 1 && ToInt(w[1], &a))
    return std::string(Output(static_cast<int>(a)) ? "1" : "0") + "\n";
  if (cmd == "setoutput" && argc == 2 && ToInt(w[1], &a) && ToInt(w[2], &b) &&
      a >= 1 && a <= 8) {
    SetOutput(static_cast<int>(a), b != 0);
    return OK;
  }
  if (cmd == "status") {
    BoardSnapshot s = Snapshot();
    std::string o, din;
    for (int i = 1; i <= 8; ++i) o += s.outputs[i] ? '1' : '0';
    for (int i = 1; i <= 4; ++i) din += s.digital[i] ? '1' : '0';
    snprintf(buf, sizeof buf,
             "outputs=%s level=%.3f adc=%d,%d,%d,%d din=%s connected=%d "
             "connections=%llu commands=%llu\n",
             o.c_str(), s.level, s.analog[1], s.analog[2], s.analog[3],
             s.analog[4], din.c_str(), s.connected ? 1 : 0,
             static_cast<unsigned long long>(s.connections),
             static_cast<unsigned long long>(s.commands));
    return buf;
  }
  if (cmd == "analog" && argc >= 1 && ToInt(w[1], &a) && a >= 1 && a <= 4) {
    if (argc == 1) return std::to_string(Analog(static_cast<int>(a))) + "\n";
    if (argc == 2 && ToInt(w[2], &b)) {
      SetAnalog(static_cast<int>(a), static_cast<int>(b));
      return OK;
    }
  }
  if (cmd == "digital" && argc >= 1 && ToInt(w[1], &a) && a >= 1 && a <= 4) {
    if (argc == 1)
      return std::to_string(Snapshot().digital[static_cast<int>(a)]) + "\n";
    if (argc == 2 && ToInt(w[2], &b)) {
      SetDigital(static_cast<int>(a), static_cast<int>(b));
      return OK;
    }
  }
  if (cmd == "level") {
    if (argc == 0) {
      snprintf(buf, sizeof buf, "%.3f\n", Level());
      return buf;
    }
    if (argc == 1 && ToDouble(w[1], &d)) {
      SetLevel(d);
      return OK;
    }
  }
  if (cmd == "rates") {
    if (argc == 0) {
      BoardSnapshot s = Snapshot();
      snprintf(buf, sizeof buf, "%g %g\n", s.inflow, s.draw);
      return buf;
    }
    if (argc == 2 && ToDouble(w[1], &d) && ToDouble(w[2], &e)) {
      SetRates(d, e);
      return OK;
    }
  }
  if (cmd == "lcd" && argc == 1 && (w[1] == "1" || w[1] == "2"))
    return EscapeBytes(Lcd(w[1][0] - '0')) + "\n";
  if (cmd == "network") {
    BoardSnapshot s = Snapshot();
    return s.ip + " " + s.mask + " " + s.gw + "\n";
  }
  if (cmd == "count") return std::to_string(CommandCount()) + "\n";
  if ((cmd == "log" || cmd == "replies" || cmd == "chunks") && argc <= 1) {
    if (argc == 1 && (!ToInt(w[1], &a) || a < 0)) return "ERR bad FROM\n";
    std::string out;
    if (cmd == "chunks") {
      std::vector<ChunkRecord> c = Chunks();
      for (size_t i = static_cast<size_t>(a); i < c.size(); ++i)
        out += std::to_string(c[i].time) + " " + EscapeBytes(c[i].bytes) + "\n";
    } else {
      std::vector<CommandRecord> c = Commands();
      for (size_t i = static_cast<size_t>(a); i < c.size(); ++i) {
        out += std::to_string(c[i].time) + " " + KindName(c[i].kind) + " " +
               EscapeBytes(c[i].raw);
        if (cmd == "replies") out += " => " + EscapeBytes(c[i].reply);
        out += "\n";
      }
    }
    return out + "END\n";
  }
  if (cmd == "clearlog") {
    ClearLog();
    return OK;
  }
  if ((cmd == "wait" || cmd == "waitconnect") && argc >= 1 && argc <= 2 &&
      ToInt(w[1], &a) && a >= 0) {
    long ms = 10000;
    if (argc == 2 && (!ToInt(w[2], &ms) || ms < 0)) return "ERR bad MS\n";
    ms = std::min(ms, 120000L);
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    const uint64_t want = static_cast<uint64_t>(a);
    while (true) {
      bool done = cmd == "wait" ? WaitForCommands(want, 100)
                                : WaitForConnection(want, 100);
      if (done) return OK;
      {
        std::lock_guard<std::mutex> lk(mu_);
        if (stopping_) break;
      }
      if (std::chrono::steady_clock::now() >= end) break;
    }
    return "TIMEOUT " +
           std::to_string(cmd == "wait" ? CommandCount() : ConnectionCount()) +
           "\n";
  }
  if ((cmd == "reply" || cmd == "replyonce") && argc >= 1) {
    std::string bytes;
    if (!UnescapeBytes(RestAfterWords(line, 2), &bytes))
      return "ERR bad escape\n";
    SetReply(w[1], bytes, cmd == "reply" ? -1 : 1);
    return OK;
  }
  if (cmd == "unreply") {
    if (argc == 0) {
      ClearReplies();
    } else {
      ClearReply(w[1]);
    }
    return OK;
  }
  if (cmd == "close" && argc == 0) {
    CloseNow();
    return OK;
  }
  if (cmd == "reset" && argc == 0) {
    ResetNow();
    return OK;
  }
  if (cmd == "silent" && argc == 1 && OnOff(w[1], &on)) {
    SetSilent(on);
    return OK;
  }
  if (cmd == "delay" && argc == 1 && ToInt(w[1], &a) && a >= 0) {
    SetReplyDelay(static_cast<int>(std::min(a, 600000L)));
    return OK;
  }
  if (cmd == "jitter" && argc == 1 && ToInt(w[1], &a) && a >= 0) {
    SetReplyJitter(static_cast<int>(std::min(a, 600000L)));
    return OK;
  }
  if (cmd == "delayonce" && argc == 2 && ToInt(w[2], &a) && a >= 0) {
    DelayReplyOnce(w[1], static_cast<int>(std::min(a, 600000L)));
    return OK;
  }
  if (cmd == "listen" && argc == 1 && OnOff(w[1], &on)) {
    SetListening(on);
    return OK;
  }
  if (cmd == "split" && argc == 2 && ToInt(w[1], &a) && ToInt(w[2], &b) &&
      b >= 0) {
    SetReplySplit(static_cast<int>(std::min(a, 1000L)),
                  static_cast<int>(std::min(b, 60000L)));
    return OK;
  }
  if (cmd == "pad" && argc >= 1 && argc <= 2 && ToInt(w[1], &a) && a >= 0) {
    std::string fill = "#";
    if (argc == 2 && (!UnescapeBytes(w[2], &fill) || fill.size() != 1))
      return "ERR bad BYTE\n";
    SetReplyPadding(static_cast<size_t>(a), fill[0]);
    return OK;
  }
  if (cmd == "garbage" && argc == 1 && OnOff(w[1], &on)) {
    SetGarbage(on);
    return OK;
  }
  if (cmd == "crlf" && argc == 1 && OnOff(w[1], &on)) {
    SetLineEndOnly(on);
    return OK;
  }
  if (cmd == "nonascii" && argc == 1 && OnOff(w[1], &on)) {
    SetNonAscii(on);
    return OK;
  }
  if (cmd == "zero" && argc == 1) {
    if (Lower(w[1]) == "off") {
      SetZeroByteAt(-1);
      return OK;
    }
    if (ToInt(w[1], &a) && a >= 0) {
      SetZeroByteAt(static_cast<int>(std::min(a, 100000L)));
      return OK;
    }
  }
  if (cmd == "closeafter" && argc == 1) {
    if (Lower(w[1]) == "off") {
      SetCloseAfter(-1);
      return OK;
    }
    if (ToInt(w[1], &a) && a > 0) {
      SetCloseAfter(static_cast<int>(std::min(a, 1000000L)));
      return OK;
    }
  }
  if (cmd == "flood" && argc == 1 && ToInt(w[1], &a) && a >= 0) {
    Flood(static_cast<size_t>(a));
    return OK;
  }
  if (cmd == "raw") {
    std::string bytes;
    if (!UnescapeBytes(RestAfterWords(line, 1), &bytes))
      return "ERR bad escape\n";
    SendRaw(bytes);
    return OK;
  }
  if (cmd == "faults" && argc == 1 && Lower(w[1]) == "off") {
    ClearFaults();
    return OK;
  }
  if (cmd == "shutdown") {
    {
      std::lock_guard<std::mutex> lk(mu_);
      shutdown_ = true;
    }
    cv_.notify_all();
    return OK;
  }
  return "ERR unknown or malformed control command (try help)\n";
}

void Simulator::ControlLoop() {
  struct Client {
    int fd;
    std::string in;
  };
  std::vector<Client> clients;
  while (true) {
    {
      std::lock_guard<std::mutex> lk(mu_);
      if (stopping_) break;
    }
    std::vector<SysWatch> p;
    p.push_back({controlFd_, false, false});
    for (const Client& c : clients) p.push_back({c.fd, false, false});
    SysWait(p.data(), p.size(), 200);
    // No wake pipe here (the server thread drains it): Stop() is seen
    // within one 200 ms poll.
    if (p[0].ready) {
      int fd = SysAccept(controlFd_);
      if (fd >= 0) {
        if (clients.size() >= kMaxClients) {
          SysClose(fd);
        } else {
          clients.push_back({fd, std::string()});
        }
      }
    }
    for (size_t i = 0; i + 1 < p.size(); ++i) {  // not the one just accepted
      if (!p[i + 1].ready) continue;
      Client& c = clients[i];
      char buf[4096];
      long r = SysReceive(c.fd, buf, sizeof buf);
      if (r == SysWouldBlock) continue;
      bool drop = r <= 0;
      if (r > 0) c.in.append(buf, static_cast<size_t>(r));
      size_t nl;
      while (!drop && (nl = c.in.find('\n')) != std::string::npos) {
        std::string line = c.in.substr(0, nl);
        c.in.erase(0, nl + 1);
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (!SendLines(c.fd, ControlCommand(line))) drop = true;
      }
      if (c.in.size() > kMaxLine) drop = true;
      if (drop) {
        // A last line without "\n" before the peer closed still counts.
        if (r == 0 && !c.in.empty() &&
            c.in.find_first_not_of(" \t\r") != std::string::npos)
          SendLines(c.fd, ControlCommand(c.in));
        SysClose(c.fd);
        c.fd = -1;
      }
    }
    clients.erase(std::remove_if(clients.begin(), clients.end(),
                                 [](const Client& c) { return c.fd < 0; }),
                  clients.end());
  }
  for (const Client& c : clients) SysClose(c.fd);
}

}  // namespace kvxsim
