// The faults in the simulator's replies: the pipeline and the Simulator's
// setters. See faults.h and simulator.h.
#include "simulator/faults.h"

#include <algorithm>

#include "simulator/framing.h"
#include "simulator/simulator.h"

namespace kvxsim {

std::string DistortReply(const Faults& faults, uint32_t* seed,
                         std::string reply) {
  if (faults.garbage) {
    auto next = [seed] {
      *seed ^= *seed << 13;
      *seed ^= *seed >> 17;
      *seed ^= *seed << 5;
      return *seed;
    };
    const size_t len = 1 + next() % 64;
    reply.clear();
    for (size_t i = 0; i < len; ++i)
      reply += static_cast<char>(1 + next() % 255);
  } else if (faults.lineEndOnly) {
    reply = "\r\n";
  }
  if (faults.nonAscii) {
    size_t at = reply.size();
    while (at > 0 && (reply[at - 1] == '\r' || reply[at - 1] == '\n')) --at;
    reply.insert(at, "\xC4\xD6\xDC\xE4\xF6\xFC\xDF\x80");
  }
  if (faults.zeroAt >= 0) {
    reply.insert(std::min(reply.size(), static_cast<size_t>(faults.zeroAt)), 1,
                 '\0');
  }
  if (faults.padTo > reply.size())
    reply.append(faults.padTo - reply.size(), faults.padFill);
  if (faults.silent) reply.clear();
  return reply;
}

int ReplyDelayMs(Faults* faults, uint32_t* jitterState,
                 const std::string& keyword, const std::string& text) {
  int delay = faults->delayMs;
  if (faults->jitterMs > 0) {
    *jitterState = *jitterState * 1103515245u + 12345u;
    delay += static_cast<int>((*jitterState >> 8) %
                              static_cast<uint32_t>(faults->jitterMs + 1));
  }
  if (faults->onceDelayMs <= 0) return delay;
  if (faults->onceDelayAwaitsTrigger) {
    if (CommandMatches(faults->onceDelayTrigger, keyword, text))
      faults->onceDelayAwaitsTrigger = false;
  } else if (CommandMatches(faults->onceDelayKey, keyword, text)) {
    delay = faults->onceDelayMs;
    faults->onceDelayMs = 0;
    faults->onceDelayKey.clear();
    faults->onceDelayTrigger.clear();
  }
  return delay;
}

std::vector<std::string> SplitReply(const std::string& reply, int pieces) {
  if (pieces <= 1 || reply.size() <= 1) return {reply};
  const size_t np = std::min(reply.size(), static_cast<size_t>(pieces));
  const size_t each = reply.size() / np;
  std::vector<std::string> out;
  for (size_t i = 0; i < np; ++i) {
    const size_t from = i * each;
    out.push_back(reply.substr(from, i + 1 == np ? std::string::npos : each));
  }
  return out;
}

std::vector<ReplyPiece> PlanReply(const Faults& faults, uint32_t* randomState,
                                  const std::string& keyword,
                                  const std::string& text,
                                  const std::string& reply, int delayMs) {
  std::vector<ReplyPiece> plan;
  if (reply.empty()) {
    plan.push_back({0, std::string()});
  } else if (faults.random.on) {
    plan = DrawReply(faults.random, randomState, keyword, reply);
  } else if (faults.lineGapMs > 0 && (faults.lineGapKey.empty() ||
                                      NormalKey(keyword) == faults.lineGapKey ||
                                      NormalKey(text) == faults.lineGapKey)) {
    plan = LineByLine(reply, faults.lineGapMs);
  } else {
    const std::vector<std::string> parts =
        SplitReply(reply, faults.splitPieces);
    for (size_t i = 0; i < parts.size(); ++i)
      plan.push_back({i > 0 ? faults.splitGapMs : 0, parts[i]});
  }
  plan.front().waitMs += delayMs;
  return plan;
}

bool CommandMatches(const std::string& key, const std::string& keyword,
                    const std::string& text) {
  if (key.empty()) return false;
  const std::string whole = NormalKey(text);
  if (key.back() == '*')
    return whole.compare(0, key.size() - 1, key, 0, key.size() - 1) == 0;
  return NormalKey(keyword) == key || whole == key;
}

std::string TakeStray(Faults* faults, const std::string& keyword,
                      const std::string& text, int* gapMs) {
  *gapMs = 0;
  if (faults->strayCount <= 0) return std::string();
  std::string bytes;
  if (faults->strayArmed && CommandMatches(faults->strayKey, keyword, text)) {
    bytes = faults->strayBytes;
    *gapMs = faults->strayGapMs;
    if (--faults->strayCount == 0) {
      faults->strayArmed = false;
      faults->strayBytes.clear();
    }
  } else if (!faults->strayArmed &&
             CommandMatches(faults->strayTrigger, keyword, text)) {
    faults->strayArmed = true;
  }
  return bytes;
}

bool Trickles(const Faults& faults, const std::string& keyword,
              const std::string& text) {
  return faults.trickleMs > 0 &&
         (faults.trickleKey.empty() ||
          CommandMatches(faults.trickleKey, keyword, text));
}

std::string TrickleBytes(const std::string& reply) {
  std::string out;
  for (char c : reply)
    if (c != '\r' && c != '\n') out += c;
  return out.empty() ? std::string(".") : out;
}

// ---- The Simulator's side ----

std::string Simulator::ApplyFaults(const std::string& keyword,
                                   std::string reply) {
  std::function<std::string(const std::string&, const std::string&)> fn;
  {
    std::lock_guard<std::mutex> lk(mu_);
    fn = faults_.transform;
  }
  if (fn) reply = fn(keyword, reply);
  std::lock_guard<std::mutex> lk(mu_);
  return DistortReply(faults_, &seed_, std::move(reply));
}

std::vector<ReplyPiece> Simulator::ComposeAnswer(CommandRecord* cmd,
                                                 bool* resetAfter,
                                                 int* trickleMs) {
  cmd->time = Now();
  const std::string reply = Execute(cmd, resetAfter);
  cmd->reply = ApplyFaults(cmd->keyword, reply);
  int ms = 0;
  *trickleMs = TrickleApplies(*cmd, &ms) ? ms : 0;
  if (*trickleMs > 0) {
    // The reply never ends. The board port sends it for as long as the
    // trickle lasts; on the driven clock it goes out as this many bytes.
    const std::string bytes = TrickleBytes(cmd->reply);
    std::vector<ReplyPiece> plan;
    for (size_t i = 0; i < kDrivenTrickleBytes; ++i)
      plan.push_back({*trickleMs, bytes.substr(i % bytes.size(), 1)});
    cmd->reply = bytes;
    cmd->pieces = "+" + std::to_string(*trickleMs) + ":1 ...";
    RecordCommand(*cmd);
    return plan;
  }
  const std::vector<ReplyPiece> plan = TakeReplyPlan(*cmd);
  cmd->reply.clear();
  for (const ReplyPiece& piece : plan) cmd->reply += piece.bytes;
  if (plan.size() > 1 || plan.front().waitMs > 0) {
    for (const ReplyPiece& piece : plan)
      cmd->pieces += (cmd->pieces.empty() ? "+" : " +") +
                     std::to_string(piece.waitMs) + ":" +
                     std::to_string(piece.bytes.size());
  }
  RecordCommand(*cmd);
  return plan;
}

std::vector<ReplyPiece> Simulator::TakeReplyPlan(const CommandRecord& cmd) {
  std::lock_guard<std::mutex> lk(mu_);
  const int delay =
      ReplyDelayMs(&faults_, &jitterState_, cmd.keyword, cmd.text);
  std::vector<ReplyPiece> plan = PlanReply(faults_, &randomState_, cmd.keyword,
                                           cmd.text, cmd.reply, delay);
  int gapMs = 0;
  std::string stray = TakeStray(&faults_, cmd.keyword, cmd.text, &gapMs);
  if (!stray.empty()) plan.push_back({gapMs, std::move(stray)});
  return plan;
}

bool Simulator::TrickleApplies(const CommandRecord& cmd, int* ms) {
  std::lock_guard<std::mutex> lk(mu_);
  *ms = faults_.trickleMs;
  return Trickles(faults_, cmd.keyword, cmd.text);
}

void Simulator::SetStray(const std::string& trigger, const std::string& key,
                         int count, int gapMs, const std::string& bytes) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.strayTrigger = NormalKey(trigger);
  faults_.strayArmed = faults_.strayTrigger.empty();
  faults_.strayKey = NormalKey(key);
  faults_.strayCount = bytes.empty() ? 0 : std::max(0, count);
  faults_.strayGapMs = std::max(0, gapMs);
  faults_.strayBytes = bytes;
}

