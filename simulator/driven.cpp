// The board on a driven clock: the same commands, replies and faults as on
// the board port (server.cpp), without a thread or a socket. The caller
// says when each connection and each send happens; the board answers one
// command after another, each reply at the tick it would reach the peer,
// so a late reply also delays the commands that queued behind it.
#include "simulator/framing.h"
#include "simulator/simulator.h"

namespace kvxsim {

namespace {

// The later of two ticks on the wrapping clock.
uint32_t Later(uint32_t a, uint32_t b) {
  return static_cast<int32_t>(b - a) > 0 ? b : a;
}

}  // namespace

void Simulator::StartDriven(std::function<uint32_t()> ticks, uint16_t port) {
  std::lock_guard<std::mutex> lk(mu_);
  AdvanceLocked();  // the well up to now on the clock it had
  driven_ = true;
  drivenTicks_ = std::move(ticks);
  drivenLastTick_ = drivenTicks_ ? drivenTicks_() : 0;
  if (!modelClock_) modelLast_ = drivenSeconds_;
  drivenFree_ = drivenLastTick_;
  running_ = true;
  stopping_ = false;
  connections_ = 0;
  port_ = port;
  listenOff_ = listenClosed_ = false;
}

bool Simulator::DrivenAccept(uint32_t now, std::vector<Arrival>* out) {
  (void)out;  // the board says nothing when a connection opens
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (!driven_ || listenOff_ || PowerOffLocked(now)) return false;
    ++connections_;
    hasConnectAt_ = true;
    lastConnectAt_ = now;
    StartOverLocked(true, now);
  }
  cv_.notify_all();
  return true;
}

void Simulator::DrivenTake(const char* bytes, size_t length, uint32_t now,
                           std::vector<Arrival>* out) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (!driven_ || !connected_) return;
    drivenAnswering_ = true;
    drivenAt_ = Later(now, drivenFree_);
  }
  RecordChunk(std::string(bytes, length));
  std::string pending;
  {
    std::lock_guard<std::mutex> lk(mu_);
    drivenPending_.append(bytes, length);
    pending.swap(drivenPending_);
  }
  while (true) {
    CommandRecord cmd{};
    const Framed got = TakeCommand(&pending, &cmd);
    if (got == Framed::NeedMore) break;
    if (got != Framed::Command) continue;
    DrivenAnswer(&cmd, out);
    std::lock_guard<std::mutex> lk(mu_);
    if (!connected_) {
      pending.clear();
      break;
    }
  }
  std::lock_guard<std::mutex> lk(mu_);
  if (connected_) drivenPending_.swap(pending);
  drivenAnswering_ = false;
}

void Simulator::DrivenAnswer(CommandRecord* cmd, std::vector<Arrival>* out) {
  uint32_t at;
  {
    std::lock_guard<std::mutex> lk(mu_);
    drivenAt_ = Later(drivenAt_, drivenFree_);
    at = drivenAt_;
  }
  bool resetAfter = false;
  // Its listener may ask for a close.
  int trickleMs = 0;
  const std::vector<ReplyPiece> plan =
      ComposeAnswer(cmd, &resetAfter, &trickleMs);
  bool endNow = false, closeAfter = false;
  {
    std::lock_guard<std::mutex> lk(mu_);
    endNow = drivenEndOwed_ || stopping_;
    if (!endNow) {
      for (const ReplyPiece& piece : plan) {
        at += static_cast<uint32_t>(piece.waitMs > 0 ? piece.waitMs : 0);
        if (!piece.bytes.empty()) out->push_back({at, piece.bytes, false});
      }
      drivenFree_ = drivenAt_ = at;
      if (!resetAfter) {
        ++answeredCount_;
        if (faults_.closeAfter > 0 && --faults_.closeAfter == 0) {
          faults_.closeAfter = -1;
          closeAfter = true;
        }
      }
    }
  }
  // A close asked for while the reply waited: nothing of it goes out.
  if (endNow || resetAfter || closeAfter) DrivenEnd(at, resetAfter, out);
}

void Simulator::DrivenEnd(uint32_t at, bool restart,
                          std::vector<Arrival>* out) {
  out->push_back({at, std::string(), true});
  {
    std::lock_guard<std::mutex> lk(mu_);
    StartOverLocked(false, at);
  }
  cv_.notify_all();
  if (restart) RestartBoard();
}

bool Simulator::DrivenUpdate(uint32_t now, std::vector<Arrival>* out) {
  std::string unsolicited;
  uint32_t at;
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (!driven_) return false;
    if (!drivenEndOwed_) {
      if (!connected_) return false;
      unsolicited.swap(unsolicited_);
      // Unasked-for bytes go out once the reply being sent is out.
      at = Later(now, drivenFree_);
      if (!unsolicited.empty()) out->push_back({at, unsolicited, false});
      return false;
    }
  }
  DrivenEnd(now, false, out);
  return true;
}

void Simulator::StartOverLocked(bool connected, uint32_t freeAt) {
  connected_ = connected;
  drivenEndOwed_ = false;
  closeReq_ = resetReq_ = false;
  unsolicited_.clear();
  drivenPending_.clear();
  drivenFree_ = freeAt;
}

void Simulator::EndDrivenLocked() {
  if (!connected_) return;
  connected_ = false;
  drivenEndOwed_ = true;
}

void Simulator::DrivenClosed(uint32_t now) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (!driven_ || !(connected_ || drivenEndOwed_)) return;
    StartOverLocked(false, Later(drivenFree_, now));
  }
  cv_.notify_all();
}

}  // namespace kvxsim
