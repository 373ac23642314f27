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
// The longest the fast board takes to begin a reply once it may.
const int LongestReplyDelay = 300;
// The slow profiles: the longest a reply takes to begin, the longest gap
// between the lines of a healthy multi-line reply, the longest between two
// bytes of a trickle.
const int LongestReplyTime = 2500;
const int LongestLineGap = 300;
const int LongestTrickleGap = 2900;
// The longest the link holds back the stream.
const int LongestHold = 2900;
// How far ahead of the program's look the board decides what it says
// unasked: at least as long as the program's longest wait for a piece.
const int Lookahead = 100;

uint32_t Later(uint32_t a, uint32_t b) { return (int32_t)(b - a) > 0 ? b : a; }

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
    case Profile::BusyBoard:
      return "healthy, busy board of 0..2.5 s a reply";
    case Profile::SlowLink:
      return "healthy, slow link of 0..2.5 s a reply";
    case Profile::BusyStrays:
      return "busy board with stray lines";
    case Profile::LinkStrays:
      return "slow link with stray lines";
    case Profile::Trickles:
      return "slow, with strays and trickles";
    case Profile::Chatter:
      return "slow, with strays and chatter";
    case Profile::Drops:
      return "slow, with strays and dropped connections";
    case Profile::Anything:
      return "slow, any fault";
    case Profile::Holds:
      return "slow, with strays and a link that holds back the stream";
    case Profile::PowerCuts:
      return "slow, with power cuts";
    case Profile::Meddling:
      return "slow, with another client switching outputs 3, 4 and 5";
    case Profile::Refusals:
      return "slow, with setports refused";
    case Profile::Everything:
      return "slow, any fault, outside troubles too";
    case Profile::Sensor:
      return "the sensor checked, its faults, on a healthy board";
    case Profile::SensorFaulty:
      return "the sensor checked, its faults, on a faulty board";
  }
  return "?";
}

const char* ProfileKey(Profile profile) {
  static const char* const Keys[ProfileCount] = {
      "faulty",      "whole",       "lines",        "busy",     "link",
      "busy_strays", "link_strays", "trickles",     "chatter",  "drops",
      "anything",    "holds",       "power_cuts",   "meddling", "refusals",
      "all",         "sensor",      "sensor_faulty"};
  int n = (int)profile;
  return n >= 0 && n < ProfileCount ? Keys[n] : "?";
}

bool IsHealthy(Profile profile) {
  return profile == Profile::WholeReplies || profile == Profile::LineByLine ||
         profile == Profile::BusyBoard || profile == Profile::SlowLink ||
         profile == Profile::Sensor;
}

bool IsSensorProfile(Profile profile) {
  return profile == Profile::Sensor || profile == Profile::SensorFaulty;
}

Profile BoardProfile(Profile profile, Draws* draws) {
  if (profile == Profile::Sensor) {
    // The prompt boards more often: their scenarios cost less time.
    static const Profile Healthy[] = {
        Profile::WholeReplies, Profile::WholeReplies, Profile::LineByLine,
        Profile::BusyBoard, Profile::SlowLink};
    return Healthy[draws->Below(sizeof Healthy / sizeof Healthy[0])];
  }
  if (profile == Profile::SensorFaulty) {
    static const Profile Faulty[] = {
        Profile::Faulty,     Profile::Faulty,   Profile::BusyStrays,
        Profile::LinkStrays, Profile::Trickles, Profile::Chatter,
        Profile::Drops,      Profile::Anything, Profile::Holds,
        Profile::PowerCuts,  Profile::Meddling, Profile::Refusals,
        Profile::Everything};
    return Faulty[draws->Below(sizeof Faulty / sizeof Faulty[0])];
  }
  return profile;
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
  for (int n = 0; n <= 8; n++) decided_[n] = toConfirm_[n] = -1;
  adc_[0] = port_[0] = 0;
  for (int n = 1; n <= 4; n++) {
    adc_[n] = draws_->Between(0, 1023);
    port_[n] = draws_->Between(0, 1);
  }
  // An analog input with nothing on it reads 0 or 1: a reply that may
  // pass for a digital input's.
  if (Slow())
    for (int n = 2; n <= 4; n++)
      if (draws_->Percent(40)) adc_[n] = draws_->Between(0, 1);
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
  if (!troublesDrawn_) DrawTroubles(now);
  Advance(now);
  if (!powered_) {
    Note(now, "board: no power, the connection refused");
    return false;
  }
  // The firmware starts over with the connection; its outputs stay.
  inbox_.clear();
  help_.clear();
  busyUntil_ = now;
  lastArrival_ = now;
  closed_ = false;
  closing_ = false;
  pendingSwitch_ = -1;
  due_.clear();
  onTheWay_.clear();
  Connections++;
  QueriesThisConnection = 0;
  if (Slow()) DrawManner(now);
  if (Tracing && !Slow()) {
    Note(now, "board: connection " + std::to_string(Connections) + " accepted");
  } else if (Tracing) {
    char way[200];
    snprintf(way, sizeof way,
             "board: connection %d accepted: %s of %d ms a reply, lines %d ms "
             "apart, strays %d%%, trickles %d%%, chatter every %d ms, drops "
             "%d%%, holds %d%%, refusals %d%%",
             Connections, Way.Link ? "slow link" : "busy board", Way.Speed,
             Way.LineGap, Way.StrayPercent, Way.TricklePercent,
             Way.ChatterEvery, Way.DropPercent, Way.HoldPercent,
             Way.RefusePercent);
    Note(now, way);
  }
  return true;
}

