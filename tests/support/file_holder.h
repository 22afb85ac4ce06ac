// Another process (test-programs/unzip_hold_file.exe) that holds a file open without
// sharing until Release(), for tests of files in use.
#pragma once
#include <string>

#include "base/scoped.h"

namespace testing_support {

class FileHolder {
 public:
  explicit FileHolder(const std::string& path);
  ~FileHolder() { Release(); }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;
  bool Holding() const { return holding_; }
  // Lets go of the file and waits until the process has ended.
  void Release();

 private:
  ScopedHandle ready_, release_, process_;
  bool holding_ = false;
};

}  // namespace testing_support
