#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "base/context.h"
#include "install/client.h"
#include "install/credentials.h"
#include "install/messages.h"
#include "install/folder_swap.h"
#include "install/release_signature.h"
#include "install/worker.h"
#include "support/file_holder.h"
#include "support/file_system_fixtures.h"
#include "support/sample_release.h"
#include "support/shell_support.h"
#include "support/store_local_store.h"
#include "support/test_support.h"
#include "system/install_log.h"
#include "system/message_box.h"
#include "system/session.h"
#include "base/text.h"

#include <cstring>

using namespace testing_support;

namespace {
constexpr char kPrefix[] = "9.5MOrvantisIE";

LocalStore::Options PublicRead() {
  LocalStore::Options options;
  options.publicRead = true;
  return options;
}

// A whole installation as the window drives it, minus the window: the staging folder made
// anew, the log opened with its header, the manifest fetched, then the worker's run.
class WorkerRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.Start());
    InstallerContext& context = InstallerContext::Instance();
    context.packageCode = "602731";
    context.distributorName = "Zelmora香港";
    context.languageId = 0x0804;
    context.productFolderName = "MOrvantis602731v9.5";
    context.installDir = root / "MOrvantis602731v9.5";
    context.logDir = context.installDir + "\\morvantislog";
    context.tempDir = context.installDir + "temp";
    context.dependBaseDir = root / "MOrvantisDependBaseV9.5";
    context.version.clear();
  }
  void TearDown() override { InstallLog::Close(); }

  bool Release(bool quant, bool stock) {
    SampleReleaseOptions options;
    options.quant = quant;
    options.stock = stock;
    return BuildSampleRelease(store.RootWindows(), options);
  }

  // Returns what the worker returned; the messages are in `messages`.
  unsigned Install(const std::function<void()>& beforeWorker = nullptr) {
    const InstallerContext& context = InstallerContext::Instance();
    ShellDeletePath(context.tempDir.c_str());
    CreatePathFolders((context.tempDir + "\\").c_str());
    InstallLog::Open(context.logDir.c_str());
    InstallLog::Write("Version: IE_9.5.9.1");
    client.SetupAccess();
    if (anonymous) {
      // What SetupAccess gives a build configured without a key.
      StoreCredentials none = UnscrambleCredentials("", 0);
      client.accessKeyId = none.accessKeyId;
      client.accessKeySecret = none.accessKeySecret;
    }
    client.endpoint = store.Endpoint();
    client.release = ReleaseVerifier(releaseKey);
    client.ConnectStore();
    if (!client.FetchManifest()) return 99;
    manifestMessages = recorder.Drain();  // the manifest's own progress
    if (beforeWorker) beforeWorker();
    unsigned result = InstallWorker(&client);
    messages = recorder.Drain();
    return result;
  }

  std::vector<LPARAM> Values(UINT message) const { return InstallMessageRecorder::Values(messages, message); }

  ScratchFolder root{"worker"};
  // Public-read: unsigned requests are answered too, signed ones are still checked.
  LocalStore store{PublicRead()};
  bool anonymous = false;
  InstallMessageRecorder recorder;
  IClient client;
  std::string releaseKey = BuildReleaseKey();  // what the run's build is keyed to
  std::vector<std::pair<UINT, LPARAM>> manifestMessages;
  std::vector<std::pair<UINT, LPARAM>> messages;
};

std::string Profile(const std::string& path, const char* section, const char* key) {
  char value[256] = {};
  GetPrivateProfileStringA(section, key, "<absent>", value, sizeof(value), path.c_str());
  return value;
}

std::vector<LPARAM> Tail(const std::vector<LPARAM>& values, size_t count) {
  return std::vector<LPARAM>(values.end() - std::min(count, values.size()), values.end());
}
}  // namespace

