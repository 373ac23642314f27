// The board and the well: inputs, outputs, display and network settings,
// the level model, and the board's answer to each command (with the reply
// overrides). See simulator.h.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "simulator/faults.h"
#include "simulator/framing.h"
#include "simulator/simulator.h"
#include "simulator/steady_time.h"

namespace kvxsim {

namespace {

const char kDefaultHelp[] =
    "KORVALINEX Befehle:\r\n"
    "GETPORT n, GETADC n, SETPORT x.y, GETSTATUS\r\n"
    "GETIP, GETMASK, GETGW, SETIP, SETMASK, SETGW\r\n"
    "HELP, RESET, VERSION\r\n"
    "INITLCD, WRITELCD x.y, CLEARLCD [x]\r\n";

// Digits only (after trimming), at most 6 of them.
bool ParseIntStrict(const std::string& text, int* value) {
  std::string s = Trim(text);
  if (s.empty() || s.size() > 6) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

bool IsDottedQuad(const std::string& text) {
  std::string s = Trim(text);
  int parts = 0;
  size_t i = 0;
  while (true) {
    size_t j = i;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
    if (j == i || j - i > 3) return false;
    if (std::atoi(s.substr(i, j - i).c_str()) > 255) return false;
    ++parts;
    if (j == s.size()) break;
    if (s[j] != '.') return false;
    i = j + 1;
  }
  return parts == 4;
}

std::string Blank16() { return std::string(16, ' '); }

}  // namespace

std::string Simulator::DefaultHelpText() { return kDefaultHelp; }

void Simulator::AdvanceLocked() const {
  const double now = modelClock_ ? modelClock_()
                     : driven_   ? DrivenSecondsLocked()
                                 : SteadySeconds();
  const double dt = now - modelLast_;
  modelLast_ = now;
  if (!(dt > 0) || !std::isfinite(dt)) return;
  double rate = inflow_ - (outputs_[4] ? 0.0 : draw_);
  level_ += rate * dt;
  if (!(level_ >= 0)) level_ = 0;  // also NaN
  if (level_ > 1023) level_ = 1023;
}

int Simulator::AnalogLocked(int n) const {
  if (n == 1) {
    AdvanceLocked();
    const SensorFault& f = sensorFault_;
    if (f.kind == SensorFaultKind::Pinned)
      return std::min(1023, std::max(0, f.count));
    if (f.kind == SensorFaultKind::CableBreak || !outputs_[3]) return 0;
    double reading = level_;
    if (f.kind == SensorFaultKind::LiveZero) reading = f.count + level_;
    if (f.kind == SensorFaultKind::Flat) reading = f.count;
    if (f.kind == SensorFaultKind::SlowStart && f.seconds > 0) {
      const double powered = modelLast_ - sensorOnAt_;
      if (powered < f.seconds)
        reading = level_ * std::max(0.0, powered) / f.seconds;
    }
    int v = static_cast<int>(std::floor(reading + 0.5));
    return std::min(1023, std::max(0, v));
  }
  if (n >= 2 && n <= 4) return analog_[n];
  return 0;
}

void Simulator::SetAnalog(int n, int count) {
  count = std::min(1023, std::max(0, count));
  if (n == 1) {
    SetLevel(count);
    return;
  }
  std::lock_guard<std::mutex> lk(mu_);
  if (n >= 2 && n <= 4) analog_[n] = count;
}

void Simulator::SwitchOutputLocked(int n, bool on) {
  AdvanceLocked();
  if (n == 3 && on && !outputs_[3]) sensorOnAt_ = modelLast_;
  outputs_[n] = on;
}

void Simulator::SetSensorFault(const SensorFault& fault) {
  std::lock_guard<std::mutex> lk(mu_);
  AdvanceLocked();
  sensorFault_ = fault;
  spikeAfter_ =
      fault.kind == SensorFaultKind::Spike ? std::max(0, fault.after) : -1;
}

SensorFault Simulator::GetSensorFault() const {
  std::lock_guard<std::mutex> lk(mu_);
  return sensorFault_;
}

void Simulator::SetDigital(int n, int value) {
  std::lock_guard<std::mutex> lk(mu_);
  if (n >= 1 && n <= 4) digital_[n] = value ? 1 : 0;
}

bool Simulator::Output(int n) const {
  std::lock_guard<std::mutex> lk(mu_);
  return n >= 1 && n <= 8 && outputs_[n];
}

void Simulator::SetOutput(int n, bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  if (n < 1 || n > 8) return;
  SwitchOutputLocked(n, on);
}

std::string Simulator::Outputs() const {
  std::lock_guard<std::mutex> lk(mu_);
  std::string s;
  for (int i = 1; i <= 8; ++i) s += outputs_[i] ? '1' : '0';
  return s;
}

int Simulator::Analog(int n) const {
  std::lock_guard<std::mutex> lk(mu_);
  return AnalogLocked(n);
}

std::string Simulator::Lcd(int line) const {
  std::lock_guard<std::mutex> lk(mu_);
  return (line == 1 || line == 2) ? lcd_[line] : std::string();
}

void Simulator::SetNetwork(const std::string& ip, const std::string& mask,
                           const std::string& gw) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!ip.empty()) ip_ = ip;
  if (!mask.empty()) mask_ = mask;
  if (!gw.empty()) gw_ = gw;
}

