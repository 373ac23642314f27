#include "tests/guard/board_model.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace guard {

namespace {

const char Suffix[] = " \\r\\n";
const size_t SuffixLength = 5;
const size_t BlockSize = 100;
// The longest the board takes to begin a reply once it may.
const int LongestReplyDelay = 300;

const char VersionText[] = "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n";

// Short lines of the board's help text: twelve of them stay under 200 bytes.
const char* const HelpLines[] = {
    "GETPORT n\r\n",    "GETADC n\r\n",  "SETPORT x.y\r\n", "GETSTATUS\r\n",
    "GETIP\r\n",        "GETMASK\r\n",   "GETGW\r\n",       "SETIP ip\r\n",
    "HELP\r\n",         "RESET\r\n",     "VERSION\r\n",     "INITLCD\r\n",
    "WRITELCD x.y\r\n", "CLEARLCD x\r\n"};
// Long lines, for a help text that overflows the receive.
const char* const LongHelpLines[] = {
    "GETPORT n     state of digital input n\r\n",
    "GETADC n      count of analog input n\r\n",
    "SETPORT x.y   output x off (0) or on (1)\r\n",
    "GETSTATUS     S and the eight outputs\r\n",
    "GETIP GETMASK GETGW  network settings\r\n",
    "SETIP SETMASK SETGW  change them\r\n",
    "INITLCD WRITELCD x.y CLEARLCD [x]\r\n",
    "HELP VERSION RESET\r\n"};

// A command as the firmware reads it (keywords in any case).
enum Kind {
  Help,
  Version,
  GetIp,
  GetGateway,
  GetMask,
  GetStatus,
  GetAdc,   // Channel 1..4
  GetPort,  // Channel 1..4
  SetPort,  // Channel 1..8, On
  Display,  // initlcd, a writelcd block
  Unknown,
};
struct Parsed {
  Kind What;
  int Channel;
  int On;
};

Parsed Parse(const std::string& text) {
  const char* t = text.c_str();
  size_t n = text.size();
  static const struct {
    const char* Word;
    Kind What;
  } Plain[] = {{"help", Help},       {"version", Version},
               {"getip", GetIp},     {"getgw", GetGateway},
               {"getmask", GetMask}, {"getstatus", GetStatus},
               {"initlcd", Display}};
  for (const auto& p : Plain)
    if (strcasecmp(t, p.Word) == 0) return {p.What, 0, 0};
  if (n == 8 && strncasecmp(t, "getadc ", 7) == 0 && t[7] >= '1' && t[7] <= '4')
    return {GetAdc, t[7] - '0', 0};
  if (n == 9 && strncasecmp(t, "getport ", 8) == 0 && t[8] >= '1' &&
      t[8] <= '4')
    return {GetPort, t[8] - '0', 0};
  if (n == 11 && strncasecmp(t, "setport ", 8) == 0 && t[8] >= '1' &&
      t[8] <= '8' && t[9] == '.' && (t[10] == '0' || t[10] == '1'))
    return {SetPort, t[8] - '0', t[10] - '0'};
  if (strncasecmp(t, "writelcd ", 9) == 0) return {Display, 0, 0};
  return {Unknown, 0, 0};
}

}  // namespace

// --- Draws -----------------------------------------------------------------

Draws::Draws(uint64_t seed, const uint8_t* data, size_t size)
    : state_(seed), data_(data), left_(data ? size : 0) {}

uint32_t Draws::Below(uint32_t n) {
  if (n == 0) return 0;
  uint32_t raw;
  if (left_ > 0) {
    raw = *data_++;
    left_--;
    if (n > 256 && left_ > 0) {
      raw = raw << 8 | *data_++;
      left_--;
    }
  } else {
    // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    raw = (uint32_t)((z ^ (z >> 31)) >> 32);
  }
  return raw % n;
}

const char* ProfileName(Profile profile) {
  switch (profile) {
    case Profile::Faulty:
      return "faulty";
    case Profile::WholeReplies:
      return "healthy, whole replies";
    case Profile::LineByLine:
      return "healthy, line by line";
  }
  return "?";
}

