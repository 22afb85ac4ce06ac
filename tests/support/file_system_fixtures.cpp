#include "support/file_system_fixtures.h"

#include <windows.h>

#include "support/test_support.h"

namespace testing_support {
namespace {
// The prefix's folder of drive links, for scripts.
std::string DosDevices() {
  wchar_t prefix[1024] = {};
  if (GetEnvironmentVariableW(L"WINEPREFIX", prefix, 1024) > 0) {
    std::string unix;
    for (const wchar_t* c = prefix; *c; ++c) unix.push_back(static_cast<char>(*c));
    return unix + "/dosdevices";
  }
  return std::string(MORVANTIS_BINARY_DIR) + "/wineprefix/dosdevices";
}
}  // namespace

SecondVolume::SecondVolume(uint64_t sizeBytes) {
  ScratchFolder scratch("volume");
  const std::string answer = scratch / "answer";
  const std::string answerUnix = ShellQuote(WindowsToUnixPath(answer));
  const std::string devices = ShellQuote(DosDevices());
  // The folder, the mount when a size is asked for, then the first free letter from r.
  std::string script = "set -e\n";
  if (sizeBytes > 0) {
    script += "dir=$(mktemp -d /tmp/mvt-volume-XXXXXX)\necho \"$dir\" > " + answerUnix +
              "\nmount -t tmpfs -o size=" + std::to_string(sizeBytes) + " tmpfs \"$dir\" 2>/dev/null || { rmdir \"$dir\"; exit 3; }\n";
  } else {
    script += "[ -d /dev/shm ] && [ \"$(stat -f -c %i /dev/shm)\" != \"$(stat -f -c %i /tmp)\" ] || exit 4\n"
              "dir=$(mktemp -d /dev/shm/mvt-volume-XXXXXX)\necho \"$dir\" > " + answerUnix + "\n";
  }
  script += "for l in r s t u v w x y; do\n"
            "  if ln -s \"$dir\" " + devices + "/$l: 2>/dev/null; then echo \"$l\" >> " + answerUnix + "; exit 0; fi\n"
            "done\nexit 5\n";
  const ProcessResult result = RunShellScript(script);
  const std::string lines = ReadFileBytes(answer);
  const size_t newline = lines.find('\n');
  if (newline != std::string::npos) unixFolder_ = lines.substr(0, newline);
  mounted_ = sizeBytes > 0 && (result.exitCode == 0 || result.exitCode == 5);
  if (result.exitCode == 0) {
    drive_ = lines.substr(newline + 1, 1);
    root_ = static_cast<char>(drive_[0] - 'a' + 'A') + std::string(":");
  } else if (result.exitCode == 3) {
    whyNot_ = "cannot mount a tmpfs here (mounting needs root): no small second volume";
  } else if (result.exitCode == 4) {
    whyNot_ = "/dev/shm is missing or not a file system of its own: no second volume";
  } else {
    whyNot_ = "no free drive letter r: to y: in the Wine prefix (script status " + std::to_string(result.exitCode) + ")";
  }
}

SecondVolume::~SecondVolume() {
  if (unixFolder_.empty()) return;
  std::string script;
  if (!drive_.empty()) script += "rm -f " + ShellQuote(DosDevices() + "/" + drive_ + ":") + "\n";
  // A Wine process may still hold a file there: detach lazily.
  if (mounted_) script += "umount " + ShellQuote(unixFolder_) + " 2>/dev/null || umount -l " + ShellQuote(unixFolder_) + "\n";
  script += "rm -rf " + ShellQuote(unixFolder_) + "\n";
  RunShellScript(script);
}

bool MakeSymbolicLink(const std::string& target, const std::string& link) {
  return RunShellScript("ln -s " + ShellQuote(WindowsToUnixPath(target)) + " " + ShellQuote(WindowsToUnixPath(link)))
             .exitCode == 0;
}

void RemoveSymbolicLink(const std::string& link) { RunShellScript("rm -f " + ShellQuote(WindowsToUnixPath(link))); }

}  // namespace testing_support