BoardSnapshot Simulator::Snapshot() const {
  std::lock_guard<std::mutex> lk(mu_);
  BoardSnapshot s{};
  s.outputs[0] = false;
  for (int i = 1; i <= 8; ++i) s.outputs[i] = outputs_[i];
  s.analog[0] = s.digital[0] = 0;
  for (int i = 1; i <= 4; ++i) {
    s.analog[i] = AnalogLocked(i);
    s.digital[i] = digital_[i];
  }
  s.level = level_;
  s.inflow = inflow_;
  s.draw = draw_;
  s.lcd[1] = lcd_[1];
  s.lcd[2] = lcd_[2];
  s.ip = ip_;
  s.mask = mask_;
  s.gw = gw_;
  s.connected = connected_;
  s.connections = connections_;
  s.commands = commandCount_;
  s.lastCommand = lastCommand_;
  return s;
}

void Simulator::SetLevel(double counts) {
  std::lock_guard<std::mutex> lk(mu_);
  AdvanceLocked();
  if (!std::isfinite(counts)) counts = 0;
  level_ = std::min(1023.0, std::max(0.0, counts));
}

void Simulator::SetLevelAfter(const std::string& key, double counts) {
  std::lock_guard<std::mutex> lk(mu_);
  if (!std::isfinite(counts)) counts = 0;
  levelAfterKey_ = NormalKey(key);
  levelAfterCounts_ = std::min(1023.0, std::max(0.0, counts));
  levelChangedAt_ = -1;
}

int64_t Simulator::LevelChangedAt() const {
  std::lock_guard<std::mutex> lk(mu_);
  return levelChangedAt_;
}

double Simulator::Level() const {
  std::lock_guard<std::mutex> lk(mu_);
  AdvanceLocked();
  return level_;
}

void Simulator::SetRates(double inflowPerS, double drawPerS) {
  std::lock_guard<std::mutex> lk(mu_);
  AdvanceLocked();
  inflow_ = std::isfinite(inflowPerS) ? inflowPerS : 0;
  draw_ = std::isfinite(drawPerS) ? drawPerS : 0;
}

void Simulator::SetModelClock(std::function<double()> seconds) {
  std::lock_guard<std::mutex> lk(mu_);
  AdvanceLocked();
  modelClock_ = std::move(seconds);
  modelLast_ = modelClock_ ? modelClock_()
               : driven_   ? DrivenSecondsLocked()
                           : SteadySeconds();
}

void Simulator::SetReply(const std::string& key, const std::string& bytes,
                         int count) {
  std::lock_guard<std::mutex> lk(mu_);
  if (count == 0) {
    overrides_.erase(NormalKey(key));
    return;
  }
  overrides_[NormalKey(key)] = Override{bytes, count};
}

void Simulator::ClearReply(const std::string& key) {
  std::lock_guard<std::mutex> lk(mu_);
  overrides_.erase(NormalKey(key));
}

void Simulator::ClearReplies() {
  std::lock_guard<std::mutex> lk(mu_);
  overrides_.clear();
}

void Simulator::SetHelpText(const std::string& bytes) {
  std::lock_guard<std::mutex> lk(mu_);
  help_ = bytes;
}

// ---- The board's answers ----