bool IsCountReply(const std::string& reply) {
  size_t digits = reply.size() - 2;
  if (reply.size() < 3 || digits > 4 || reply.compare(digits, 2, "\r\n") != 0)
    return false;
  int value = 0;
  for (size_t i = 0; i < digits; i++) {
    if (reply[i] < '0' || reply[i] > '9') return false;
    value = value * 10 + (reply[i] - '0');
  }
  return value <= 1023;
}

std::string Shown(const std::string& bytes) {
  std::string s;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      s += "\\r";
    } else if (c == '\n') {
      s += "\\n";
    } else if (c == '\\') {
      s += "\\\\";
    } else if (c < 32 || c > 126) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      s += hex;
    } else {
      s += (char)c;
    }
  }
  return s;
}

// --- The board -------------------------------------------------------------

ModelBoard::ModelBoard(Draws* draws, Profile profile)
    : draws_(draws), profile_(profile), busyUntil_(0), outputs_{} {
  adc_[0] = port_[0] = 0;
  for (int n = 1; n <= 4; n++) {
    adc_[n] = draws_->Between(0, 1023);
    port_[n] = draws_->Between(0, 1);
  }
}

void ModelBoard::Note(uint32_t at, const std::string& text) {
  if (Tracing) trace_.emplace_back(at, text);
}

std::string ModelBoard::TraceText(uint32_t until) const {
  std::vector<std::pair<uint32_t, std::string>> lines = trace_;
  std::stable_sort(lines.begin(), lines.end(),
                   [](const std::pair<uint32_t, std::string>& a,
                      const std::pair<uint32_t, std::string>& b) {
                     return a.first < b.first;
                   });
  std::string text;
  for (const auto& line : lines) {
    if (line.first > until) break;
    char time[32];
    snprintf(time, sizeof time, "%9u ms  ", line.first);
    text += time;
    text += line.second;
    text += '\n';
  }
  return text;
}

bool ModelBoard::Accept(uint32_t now, std::vector<HeadlessArrival>*) {
  // The firmware starts over with the connection; its outputs stay.
  inbox_.clear();
  help_.clear();
  busyUntil_ = now;
  closed_ = false;
  Connections++;
  Note(now, "board: connection " + std::to_string(Connections) + " accepted");
  return true;
}

void ModelBoard::Take(const char* bytes, int length, uint32_t now,
                      std::vector<HeadlessArrival>* out) {
  if (closed_) return;
  inbox_.append(bytes, (size_t)length);
  for (;;) {
    size_t suffix = inbox_.find(Suffix);
    size_t zero = inbox_.find('\0');
    if (zero != std::string::npos &&
        (suffix == std::string::npos || zero < suffix)) {
      // A display block: its text up to the zero byte, 100 bytes in all.
      if (inbox_.size() < BlockSize) return;
      std::string text = inbox_.substr(0, zero);
      inbox_.erase(0, BlockSize);
      Command(text, now, out);
    } else if (suffix != std::string::npos) {
      std::string text = inbox_.substr(0, suffix);
      inbox_.erase(0, suffix + SuffixLength);
      Command(text, now, out);
    } else {
      return;
    }
    if (closed_) return;
  }
}

void ModelBoard::Command(const std::string& text, uint32_t now,
                         std::vector<HeadlessArrival>* out) {
  Parsed c = Parse(text);
  if (c.What == SetPort) {
    outputs_[c.Channel] = c.On == 1;
    if (c.Channel == 4 || c.Channel == 5)
      Switches.push_back({c.Channel, c.On, now, Now});
  }
  commandNumber_++;
  if (Tracing)
    Note(now,
         "<- #" + std::to_string(commandNumber_) + " " + Shown(text) +
             (c.What == GetAdc && c.Channel == 1
                  ? "   (true count " + std::to_string(Now.LevelCount) + ")"
                  : ""));
  Write(text, Reply(text), now, out);
}