TEST_F(WorkerRun, ReleaseWithoutOptionalPackagesInstallsIntoAFreshFolder) {
  ASSERT_TRUE(Release(false, false));
  // An empty quant line means no quant package, as a missing one does.
  const std::string manifest = store.RootWindows() + "\\" + kPrefix + "\\summary.ini";
  std::string text = ReadFileBytes(manifest);
  const size_t quant = text.find("[quant]\r\n");
  ASSERT_NE(quant, std::string::npos);
  ASSERT_TRUE(WriteFileBytes(manifest, text.insert(quant + 9, "602731=\r\n")));
  ASSERT_TRUE(SignRelease(store.RootWindows()));
  const InstallerContext& context = InstallerContext::Instance();
  EXPECT_EQ(Install(), 1u);
  EXPECT_EQ(Values(WM_INSTALL_STEP), (std::vector<LPARAM>{kStepDownloadBase, kStepDownloadConfig, kStepDownloadRuntime,
                                                          kStepUnpackBase, kStepUnpackRuntime, kStepUnpackConfig,
                                                          kStepCleanStaging, kStepSaveVersion, kStepRemoveOld}));
  std::vector<LPARAM> progress = Values(WM_INSTALL_PROGRESS);
  EXPECT_EQ(Tail(progress, 6), (std::vector<LPARAM>{83, 86, 90, 95, 99, 100}));
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().first, WM_INSTALL_DONE);
  EXPECT_EQ(Values(WM_INSTALL_FAILED).size(), 0u);

  // Exactly the packages' files, the version record and the log folder.
  std::vector<std::string> expected = ExpectedInstalledTree(store.RootWindows());
  std::vector<std::string> installed = ListFilesRecursive(context.installDir);
  std::vector<std::string> logs;
  installed.erase(std::remove_if(installed.begin(), installed.end(),
                                 [&](const std::string& path) {
                                   bool isLog = path.rfind("morvantislog\\", 0) == 0;
                                   if (isLog) logs.push_back(path);
                                   return isLog || path == "update.ini";
                                 }),
                  installed.end());
  EXPECT_EQ(installed, expected);
  EXPECT_EQ(logs.size(), 1u);
  EXPECT_FALSE(FolderExists(context.tempDir));  // the fresh install copied, then removed it

  const std::string record = context.installDir + "\\update.ini";
  EXPECT_NE(Profile(record, "version", "cur"), "");
  EXPECT_EQ(Profile(record, "version", "cur"), client.manifest.fixVersion);
  EXPECT_EQ(Profile(record, "version", "quant"), "");
  EXPECT_EQ(Profile(record, "version", "stock"), "");
  EXPECT_EQ(Profile(record, "ETag", "ETagStock"), "");
  EXPECT_EQ(Profile(record, "cfgstamp", "time"), std::to_string(client.manifest.cfgTime));
  EXPECT_EQ(context.version, client.manifest.fixVersion);
  EXPECT_EQ(Profile(context.installDir + "\\config\\morvantis.Default.pub", "morvantis", "package"), "602731");
  EXPECT_EQ(Profile(context.installDir + "\\config\\morvantis.Default.pri", "morvantis", "language"), "2052");

  // The log: every step's line in order, closed after the shell registration.
  std::vector<std::string> lines = InstallLogLines(context.logDir);
  const std::vector<std::string> steps = {"下载前端依赖库", "下载服务依赖库", "下载配置文件", "下载运行库",
                                          "安装前端依赖库", "安装服务依赖库", "安装运行库", "安装配置文件",
                                          "清理安装文件", "保存更新版本信息", "删除源文件", "复制新版本数据到原目录",
                                          "URL Schemes: Start", "URL Schemes: Finish"};
  auto at = lines.begin();
  for (const std::string& step : steps) {
    at = std::find(at, lines.end(), step);
    EXPECT_NE(at, lines.end()) << "missing or out of order: " << step;
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("IPersistFile::Save : ", 0), 0u) << lines.back();
}

TEST_F(WorkerRun, BuildWithoutAKeyInstallsFromAPublicReadBucketWithUnsignedRequests) {
  ASSERT_TRUE(Release(true, true));
  anonymous = true;
  EXPECT_EQ(Install(), 1u);
  EXPECT_TRUE(client.accessKeyId.empty() && client.accessKeySecret.empty());
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().first, WM_INSTALL_DONE);
  EXPECT_TRUE(FileExists(InstallerContext::Instance().installDir + "\\morvantis v9.5.exe"));
  const auto requests = store.AccessLog();
  // Manifest and four packages: two each; metadata of one more; a keyed build also
  // fetches the signed list and its signature.
  EXPECT_EQ(requests.size(), client.release.Enabled() ? 15u : 13u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.at("auth"), "none") << request.at("key");
    EXPECT_EQ(request.at("status").substr(0, 1), "2") << request.at("key");
  }
}

TEST_F(WorkerRun, UpdateWithBothOptionalPackagesLeavesNothingOfTheOldVersion) {
  ASSERT_TRUE(Release(true, true));
  const InstallerContext& context = InstallerContext::Instance();
  // An earlier installation with files the new release no longer has, and an old log.
  WriteFileBytes(context.installDir + "\\old-only.dll", "old");
  WriteFileBytes(context.installDir + "\\retired\\plugin\\x.dat", "old");
  WriteFileBytes(context.installDir + "\\morvantislog\\000000000install.log", "an earlier run");
  EXPECT_EQ(Install(), 1u);
  EXPECT_EQ(
      Values(WM_INSTALL_STEP),
      (std::vector<LPARAM>{kStepDownloadBase, kStepDownloadConfig, kStepDownloadRuntime, kStepDownloadQuant,
                           kStepDownloadStock, kStepUnpackBase, kStepUnpackRuntime, kStepUnpackConfig, kStepUnpackQuant,
                           kStepUnpackStock, kStepCleanStaging, kStepSaveVersion, kStepRemoveOld}));
  EXPECT_EQ(Tail(Values(WM_INSTALL_PROGRESS), 8), (std::vector<LPARAM>{82, 84, 86, 88, 90, 95, 99, 100}));
  EXPECT_EQ(messages.back().first, WM_INSTALL_DONE);

  EXPECT_FALSE(FileExists(context.installDir + "\\old-only.dll"));
  EXPECT_FALSE(FolderExists(context.installDir + "\\retired"));
  EXPECT_EQ(ReadFileBytes(context.installDir + "\\morvantislog\\000000000install.log"), "an earlier run");
  std::vector<std::string> installed = ListFilesRecursive(context.installDir);
  installed.erase(std::remove_if(installed.begin(), installed.end(),
                                 [](const std::string& path) {
                                   return path.rfind("morvantislog\\", 0) == 0 || path == "update.ini";
                                 }),
                  installed.end());
  EXPECT_EQ(installed, ExpectedInstalledTree(store.RootWindows()));
  const std::string record = context.installDir + "\\update.ini";
  EXPECT_EQ(Profile(record, "version", "quant"), client.manifest.quantName);
  EXPECT_EQ(Profile(record, "version", "stock"), client.manifest.stockName);
  EXPECT_NE(Profile(record, "ETag", "ETagStock"), "");
  EXPECT_FALSE(FolderExists(context.tempDir));
}