bool ModelBoard::Update(uint32_t now, std::vector<HeadlessArrival>* out) {
  if (!Slow()) return false;
  Advance(now);
  if (closed_) return false;
  if (cutClose_) {
    // The board's end is gone with its power: nothing more comes.
    out->push_back({now, std::string(), true});
    Note(now, "-> the connection is reset (the board has no power)");
    closed_ = true;
    cutClose_ = false;
    StreamEnds(now);
    return true;
  }
  if (closing_ && (int32_t)(now - closeAt_) >= 0) {
    // What the board had not got out by now never comes.
    out->push_back({now, std::string(), true});
    Note(now, "-> the board closes the connection (after a query)");
    closed_ = true;
    closing_ = false;
    StreamEnds(now);
    return true;
  }
  Unasked(now + Lookahead, out);
  return false;
}

void ModelBoard::Closed(uint32_t now) { StreamEnds(now); }

void ModelBoard::Answered(uint32_t at) {
  if (pendingSwitch_ < 0) return;
  Switches[(size_t)pendingSwitch_].Answered = true;
  Switches[(size_t)pendingSwitch_].AnsweredAt = at;
  pendingSwitch_ = -1;
}

void ModelBoard::Arrives(uint32_t at, const std::string& bytes) {
  if (bytes.find('\n') == std::string::npos) return;
  onTheWay_.push_back(at);
  if (onTheWay_.size() > 64) onTheWay_.pop_front();
  Answered(at);
}

void ModelBoard::StreamEnds(uint32_t now) {
  for (size_t i = 0; i < Switches.size(); i++) {
    LevelSwitch& s = Switches[i];
    if (s.Answered && (int32_t)(s.AnsweredAt - now) > 0) s.Answered = false;
    // A status that never arrives judges nothing: the next one does.
    if (s.Judged && (int32_t)(s.JudgedAt - now) > 0) {
      s.Judged = false;
      if (toConfirm_[s.Output] < (int)i) toConfirm_[s.Output] = (int)i;
    }
  }
}

void ModelBoard::StatusArrives(const std::string& reply, uint32_t at) {
  for (int n = 4; n <= 5; n++) {
    if (toConfirm_[n] < 0) continue;
    LevelSwitch& s = Switches[(size_t)toConfirm_[n]];
    bool shown = reply[(size_t)(9 - n)] == '1';
    s.Judged = true;
    s.Shown = shown == (s.On == 1);
    s.JudgedAt = at;
    toConfirm_[n] = -1;
  }
}

void ModelBoard::Recheck(int n, uint32_t at) {
  if (n != 4 && n != 5) return;
  bool differs = decided_[n] >= 0 && outputs_[n] != (decided_[n] == 1);
  if (differs && !differs_[n]) differsSince_[n] = at;
  differs_[n] = differs;
}