std::string ModelBoard::Reply(const std::string& command) {
  Parsed c = Parse(command);
  switch (c.What) {
    case Help:
      return HelpText();
    case Version: {
      std::string version = VersionText;
      if (profile_ == Profile::Faulty && draws_->Percent(10)) {
        while (version.size() <= 200)
          version += "Build: 2009-03-14 firmware options LCD ADC\r\n";
        if (draws_->Percent(50)) version.erase(version.size() - 2);
      }
      return version;
    }
    case GetIp:
      return "192.168.1.50\r\n";
    case GetGateway:
      return "192.168.1.1\r\n";
    case GetMask:
      return "255.255.255.0\r\n";
    case GetStatus: {
      std::string s = "S";
      for (int n = 8; n >= 1; n--) s += outputs_[n] ? '1' : '0';
      return s + "\r\n";
    }
    case GetAdc:
      return std::to_string(c.Channel == 1 ? Now.LevelCount : adc_[c.Channel]) +
             "\r\n";
    case GetPort:
      return port_[c.Channel] ? "1\r\n" : "0\r\n";
    case SetPort:
    case Display:
      return "OK\r\n";
    case Unknown:
      break;
  }
  return "ERR unknown command\r\n";
}

// Five to twelve lines under 200 bytes; on the faulty board now and then
// longer than the program's receive, maybe without its last line feed.
// The firmware's Help reads the same on every query of a connection; the
// faulty board now and then gives another.
std::string ModelBoard::HelpText() {
  if (!help_.empty() && (profile_ != Profile::Faulty || !draws_->Percent(10)))
    return help_;
  help_ = NewHelpText();
  return help_;
}

std::string ModelBoard::NewHelpText() {
  if (profile_ == Profile::Faulty && draws_->Percent(15)) {
    std::string help = "KORVALINEX Befehle:\r\n";
    while (help.size() <= 200)
      help += LongHelpLines[draws_->Below(sizeof LongHelpLines /
                                          sizeof LongHelpLines[0])];
    if (draws_->Percent(50)) help.erase(help.size() - draws_->Between(1, 2));
    return help;
  }
  std::string help = "KORVALINEX:\r\n";
  int lines = draws_->Between(4, 11);
  for (int i = 0; i < lines; i++)
    help += HelpLines[draws_->Below(sizeof HelpLines / sizeof HelpLines[0])];
  return help;
}

// Bytes that are no well-formed reply to `command`. Never nothing at all:
// a board that leaves out a reply while it sends a line too many elsewhere
// in the same query gives a stream of replies whose count and forms are
// all right, each a command too early, and no reader could tell.
std::string ModelBoard::Garbage(const std::string& command) {
  static const char* const Pool[] = {
      "abc\r\n",       "abc",      "S00001100\r\n", "-3\r\n",
      "1023 1023\r\n", "5000\r\n", "OK\r\n",        "ERR unknown command\r\n",
      "\r\n",          " 512\r\n", "12a\r\n",       "1.5\r\n",
      "01024\r\n",     "512\r\n",  "0\r\n1\r\n"};
  Parsed c = Parse(command);
  bool adc = c.What == GetAdc;
  std::string good = Reply(command);
  for (;;) {
    std::string g;
    if (draws_->Percent(70)) {
      g = Pool[draws_->Below(sizeof Pool / sizeof Pool[0])];
    } else {
      // Random bytes, at least one of them neither a digit nor a line end.
      int length = draws_->Between(1, 24);
      for (int i = 0; i < length; i++) g += (char)draws_->Below(256);
      char odd = (char)draws_->Between('a', 'z');
      g[draws_->Below((uint32_t)length)] = odd;
      if (draws_->Percent(50)) g += "\r\n";
    }
    if (g == good) continue;
    if (adc) {
      // Never a count, neither as a whole nor in its first line.
      size_t lf = g.find('\n');
      if (IsCountReply(g) ||
          (lf != std::string::npos && IsCountReply(g.substr(0, lf + 1))))
        continue;
    }
    return g;
  }
}

int ModelBoard::Gap(int longest) {
  return draws_->Percent(75) ? draws_->Between(0, 20)
                             : draws_->Between(0, longest);
}

