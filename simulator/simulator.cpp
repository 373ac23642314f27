// The simulator as a whole: construction, its state for the caller, and
// time. The parts: framing.cpp (commands from bytes), board.cpp (the board,
// the well and the answers), faults.cpp (the faults in the replies),
// log.cpp, server.cpp (the board port), control.cpp (the control channel),
// escape.cpp and cp1252.cpp (byte forms). See simulator.h.
#include "simulator/simulator.h"

#include <cstdio>

#include "simulator/sim_system.h"
#include "simulator/steady_time.h"

namespace kvxsim {

Simulator::Simulator() : help_(DefaultHelpText()) {
  lcd_[1] = lcd_[2] = std::string(16, ' ');
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

uint16_t Simulator::Port() const {
  std::lock_guard<std::mutex> lk(mu_);
  return port_;
}

uint16_t Simulator::ControlPort() const {
  std::lock_guard<std::mutex> lk(mu_);
  return controlPort_;
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

bool Simulator::LastConnectAt(uint32_t* at) const {
  std::lock_guard<std::mutex> lk(mu_);
  *at = lastConnectAt_;
  return hasConnectAt_;
}

bool Simulator::PoweredOff() const {
  std::lock_guard<std::mutex> lk(mu_);
  return PowerOffLocked(PowerTickLocked());
}

bool Simulator::WaitForConnection(uint64_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs),
                      [&] { return connections_ >= count && connected_; });
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
    // On a driven clock the log follows the board's own time: the caller's
    // clock, or later while replies queue.
    if (driven_) return drivenAnswering_ ? drivenAt_ : DrivenTickLocked();
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

uint32_t Simulator::DrivenTickLocked() const {
  return drivenTicks_ ? drivenTicks_() : drivenAt_;
}

double Simulator::DrivenSecondsLocked() const {
  const uint32_t tick = drivenAnswering_ ? drivenAt_ : DrivenTickLocked();
  const int32_t step = static_cast<int32_t>(tick - drivenLastTick_);
  // The well's time only moves forward: a reply the board sends ahead of
  // the caller's clock has taken its time already.
  if (step > 0) {
    drivenSeconds_ += step / 1000.0;
    drivenLastTick_ = tick;
  }
  return drivenSeconds_;
}

bool Simulator::SleepMs(int ms) {
  if (ms <= 0) return true;
  std::unique_lock<std::mutex> lk(mu_);
  bool interrupted = cv_.wait_for(lk, std::chrono::milliseconds(ms),
                                  [&] { return InterruptedLocked(); });
  return !interrupted;
}

bool Simulator::InterruptedLocked() const {
  return stopping_ || closeReq_ || resetReq_ || PowerCutOwedLocked();
}

uint32_t Simulator::PowerTickLocked() const {
  if (driven_) return DrivenTickLocked();
  return static_cast<uint32_t>(SteadyNs() / 1000000u);
}

bool Simulator::PowerOffLocked(uint32_t now) const {
  return powerOff_ && static_cast<int32_t>(now - powerBackAt_) < 0;
}

bool Simulator::PowerCutOwedLocked() const {
  return powerCutsDone_ != powerCuts_;
}

}  // namespace kvxsim