// Per scenario: which troubles come, and when the first of each.
void ModelBoard::DrawTroubles(uint32_t now) {
  troublesDrawn_ = true;
  steadySince_ = now;
  bool all = profile_ == Profile::Everything;
  cuts_ = profile_ == Profile::PowerCuts || (all && draws_->Percent(40));
  meddling_ = profile_ == Profile::Meddling || (all && draws_->Percent(40));
  stretches_ = (profile_ == Profile::Refusals && draws_->Percent(60)) ||
               (all && draws_->Percent(30));
  if (cuts_) {
    cutDue_ = true;
    cutAt_ = now + (uint32_t)draws_->Between(1000, 200000);
  }
  if (meddling_) {
    meddleDue_ = true;
    meddleAt_ = now + (uint32_t)draws_->Between(0, 200000);
  }
  if (stretches_) {
    stretchDue_ = true;
    stretchAt_ = now + (uint32_t)draws_->Between(0, 200000);
  }
}

void ModelBoard::PowerCut(uint32_t at) {
  PowerCuts++;
  powered_ = false;
  for (int n = 1; n <= 8; n++) outputs_[n] = false;
  if (Sensor) Sensor->Power(false, at);
  Recheck(4, at);
  Recheck(5, at);
  powerBackAt_ = at + (uint32_t)draws_->Between(2000, 30000);
  if (!closed_ && Connections > 0) cutClose_ = true;
  inbox_.clear();
  due_.clear();
  Note(at, "board: power cut, every output off, back at " +
               std::to_string(powerBackAt_) + " ms");
}

// Another client, or the operator at the board's console: an output
// switched, most often to the other state.
void ModelBoard::OtherClientSwitches(uint32_t at) {
  OthersSwitched++;
  int n = draws_->Between(3, 5);
  bool on = draws_->Percent(70) ? !outputs_[n] : draws_->Percent(50);
  if (powered_) {
    outputs_[n] = on;
    Recheck(n, at);
    if (n == 3 && Sensor) Sensor->Power(on, at);
    Note(at, "board: another client switches output " + std::to_string(n) +
                 (on ? " on" : " off"));
  }
}

void ModelBoard::Advance(uint32_t now) {
  for (;;) {
    // The earliest event due by `now`.
    int which = -1;
    uint32_t at = 0;
    auto consider = [&](bool due, uint32_t when, int what) {
      if (due && (which < 0 || (int32_t)(when - at) < 0)) {
        which = what;
        at = when;
      }
    };
    consider(cutDue_ && powered_, cutAt_, 0);
    consider(!powered_, powerBackAt_, 1);
    consider(meddleDue_, meddleAt_, 2);
    consider(stretchDue_ || refusing_, stretchAt_, 3);
    if (which < 0 || (int32_t)(at - now) > 0) return;
    switch (which) {
      case 0:
        cutDue_ = false;
        PowerCut(at);
        break;
      case 1:
        powered_ = true;
        steadySince_ = Later(steadySince_, at);
        Note(at, "board: power back, every output off");
        if (!Calm && draws_->Percent(40)) {
          cutDue_ = true;
          cutAt_ = at + (uint32_t)draws_->Between(5000, 120000);
        }
        break;
      case 2:
        meddleDue_ = false;
        if (Calm) break;
        OtherClientSwitches(at);
        if (draws_->Percent(60)) {
          meddleDue_ = true;
          meddleAt_ = at + (uint32_t)draws_->Between(500, 90000);
        }
        break;
      default:
        if (refusing_) {
          refusing_ = false;
          steadySince_ = Later(steadySince_, at);
          Note(at, "board: takes setports again");
          stretchDue_ = !Calm && draws_->Percent(40);
          stretchAt_ = at + (uint32_t)draws_->Between(5000, 100000);
        } else if (Calm) {
          stretchDue_ = false;
        } else {
          stretchDue_ = false;
          refusing_ = true;
          int pick = draws_->Below(10);
          int length = pick < 4   ? draws_->Between(1000, 10000)
                       : pick < 8 ? draws_->Between(10000, 60000)
                                  : draws_->Between(60000, 200000);
          stretchAt_ = at + (uint32_t)length;
          Note(at, "board: refuses every setport until " +
                       std::to_string(stretchAt_) + " ms");
        }
    }
    if (Calm) cutDue_ = meddleDue_ = false;
  }
}