TEST_F(WorkerRun, MissingConfigurationPackageFailsWithStep3AndLeavesTheOldInstallation) {
  ASSERT_TRUE(Release(false, false));
  const InstallerContext& context = InstallerContext::Instance();
  WriteFileBytes(context.installDir + "\\morvantis v9.5.exe", "the old terminal");
  DeleteFileW(GbkToWide(store.RootWindows() + "\\" + kPrefix + "\\config.zip").c_str());
  EXPECT_EQ(Install(), 0u);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), std::make_pair(WM_INSTALL_FAILED, static_cast<LPARAM>(kStepDownloadConfig)));
  EXPECT_EQ(Values(WM_INSTALL_DONE).size(), 0u);
  std::vector<std::string> lines = InstallLogLines(context.logDir);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], std::string(kPrefix) + "/config.zip,文件不存在");
  EXPECT_EQ(lines[lines.size() - 2], "无法读取对象信息：" + std::string(kPrefix) + "/config.zip：404 HTTP status 404 (错误码 404)");
  EXPECT_EQ(lines.back(), "下载配置文件失败");
  EXPECT_EQ(ReadFileBytes(context.installDir + "\\morvantis v9.5.exe"), "the old terminal");
  EXPECT_TRUE(store.Requests("GET", std::string(kPrefix) + "/config.zip").empty());
}

namespace {
// What a person or a peer can observe of a run: the log lines without their stamps, and
// the messages with each run of progress reduced to its last value (how often a download
// reports depends on how the bytes arrive).
std::vector<std::string> Observed(const std::vector<std::string>& lines, const std::vector<std::pair<UINT, LPARAM>>& messages) {
  std::vector<std::string> seen(lines);
  for (size_t i = 0; i < messages.size(); ++i) {
    if (messages[i].first == WM_INSTALL_PROGRESS && i + 1 < messages.size() && messages[i + 1].first == WM_INSTALL_PROGRESS)
      continue;
    seen.push_back(std::to_string(messages[i].first - WM_USER) + ":" + std::to_string(messages[i].second));
  }
  return seen;
}
}  // namespace

TEST_F(WorkerRun, UnpackingAheadShowsExactlyTheSequenceOfUnpackingAtEachStep) {
  const InstallerContext& context = InstallerContext::Instance();
  for (bool optional : {false, true}) {
    SCOPED_TRACE(optional ? "with quant and securities information" : "without optional packages");
    ASSERT_TRUE(Release(optional, optional));
    std::vector<std::string> runs[2];
    std::vector<std::string> trees[2];
    for (bool ahead : {false, true}) {
      ShellDeletePath(context.installDir.c_str());
      client.unpackAhead = ahead;
      ASSERT_EQ(Install(), 1u);
      EXPECT_EQ(client.unpackQueue, nullptr);
      runs[ahead] = Observed(InstallLogLines(context.logDir), messages);
      trees[ahead] = ListFilesRecursive(context.installDir);
    }
    EXPECT_EQ(runs[1], runs[0]);
    // The same tree, the log file's own (time-stamped) name aside.
    ASSERT_EQ(trees[1].size(), trees[0].size());
    for (size_t i = 0; i < trees[0].size(); ++i) {
      if (trees[0][i].rfind("morvantislog\\", 0) != 0) {
        EXPECT_EQ(trees[1][i], trees[0][i]);
      }
    }
  }
}

