// The simulator's board port: listening on loopback, one connection at a
// time, the commands read from it answered in order (faults applied), and
// the actions on the connection (close, reset, not listening, unasked-for
// bytes). See simulator.h.
#include <algorithm>

#include "simulator/faults.h"
#include "simulator/framing.h"
#include "simulator/sim_system.h"
#include "simulator/simulator.h"
#include "simulator/steady_time.h"

namespace kvxsim {

namespace {

const int kSendStallMs = 3000;
const int kWaitMs = 200;  // the longest a socket wait lasts

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

bool IsLoopbackAddress(const std::string& address) {
  if (address == "localhost") return true;
  uint32_t a = 0;
  return SysDottedAddress(address, &a) && (a >> 24) == 127;
}

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

// ---- Life cycle ----

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
  powerCutsDone_ = powerCuts_;
  driven_ = false;
  drivenTicks_ = nullptr;
  closeReq_ = resetReq_ = false;
  unsolicited_.clear();
}

// ---- The server thread ----

void Simulator::ServerLoop() {
  int listenFd = -1, waitMs = kWaitMs;
  while (UpdateListening(&listenFd, &waitMs)) {
    const int fd = AcceptWithin(listenFd, waitMs);
    if (fd < 0) continue;
    SetConnected(true);
    ServeConnection(fd);
    SetConnected(false);
  }
}

bool Simulator::UpdateListening(int* listenFd, int* waitMs) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (stopping_) return false;
    closeReq_ = resetReq_ = false;
    unsolicited_.clear();
    const uint32_t now = PowerTickLocked();
    const bool unpowered = PowerOffLocked(now);
    // Not listening: connects are refused until it listens again. A power
    // cut closes the listening socket even when its time is already over,
    // so the connects waiting in its queue are refused too.
    if ((listenOff_ || unpowered || PowerCutOwedLocked()) && listenFd_ >= 0) {
      SysClose(listenFd_);
      listenFd_ = -1;
    }
    powerCutsDone_ = powerCuts_;  // the connection, if any, is over
    *waitMs = kWaitMs;
    if (unpowered) {
      // Listening again as soon as the power is back.
      const int left = static_cast<int>(powerBackAt_ - now);
      *waitMs = std::max(1, std::min(kWaitMs, left));
    }
    if (!listenOff_ && !unpowered && listenFd_ < 0) {
      uint16_t bound = 0;
      std::string error;
      listenFd_ = Listen(address_, port_, &bound, &error);
    }
    *listenFd = listenFd_;
    listenClosed_ = listenFd_ < 0;
  }
  cv_.notify_all();
  return true;
}

int Simulator::AcceptWithin(int listenFd, int waitMs) {
  SysWatch p[2] = {{wakeRead_, false, false}, {listenFd, false, false}};
  // Not listening: only the wake-up is watched.
  SysWait(p, listenFd >= 0 ? 2 : 1, waitMs);
  if (p[0].ready) SysWakeDrain(wakeRead_);
  if (listenFd < 0 || !p[1].ready) return -1;
  return SysAccept(listenFd);
}

void Simulator::SetConnected(bool on) {
  const uint32_t at = on ? Now() : 0;
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (on) {
      ++connections_;
      hasConnectAt_ = true;
      lastConnectAt_ = at;
    }
    connected_ = on;
    closeReq_ = resetReq_ = false;
    unsolicited_.clear();
  }
  cv_.notify_all();
}

// ---- One connection ----

void Simulator::ServeConnection(int fd) {
  SysSetNonBlocking(fd);
  SysSetNoDelay(fd);
  Session s;
  s.fd = fd;
  while (s.end == ConnectionEnd::Keep) {
    std::string unsolicited;
    TakeRequests(&s, &unsolicited);
    if (s.end != ConnectionEnd::Keep) break;
    if (!unsolicited.empty() && !SendAll(fd, unsolicited)) {
      EndAfterFailedSend(&s);
      break;
    }
    if (Receive(&s)) AnswerPending(&s);
  }
  EndConnection(s);
}

void Simulator::TakeRequests(Session* s, std::string* unsolicited) {
  std::lock_guard<std::mutex> lk(mu_);
  if (stopping_ || closeReq_) s->end = ConnectionEnd::Close;
  // A power cut also resets a connection accepted just before it.
  if (resetReq_ || PowerCutOwedLocked()) s->end = ConnectionEnd::Reset;
  closeReq_ = resetReq_ = false;
  unsolicited->swap(unsolicited_);
  unsolicited_.clear();
}

void Simulator::EndAfterFailedSend(Session* s) {
  std::string dropped;
  TakeRequests(s, &dropped);
  if (s->end == ConnectionEnd::Keep) s->end = ConnectionEnd::Close;
}