// The speed of a connection: all of 0..2.5 s, most often around the
// program's quiet time of the link.
static int DrawSpeed(Draws* d) {
  switch (d->Below(8)) {
    case 0:
      return d->Between(0, 20);
    case 1:
      return d->Between(20, 300);
    case 2:
      return d->Between(300, 600);
    case 3:
    case 4:
      return d->Between(600, 1000);
    case 5:
      return d->Between(1000, 1600);
    case 6:
      return d->Between(1600, 2200);
    default:
      return d->Between(2200, LongestReplyTime);
  }
}

void ModelBoard::DrawManner(uint32_t now) {
  if (fixed_) {
    Way = fixedWay_;
    nextChatter_ = now + Way.ChatterFrom;
    Way.ChatterFrom = nextChatter_;
    Way.ChatterUntil = Way.ChatterEvery ? now + 0x7FFFFFFFu : 0;
    return;
  }
  Manner m;
  Profile p = profile_;
  if (p == Profile::Anything)
    p = (Profile)draws_->Between((int)Profile::BusyStrays, (int)Profile::Drops);
  else if (p == Profile::Everything)
    p = (Profile)draws_->Between((int)Profile::BusyStrays,
                                 (int)Profile::Refusals);
  m.Link = p == Profile::SlowLink || p == Profile::LinkStrays ||
           (p != Profile::BusyBoard && p != Profile::BusyStrays &&
            draws_->Percent(50));
  // A board of the troubles outside is more often a prompt one: there the
  // guard's bound on making good a lost output is at its tightest.
  bool outsideProfile = profile_ >= Profile::PowerCuts;
  m.Speed = outsideProfile && draws_->Percent(50) ? draws_->Between(0, 300)
                                                  : DrawSpeed(draws_);
  switch (draws_->Below(4)) {
    case 0:
      m.LineGap = 0;
      break;
    case 1:
      m.LineGap = draws_->Between(1, 50);
      break;
    case 2:
      m.LineGap = draws_->Between(50, 150);
      break;
    default:
      m.LineGap = draws_->Between(150, LongestLineGap);
  }
  bool outside = p == Profile::PowerCuts || p == Profile::Meddling ||
                 p == Profile::Refusals;
  if (!IsHealthy(p) && !outside) m.StrayPercent = draws_->Between(2, 15);
  bool all = profile_ == Profile::Everything;
  bool any = profile_ == Profile::Anything || all;
  if (p == Profile::Trickles || (any && draws_->Percent(30)))
    m.TricklePercent = draws_->Between(3, 15);
  if (p == Profile::Chatter || (any && draws_->Percent(20))) {
    m.ChatterEvery = draws_->Between(200, 900);
    m.ChatterFrom = now + (draws_->Percent(40) ? 0 : draws_->Between(0, 30000));
    // Often for as long as the connection lasts.
    m.ChatterUntil = draws_->Percent(50)
                         ? now + 0x7FFFFFFFu
                         : m.ChatterFrom + draws_->Between(1000, 60000);
    nextChatter_ = m.ChatterFrom;
  }
  if (p == Profile::Drops || (any && draws_->Percent(30)))
    m.DropPercent = draws_->Between(10, 60);
  if (p == Profile::Holds || (all && draws_->Percent(30)))
    m.HoldPercent = draws_->Between(1, 8);
  if ((p == Profile::Refusals && draws_->Percent(60)) ||
      (all && draws_->Percent(20)))
    m.RefusePercent = draws_->Between(5, 40);
  Way = m;
}

// A reply's processing time (busy board) or latency (slow link): the
// connection's speed, a little more or less each time.
int ModelBoard::ReplyTime() {
  if (Way.Steady) return Way.Speed;
  int spread = Way.Speed / 8;
  int t = Way.Speed + draws_->Between(-spread, spread);
  return t < 0 ? 0 : t > LongestReplyTime ? LongestReplyTime : t;
}

void ModelBoard::Put(uint32_t at, const std::string& bytes,
                     const std::string& how, std::vector<HeadlessArrival>* out,
                     int hold) {
  at = Later(at, busyUntil_);
  busyUntil_ = at;
  uint32_t arrives =
      Later(at + (Way.Link ? (uint32_t)latency_ : 0u), lastArrival_);
  size_t from = 0;  // the first byte held back
  if (hold < 0) {
    hold = DrawnHold(at, arrives);
    if (hold > 0) from = draws_->Below((uint32_t)bytes.size());
  }
  if (from > 0) {
    out->push_back({arrives, bytes.substr(0, from), false});
    Arrives(arrives, bytes.substr(0, from));
  }
  if (hold > 0) {
    Note(arrives, "board: the link holds back the bytes from here " +
                      std::to_string(hold) + " ms");
    arrives += (uint32_t)hold;
  }
  lastArrival_ = arrives;
  out->push_back({arrives, bytes.substr(from), false});
  Arrives(arrives, bytes.substr(from));
  if (Tracing) Note(arrives, "-> " + Shown(bytes) + "   (" + how + ")");
}

