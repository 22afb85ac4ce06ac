#include "support/sample_release.h"

#include <algorithm>

#include "install/release_signature.h"
#include "support/test_support.h"
#include "system/session.h"
#include "base/text.h"

namespace testing_support {
namespace {

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::wstring Utf8ToWide(const std::string& text) { return GbkToWide(text, text.size() + 1, CP_UTF8); }

}  // namespace

bool BuildSampleRelease(const std::string& storeRoot, const SampleReleaseOptions& options) {
  std::string command = "/usr/bin/python3 " + ShellQuoted(std::string(MORVANTIS_SOURCE_DIR) + "/tools/make_sample_release.py") +
                        " --standin " + ShellQuoted(std::string(MORVANTIS_BINARY_DIR) + "/standin") + " --out " +
                        ShellQuoted(WindowsToUnixPath(storeRoot)) + " --package-code " + ShellQuoted(options.packageCode) +
                        (options.quant ? " --quant" : " --no-quant") + (options.stock ? " --stock" : " --no-stock");
  if (options.previous) command += " --edition previous";
  if (options.referenceMb > 0) command += " --reference-mb " + std::to_string(options.referenceMb);
  if (!BuildReleaseKey().empty()) command += " --sign-key " + ShellQuoted(DemoReleasePrivateKey());
  ProcessResult result = RunShellScript(command + " >/dev/null", 600000);
  return result.started && !result.timedOut && result.exitCode == 0;
}

std::string DemoReleasePrivateKey() {
  return std::string(MORVANTIS_SOURCE_DIR) + "/tools/release-keys/DEMO-ONLY-release-private.pem";
}

std::string DemoReleasePublicKey() {
  static const std::string key = [] {
    ScratchFolder folder("release-key");
    const std::string hexPath = folder / "point.hex";
    RunShellScript("/usr/bin/python3 " + ShellQuoted(std::string(MORVANTIS_SOURCE_DIR) + "/tools/release_public_key.py") + " " +
                   ShellQuoted(std::string(MORVANTIS_SOURCE_DIR) + "/tools/release-keys/DEMO-ONLY-release-public.pem") +
                   " > " + ShellQuoted(WindowsToUnixPath(hexPath)));
    const std::string hex = ReadFileBytes(hexPath);
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
  }();
  return key;
}

std::string MakeOtherReleaseKey(const std::string& folder) {
  const std::string path = WindowsToUnixPath(folder + "\\other-release-key.pem");
  RunShellScript("openssl ecparam -genkey -name prime256v1 -noout -out " + ShellQuoted(path));
  return path;
}

bool SignRelease(const std::string& storeRoot, const std::string& privateKeyUnixPath) {
  std::string command = "/usr/bin/python3 " + ShellQuoted(std::string(MORVANTIS_SOURCE_DIR) + "/tools/release") + " sign " +
                        ShellQuoted(WindowsToUnixPath(storeRoot)) + " --key " + ShellQuoted(privateKeyUnixPath);
  ProcessResult result = RunShellScript(command + " >/dev/null", 60000);
  return result.started && !result.timedOut && result.exitCode == 0;
}

std::vector<std::string> ExpectedInstalledTree(const std::string& storeRoot) {
  std::string listing = ReadFileBytes(storeRoot + "\\expected-tree.txt");
  std::vector<std::string> paths;
  size_t start = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    if (end > start) {
      // The listing is UTF-8 with "/"; the tree as Windows lists it is GBK with "\".
      std::string path = WideToGbk(Utf8ToWide(listing.substr(start, end - start)), 4096);
      std::replace(path.begin(), path.end(), '/', '\\');
      paths.push_back(path);
    }
    start = end + 1;
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::string PlaceStandinTerminal(const std::string& folder) {
  std::string target = folder + "\\morvantis v9.5.exe";
  CreatePathFolders((folder + "\\").c_str());
  CopyFileW(GbkToWide(BinaryPath("standin\\terminal.exe"), 4096).c_str(), GbkToWide(target, 4096).c_str(), FALSE);
  return target;
}

bool WaitForUninstalledFolder(const std::string& folder) {
  for (int attempt = 0; attempt < 300; ++attempt) {
    if (!FolderExists(folder)) return true;
    Sleep(100);
  }
  return false;
}

std::wstring StandinLaunchesPath() {
  wchar_t folder[32768] = {};
  DWORD length = GetEnvironmentVariableW(L"TEMP", folder, 32768);
  if (length == 0 || length >= 32768) length = GetTempPathW(MAX_PATH + 1, folder);
  std::wstring path(folder, length);
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path + L"\\morvantis-standin-launches.txt";
}

std::vector<StandinLaunch> ReadStandinLaunches() {
  std::vector<StandinLaunch> launches;
  std::string content = ReadFileBytes(WideToGbk(StandinLaunchesPath(), 4096));
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    // pid=<id>\tcwd=<folder>\tcmdline=<command line>
    size_t cwd = line.find("\tcwd=");
    size_t commandLine = line.find("\tcmdline=", cwd == std::string::npos ? 0 : cwd);
    if (line.compare(0, 4, "pid=") != 0 || cwd == std::string::npos || commandLine == std::string::npos) continue;
    StandinLaunch launch;
    launch.processId = static_cast<DWORD>(strtoul(line.c_str() + 4, nullptr, 10));
    launch.currentFolder = Utf8ToWide(line.substr(cwd + 5, commandLine - cwd - 5));
    launch.commandLine = Utf8ToWide(line.substr(commandLine + 9));
    launches.push_back(launch);
  }
  return launches;
}

StandinLaunch FindStandinLaunch(DWORD processId) {
  // Process ids come back in a long run: the latest record counts.
  std::vector<StandinLaunch> launches = ReadStandinLaunches();
  for (auto launch = launches.rbegin(); launch != launches.rend(); ++launch) {
    if (launch->processId == processId) return *launch;
  }
  return StandinLaunch();
}

}  // namespace testing_support
