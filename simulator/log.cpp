// The simulator's log: the chunks received and the commands parsed, with
// their replies, bounded in records and in bytes (see simulator.h); and the
// log file. The newest records are kept.
#include <cstdio>

#include "simulator/simulator.h"

namespace kvxsim {

namespace {

const size_t kMaxLog = 100000;  // records of each kind

// What a command record holds in bytes, for the log's bound.
size_t RecordBytes(const CommandRecord& r) {
  return r.raw.size() + r.text.size() + r.keyword.size() + r.reply.size() +
         r.pieces.size();
}

}  // namespace

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

}  // namespace kvxsim
