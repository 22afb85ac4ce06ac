// Unpacks downloaded packages on a thread of its own while the worker downloads the next
// ones. Packages are unpacked one at a time in the order they are added; the worker adds
// a package only after its download (and its check) succeeded, and in the order the
// packages must overwrite each other. After a failed package nothing later is unpacked.
// Nothing is posted from here: the worker collects each result at the package's own
// step, and the lines the unpacking logged are written then.
#pragma once
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One package into its target folder, refused before any byte when the archive's
// declared total does not fit the target's volume.
bool ExtractPackage(const std::string& archive, const std::string& target);

class UnpackQueue {
 public:
  UnpackQueue() = default;
  ~UnpackQueue();  // Stop()
  UnpackQueue(const UnpackQueue&) = delete;
  UnpackQueue& operator=(const UnpackQueue&) = delete;

  void Add(const std::string& archive, const std::string& target);
  // The package's unpacking: waits for it when it was added, else unpacks it here once
  // everything added before is done. Logs the lines the unpacking held back.
  bool Extract(const std::string& archive, const std::string& target);
  // Unpacks nothing more; waits for the package being unpacked (an open prompt included).
  void Stop();

 private:
  struct Job {
    std::string archive;
    std::string target;
    bool started = false;
    bool done = false;
    bool result = false;
    bool collected = false;  // by Extract
    std::vector<std::string> lines;
  };
  void Run();
  bool Idle() const;  // under lock_

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;  // deque: a job stays where it is while others are added
  bool stopping_ = false;
  bool failed_ = false;
  std::thread thread_;
};
