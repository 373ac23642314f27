// The board simulator: TCP server, command parsing, board and well model,
// faults. See simulator.h.
#include "simulator/simulator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "simulator/sim_system.h"

namespace kvxsim {

namespace {

const char kSuffix[] = " \\r\\n";  // 20 5C 72 5C 6E
const size_t kSuffixLen = 5;
const size_t kBlockLen = 100;
const size_t kOverlong = 1024;
const size_t kMaxLog = 100000;
const size_t kMaxFlood = 1024 * 1024;
const int kSendStallMs = 3000;

const char kDefaultHelp[] =
    "KORVALINEX Befehle:\r\n"
    "GETPORT n, GETADC n, SETPORT x.y, GETSTATUS\r\n"
    "GETIP, GETMASK, GETGW, SETIP, SETMASK, SETGW\r\n"
    "HELP, RESET, VERSION\r\n"
    "INITLCD, WRITELCD x.y, CLEARLCD [x]\r\n";

uint64_t SteadyNs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

double SteadySeconds() { return static_cast<double>(SteadyNs()) / 1e9; }

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// What a command record holds in bytes, for the log's bound.
size_t RecordBytes(const CommandRecord& r) {
  return r.raw.size() + r.text.size() + r.keyword.size() + r.reply.size();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

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

// 0 = need more bytes, 1 = a command, 2 = an empty line was consumed.
int ParseCommand(std::string* pending, CommandKind* kind, std::string* raw,
                 std::string* text) {
  const std::string& p = *pending;
  const size_t n = p.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = p[i];
    if (c == '\0') {
      if (n < kBlockLen) return 0;
      *kind = CommandKind::Block;
      // The block's text is its own bytes: a zero byte past its 100 bytes
      // belongs to what follows.
      *raw = p.substr(0, kBlockLen);
      *text = p.substr(0, std::min(i, kBlockLen));
      pending->erase(0, kBlockLen);
      return 1;
    }
    if (c == '\r' || c == '\n') {
      size_t end = i + 1;
      if (c == '\r' && end < n && p[end] == '\n') ++end;
      *kind = CommandKind::Line;
      *raw = p.substr(0, end);
      *text = p.substr(0, i);
      pending->erase(0, end);
      return text->empty() ? 2 : 1;
    }
    if (c == ' ' && i + kSuffixLen <= n &&
        p.compare(i, kSuffixLen, kSuffix) == 0) {
      *kind = CommandKind::Text;
      *raw = p.substr(0, i + kSuffixLen);
      *text = p.substr(0, i);
      pending->erase(0, i + kSuffixLen);
      return 1;
    }
  }
  if (n >= kOverlong) {
    *kind = CommandKind::Overlong;
    *raw = p.substr(0, kOverlong);
    *text = *raw;
    pending->erase(0, kOverlong);
    return 1;
  }
  return 0;
}

void SplitKeyword(const std::string& text, std::string* keyword,
                  std::string* args) {
  size_t p = 0;
  while (p < text.size() && IsBlank(text[p])) ++p;
  size_t k = p;
  while (k < text.size() && ((text[k] >= 'a' && text[k] <= 'z') ||
                             (text[k] >= 'A' && text[k] <= 'Z')))
    ++k;
  *keyword = Upper(text.substr(p, k - p));
  size_t a = k;
  while (a < text.size() && IsBlank(text[a])) ++a;
  *args = text.substr(a);
}

}  // namespace

const char* KindName(CommandKind kind) {
  switch (kind) {
    case CommandKind::Text:
      return "text";
    case CommandKind::Line:
      return "line";
    case CommandKind::Block:
      return "block";
    case CommandKind::Overlong:
      return "overlong";
  }
  return "?";
}

std::string EscapeBytes(const std::string& bytes) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() + 8);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    const bool last = i + 1 == bytes.size();
    if ((c > 0x20 && c < 0x7f && c != '\\') || (c == 0x20 && !last)) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool UnescapeBytes(const std::string& text, std::string* bytes) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 1 >= text.size()) return false;
    const char e = text[++i];
    switch (e) {
      case '\\':
        out += '\\';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case 's':
        out += ' ';
        break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        int v = 0;
        for (int k = 1; k <= 2; ++k) {
          const char h = text[i + k];
          v *= 16;
          if (h >= '0' && h <= '9') {
            v += h - '0';
          } else if (h >= 'a' && h <= 'f') {
            v += h - 'a' + 10;
          } else if (h >= 'A' && h <= 'F') {
            v += h - 'A' + 10;
          } else {
            return false;
          }
        }
        out += static_cast<char>(v);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  *bytes = out;
  return true;
}

