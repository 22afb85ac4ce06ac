// Shared set-up of the extraction tests: the tool-made archives and a recorder that
// answers the overwrite prompt.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "system/message_box.h"

namespace unzip_testing {

// A generated archive (Windows path); the archives are made once per build.
std::string ArchivePath(const std::string& name);
// A file of the tree the tool-made archives were built from (relative, backslashes).
std::string TreePath(const std::string& relative = "");

// Answers every message box with the given function (Abort when none) and keeps them.
class PromptRecorder {
 public:
  explicit PromptRecorder(std::function<int(const MessageBoxRequest&)> answer = nullptr);
  ~PromptRecorder();
  PromptRecorder(const PromptRecorder&) = delete;
  PromptRecorder& operator=(const PromptRecorder&) = delete;
  const std::vector<MessageBoxRequest>& Requests() const { return requests_; }

 private:
  std::function<int(const MessageBoxRequest&)> answer_;
  std::vector<MessageBoxRequest> requests_;
};

// The overwrite prompt as the user sees it for an entry name.
std::wstring ExpectedPrompt(const std::wstring& entryName);

bool WideFileExists(const std::wstring& path);
std::string ReadWideFile(const std::wstring& path);

}  // namespace unzip_testing