int ModelBoard::DrawnHold(uint32_t written, uint32_t arrives) {
  int chance = Way.HoldPercent * (inReply_ && lastOfQuery_ ? 4 : 1);
  if (chance == 0 || !draws_->Percent(chance)) return 0;
  int hold = draws_->Percent(30) ? draws_->Between(0, 700)
                                 : draws_->Between(0, LongestHold);
  // Bytes behind a hold wait too, and the board's next command may come
  // just after anything it wrote: so nothing it writes reaches the program
  // later than LatestHeldReply after it was written, and whatever it writes
  // while it answers a command (a stray line or a trickle before the reply
  // included, as they lie in the stream ahead of it) not later than that
  // after the command.
  uint32_t from = answering_ ? replyCommandAt_ : written;
  int32_t left = (int32_t)(from + LatestHeldReply - arrives);
  if (left <= 0) return 0;
  return hold < left ? hold : (int)left;
}

// A few bytes with no line feed and no digit among them, 5 ms..2.9 s apart:
// whatever line they run into is of no reply's form.
uint32_t ModelBoard::Trickle(uint32_t at, std::vector<HeadlessArrival>* out) {
  static const char Bytes[] = "x?#*!~abzQ ";
  int n = draws_->Between(1, 4);
  for (int i = 0; i < n; i++) {
    if (i > 0)
      at += (uint32_t)(draws_->Percent(60)
                           ? draws_->Between(5, 100)
                           : draws_->Between(100, LongestTrickleGap));
    Put(at, std::string(1, Bytes[draws_->Below(sizeof Bytes - 1)]), "trickle",
        out);
  }
  return busyUntil_;
}

void ModelBoard::Due(uint32_t at, const std::string& line,
                     const std::string& how) {
  size_t i = due_.size();
  while (i > 0 && (int32_t)(due_[i - 1].At - at) > 0) i--;
  due_.insert(due_.begin() + (long)i, {at, line, how});
}

// A stray line due later does not hold up the replies meanwhile: a reply
// owed is never later than the board's reply time.
void ModelBoard::Unasked(uint32_t until, std::vector<HeadlessArrival>* out) {
  if (closed_) return;
  for (;;) {
    bool stray = !due_.empty();
    uint32_t strayAt = stray ? Later(due_.front().At, busyUntil_) : 0;
    uint32_t chatterAt = Later(nextChatter_, busyUntil_);
    bool chatter =
        Way.ChatterEvery > 0 && (int32_t)(Way.ChatterUntil - chatterAt) > 0;
    if (!stray && !chatter) return;
    bool first = stray && (!chatter || (int32_t)(strayAt - chatterAt) <= 0);
    uint32_t at = first ? strayAt : chatterAt;
    if ((int32_t)(until - at) < 0) return;
    if (Way.Link) latency_ = ReplyTime();
    if (first) {
      DueLine d = due_.front();
      due_.erase(due_.begin());
      Put(at, d.Line, d.How, out);
    } else {
      Put(at, StrayLine(), "chatter", out);
      nextChatter_ = at + (uint32_t)draws_->Between(Way.ChatterEvery / 2,
                                                    Way.ChatterEvery);
    }
  }
}

