#include "unzip_fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "support/test_support.h"

namespace unzip_testing {

std::string ArchivePath(const std::string& name) {
  static std::once_flag made;
  std::call_once(made, [] {
    std::string script = std::string(MORVANTIS_SOURCE_DIR) + "/tests/unzip/make_archives.py";
    std::string out = std::string(MORVANTIS_BINARY_DIR) + "/unzip-archives";
    testing_support::ProcessResult result = testing_support::RunShellScript("python3 '" + script + "' '" + out + "'");
    ASSERT_TRUE(result.started && !result.timedOut && result.exitCode == 0) << "making the test archives failed";
  });
  return testing_support::BinaryPath("unzip-archives/" + name);
}

std::string TreePath(const std::string& relative) {
  std::string root = ArchivePath("tree");
  return relative.empty() ? root : root + "\\" + relative;
}

PromptRecorder::PromptRecorder(std::function<int(const MessageBoxRequest&)> answer) : answer_(std::move(answer)) {
  SetMessageBoxResponderForTesting([this](const MessageBoxRequest& request) {
    requests_.push_back(request);
    return answer_ ? answer_(request) : IDABORT;
  });
}

PromptRecorder::~PromptRecorder() { SetMessageBoxResponderForTesting(nullptr); }

std::wstring ExpectedPrompt(const std::wstring& entryName) {
  return L"无法覆盖文件\"" + entryName + L"\",该文件可能正被使用!\n是否终止升级?";
}

bool WideFileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadWideFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace unzip_testing