std::string Cp1252ToUtf8(const std::string& bytes) {
  // Code points of 80..9F; 0 = undefined.
  static const uint16_t high[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    uint32_t cp;
    if (c < 0x20 || c == 0x7f) {
      out += '.';
      continue;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    } else if (c < 0xa0) {
      cp = high[c - 0x80];
      if (cp == 0) cp = 0xFFFD;
    } else {
      cp = c;
    }
    if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

bool IsLoopbackAddress(const std::string& address) {
  if (address == "localhost") return true;
  uint32_t a = 0;
  return SysDottedAddress(address, &a) && (a >> 24) == 127;
}

// ---------------------------------------------------------------------------

Simulator::Simulator() : help_(kDefaultHelp) {
  lcd_[1] = lcd_[2] = Blank16();
  if (!SysWakePair(&wakeRead_, &wakeWrite_)) wakeRead_ = wakeWrite_ = -1;
  modelLast_ = SteadySeconds();
}

Simulator::~Simulator() {
  Stop();
  if (logFile_) fclose(logFile_);
  SysWakeClose(wakeRead_, wakeWrite_);
}

void Simulator::Wake() {
  if (wakeWrite_ < 0) return;
  SysWakeSignal(wakeWrite_);
}

namespace {

int Listen(const std::string& address, uint16_t port, uint16_t* bound,
           std::string* error) {
  if (!IsLoopbackAddress(address)) {
    *error = "refusing to listen on non-loopback address " + address;
    return -1;
  }
  uint32_t a = 0x7F000001;
  if (address != "localhost") SysDottedAddress(address, &a);
  return SysListen(a, port, bound, error);
}

}  // namespace

bool Simulator::Start(uint16_t port, const std::string& address) {
  std::lock_guard<std::mutex> lk(mu_);
  if (running_) {
    lastError_ = "already running";
    return false;
  }
  if (wakeRead_ < 0) {
    lastError_ = "no wake pipe";
    return false;
  }
  uint16_t bound = 0;
  int fd = Listen(address, port, &bound, &lastError_);
  if (fd < 0) return false;
  listenFd_ = fd;
  port_ = bound;
  address_ = address;
  listenOff_ = listenClosed_ = false;
  running_ = true;
  stopping_ = false;
  shutdown_ = false;
  startNs_ = SteadyNs();
  connections_ = 0;
  server_ = std::thread([this] { ServerLoop(); });
  return true;
}

bool Simulator::StartControl(uint16_t port, const std::string& address) {
  std::lock_guard<std::mutex> lk(mu_);
  if (controlFd_ >= 0) {
    lastError_ = "control channel already running";
    return false;
  }
  uint16_t bound = 0;
  int fd = Listen(address, port, &bound, &lastError_);
  if (fd < 0) return false;
  controlFd_ = fd;
  controlPort_ = bound;
  control_ = std::thread([this] { ControlLoop(); });
  return true;
}

uint16_t Simulator::Port() const {
  std::lock_guard<std::mutex> lk(mu_);
  return port_;
}

uint16_t Simulator::ControlPort() const {
  std::lock_guard<std::mutex> lk(mu_);
  return controlPort_;
}

void Simulator::Stop() {
  {
    std::lock_guard<std::mutex> lk(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  Wake();
  if (server_.joinable()) server_.join();
  if (control_.joinable()) control_.join();
  std::lock_guard<std::mutex> lk(mu_);
  if (listenFd_ >= 0) SysClose(listenFd_);
  if (controlFd_ >= 0) SysClose(controlFd_);
  listenFd_ = controlFd_ = -1;
  running_ = false;
  stopping_ = false;
  connected_ = false;
  closeReq_ = resetReq_ = false;
  unsolicited_.clear();
}

bool Simulator::Running() const {
  std::lock_guard<std::mutex> lk(mu_);
  return running_;
}

std::string Simulator::LastError() const {
  std::lock_guard<std::mutex> lk(mu_);
  return lastError_;
}

bool Simulator::Connected() const {
  std::lock_guard<std::mutex> lk(mu_);
  return connected_;
}

uint64_t Simulator::ConnectionCount() const {
  std::lock_guard<std::mutex> lk(mu_);
  return connections_;
}

bool Simulator::WaitForConnection(uint64_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs),
                      [&] { return connections_ >= count && connected_; });
}

bool Simulator::ShutdownRequested() const {
  std::lock_guard<std::mutex> lk(mu_);
  return shutdown_;
}

// ---- Time ----

uint32_t Simulator::Now() {
  std::function<uint32_t()> clock;
  uint64_t start;
  {
    std::lock_guard<std::mutex> lk(mu_);
    clock = clock_;
    start = startNs_;
  }
  if (clock) return clock();
  return static_cast<uint32_t>((SteadyNs() - start) / 1000000u);
}

void Simulator::SetClock(std::function<uint32_t()> ms) {
  std::lock_guard<std::mutex> lk(mu_);
  clock_ = std::move(ms);
}

bool Simulator::SleepMs(int ms) {
  if (ms <= 0) return true;
  std::unique_lock<std::mutex> lk(mu_);
  bool interrupted = cv_.wait_for(lk, std::chrono::milliseconds(ms), [&] {
    return stopping_ || closeReq_ || resetReq_;
  });
  return !interrupted;
}

// ---- Board state ----

void Simulator::AdvanceLocked() const {
  const double now = modelClock_ ? modelClock_() : SteadySeconds();
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
    if (!outputs_[3]) return 0;
    int v = static_cast<int>(std::floor(level_ + 0.5));
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
  AdvanceLocked();
  outputs_[n] = on;
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
  modelLast_ = modelClock_ ? modelClock_() : SteadySeconds();
}

// ---- Log ----

std::vector<ChunkRecord> Simulator::Chunks() const {
  std::lock_guard<std::mutex> lk(mu_);
  return std::vector<ChunkRecord>(chunks_.begin(), chunks_.end());
}

std::vector<CommandRecord> Simulator::Commands() const {
  std::lock_guard<std::mutex> lk(mu_);
  return std::vector<CommandRecord>(commands_.begin(), commands_.end());
}

uint64_t Simulator::CommandCount() const {
  std::lock_guard<std::mutex> lk(mu_);
  return commandCount_;
}

uint64_t Simulator::AnsweredCount() const {
  std::lock_guard<std::mutex> lk(mu_);
  return answeredCount_;
}

void Simulator::ClearLog() {
  std::lock_guard<std::mutex> lk(mu_);
  chunks_.clear();
  commands_.clear();
  chunkBytes_ = commandBytes_ = 0;
  commandCount_ = 0;
}

bool Simulator::WaitForCommands(uint64_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs),
                      [&] { return commandCount_ >= count; });
}