void ModelBoard::Emit(uint32_t at, const std::string& bytes, const char* how,
                      const std::string& command,
                      std::vector<HeadlessArrival>* out) {
  out->push_back({at, bytes, false});
  if (Tracing)
    Note(at, "-> " + Shown(bytes) + "   (reply to #" +
                 std::to_string(commandNumber_) + " " + Shown(command) + how +
                 ")");
}

// Writes one reply as the firmware does: after its command and after the
// reply before it, whole or in pieces, with what the profile adds.
void ModelBoard::Write(const std::string& command, std::string reply,
                       uint32_t now, std::vector<HeadlessArrival>* out) {
  bool faulty = profile_ == Profile::Faulty;
  uint32_t t = (int32_t)(busyUntil_ - now) > 0 ? busyUntil_ : now;
  t += faulty ? (uint32_t)(draws_->Percent(50)
                               ? draws_->Between(0, 10)
                               : draws_->Between(0, LongestReplyDelay))
              : (uint32_t)draws_->Between(0, 10);

  if (faulty && draws_->Below(1000) < 3) {
    // The board drops the connection instead of answering.
    out->push_back({t, std::string(), true});
    Note(t, "-> the board closes the connection");
    closed_ = true;
    busyUntil_ = t;
    return;
  }
  const char* what = "";
  if (faulty && draws_->Percent(6)) {
    reply = Garbage(command);
    what = ", garbage";
  }

  // Where the reply is cut, each cut with the gap before the next piece.
  std::vector<size_t> cuts;
  std::vector<size_t> lineEnds;
  for (size_t i = 0; i + 1 < reply.size(); i++)
    if (reply[i] == '\n') lineEnds.push_back(i + 1);
  bool lineByLine = profile_ == Profile::LineByLine ||
                    (faulty && !lineEnds.empty() && draws_->Percent(25));
  if (lineByLine) {
    cuts = lineEnds;
  } else if (faulty && reply.size() > 1 && draws_->Percent(35)) {
    int count = draws_->Between(1, 3);
    for (int i = 0; i < count; i++) {
      size_t at = !lineEnds.empty() && draws_->Percent(40)
                      ? lineEnds[draws_->Below((uint32_t)lineEnds.size())]
                      : 1 + draws_->Below((uint32_t)reply.size() - 1);
      cuts.push_back(at);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  }
  size_t from = 0;
  cuts.push_back(reply.size());
  for (size_t i = 0; i < cuts.size(); i++) {
    if (i > 0) {
      int gap =
          profile_ == Profile::LineByLine ? draws_->Between(0, 50) : Gap(500);
      // A line of the form of a count that begins after a long silence
      // and is followed by another could pass, for any reader, for the
      // reply to a GETADC sent meanwhile: before such a line the board
      // pauses no longer than before a reply.
      if (gap > LongestReplyDelay && reply[from - 1] == '\n') {
        size_t lf = reply.find('\n', from);
        if (lf != std::string::npos &&
            IsCountReply(reply.substr(from, lf + 1 - from)))
          gap %= LongestReplyDelay + 1;
      }
      t += (uint32_t)gap;
    }
    if (cuts[i] > from || reply.empty())
      Emit(t, reply.substr(from, cuts[i] - from),
           i + 1 < cuts.size() ? ", piece" : what, command, out);
    from = cuts[i];
  }

  if (faulty && draws_->Percent(5)) {
    // One more line the program did not ask for.
    static const char* const Extra[] = {
        "512\r\n",       "0\r\n",           "1023\r\n", "OK\r\n",
        "S00000000\r\n", "192.168.1.1\r\n", VersionText};
    std::string line =
        draws_->Percent(40)
            ? std::to_string(draws_->Between(0, 1023)) + "\r\n"
            : Extra[draws_->Below(sizeof Extra / sizeof Extra[0])];
    t += (uint32_t)Gap(500);
    Emit(t, line, ", extra line", command, out);
  }
  busyUntil_ = t;
}

}  // namespace guard