bool Simulator::Receive(Session* s) {
  SysWatch p[2] = {{s->fd, false, false}, {wakeRead_, false, false}};
  SysWait(p, 2, kWaitMs);
  if (p[1].ready) SysWakeDrain(wakeRead_);
  if (!p[0].ready) return false;
  char buf[4096];
  const long r = SysReceive(s->fd, buf, sizeof buf);
  if (r == SysWouldBlock) return false;
  if (r <= 0) {
    s->end = ConnectionEnd::Close;  // the peer closed, or it failed
    return false;
  }
  RecordChunk(std::string(buf, static_cast<size_t>(r)));
  s->pending.append(buf, static_cast<size_t>(r));
  return true;
}

void Simulator::AnswerPending(Session* s) {
  while (s->end == ConnectionEnd::Keep) {
    {
      // Without power the board takes none of the commands still pending.
      std::lock_guard<std::mutex> lk(mu_);
      if (PowerCutOwedLocked()) return;
    }
    CommandRecord cmd{};
    const Framed got = TakeCommand(&s->pending, &cmd);
    if (got == Framed::NeedMore) break;
    if (got == Framed::Command) Answer(s, &cmd);
  }
}

void Simulator::Answer(Session* s, CommandRecord* cmd) {
  bool resetAfter = false;
  int trickleMs = 0;
  const std::vector<ReplyPiece> plan =
      ComposeAnswer(cmd, &resetAfter, &trickleMs);
  // A trickling board sends the reply a byte at a time and never ends it:
  // the commands after it wait until the trickle is switched off.
  const bool sent = trickleMs > 0 ? SendTrickle(s->fd, *cmd, cmd->reply)
                                  : SendReply(s->fd, plan);
  if (!sent) {
    EndAfterFailedSend(s);
    return;
  }
  if (resetAfter) {
    s->end = ConnectionEnd::Close;
    s->restart = true;
    return;
  }
  std::lock_guard<std::mutex> lk(mu_);
  ++answeredCount_;
  if (faults_.closeAfter > 0 && --faults_.closeAfter == 0) {
    faults_.closeAfter = -1;
    s->end = ConnectionEnd::Close;
  }
}

bool Simulator::SendReply(int fd, const std::vector<ReplyPiece>& plan) {
  for (const ReplyPiece& piece : plan) {
    if (!SleepMs(piece.waitMs)) return false;
    if (!piece.bytes.empty() && !SendAll(fd, piece.bytes)) return false;
  }
  return true;
}

bool Simulator::SendTrickle(int fd, const CommandRecord& cmd,
                            const std::string& bytes) {
  for (size_t i = 0; i < kMaxFlood; ++i) {
    int ms = 0;
    if (!TrickleApplies(cmd, &ms)) return true;
    if (!SleepMs(ms)) return false;
    // Switched off while it waited: nothing more of this reply.
    if (!TrickleApplies(cmd, &ms)) return true;
    if (!SendAll(fd, bytes.substr(i % bytes.size(), 1))) return false;
  }
  return true;
}

bool Simulator::SendAll(int fd, const std::string& bytes) {
  return SendBounded(fd, bytes, kSendStallMs, [this] {
    std::lock_guard<std::mutex> lk(mu_);
    return InterruptedLocked();
  });
}

void Simulator::EndConnection(const Session& s) {
  if (s.end == ConnectionEnd::Reset)
    SysCloseWithReset(s.fd);
  else
    SysCloseGracefully(s.fd);
  if (s.restart) RestartBoard();
}

// ---- Actions on the connection ----

void Simulator::CloseNow() {
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (connected_) closeReq_ = true;
    if (driven_) EndDrivenLocked();
  }
  cv_.notify_all();
  Wake();
}

void Simulator::ResetNow() {
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (connected_) resetReq_ = true;
    if (driven_) EndDrivenLocked();
  }
  cv_.notify_all();
  Wake();
}

void Simulator::SetListening(bool on) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    listenOff_ = !on;
    if (!on && connected_) closeReq_ = true;
    if (!on && driven_) EndDrivenLocked();
  }
  cv_.notify_all();
  Wake();
  std::unique_lock<std::mutex> lk(mu_);
  if (driven_) listenClosed_ = !on;  // no thread to wait for
  // Without power the board does not listen, whatever it is told.
  cv_.wait_for(lk, std::chrono::seconds(5), [&] {
    return !running_ || listenClosed_ == !on ||
           (on && PowerOffLocked(PowerTickLocked()));
  });
}

void Simulator::PowerCut(int ms) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    AdvanceLocked();  // the well up to the cut, with output 4 as it was
    for (int i = 1; i <= 8; ++i) outputs_[i] = false;
    lcd_[1] = lcd_[2] = std::string(16, ' ');
    powerOff_ = true;
    powerBackAt_ = PowerTickLocked() + static_cast<uint32_t>(std::max(0, ms));
    ++powerCuts_;
    if (connected_) resetReq_ = true;
    if (driven_) EndDrivenLocked();
  }
  cv_.notify_all();
  Wake();
  std::unique_lock<std::mutex> lk(mu_);
  // Without a server thread there is nothing to carry it out.
  if (!running_ || driven_) powerCutsDone_ = powerCuts_;
  cv_.wait_for(lk, std::chrono::seconds(5),
               [&] { return !running_ || !PowerCutOwedLocked(); });
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

}  // namespace kvxsim