// Lines of every form a reply has, and some of none.
std::string ModelBoard::StrayLine() {
  static const char* const Counts[] = {"600\r\n", "43\r\n",  "44\r\n",
                                       "241\r\n", "242\r\n", "1023\r\n",
                                       "0\r\n",   "600\n"};
  static const char* const Addresses[] = {"192.168.1.50\r\n", "192.168.1.1\r\n",
                                          "255.255.255.0\r\n"};
  switch (draws_->Below(10)) {
    case 0:
      return std::to_string(draws_->Between(0, 1023)) + "\r\n";
    case 1:
      return Counts[draws_->Below(sizeof Counts / sizeof Counts[0])];
    case 2: {
      // The well's own level, or next to it.
      int c = Now.LevelCount + draws_->Between(-3, 3);
      return std::to_string(c < 0 ? 0 : c > 1023 ? 1023 : c) + "\r\n";
    }
    case 3: {
      std::string s = "S";
      for (int n = 0; n < 8; n++) s += draws_->Percent(30) ? '1' : '0';
      return s + "\r\n";
    }
    case 4:
      return Addresses[draws_->Below(3)];
    case 5:
      return draws_->Percent(50) ? "0\r\n" : "1\r\n";
    case 6:
      return "OK\r\n";
    case 7: {
      std::string help = "KORVALINEX:\r\n";
      int lines = draws_->Between(0, 3);
      for (int i = 0; i < lines; i++)
        help +=
            HelpLines[draws_->Below(sizeof HelpLines / sizeof HelpLines[0])];
      return help;
    }
    case 8:
      return VersionText;
    default:
      return Garbage("GETPORT 1");
  }
}

// The slow profiles: the reply after its processing time (busy board) or
// with its latency (slow link), whole or a line at a time, with what the
// connection's faults add around it.
void ModelBoard::Answer(const std::string& command, const std::string& reply,
                        uint32_t now, std::vector<HeadlessArrival>* out) {
  Parsed c = Parse(command);
  if (c.What == Help) QueriesThisConnection++;
  std::string of =
      "reply to #" + std::to_string(commandNumber_) + " " + Shown(command);
  answering_ = true;
  replyCommandAt_ = now;
  uint32_t t = Later(now, busyUntil_);
  int work = Way.Link ? draws_->Between(0, 5) : ReplyTime();
  Unasked(t + (uint32_t)work, out);
  bool strayAfter = false;
  // Behind the status, a stray line runs into the level's own exchange:
  // there more often.
  int strays = c.What == GetStatus ? 3 * Way.StrayPercent : Way.StrayPercent;
  if (strays > 0 && draws_->Percent(strays)) {
    if (draws_->Percent(50)) {
      if (Way.Link) latency_ = ReplyTime();
      Put(t + draws_->Below((uint32_t)work + 1), StrayLine(),
          "stray, before the " + of, out);
    } else {
      strayAfter = true;
    }
  }
  if (Way.TricklePercent > 0 && draws_->Percent(Way.TricklePercent)) {
    if (Way.Link) latency_ = ReplyTime();
    Trickle(t + draws_->Below((uint32_t)work + 1), out);
  }
  if (Way.Link) latency_ = ReplyTime();
  uint32_t start = Later(t + (uint32_t)work, busyUntil_);

  std::vector<size_t> cuts;  // where the reply is cut, each with a gap
  std::vector<int> gaps;
  bool multiLine = c.What == Help || c.What == Version;
  if (multiLine && Way.LineGap > 0) {
    for (size_t i = 0; i + 1 < reply.size(); i++)
      if (reply[i] == '\n') {
        cuts.push_back(i + 1);
        gaps.push_back(draws_->Between(0, Way.LineGap));
      }
  } else if (!multiLine && Way.TricklePercent > 0 &&
             draws_->Percent(Way.TricklePercent)) {
    // The reply's own bytes, one at a time.
    for (size_t i = 1; i < reply.size(); i++) {
      cuts.push_back(i);
      gaps.push_back(draws_->Percent(70)
                         ? draws_->Between(5, 100)
                         : draws_->Between(100, LongestTrickleGap));
    }
  }
  cuts.push_back(reply.size());
  bool held = !holdCommand_.empty() && QueriesThisConnection == holdQuery_ &&
              strcasecmp(command.c_str(), holdCommand_.c_str()) == 0;
  size_t from = 0;
  uint32_t at = start;
  inReply_ = true;
  lastOfQuery_ = c.What == GetPort && c.Channel == 4;
  for (size_t i = 0; i < cuts.size(); i++) {
    if (i > 0) at += (uint32_t)gaps[i - 1];
    Put(at, reply.substr(from, cuts[i] - from),
        i + 1 < cuts.size() ? of + ", piece" : of, out,
        held && i == 0 ? holdMs_ : -1);
    from = cuts[i];
  }
  inReply_ = false;
  answering_ = false;
  if (c.What == GetStatus) StatusArrives(reply, lastArrival_);
  if (strayAfter) {
    int gap = draws_->Percent(60) ? draws_->Between(1, work > 1 ? work : 1)
                                  : draws_->Between(1, LongestReplyTime);
    Due(busyUntil_ + (uint32_t)gap, StrayLine(), "stray, after the " + of);
  }
  if (!strayLine_.empty() && QueriesThisConnection == strayQuery_ &&
      strcasecmp(command.c_str(), strayCommand_.c_str()) == 0)
    Due(busyUntil_ + (uint32_t)strayGap_, strayLine_, "stray, after the " + of);
  if (c.What == GetPort && c.Channel == 4 && Way.DropPercent > 0 &&
      draws_->Percent(Way.DropPercent)) {
    // Once the query is answered, the connection goes.
    closing_ = true;
    closeAt_ = lastArrival_ + (uint32_t)draws_->Between(0, 3000);
  }
}