void Simulator::SetTrickle(int ms, const std::string& key) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.trickleMs = std::max(0, ms);
  faults_.trickleKey = NormalKey(key);
}

void Simulator::SetRandomReplies(const RandomReplies& random) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.random = random;
  randomState_ = random.seed ? random.seed : 1;
}

RandomReplies Simulator::GetRandomReplies() const {
  std::lock_guard<std::mutex> lk(mu_);
  return faults_.random;
}

void Simulator::SetLineGap(int ms, const std::string& key) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.lineGapMs = std::max(0, ms);
  faults_.lineGapKey = NormalKey(key);
}

void Simulator::SetSilent(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.silent = on;
}

void Simulator::SetReplyDelay(int ms) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.delayMs = std::max(0, ms);
}

void Simulator::SetReplyJitter(int maxMs) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.jitterMs = std::max(0, maxMs);
  jitterState_ = seed_;
}

void Simulator::DelayReplyOnce(const std::string& key, int ms,
                               const std::string& trigger) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.onceDelayKey = NormalKey(key);
  faults_.onceDelayTrigger = NormalKey(trigger);
  faults_.onceDelayAwaitsTrigger = !faults_.onceDelayTrigger.empty();
  faults_.onceDelayMs = std::max(0, ms);
}

void Simulator::SetReplySplit(int pieces, int gapMs) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.splitPieces = pieces;
  faults_.splitGapMs = std::max(0, gapMs);
}

void Simulator::SetReplyPadding(size_t toBytes, char fill) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.padTo = std::min(toBytes, kMaxFlood);
  faults_.padFill = fill;
}

void Simulator::SetGarbage(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.garbage = on;
}

void Simulator::SetLineEndOnly(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.lineEndOnly = on;
}

void Simulator::SetNonAscii(bool on) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.nonAscii = on;
}

void Simulator::SetZeroByteAt(int position) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.zeroAt = position;
}

void Simulator::SetReplyTransform(
    std::function<std::string(const std::string&, const std::string&)> fn) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.transform = std::move(fn);
}

void Simulator::SetCloseAfter(int commands) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_.closeAfter = commands;
}

void Simulator::SetSeed(uint32_t seed) {
  std::lock_guard<std::mutex> lk(mu_);
  seed_ = seed ? seed : 1;
}

void Simulator::ClearFaults() {
  std::lock_guard<std::mutex> lk(mu_);
  faults_ = Faults();
}

}  // namespace kvxsim