TEST_F(WorkerRun, AbortForAFileInUseEndsTheRunAtItsPackagesStepAsWithoutUnpackingAhead) {
  ASSERT_TRUE(Release(false, false));
  const InstallerContext& context = InstallerContext::Instance();
  const std::string held = context.tempDir + "\\bin\\mvlauncher.dll";
  std::atomic<int> asked{0};
  // As an unattended run answers: the box's text goes to the log, the answer is Abort.
  SetMessageBoxResponderForTesting([&](const MessageBoxRequest& request) {
    ++asked;
    InstallLog::Write(("box: " + WideToGbk(request.text, 4096)).c_str());
    return (request.type & MB_TYPEMASK) == MB_ABORTRETRYIGNORE ? IDABORT : IDOK;
  });
  std::vector<std::string> runs[2];
  for (bool ahead : {false, true}) {
    InstallLog::Close();  // a failed run leaves it to the window
    ShellDeletePath(context.installDir.c_str());
    client.unpackAhead = ahead;
    std::unique_ptr<FileHolder> holder;
    EXPECT_EQ(Install([&] {
                WriteFileBytes(held, "in use");
                holder.reset(new FileHolder(held));
              }),
              0u);
    ASSERT_TRUE(holder && holder->Holding());
    holder.reset();
    EXPECT_EQ(messages.back(), std::make_pair(WM_INSTALL_FAILED, static_cast<LPARAM>(kStepUnpackBase)));
    // Nothing of a later package is written after Abort.
    EXPECT_FALSE(FileExists(context.tempDir + "\\bin\\runtime.ver"));
    runs[ahead] = Observed(InstallLogLines(context.logDir), messages);
  }
  SetMessageBoxResponderForTesting(nullptr);
  EXPECT_EQ(asked.load(), 2);
  EXPECT_EQ(runs[1], runs[0]);
  ASSERT_GE(runs[1].size(), 4u);
  EXPECT_EQ(std::count_if(runs[1].begin(), runs[1].end(),
                          [](const std::string& line) {
                            return line.rfind("box: ", 0) == 0 && line.find("mvlauncher.dll") != std::string::npos;
                          }),
            1);
  // The cause names the entry, the file and the sharing violation.
  EXPECT_EQ(std::count(runs[1].begin(), runs[1].end(),
                       "无法写入文件，已终止：" + context.tempDir + "/base.zip 中的 bin/mvlauncher.dll，" + held + " (错误码 32)"),
            1);
}

TEST_F(WorkerRun, CorruptRuntimePackageFailsWithStep9AfterTheBaseWasUnpacked) {
  ASSERT_TRUE(Release(false, false));
  const InstallerContext& context = InstallerContext::Instance();
  WriteFileBytes(context.installDir + "\\morvantis v9.5.exe", "the old terminal");
  const std::vector<std::string> before = ListFilesRecursive(context.installDir);
  ReleaseManifest manifest{};
  ReadReleaseManifest(manifest, (store.RootWindows() + "\\" + kPrefix + "\\summary.ini").c_str(), "602731");
  store.PutObject(std::string(kPrefix) + "/fix/" + manifest.fixVersion + ".zip", "this is not a zip archive");
  ASSERT_TRUE(SignRelease(store.RootWindows()));  // as published: it is the archive that is broken
  EXPECT_EQ(Install(), 0u);
  EXPECT_EQ(Values(WM_INSTALL_STEP), (std::vector<LPARAM>{kStepDownloadBase, kStepDownloadConfig, kStepDownloadRuntime,
                                                          kStepUnpackBase, kStepUnpackRuntime}));
  EXPECT_EQ(messages.back(), std::make_pair(WM_INSTALL_FAILED, static_cast<LPARAM>(kStepUnpackRuntime)));
  const std::vector<std::string> lines = InstallLogLines(context.logDir);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "安装运行库");
  // The cause, at the package's own step before its failure line.
  EXPECT_EQ(lines[lines.size() - 2], "压缩包已损坏：" + context.tempDir + "/" + manifest.fixVersion + ".zip (错误码 -103)");
  EXPECT_EQ(lines.back(), "安装运行库失败");
  std::vector<std::string> after = ListFilesRecursive(context.installDir);
  after.erase(std::remove_if(after.begin(), after.end(), [](const std::string& p) { return p.rfind("morvantislog\\", 0) == 0; }),
              after.end());
  EXPECT_EQ(after, before);
  EXPECT_EQ(ReadFileBytes(context.installDir + "\\morvantis v9.5.exe"), "the old terminal");
  // The base is staged; the configuration package, unpacked after the runtime, is not.
  EXPECT_TRUE(FileExists(context.tempDir + "\\morvantis v9.5.exe"));
  EXPECT_FALSE(FileExists(context.tempDir + "\\config\\hotkeys.ini"));
}

TEST_F(WorkerRun, CorruptConfigurationPackageFailsWithStep8AfterTheRuntimeWasUnpacked) {
  ASSERT_TRUE(Release(true, false));
  const InstallerContext& context = InstallerContext::Instance();
  store.PutObject(std::string(kPrefix) + "/config.zip", "PK\x03\x04 but not a zip archive");
  ASSERT_TRUE(SignRelease(store.RootWindows()));
  EXPECT_EQ(Install(), 0u);
  // Every download goes on as before; the failure waits for the package's own step.
  EXPECT_EQ(Values(WM_INSTALL_STEP),
            (std::vector<LPARAM>{kStepDownloadBase, kStepDownloadConfig, kStepDownloadRuntime, kStepDownloadQuant,
                                 kStepUnpackBase, kStepUnpackRuntime, kStepUnpackConfig}));
  EXPECT_EQ(messages.back(), std::make_pair(WM_INSTALL_FAILED, static_cast<LPARAM>(kStepUnpackConfig)));
  EXPECT_EQ(InstallLogLines(context.logDir).back(), "安装配置文件失败");
  EXPECT_TRUE(FileExists(context.tempDir + "\\bin\\runtime.ver"));
  EXPECT_FALSE(FolderExists(context.tempDir + "\\quant"));  // after the failed package: nothing
  EXPECT_FALSE(FileExists(context.installDir + "\\update.ini"));
}

