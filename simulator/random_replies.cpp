// Replies drawn at random from a seed, and the fixed line-by-line pacing.
// See random_replies.h.
#include "simulator/random_replies.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace kvxsim {

namespace {

// xorshift32: the same draws on every platform and compiler.
uint32_t Next(uint32_t* state) {
  if (*state == 0) *state = 0x9E3779B9u;
  *state ^= *state << 13;
  *state ^= *state >> 17;
  *state ^= *state << 5;
  return *state;
}

// 0..n-1 (0 when n <= 0).
int Below(uint32_t* state, int n) {
  if (n <= 0) return 0;
  return static_cast<int>(Next(state) % static_cast<uint32_t>(n));
}

// 0..max inclusive.
int UpTo(uint32_t* state, int max) { return Below(state, max + 1); }

// True with `percent` percent.
bool Chance(uint32_t* state, double percent) {
  if (percent <= 0) return false;
  return (Next(state) % 1000000u) < static_cast<uint32_t>(percent * 10000.0);
}

template <size_t N>
std::string Pick(uint32_t* state, const char* const (&options)[N]) {
  return options[Below(state, static_cast<int>(N))];
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// 1..16 bytes 01..FF without CR or LF, at least one of them not a digit.
std::string RandomBytes(uint32_t* state) {
  std::string out;
  const int n = 1 + Below(state, 16);
  for (int i = 0; i < n; ++i) {
    char c = static_cast<char>(1 + Below(state, 255));
    if (c == '\r' || c == '\n') c = '?';
    out += c;
  }
  if (std::all_of(out.begin(), out.end(), IsDigit)) out[Below(state, n)] = 'x';
  return out;
}

// A line that is not a well-formed reply of the command, with its CR LF.
std::string GarbageLine(uint32_t* state, const std::string& keyword) {
  static const char* const kAdc[] = {"abc",       "",     "S00001100", "-3",
                                     "1023 1023", "5000", "1024",      "12a",
                                     "OK",        "0x1F"};
  static const char* const kPort[] = {"2", "x", "", "10", "ERR", "-1"};
  static const char* const kStatus[] = {"S0000110", "X00001100", "",
                                        "abc",      "S0000110A", "512"};
  static const char* const kOther[] = {"", "abc", "ERR", "#"};
  std::string line;
  if (Chance(state, 30)) {
    line = RandomBytes(state);
  } else if (keyword == "GETADC") {
    line = Pick(state, kAdc);
  } else if (keyword == "GETPORT") {
    line = Pick(state, kPort);
  } else if (keyword == "GETSTATUS") {
    line = Pick(state, kStatus);
  } else {
    line = Pick(state, kOther);
  }
  return line + "\r\n";
}

// What a board that writes a line too many might write: mostly a count
// (taken for the next GETADC's reply it is the dangerous one).
std::string ExtraLine(uint32_t* state, const std::string& reply) {
  switch (Below(state, 8)) {
    case 0:
      return "OK\r\n";
    case 1:
      return std::string(Below(state, 2) ? "1" : "0") + "\r\n";
    case 2:
      return "S00000100\r\n";
    case 3:
      if (!reply.empty()) return reply;
      break;
    default:
      break;
  }
  return std::to_string(UpTo(state, 1023)) + "\r\n";
}

const char kHelpMore[] =
    "GETPORT n: Eingang n lesen (1 = offen)\r\n"
    "GETADC n: Analogeingang n, 0..1023\r\n"
    "SETPORT x.y: Ausgang x auf y schalten\r\n"
    "GETSTATUS: S und 8 Ziffern, Ausgang 8 zuerst\r\n"
    "WRITELCD x.y: Zeile x auf Text y\r\n"
    "CLEARLCD x: Zeile x loeschen\r\n";
const char kVersionMore[] =
    "Build: 2019-04-11 17:02\r\n"
    "Bootloader: 2.0\r\n"
    "MAC: 00:04:A3:12:34:56\r\n"
    "Ports: 8 OUT, 4 IN, 4 ADC\r\n"
    "LCD: 2x16 HD44780\r\n"
    "Flash: 32 KB, EEPROM: 1 KB\r\n"
    "Copyright: Werkstatt Nord\r\n"
    "Serial: 0042-1187-0935\r\n";

// Help or Version grown to 201..320 bytes; without its last line feed
// when `lineFeedAtEnd` is false.
std::string LongReply(uint32_t* state, const std::string& keyword,
                      const std::string& reply, bool lineFeedAtEnd) {
  const size_t length = 201 + static_cast<size_t>(Below(state, 120));
  std::string more = keyword == "HELP" ? kHelpMore : kVersionMore;
  std::string out = reply;
  while (out.size() < length) out += more;
  out.resize(length - 2);
  if (lineFeedAtEnd) return out + "\r\n";
  out += Below(state, 2) ? "\r" : ".";
  out += '.';
  return out;
}

// Where a cut on a line boundary may lie: after a LF, before a CR.
std::vector<size_t> LineBoundaries(const std::string& bytes) {
  std::vector<size_t> at;
  for (size_t i = 1; i < bytes.size(); ++i) {
    if (bytes[i - 1] == '\n' || bytes[i] == '\r') at.push_back(i);
  }
  return at;
}

std::vector<ReplyPiece> CutAt(const std::string& bytes,
                              const std::map<size_t, int>& cuts) {
  std::vector<ReplyPiece> out;
  size_t from = 0;
  int wait = 0;
  for (const auto& cut : cuts) {
    if (cut.first == 0 || cut.first >= bytes.size()) continue;
    out.push_back({wait, bytes.substr(from, cut.first - from)});
    from = cut.first;
    wait = cut.second;
  }
  out.push_back({wait, bytes.substr(from)});
  return out;
}

bool ToNumber(const std::string& s, double* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double d = std::strtod(s.c_str(), &end);
  if (errno || *end || !(d >= 0)) return false;
  *v = d;
  return true;
}

// The settable names: a probability (percent) or a whole number in a range.
struct Setting {
  const char* name;
  double RandomReplies::*percent;
  int RandomReplies::*whole;
  int least, most;
};

const Setting kSettings[] = {
    {"delay", &RandomReplies::delayPct, nullptr, 0, 0},
    {"delayms", nullptr, &RandomReplies::delayMaxMs, 0, 60000},
    {"split", &RandomReplies::splitPct, nullptr, 0, 0},
    {"pieces", nullptr, &RandomReplies::splitMaxPieces, 2, 1000},
    {"gapms", nullptr, &RandomReplies::splitGapMaxMs, 0, 60000},
    {"boundary", &RandomReplies::boundaryPct, nullptr, 0, 0},
    {"lines", &RandomReplies::linesPct, nullptr, 0, 0},
    {"linems", nullptr, &RandomReplies::lineGapMaxMs, 0, 60000},
    {"long", &RandomReplies::longPct, nullptr, 0, 0},
    {"garbage", &RandomReplies::garbagePct, nullptr, 0, 0},
    {"extra", &RandomReplies::extraPct, nullptr, 0, 0},
    {"extrams", nullptr, &RandomReplies::extraGapMaxMs, 0, 60000},
};

}  // namespace

const char kRandomRepliesHelp[] =
    "off | whole|lines|faults [seed=N] [delay=P]\n"
    "  [delayms=MS] [split=P] [pieces=N] [gapms=MS]\n"
    "  [boundary=P] [lines=P] [linems=MS] [long=P]\n"
    "  [garbage=P] [extra=P] [extrams=MS]\n"
    "  (P: percent of the replies)";

bool IsWellFormedCount(const std::string& line) {
  if (line.empty() || line.size() > 4) return false;
  if (!std::all_of(line.begin(), line.end(), IsDigit)) return false;
  return std::atoi(line.c_str()) <= 1023;
}

bool RandomProfile(const std::string& name, RandomReplies* out) {
  RandomReplies r;
  r.on = true;
  if (name == "whole") {
    // nothing more: every reply whole, at once
  } else if (name == "lines") {
    r.linesPct = 100;
    r.lineGapMaxMs = 50;
  } else if (name == "faults") {
    r.delayPct = 3;
    r.splitPct = 2;
    r.splitMaxPieces = 3;
    r.linesPct = 20;
    r.lineGapMaxMs = 100;
    r.longPct = 10;
    r.garbagePct = 1.5;
    r.extraPct = 1.5;
  } else {
    return false;
  }
  r.seed = out->seed;
  *out = r;
  return true;
}

bool ParseRandomReplies(const std::string& text, RandomReplies* out,
                        std::string* error) {
  std::istringstream in(text);
  std::string word;
  if (!(in >> word)) {
    *error = "no profile";
    return false;
  }
  RandomReplies r = *out;
  if (word == "off") {
    if (in >> word) {
      *error = "nothing may follow off";
      return false;
    }
    out->on = false;
    return true;
  }
  if (!RandomProfile(word, &r)) {
    *error = "unknown profile " + word;
    return false;
  }
  while (in >> word) {
    const size_t eq = word.find('=');
    const std::string name = word.substr(0, eq);
    double v = 0;
    if (eq == std::string::npos || !ToNumber(word.substr(eq + 1), &v)) {
      *error = "not NAME=VALUE: " + word;
      return false;
    }
    if (name == "seed") {
      if (v > 4294967295.0 || v != static_cast<uint32_t>(v)) {
        *error = "bad seed " + word;
        return false;
      }
      r.seed = static_cast<uint32_t>(v);
      continue;
    }
    const Setting* s = nullptr;
    for (const Setting& each : kSettings)
      if (name == each.name) s = &each;
    if (!s) {
      *error = "unknown setting " + name;
      return false;
    }
    if (s->percent) {
      if (v > 100) {
        *error = name + " is a percentage, 0..100";
        return false;
      }
      r.*(s->percent) = v;
    } else {
      if (v < s->least || v > s->most || v != static_cast<int>(v)) {
        *error = name + " must be a whole number " + std::to_string(s->least) +
                 ".." + std::to_string(s->most);
        return false;
      }
      r.*(s->whole) = static_cast<int>(v);
    }
  }
  *out = r;
  return true;
}

std::string DescribeRandomReplies(const RandomReplies& r) {
  if (!r.on) return "off";
  std::string out = "faults seed=" + std::to_string(r.seed);
  for (const Setting& s : kSettings) {
    char value[32];
    if (s.percent)
      snprintf(value, sizeof value, "%g", r.*(s.percent));
    else
      snprintf(value, sizeof value, "%d", r.*(s.whole));
    out += std::string(" ") + s.name + "=" + value;
  }
  return out;
}

std::vector<ReplyPiece> LineByLine(const std::string& reply, int gapMs) {
  std::map<size_t, int> cuts;
  for (size_t i = 1; i < reply.size(); ++i)
    if (reply[i - 1] == '\n') cuts[i] = gapMs;
  return CutAt(reply, cuts);
}

std::vector<ReplyPiece> DrawReply(const RandomReplies& r, uint32_t* state,
                                  const std::string& keyword,
                                  const std::string& reply) {
  if (reply.empty()) return {};
  // Every fault is drawn for every reply, so that one reply's draw does not
  // depend on whether another fault was met.
  const bool garbage = Chance(state, r.garbagePct);
  const bool lengthen =
      Chance(state, r.longPct) && (keyword == "HELP" || keyword == "VERSION");
  const bool lineFeedAtEnd = Below(state, 2) == 0;
  const bool late = Chance(state, r.delayPct);
  const bool lines = Chance(state, r.linesPct);
  const bool split = Chance(state, r.splitPct);
  const bool extra = Chance(state, r.extraPct);

  std::string body = reply;
  if (garbage)
    body = GarbageLine(state, keyword);
  else if (lengthen)
    body = LongReply(state, keyword, reply, lineFeedAtEnd);

  std::map<size_t, int> cuts;
  if (lines) {
    for (size_t i = 1; i < body.size(); ++i)
      if (body[i - 1] == '\n') cuts[i] = UpTo(state, r.lineGapMaxMs);
  }
  if (split && body.size() > 1) {
    const std::vector<size_t> boundaries = LineBoundaries(body);
    const int more = 1 + Below(state, std::max(1, r.splitMaxPieces - 1));
    for (int i = 0; i < more; ++i) {
      size_t at;
      if (!boundaries.empty() && Chance(state, r.boundaryPct))
        at = boundaries[Below(state, static_cast<int>(boundaries.size()))];
      else
        at = 1 + static_cast<size_t>(
                     Below(state, static_cast<int>(body.size() - 1)));
      cuts[at] = UpTo(state, r.splitGapMaxMs);
    }
  }
  std::vector<ReplyPiece> out = CutAt(body, cuts);
  if (late) out.front().waitMs = UpTo(state, r.delayMaxMs);
  if (extra) {
    const std::string line = ExtraLine(state, reply);
    out.push_back({UpTo(state, r.extraGapMaxMs), line});
  }
  return out;
}

}  // namespace kvxsim