void ModelBoard::Take(const char* bytes, int length, uint32_t now,
                      std::vector<HeadlessArrival>* out) {
  if (closed_ || cutClose_ || !powered_ ||
      (closing_ && (int32_t)(now - closeAt_) >= 0))
    return;
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
  pendingSwitch_ = -1;
  bool refused = false;
  if (c.What == SetPort) {
    refused = refusing_ || (!Calm && Way.RefusePercent > 0 &&
                            draws_->Percent(Way.RefusePercent));
    if (refused) {
      Refused++;
      steadySince_ = Later(steadySince_, now);
    } else {
      outputs_[c.Channel] = c.On == 1;
      if (c.Channel == 3 && Sensor) Sensor->Power(c.On == 1, now);
    }
    // The measurement's end: the well and the sensor of the next cycle.
    if (c.Channel == 3 && c.On == 0 && Sensor && Sensor->CycleEnds()) {
      Now = next_;
      Note(now, "board: the next cycle's " + Sensor->Describe() +
                    ", true count " + std::to_string(Now.LevelCount));
    }
    if (c.Channel == 4 || c.Channel == 5) {
      // The troubles come most often just after a decision, when they
      // take what the guard has done.
      if ((meddling_ || cuts_) && !Calm && !refused) {
        uint32_t soon = now + (uint32_t)draws_->Between(0, 20000);
        if (meddling_ && draws_->Percent(15) &&
            (!meddleDue_ || (int32_t)(soon - meddleAt_) < 0)) {
          meddleDue_ = true;
          meddleAt_ = soon;
        }
        if (cuts_ && powered_ && draws_->Percent(4) &&
            (!cutDue_ || (int32_t)(soon - cutAt_) < 0)) {
          cutDue_ = true;
          cutAt_ = soon;
        }
      }
      decided_[c.Channel] = c.On;
      Recheck(c.Channel, now);
      toConfirm_[c.Channel] = (int)Switches.size();
      pendingSwitch_ = (int)Switches.size();
      Switches.push_back({c.Channel, c.On, now, Now});
      Switches.back().Accepted = !refused;
      if (Sensor) Switches.back().Cycle = Sensor->Cycle();
      // Whatever line comes next answers it for the program, even one
      // already on the way.
      while (!onTheWay_.empty() && (int32_t)(onTheWay_.front() - now) < 0)
        onTheWay_.pop_front();
      if (!onTheWay_.empty()) Answered(onTheWay_.front());
    }
  }
  commandNumber_++;
  level_ = Now.LevelCount;
  bool level = c.What == GetAdc && c.Channel == 1;
  if (level && Sensor) level_ = Sensor->Reading(Now.LevelCount, now, draws_);
  if (Tracing)
    Note(now,
         "<- #" + std::to_string(commandNumber_) + " " + Shown(text) +
             (!level ? ""
              : Sensor
                  ? "   (true count " + std::to_string(Now.LevelCount) +
                        ", the sensor reads " + std::to_string(level_) +
                        (outputs_[3] ? ", powered)" : ", unpowered)")
                  : "   (true count " + std::to_string(Now.LevelCount) + ")"));
  if (Slow())
    Answer(text, refused ? "ERR\r\n" : Reply(text), now, out);
  else
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
      return std::to_string(c.Channel == 1 ? level_ : adc_[c.Channel]) + "\r\n";
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
  Arrives(at, bytes);
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
  if (*what == 0 && Parse(command).What == GetStatus) StatusArrives(reply, t);

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