TEST_F(WorkerRun, FileInSeveralPackagesHoldsTheContentOfTheLastOneInUnpackingOrder) {
  ASSERT_TRUE(Release(true, true));
  const InstallerContext& context = InstallerContext::Instance();
  // The same two files in every package, each naming its package; the securities
  // information package unpacks below Server\config\BaseData. Info-ZIP adds them and keeps
  // the packages' own GBK names byte for byte (Python's zipfile would rewrite them).
  const std::string script = R"sh(set -e
cd "$1"
add() {  # add ARCHIVE CONTENT NAME...
  archive=$(realpath "$1"); content=$2; shift 2
  work=$(mktemp -d)
  for name in "$@"; do mkdir -p "$work/$(dirname "$name")"; printf %s "$content" >"$work/$name"; done
  (cd "$work" && zip -q "$archive" "$@")
  rm -rf "$work"
}
add base.zip base bin/shared.ini Server/config/BaseData/shared.dat
for f in fix/*.zip; do add "$f" runtime bin/shared.ini Server/config/BaseData/shared.dat; done
add config.zip config bin/shared.ini Server/config/BaseData/shared.dat
for f in quant/*.zip; do add "$f" quant bin/shared.ini Server/config/BaseData/shared.dat; done
add CspAccessApi.StockInfo.pub.zip stock shared.dat
)sh";
  const std::string scriptPath = root / "overlap.sh";
  ASSERT_TRUE(WriteFileBytes(scriptPath, script));
  ProcessResult made = RunShellScript("bash '" + WindowsToUnixPath(scriptPath) + "' '" +
                                      WindowsToUnixPath(store.RootWindows() + "\\" + kPrefix) + "'");
  ASSERT_EQ(made.exitCode, 0u);
  ASSERT_TRUE(SignRelease(store.RootWindows()));
  EXPECT_EQ(Install(), 1u);
  EXPECT_EQ(ReadFileBytes(context.installDir + "\\bin\\shared.ini"), "quant");
  EXPECT_EQ(ReadFileBytes(context.installDir + "\\Server\\config\\BaseData\\shared.dat"), "stock");
}

TEST_F(WorkerRun, FileInTheWayOfTheInstallationFolderFailsWithStep11AndStays) {
  ASSERT_TRUE(Release(false, false));
  InstallerContext& context = InstallerContext::Instance();
  // A file where the installation folder should be (the window removes it before the
  // worker runs; the worker alone must not touch it).
  context.logDir = root / "logs";
  WriteFileBytes(context.installDir, "a file in the way");
  EXPECT_EQ(Install(), 0u);
  EXPECT_EQ(messages.back(), std::make_pair(WM_INSTALL_FAILED, static_cast<LPARAM>(kStepFilesHeld)));
  EXPECT_EQ(Values(WM_INSTALL_DONE).size(), 0u);
  EXPECT_EQ(InstallLogLines(context.logDir).back(), "安装失败：文件被占用");
  EXPECT_EQ(ReadFileBytes(context.installDir), "a file in the way");
  // The staged release stays for the clean-up at exit.
  EXPECT_TRUE(FileExists(context.tempDir + "\\update.ini"));
}

TEST_F(WorkerRun, FileHeldInTheOldInstallationFailsWithStep11LosesNothingAndRegistersNothing) {
  ASSERT_TRUE(Release(false, false));
  const InstallerContext& context = InstallerContext::Instance();
  EnsureUninstallParentKeys();
  const std::string entryKey = std::string(kUninstallParent64) + "\\Morvantis_602731v9.5";
  DeleteRegistryTree(HKEY_LOCAL_MACHINE, entryKey);
  WriteFileBytes(context.installDir + "\\update.ini", "old record");
  WriteFileBytes(context.installDir + "\\morvantis v9.5.exe", "the old terminal");
  WriteFileBytes(context.installDir + "\\notes\\mine.txt", "the user's own file");
  const std::vector<std::string> before = ListFilesRecursive(context.installDir);
  FileHolder holder(context.installDir + "\\morvantis v9.5.exe");
  ASSERT_TRUE(holder.Holding());
  EXPECT_EQ(Install(), 0u);
  holder.Release();
  EXPECT_EQ(messages.back(), std::make_pair(WM_INSTALL_FAILED, static_cast<LPARAM>(kStepFilesHeld)));
  std::vector<std::string> after = ListFilesRecursive(context.installDir);
  after.erase(std::remove_if(after.begin(), after.end(), [](const std::string& p) { return p.rfind("morvantislog\\", 0) == 0; }),
              after.end());
  EXPECT_EQ(after, before);
  EXPECT_EQ(ReadFileBytes(context.installDir + "\\update.ini"), "old record");
  EXPECT_EQ(ReadFileBytes(context.installDir + "\\morvantis v9.5.exe"), "the old terminal");
  EXPECT_EQ(ReadFileBytes(context.installDir + "\\notes\\mine.txt"), "the user's own file");
  EXPECT_FALSE(FolderExists(AsideFolder(context.installDir)));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, entryKey));
  const std::vector<std::string> lines = InstallLogLines(context.logDir);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "URL Schemes: Start"), 0);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "移动失败：" + context.installDir + "\\morvantis v9.5.exe (错误码 32)");
  EXPECT_EQ(lines[lines.size() - 2], "原安装目录已恢复");
  EXPECT_EQ(lines.back(), "安装失败：文件被占用");
}

TEST_F(WorkerRun, EntryThatCannotBeMovedIntoPlaceIsCopiedAndMerged) {
  ASSERT_TRUE(Release(false, false));
  const InstallerContext& context = InstallerContext::Instance();
  WriteFileBytes(context.installDir + "\\stale.dll", "old");
  // A package that brings its own log folder: that entry meets the open log folder and
  // cannot be moved, so it is copied into it while the rest moves.
  EXPECT_EQ(Install([&] { WriteFileBytes(context.tempDir + "\\morvantislog\\from-package.txt", "packaged"); }), 1u);
  EXPECT_EQ(messages.back().first, WM_INSTALL_DONE);
  EXPECT_EQ(ReadFileBytes(context.installDir + "\\morvantislog\\from-package.txt"), "packaged");
  EXPECT_FALSE(FileExists(context.installDir + "\\stale.dll"));
  EXPECT_TRUE(FileExists(context.installDir + "\\morvantis v9.5.exe"));
  EXPECT_TRUE(FileExists(context.installDir + "\\update.ini"));
  EXPECT_FALSE(FolderExists(context.tempDir));
}

TEST_F(WorkerRun, CleanStagingRemovesOnlyTheDownloadedArchives) {
  const InstallerContext& context = InstallerContext::Instance();
  strcpy(client.manifest.fixVersion, "9.5.9.1");
  for (const char* name : {"summary.ini", "base.zip", "config.zip", "9.5.9.1.zip", ".zip", "CspAccessApi.StockInfo.pub.zip",
                           "unpacked.dll", "config\\morvantis.Default.pub"}) {
    WriteFileBytes(context.tempDir + "\\" + name, "x");
  }
  CleanStaging(client);
  EXPECT_EQ(ListFilesRecursive(context.tempDir), (std::vector<std::string>{"config\\morvantis.Default.pub", "unpacked.dll"}));
  ShellDeletePath(context.tempDir.c_str());
}

namespace {
// The headless driver (the window's own steps, then the worker) started as its own
// process, the way a user starts the installer from a download folder.
class DriverRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.Start());
    SampleReleaseOptions options;
    options.quant = false;
    options.stock = false;
    ASSERT_TRUE(BuildSampleRelease(store.RootWindows(), options));
  }
  // Runs the driver from `folder` with `current` as its current folder; its exit code.
  DWORD RunFrom(const std::string& folder, const std::string& current, const std::string& chosenRoot) {
    const std::string installer = folder + "\\MorvantisSetup.exe";
    CopyFileW(GbkToWide(BinaryPath("test-programs\\install_driver.exe")).c_str(), GbkToWide(installer).c_str(), FALSE);
    ProcessResult result = RunProcess(L"\"" + GbkToWide(installer) + L"\" --root \"" + GbkToWide(chosenRoot) +
                                          L"\" --endpoint " + GbkToWide(store.Endpoint()),
                                      {}, 300000, GbkToWide(current));
    return result.started && !result.timedOut ? result.exitCode : 255;
  }
  std::vector<std::string> InstalledFiles(const std::string& installDir) {
    std::vector<std::string> files = ListFilesRecursive(installDir);
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const std::string& p) { return p.rfind("morvantislog\\", 0) == 0 || p == "update.ini"; }),
                files.end());
    return files;
  }

  LocalStore store;
  ScratchFolder scratch{"driver"};
};

// A command shell and a copy program planted beside the installer and in its current
// folder: found first by any search, they leave a marker when started.
void PlantShells(const std::string& folder) {
  const std::wstring marker = GbkToWide(BinaryPath("test-programs\\planted_marker.exe"));
  for (const char* name : {"cmd.exe", "xcopy.exe"}) CopyFileW(marker.c_str(), GbkToWide(folder + "\\" + name).c_str(), FALSE);
  WriteFileBytes(folder + "\\XCOPY.bat", "@echo ran> \"%~dp0XCOPY.bat.ran\"\r\n");
}
}  // namespace

TEST_F(DriverRun, AnotherVolumeAndAShellLikeFolderNameGetTheReleaseWithoutAnyShell) {
  SecondVolume volume;
  if (!volume.Ready()) GTEST_SKIP() << volume.WhyNot();
  const std::string downloads = scratch / "Downloads";
  const std::string current = scratch / "current";
  PlantShells(downloads);
  PlantShells(current);
  const std::string chosen = volume / "a %USERNAME% & b ^ c's %CMDCMDLINE%";
  CreateDirectoryW(GbkToWide(chosen).c_str(), nullptr);
  const std::string installDir = chosen + "\\MOrvantis602731v9.5";
  WriteFileBytes(installDir + "\\mine.txt", "the user's own file, gone with the old version");
  EXPECT_EQ(RunFrom(downloads, current, chosen), 0u);
  EXPECT_EQ(InstalledFiles(installDir), ExpectedInstalledTree(store.RootWindows()));
  EXPECT_TRUE(FileExists(installDir + "\\update.ini"));
  EXPECT_FALSE(FolderExists(AsideFolder(installDir)));
  for (const std::string& folder : {downloads, current}) {
    for (const char* marker : {"cmd.exe.ran", "xcopy.exe.ran", "XCOPY.bat.ran"}) {
      EXPECT_FALSE(FileExists(folder + "\\" + marker)) << folder << "\\" << marker;
    }
  }
}

TEST_F(DriverRun, FileWhereTheInstallationFolderBelongsIsReplacedByTheInstallation) {
  const std::string installDir = scratch / "MOrvantis602731v9.5";
  WriteFileBytes(installDir, "a stray file");
  EXPECT_EQ(RunFrom(scratch.Path(), scratch.Path(), scratch.Path()), 0u);
  ASSERT_TRUE(FolderExists(installDir));
  EXPECT_EQ(InstalledFiles(installDir), ExpectedInstalledTree(store.RootWindows()));
}

// Signed releases: every run below is keyed to the demonstration key, whatever this
// build's own key, and serves a release signed with it unless the test says otherwise.
class SignedRun : public WorkerRun {
 protected:
  void SetUp() override {
    WorkerRun::SetUp();
    releaseKey = DemoReleasePublicKey();
    ASSERT_EQ(releaseKey.size(), 64u);
    const InstallerContext& context = InstallerContext::Instance();
    WriteFileBytes(context.installDir + "\\morvantis v9.5.exe", "the old terminal");
    for (const char* parent : {kUninstallParent64, kUninstallParentNative}) DeleteRegistryTree(HKEY_LOCAL_MACHINE, std::string(parent) + "\\" + kEntry);
  }
  bool SignedRelease(bool quant, bool stock) { return Release(quant, stock) && SignRelease(store.RootWindows()); }
  std::string Object(const std::string& name) const { return store.RootWindows() + "\\" + kPrefix + "\\" + name; }
  void EditList(const std::function<std::string(const std::string&)>& edit, const std::string& privateKey) {
    const std::string list = Object("release.sha256");
    WriteFileBytes(list, edit(ReadFileBytes(list)));
    RunShellScript("openssl dgst -sha256 -sign '" + privateKey + "' -out '" + WindowsToUnixPath(list + ".sig") + "' '" +
                   WindowsToUnixPath(list) + "'");
  }
  // What a refused run must leave: the old installation as it was, nothing staged from the
  // refused package (packages that passed before it may be unpacked ahead; the staging
  // folder goes at exit), nothing registered, and a log ending in the check's line and
  // the step's.
  void ExpectRefused(const std::string& checkLine, const std::string& stepLine, const std::string& refusedFile) {
    const InstallerContext& context = InstallerContext::Instance();
    EXPECT_EQ(ReadFileBytes(context.installDir + "\\morvantis v9.5.exe"), "the old terminal");
    EXPECT_FALSE(FileExists(context.installDir + "\\update.ini"));
    EXPECT_FALSE(FileExists(context.tempDir + "\\" + refusedFile));
    if (stepLine.empty()) {  // refused before any package
      EXPECT_EQ(ListFilesRecursive(context.tempDir), std::vector<std::string>{"summary.ini"});
    }
    for (const char* parent : {kUninstallParent64, kUninstallParentNative}) {
      EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, std::string(parent) + "\\" + kEntry));
    }
    std::vector<std::string> lines = InstallLogLines(context.logDir);
    ASSERT_GE(lines.size(), stepLine.empty() ? 1u : 2u);
    // A list or signature that could not be fetched adds the store's cause after the check.
    auto check = std::find_if(lines.rbegin(), lines.rend(),
                              [](const std::string& line) { return line.rfind("Release check failed: ", 0) == 0; });
    ASSERT_NE(check, lines.rend());
    EXPECT_EQ(check->rfind("Release check failed: " + checkLine, 0), 0u) << *check;
    if (!stepLine.empty()) {
      EXPECT_EQ(lines.back(), stepLine);
    }
  }
  static constexpr char kUninstallParentNative[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  static constexpr char kEntry[] = "Morvantis_602731v9.5";
};

TEST_F(SignedRun, SignedReleaseInstallsWithTheSamePercentagesAsAnUnsignedOne) {
  ASSERT_TRUE(SignedRelease(true, true));
  EXPECT_EQ(Install(), 1u);
  EXPECT_EQ(messages.back().first, WM_INSTALL_DONE);
  EXPECT_EQ(store.Requests("GET", std::string(kPrefix) + "/release.sha256").size(), 1u);
  EXPECT_EQ(store.Requests("GET", std::string(kPrefix) + "/release.sha256.sig").size(), 1u);
  auto signedManifest = manifestMessages;
  auto signedRun = messages;

  // The same release without list and signature, installed by a build without a key.
  DeleteFileW(GbkToWide(Object("release.sha256")).c_str());
  DeleteFileW(GbkToWide(Object("release.sha256.sig")).c_str());
  releaseKey.clear();
  EXPECT_EQ(Install(), 1u);
  EXPECT_EQ(messages.back().first, WM_INSTALL_DONE);
  EXPECT_EQ(manifestMessages, signedManifest);
  EXPECT_EQ(messages, signedRun);
}

TEST_F(SignedRun, BuildWithoutAKeyInstallsAnUnsignedRelease) {
  ASSERT_TRUE(Release(false, false));
  DeleteFileW(GbkToWide(Object("release.sha256")).c_str());
  DeleteFileW(GbkToWide(Object("release.sha256.sig")).c_str());
  releaseKey.clear();
  EXPECT_EQ(Install(), 1u);
  EXPECT_EQ(messages.back().first, WM_INSTALL_DONE);
  EXPECT_TRUE(store.Requests("GET", std::string(kPrefix) + "/release.sha256").empty());
  EXPECT_NE(ReadFileBytes(InstallerContext::Instance().installDir + "\\morvantis v9.5.exe"), "the old terminal");
}

TEST_F(SignedRun, PackageReplacedByAnotherValidZipFailsAtItsDownloadStep) {
  ASSERT_TRUE(SignedRelease(false, false));
  // The store serves it with a CRC-64 and length of its own: only the list can tell.
  store.PutObject(std::string(kPrefix) + "/config.zip", ReadFileBytes(Object("base.zip")));
  EXPECT_EQ(Install(), 0u);
  EXPECT_EQ(messages.back(), std::make_pair(WM_INSTALL_FAILED, static_cast<LPARAM>(kStepDownloadConfig)));
  EXPECT_TRUE(Values(WM_INSTALL_DONE).empty());
  ExpectRefused(std::string(kPrefix) + "/config.zip has SHA-256 ", "下载配置文件失败", "config\\hotkeys.ini");
  EXPECT_FALSE(FileExists(InstallerContext::Instance().tempDir + "\\config.zip"));
}

TEST_F(SignedRun, ListWithoutTheStockPackageFailsAtItsStepWithoutRequestingIt) {
  ASSERT_TRUE(SignedRelease(false, true));
  const std::string stockKey = std::string(kPrefix) + "/CspAccessApi.StockInfo.pub.zip";
  EditList([&](const std::string& list) {
    std::istringstream lines(list);
    std::string line, kept;
    while (std::getline(lines, line)) {
      if (line.size() <= 66 || line.substr(66) != stockKey) kept += line + "\n";
    }
    return kept;
  }, DemoReleasePrivateKey());
  EXPECT_EQ(Install(), 0u);
  EXPECT_EQ(messages.back(), std::make_pair(WM_INSTALL_FAILED, static_cast<LPARAM>(kStepDownloadStock)));
  ExpectRefused(stockKey + " is not in the signed list", "下载证券信息配置文件失败",
                "Server\\config\\BaseData\\HK\\StockList.dat");
  EXPECT_TRUE(store.Requests("HEAD", stockKey).empty());
  EXPECT_TRUE(store.Requests("GET", stockKey).empty());
}

TEST_F(SignedRun, ManifestThatTheSignedListDoesNotVouchForFailsBeforeAnyPackage) {
  ASSERT_TRUE(SignedRelease(false, false));
  const std::string listKey = std::string(kPrefix) + "/release.sha256";
  const std::string summary = ReadFileBytes(Object("summary.ini"));
  ScratchFolder keys("keys");
  const std::string otherKey = MakeOtherReleaseKey(keys.Path());
  struct Case {
    const char* what;
    std::function<void()> tamper;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"tampered manifest", [&] { WriteFileBytes(Object("summary.ini"), summary + "[quant]\r\n602731=evil\r\n"); },
       std::string(kPrefix) + "/summary.ini has SHA-256 "},
      {"signature by another key", [&] { EditList([](const std::string& list) { return list; }, otherKey); },
       listKey + ".sig does not match " + listKey},
      {"truncated signature",
       [&] { WriteFileBytes(Object("release.sha256.sig"), ReadFileBytes(Object("release.sha256.sig")).substr(0, 40)); },
       listKey + ".sig is not a DER-encoded ECDSA P-256 signature"},
      {"list changed after signing",
       [&] { WriteFileBytes(Object("release.sha256"), ReadFileBytes(Object("release.sha256")) + "\n"); },
       listKey + ".sig does not match " + listKey},
      {"malformed list", [&] { EditList([](const std::string& list) { return "SHA256 " + list; }, DemoReleasePrivateKey()); },
       listKey + " is malformed: line 1 "},
      {"missing list", [&] { DeleteFileW(GbkToWide(Object("release.sha256")).c_str()); }, listKey + " cannot be fetched: NoSuchKey"},
  };
  for (const Case& tampered : cases) {
    SCOPED_TRACE(tampered.what);
    ASSERT_TRUE(SignedRelease(false, false));
    tampered.tamper();
    ShellDeletePath(InstallerContext::Instance().logDir.c_str());
    const size_t before = store.AccessLog().size();
    EXPECT_EQ(Install(), 99u);  // the failure page of step 0
    ExpectRefused(tampered.line, "", "morvantis v9.5.exe");
    auto log = store.AccessLog();
    for (size_t i = before; i < log.size(); ++i) {
      const std::string& key = log[i]["key"];
      EXPECT_TRUE(key == std::string(kPrefix) + "/summary.ini" || key.rfind(listKey, 0) == 0) << key;
    }
    InstallLog::Close();
  }
}
