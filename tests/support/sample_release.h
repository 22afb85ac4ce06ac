// The sample release (tools/make_sample_release.py) and the stand-in terminal it
// carries, for tests that install it, start the terminal or check what it recorded.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

struct SampleReleaseOptions {
  std::string packageCode = "602731";
  bool quant = true;
  bool stock = true;
  bool previous = false;  // an earlier release, with files the current one no longer has
  int referenceMb = 0;    // >0: a reference release of about that many MiB
};
// Builds the release from the stand-ins of this build into storeRoot (a Windows path;
// the objects go below storeRoot\9.5MOrvantisIE), signed with the demonstration key when
// the build has a release key. False when the script failed.
bool BuildSampleRelease(const std::string& storeRoot, const SampleReleaseOptions& options = {});
// The demonstration release key's private half (a Unix path), which test builds are keyed to.
std::string DemoReleasePrivateKey();
// X || Y of the demonstration key's public half, as a build keyed to it embeds it.
std::string DemoReleasePublicKey();
// A fresh P-256 private key in folder (a Windows path); returns its Unix path.
std::string MakeOtherReleaseKey(const std::string& folder);
// Lists and signs the release below storeRoot again with `tools/release sign` (after a
// test changed an object); privateKeyUnixPath defaults to the demonstration key.
bool SignRelease(const std::string& storeRoot, const std::string& privateKeyUnixPath = DemoReleasePrivateKey());
// Every file the installed tree holds once the release is unpacked (update.ini and the
// log folder aside): GBK relative paths with backslashes, sorted as ListFilesRecursive
// sorts them.
std::vector<std::string> ExpectedInstalledTree(const std::string& storeRoot);

// Copies the stand-in terminal into folder (created when missing) as "morvantis v9.5.exe";
// returns its path.
std::string PlaceStandinTerminal(const std::string& folder);

// The stand-in uninstaller removes its folder's last file after it has ended: waits
// (up to 30 s) for the folder to go; true when it went.
bool WaitForUninstalledFolder(const std::string& folder);

// One start of the stand-in terminal, as it recorded it.
struct StandinLaunch {
  DWORD processId = 0;
  std::wstring currentFolder;
  std::wstring commandLine;
};
// %TEMP%\morvantis-standin-launches.txt, where every start appends a line.
std::wstring StandinLaunchesPath();
std::vector<StandinLaunch> ReadStandinLaunches();
// The latest record of the given process, or processId 0 when it has none.
StandinLaunch FindStandinLaunch(DWORD processId);

}  // namespace testing_support
