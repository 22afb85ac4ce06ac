#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "base/context.h"
#include "support/shell_support.h"
#include "support/test_support.h"
#include "system/install_log.h"
#include "system/session.h"
#include "system/terminate.h"
#include "base/text.h"

using testing_support::BinaryPath;
using testing_support::ReadLogMessages;
using testing_support::ScratchFolder;

namespace {

const wchar_t kImageName[] = L"morvantis v9.5.exe";

// A stand-in terminal running from a given path; ended by handle when the test is over.
class StandIn {
 public:
  explicit StandIn(const std::string& exePath) {
    std::wstring path = GbkToWide(exePath, 2048);
    std::wstring source = GbkToWide(BinaryPath("test-programs\\terminate_sleeper.exe"), 2048);
    CopyFileW(source.c_str(), path.c_str(), FALSE);
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      CloseHandle(info.hThread);
      process_ = info.hProcess;
      WaitForInputIdle(process_, 5000);
    }
  }
  ~StandIn() {
    if (process_ == nullptr) return;
    if (Running()) {
      TerminateProcess(process_, 99);
      WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
  }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  bool Started() const { return process_ != nullptr; }
  // Nobody may open the copy to end it from now on (this handle keeps its access).
  bool RefuseTermination() const {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;0x1;;;WD)(A;;0x1fffff;;;WD)", SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
      return false;
    }
    const bool set = SetKernelObjectSecurity(process_, DACL_SECURITY_INFORMATION, descriptor) != FALSE;
    LocalFree(descriptor);
    return set;
  }
  bool Running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
  DWORD ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  HANDLE process_ = nullptr;
};

class TerminateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installDir_ = scratch_ / "Installed Here";
    otherDir_ = scratch_ / "Elsewhere";
    ASSERT_TRUE(CreatePathFolders((installDir_ + "\\").c_str()));
    ASSERT_TRUE(CreatePathFolders((otherDir_ + "\\").c_str()));
    InstallerContext::Instance().installDir = installDir_;
  }

  ScratchFolder scratch_{"terminate"};
  std::string installDir_;
  std::string otherDir_;
};

}  // namespace

TEST_F(TerminateTest, LeavesCopiesOfOtherFoldersRunning) {
  StandIn elsewhere(otherDir_ + "\\morvantis v9.5.exe");
  // The installation folder's name in other letters reaches the same files, but is not
  // the path the installer will replace.
  std::string otherCase = scratch_ / "INSTALLED HERE\\morvantis v9.5.exe";
  StandIn spelledOtherwise(otherCase);
  ASSERT_TRUE(elsewhere.Started());
  ASSERT_TRUE(spelledOtherwise.Started());

  TerminateRunningInstance(kImageName);

  EXPECT_TRUE(elsewhere.Running());
  EXPECT_TRUE(spelledOtherwise.Running());
}

TEST_F(TerminateTest, EndsOnlyTheFirstCopyInTheInstallationFolder) {
  StandIn elsewhere(otherDir_ + "\\morvantis v9.5.exe");
  StandIn first(installDir_ + "\\morvantis v9.5.exe");
  StandIn second(installDir_ + "\\morvantis v9.5.exe");
  ASSERT_TRUE(elsewhere.Started() && first.Started() && second.Started());

  TerminateRunningInstance(kImageName);

  EXPECT_EQ(1, first.Running() + second.Running()) << "exactly one of the two copies is ended";
  const StandIn& ended = first.Running() ? second : first;
  EXPECT_EQ(0u, ended.ExitCode());
  EXPECT_TRUE(elsewhere.Running());

  // A second press ends the copy that was left.
  TerminateRunningInstance(kImageName);
  EXPECT_FALSE(first.Running());
  EXPECT_FALSE(second.Running());
  EXPECT_TRUE(elsewhere.Running());
}

TEST_F(TerminateTest, CopyThatCannotBeOpenedKeepsRunningAndTheCauseIsLogged) {
  StandIn refusing(installDir_ + "\\morvantis v9.5.exe");
  ASSERT_TRUE(refusing.Started());
  ASSERT_TRUE(refusing.RefuseTermination());
  InstallLog::Open((scratch_ / "logs").c_str());

  TerminateRunningInstance(kImageName);
  InstallLog::Close();

  EXPECT_TRUE(refusing.Running());
  EXPECT_EQ(std::vector<std::string>({"无法打开正在运行的终端：" + installDir_ + "\\morvantis v9.5.exe (错误码 5)"}),
            ReadLogMessages(scratch_ / "logs"));
}