bool Simulator::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return condition();
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait_for(lk, std::chrono::milliseconds(5));
  }
}

bool Simulator::SetLogFile(const std::string& path) {
  std::lock_guard<std::mutex> lk(mu_);
  if (logFile_) fclose(logFile_);
  logFile_ = nullptr;
  if (path.empty()) return true;
  logFile_ = fopen(path.c_str(), "w");
  if (!logFile_) lastError_ = "cannot open " + path;
  return logFile_ != nullptr;
}

void Simulator::SetCommandListener(
    std::function<void(const CommandRecord&)> fn) {
  std::lock_guard<std::mutex> lk(mu_);
  listener_ = std::move(fn);
}

void Simulator::RecordChunk(const std::string& bytes) {
  ChunkRecord r{Now(), bytes};
  {
    std::lock_guard<std::mutex> lk(mu_);
    chunkBytes_ += r.bytes.size();
    chunks_.push_back(std::move(r));
    while (chunks_.size() > 1 &&
           (chunks_.size() > kMaxLog || chunkBytes_ > kLogBytes)) {
      chunkBytes_ -= chunks_.front().bytes.size();
      chunks_.pop_front();
    }
  }
  cv_.notify_all();
}

void Simulator::RecordCommand(const CommandRecord& cmd) {
  std::function<void(const CommandRecord&)> listener;
  {
    std::lock_guard<std::mutex> lk(mu_);
    commandBytes_ += RecordBytes(cmd);
    commands_.push_back(cmd);
    while (commands_.size() > 1 &&
           (commands_.size() > kMaxLog || commandBytes_ > kLogBytes)) {
      commandBytes_ -= RecordBytes(commands_.front());
      commands_.pop_front();
    }
    ++commandCount_;
    lastCommand_ = cmd.text;
    if (logFile_) {
      fprintf(logFile_, "%u %s %s\n", static_cast<unsigned>(cmd.time),
              KindName(cmd.kind), EscapeBytes(cmd.raw).c_str());
      fflush(logFile_);
    }
    listener = listener_;
  }
  cv_.notify_all();
  if (listener) listener(cmd);
}

