#include "install/unpack_queue.h"

#include "system/failure_log.h"
#include "system/free_space.h"
#include "system/install_log.h"
#include "unzip/tunzip.h"

bool ExtractPackage(const std::string& archive, const std::string& target) {
  // What the entries declare must fit the target's volume before anything is written.
  UnzipFailure failure;
  const bool extracted = TUnzip::ExtractArchive(
      archive.c_str(), target.c_str(), [&target](uint64_t total) { return EnsureFreeSpace(target, total); }, &failure);
  // A refusal for want of room has logged its own line and recorded nothing.
  if (!extracted && failure.reason != nullptr) {
    std::string subject = archive;
    if (!failure.entry.empty()) subject += " 中的 " + failure.entry;
    if (!failure.path.empty()) subject += "，" + failure.path;
    LogFailureCause(failure.reason, subject, static_cast<unsigned long>(failure.code));
  }
  return extracted;
}

namespace {
bool ExtractHolding(const std::string& archive, const std::string& target, std::vector<std::string>* lines) {
  InstallLog::HoldThisThread(lines);
  bool result = ExtractPackage(archive, target);
  InstallLog::HoldThisThread(nullptr);
  return result;
}
}  // namespace

UnpackQueue::~UnpackQueue() { Stop(); }

void UnpackQueue::Add(const std::string& archive, const std::string& target) {
  std::lock_guard<std::mutex> hold(lock_);
  if (stopping_) return;
  Job job;
  job.archive = archive;
  job.target = target;
  jobs_.push_back(job);
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread(&UnpackQueue::Run, this);
    } catch (...) {
      stopping_ = true;  // no thread: every package is unpacked at its own step
    }
  }
  changed_.notify_all();
}

bool UnpackQueue::Extract(const std::string& archive, const std::string& target) {
  std::vector<std::string> lines;
  bool result = false;
  {
    std::unique_lock<std::mutex> hold(lock_);
    Job* found = nullptr;
    for (Job& job : jobs_) {
      if (job.archive == archive && job.target == target && !job.collected) {
        found = &job;
        break;
      }
    }
    if (found != nullptr) found->collected = true;
    if (found != nullptr && (found->started || !stopping_)) {
      changed_.wait(hold, [found] { return found->done; });
      lines.swap(found->lines);
      result = found->result;
    } else {
      // Not added (or never started): unpacked here, but never beside the queue's work.
      changed_.wait(hold, [this] { return Idle(); });
      if (found != nullptr) found->started = found->done = true;
      hold.unlock();
      result = ExtractHolding(archive, target, &lines);
    }
  }
  for (const std::string& line : lines) InstallLog::Write(line.c_str());
  return result;
}

void UnpackQueue::Stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

bool UnpackQueue::Idle() const {
  for (const Job& job : jobs_) {
    if (job.started && !job.done) return false;
    if (!job.started && !stopping_ && !failed_) return false;
  }
  return true;
}

void UnpackQueue::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    Job* next = nullptr;
    for (Job& job : jobs_) {
      if (!job.started && !job.done) {
        next = &job;
        break;
      }
    }
    if (stopping_) return;
    if (next == nullptr) {
      changed_.wait(hold);
      continue;
    }
    next->started = true;
    if (failed_) {
      // The sequence stops at the failed package: nothing after it is written.
      next->done = true;
      changed_.notify_all();
      continue;
    }
    hold.unlock();
    std::vector<std::string> lines;
    bool result = ExtractHolding(next->archive, next->target, &lines);
    hold.lock();
    next->lines.swap(lines);
    next->result = result;
    next->done = true;
    if (!result) failed_ = true;
    changed_.notify_all();
  }
}