std::string Simulator::DefaultReply(CommandRecord* cmd, bool* resetAfter) {
  const std::string ok = "OK\r\n", err = "ERR\r\n";
  std::string args;
  SplitKeyword(cmd->text, &cmd->keyword, &args);
  const std::string& k = cmd->keyword;
  if (cmd->kind == CommandKind::Overlong) return "ERR too long\r\n";
  int n = 0;
  if (k == "GETPORT") {
    if (!ParseIntStrict(args, &n) || n < 1 || n > 4) return err;
    return digital_[n] ? "1\r\n" : "0\r\n";
  }
  if (k == "GETADC") {
    if (!ParseIntStrict(args, &n) || n < 1 || n > 4) return err;
    int count = AnalogLocked(n);
    // The spike: one powered reading of input 1 off, once.
    if (n == 1 && spikeAfter_ >= 0 && outputs_[3] &&
        sensorFault_.kind == SensorFaultKind::Spike) {
      if (spikeAfter_ == 0)
        count = std::min(1023, std::max(0, count + sensorFault_.count));
      spikeAfter_--;
    }
    return std::to_string(count) + "\r\n";
  }
  if (k == "SETPORT") {
    const size_t dot = args.find('.');
    int x = 0, y = 0;
    if (dot == std::string::npos || !ParseIntStrict(args.substr(0, dot), &x) ||
        !ParseIntStrict(args.substr(dot + 1), &y) || x < 1 || x > 8 || y > 1)
      return err;
    SwitchOutputLocked(x, y == 1);
    return ok;
  }
  if (k == "GETSTATUS") {
    if (!Trim(args).empty()) return err;
    std::string s = "S";
    for (int i = 8; i >= 1; --i) s += outputs_[i] ? '1' : '0';
    return s + "\r\n";
  }
  if (k == "GETIP") return ip_ + "\r\n";
  if (k == "GETMASK") return mask_ + "\r\n";
  if (k == "GETGW") return gw_ + "\r\n";
  if (k == "SETIP" || k == "SETMASK" || k == "SETGW") {
    if (!IsDottedQuad(args)) return err;
    std::string v = Trim(args);
    (k == "SETIP" ? ip_ : k == "SETMASK" ? mask_ : gw_) = v;
    return ok;
  }
  if (k == "HELP") return help_;
  if (k == "VERSION") return "uC: ATmega32\r\nVer: 1.5\r\nNIC: ENC28J60\r\n";
  if (k == "RESET") {
    *resetAfter = true;
    return "RESET\r\n";
  }
  if (k == "INITLCD") {
    lcd_[1] = lcd_[2] = Blank16();
    return ok;
  }
  if (k == "WRITELCD") {
    if (args.size() < 2 || (args[0] != '1' && args[0] != '2') || args[1] != '.')
      return err;
    std::string t = args.substr(2, 16);
    t.resize(16, ' ');
    lcd_[args[0] - '0'] = t;
    return ok;
  }
  if (k == "CLEARLCD") {
    std::string a = Trim(args);
    if (a.empty()) {
      lcd_[1] = lcd_[2] = Blank16();
    } else if (a == "1" || a == "2") {
      lcd_[a[0] - '0'] = Blank16();
    } else {
      return err;
    }
    return ok;
  }
  return "ERR unknown command\r\n";
}

std::string Simulator::Execute(CommandRecord* cmd, bool* resetAfter) {
  std::lock_guard<std::mutex> lk(mu_);
  std::string keyword, args;
  SplitKeyword(cmd->text, &keyword, &args);
  // A board without power takes nothing: a command that was on its way
  // when the power went is lost, unanswered.
  if (PowerCutOwedLocked() || PowerOffLocked(PowerTickLocked())) {
    cmd->keyword = keyword;
    return std::string();
  }
  if (!levelAfterKey_.empty()) {
    if (levelAfterKey_ == NormalKey(cmd->text) || levelAfterKey_ == keyword ||
        levelAfterKey_ == "*") {
      AdvanceLocked();
      level_ = levelAfterCounts_;
      levelAfterKey_.clear();
      levelChangedAt_ = static_cast<int64_t>(commandCount_);
    }
  }
  // The most specific override: the whole command, the longest beginning
  // of it ("SETPORT4*"), the keyword, any command.
  auto found = overrides_.find(NormalKey(cmd->text));
  if (found == overrides_.end()) {
    for (auto it = overrides_.begin(); it != overrides_.end(); ++it) {
      const std::string& key = it->first;
      if (key.size() < 2 || key.back() != '*') continue;
      if (!CommandMatches(key, keyword, cmd->text)) continue;
      if (found == overrides_.end() || key.size() > found->first.size())
        found = it;
    }
  }
  if (found == overrides_.end()) found = overrides_.find(keyword);
  if (found == overrides_.end()) found = overrides_.find("*");
  std::string reply;
  if (found != overrides_.end() &&
      found->second.bytes.compare(0, 3, "ERR") == 0) {
    // The board refuses the command: it does nothing.
    cmd->keyword = keyword;
  } else {
    reply = DefaultReply(cmd, resetAfter);
  }
  if (found != overrides_.end()) {
    reply = found->second.bytes;
    if (found->second.count > 0 && --found->second.count == 0)
      overrides_.erase(found);
  }
  return reply;
}

void Simulator::RestartBoard() {
  std::lock_guard<std::mutex> lk(mu_);
  AdvanceLocked();
  for (int i = 1; i <= 8; ++i) outputs_[i] = false;
  lcd_[1] = lcd_[2] = Blank16();
}

}  // namespace kvxsim