// ---- Overrides and faults ----

std::string Simulator::NormalKey(const std::string& key) {
  std::string out;
  for (char c : Upper(key)) {
    if (!IsBlank(c)) out += c;
  }
  return out;
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

void Simulator::CloseNow() {
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (connected_) closeReq_ = true;
  }
  cv_.notify_all();
  Wake();
}

void Simulator::ResetNow() {
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (connected_) resetReq_ = true;
  }
  cv_.notify_all();
  Wake();
}

void Simulator::SetSilent(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  silent_ = on;
}

void Simulator::SetReplyDelay(int ms) {
  std::lock_guard<std::mutex> lk(mu_);
  delayMs_ = std::max(0, ms);
}

void Simulator::SetReplyJitter(int maxMs) {
  std::lock_guard<std::mutex> lk(mu_);
  jitterMs_ = std::max(0, maxMs);
  jitterState_ = seed_;
}

void Simulator::DelayReplyOnce(const std::string& key, int ms) {
  std::lock_guard<std::mutex> lk(mu_);
  onceDelayKey_ = NormalKey(key);
  onceDelayMs_ = std::max(0, ms);
}

void Simulator::SetListening(bool on) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    listenOff_ = !on;
    if (!on && connected_) closeReq_ = true;
  }
  cv_.notify_all();
  Wake();
  std::unique_lock<std::mutex> lk(mu_);
  cv_.wait_for(lk, std::chrono::seconds(5),
               [&] { return !running_ || listenClosed_ == !on; });
}

void Simulator::SetReplySplit(int pieces, int gapMs) {
  std::lock_guard<std::mutex> lk(mu_);
  splitPieces_ = pieces;
  splitGapMs_ = std::max(0, gapMs);
}

void Simulator::SetReplyPadding(size_t toBytes, char fill) {
  std::lock_guard<std::mutex> lk(mu_);
  padTo_ = std::min(toBytes, kMaxFlood);
  padFill_ = fill;
}

void Simulator::SetGarbage(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  garbage_ = on;
}

void Simulator::SetLineEndOnly(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  lineEndOnly_ = on;
}

void Simulator::SetNonAscii(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  nonAscii_ = on;
}

void Simulator::SetZeroByteAt(int position) {
  std::lock_guard<std::mutex> lk(mu_);
  zeroAt_ = position;
}

void Simulator::SetReplyTransform(
    std::function<std::string(const std::string&, const std::string&)> fn) {
  std::lock_guard<std::mutex> lk(mu_);
  transform_ = std::move(fn);
}

void Simulator::SetCloseAfter(int commands) {
  std::lock_guard<std::mutex> lk(mu_);
  closeAfter_ = commands;
}

void Simulator::Flood(size_t count, const std::string& pattern) {
  count = std::min(count, kMaxFlood);
  std::string p = pattern.empty() ? std::string("FLOOD\r\n") : pattern;
  std::string bytes;
  bytes.reserve(count);
  while (bytes.size() < count) bytes += p;
  bytes.resize(count);
  SendRaw(bytes);
}

void Simulator::SendRaw(const std::string& bytes) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (!connected_) return;
    if (unsolicited_.size() + bytes.size() > 4 * kMaxFlood) return;
    unsolicited_ += bytes;
  }
  Wake();
}

void Simulator::SetSeed(uint32_t seed) {
  std::lock_guard<std::mutex> lk(mu_);
  seed_ = seed ? seed : 1;
}

void Simulator::ClearFaults() {
  std::lock_guard<std::mutex> lk(mu_);
  silent_ = garbage_ = lineEndOnly_ = nonAscii_ = false;
  delayMs_ = splitPieces_ = splitGapMs_ = 0;
  jitterMs_ = onceDelayMs_ = 0;
  onceDelayKey_.clear();
  zeroAt_ = -1;
  padTo_ = 0;
  closeAfter_ = -1;
  transform_ = nullptr;
}

std::string Simulator::ApplyFaults(const std::string& keyword,
                                   std::string reply) {
  std::function<std::string(const std::string&, const std::string&)> fn;
  {
    std::lock_guard<std::mutex> lk(mu_);
    fn = transform_;
  }
  if (fn) reply = fn(keyword, reply);
  std::lock_guard<std::mutex> lk(mu_);
  if (garbage_) {
    auto next = [this] {
      seed_ ^= seed_ << 13;
      seed_ ^= seed_ >> 17;
      seed_ ^= seed_ << 5;
      return seed_;
    };
    const size_t len = 1 + next() % 64;
    reply.clear();
    for (size_t i = 0; i < len; ++i)
      reply += static_cast<char>(1 + next() % 255);
  } else if (lineEndOnly_) {
    reply = "\r\n";
  }
  if (nonAscii_) {
    size_t at = reply.size();
    while (at > 0 && (reply[at - 1] == '\r' || reply[at - 1] == '\n')) --at;
    reply.insert(at, "\xC4\xD6\xDC\xE4\xF6\xFC\xDF\x80");
  }
  if (zeroAt_ >= 0) {
    reply.insert(std::min(reply.size(), static_cast<size_t>(zeroAt_)), 1, '\0');
  }
  if (padTo_ > reply.size()) reply.append(padTo_ - reply.size(), padFill_);
  if (silent_) reply.clear();
  return reply;
}

// ---- Commands ----

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
    return std::to_string(AnalogLocked(n)) + "\r\n";
  }
  if (k == "SETPORT") {
    const size_t dot = args.find('.');
    int x = 0, y = 0;
    if (dot == std::string::npos || !ParseIntStrict(args.substr(0, dot), &x) ||
        !ParseIntStrict(args.substr(dot + 1), &y) || x < 1 || x > 8 || y > 1)
      return err;
    AdvanceLocked();
    outputs_[x] = y == 1;
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
  std::string reply = DefaultReply(cmd, resetAfter);
  const std::string keys[3] = {NormalKey(cmd->text), cmd->keyword, "*"};
  for (const std::string& key : keys) {
    auto it = overrides_.find(key);
    if (it == overrides_.end()) continue;
    reply = it->second.bytes;
    if (it->second.count > 0 && --it->second.count == 0) overrides_.erase(it);
    break;
  }
  return reply;
}

// ---- Server ----

bool SendBounded(int fd, const std::string& bytes, int stallMs,
                 const std::function<bool()>& stop) {
  size_t sent = 0;
  int stalled = 0;
  while (sent < bytes.size()) {
    if (stop && stop()) return false;
    long r = SysSend(fd, bytes.data() + sent, bytes.size() - sent);
    if (r > 0) {
      sent += static_cast<size_t>(r);
      stalled = 0;
      continue;
    }
    if (r < 0 && r != SysWouldBlock) return false;
    SysWatch p{fd, true, false};
    SysWait(&p, 1, 50);
    stalled += 50;
    if (stalled > stallMs) return false;
  }
  return true;
}

bool Simulator::SendAll(int fd, const std::string& bytes) {
  return SendBounded(fd, bytes, kSendStallMs, [this] {
    std::lock_guard<std::mutex> lk(mu_);
    return stopping_ || closeReq_ || resetReq_;
  });
}

void Simulator::ServerLoop() {
  while (true) {
    bool off;
    int listenFd;
    {
      std::lock_guard<std::mutex> lk(mu_);
      if (stopping_) break;
      closeReq_ = resetReq_ = false;
      unsolicited_.clear();
      off = listenOff_;
      // Not listening: connects are refused until it listens again.
      if (off && listenFd_ >= 0) {
        SysClose(listenFd_);
        listenFd_ = -1;
      }
      if (!off && listenFd_ < 0) {
        uint16_t bound = 0;
        std::string error;
        listenFd_ = Listen(address_, port_, &bound, &error);
      }
      listenFd = listenFd_;
      listenClosed_ = listenFd_ < 0;
    }
    cv_.notify_all();
    SysWatch p[2] = {{wakeRead_, false, false}, {listenFd, false, false}};
    // Not listening: only the wake-up is watched.
    SysWait(p, listenFd >= 0 ? 2 : 1, 200);
    if (p[0].ready) SysWakeDrain(wakeRead_);
    if (listenFd < 0 || !p[1].ready) continue;
    int fd = SysAccept(listenFd);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lk(mu_);
      ++connections_;
      connected_ = true;
      closeReq_ = resetReq_ = false;
      unsolicited_.clear();
    }
    cv_.notify_all();
    ServeConnection(fd);
    {
      std::lock_guard<std::mutex> lk(mu_);
      connected_ = false;
      closeReq_ = resetReq_ = false;
      unsolicited_.clear();
    }
    cv_.notify_all();
  }
}

void Simulator::ServeConnection(int fd) {
  SysSetNonBlocking(fd);
  SysSetNoDelay(fd);
  std::string pending;
  enum { kKeep, kClose, kReset } end = kKeep;
  bool restart = false;

  auto checkActions = [&](std::string* raw) {
    std::lock_guard<std::mutex> lk(mu_);
    if (stopping_) end = kClose;
    if (closeReq_) end = kClose;
    if (resetReq_) end = kReset;
    closeReq_ = resetReq_ = false;
    raw->swap(unsolicited_);
    unsolicited_.clear();
  };

  while (end == kKeep) {
    std::string raw;
    checkActions(&raw);
    if (end != kKeep) break;
    if (!raw.empty() && !SendAll(fd, raw)) {
      std::string dummy;
      checkActions(&dummy);
      if (end == kKeep) end = kClose;
      break;
    }
    SysWatch p[2] = {{fd, false, false}, {wakeRead_, false, false}};
    SysWait(p, 2, 200);
    if (p[1].ready) SysWakeDrain(wakeRead_);
    if (!p[0].ready) continue;
    char buf[4096];
    long r = SysReceive(fd, buf, sizeof buf);
    if (r == SysWouldBlock) continue;
    if (r <= 0) {
      end = kClose;  // peer closed or failed
      break;
    }
    RecordChunk(std::string(buf, static_cast<size_t>(r)));
    pending.append(buf, static_cast<size_t>(r));

    while (end == kKeep) {
      CommandRecord cmd{};
      int got = ParseCommand(&pending, &cmd.kind, &cmd.raw, &cmd.text);
      if (got == 0) break;
      if (got == 2) continue;
      cmd.time = Now();
      bool resetAfter = false;
      std::string reply = Execute(&cmd, &resetAfter);
      reply = ApplyFaults(cmd.keyword, reply);
      cmd.reply = reply;
      RecordCommand(cmd);
      int delay, pieces, gap;
      {
        std::lock_guard<std::mutex> lk(mu_);
        delay = delayMs_;
        pieces = splitPieces_;
        gap = splitGapMs_;
        if (jitterMs_ > 0) {
          jitterState_ = jitterState_ * 1103515245u + 12345u;
          delay += (int)((jitterState_ >> 8) % (uint32_t)(jitterMs_ + 1));
        }
        if (onceDelayMs_ > 0 && (NormalKey(cmd.keyword) == onceDelayKey_ ||
                                 NormalKey(cmd.text) == onceDelayKey_)) {
          delay = onceDelayMs_;
          onceDelayMs_ = 0;
          onceDelayKey_.clear();
        }
      }
      bool ok = SleepMs(delay);
      if (ok && !reply.empty()) {
        if (pieces <= 1 || reply.size() <= 1) {
          ok = SendAll(fd, reply);
        } else {
          const size_t np = std::min(reply.size(), static_cast<size_t>(pieces));
          const size_t each = reply.size() / np;
          for (size_t i = 0; ok && i < np; ++i) {
            const size_t from = i * each;
            const size_t len = i + 1 == np ? reply.size() - from : each;
            if (i > 0) ok = SleepMs(gap);
            if (ok) ok = SendAll(fd, reply.substr(from, len));
          }
        }
      }
      if (!ok) {
        std::string dummy;
        checkActions(&dummy);
        if (end == kKeep) end = kClose;
        break;
      }
      if (resetAfter) {
        end = kClose;
        restart = true;
        break;
      }
      std::lock_guard<std::mutex> lk(mu_);
      ++answeredCount_;
      if (closeAfter_ > 0 && --closeAfter_ == 0) {
        closeAfter_ = -1;
        end = kClose;
      }
    }
  }

  if (end == kReset)
    SysCloseWithReset(fd);
  else
    SysCloseGracefully(fd);
  if (restart) {
    std::lock_guard<std::mutex> lk(mu_);
    AdvanceLocked();
    for (int i = 1; i <= 8; ++i) outputs_[i] = false;
    lcd_[1] = lcd_[2] = Blank16();
  }
}

}  // namespace kvxsim
