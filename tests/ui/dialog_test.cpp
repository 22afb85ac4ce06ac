#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <thread>
#include <vector>

#include "base/context.h"
#include "app/startup.h"
#include "install/messages.h"
#include "support/file_system_fixtures.h"
#include "support/sample_release.h"
#include "support/store_local_store.h"
#include "support/test_support.h"
#include "system/install_lock.h"
#include "system/install_log.h"
#include "system/message_box.h"
#include "base/text.h"
#include "ui/dialog.h"
#include "ui/ui_text.h"
#include "window_fixture.h"

using namespace testing_support;
using namespace ui_testing;

namespace {
constexpr COLORREF kButtonFill = RGB(165, 21, 16);
constexpr COLORREF kButtonHover = RGB(125, 13, 7);

// The real dialog, opened as the entry point opens it, installing into a scratch folder
// from a key prefix no store holds (so a running local store is never reached).
class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitLocaleAndFonts();
    SetMessageBoxResponderForTesting([this](const MessageBoxRequest& request) {
      boxes.push_back(request);
      return boxAnswer;
    });
    ASSERT_TRUE(OpenPopup(dialog));
    dialog.keyPrefix = "absent-release-prefix";
    InstallerContext& context = InstallerContext::Instance();
    context.installDir = scratch / "MOrvantis602731v9.5";
    context.logDir = context.installDir + "\\morvantislog";
    context.tempDir = context.installDir + "temp";
    Pump();
  }
  void TearDown() override {
    if (dialog.hwnd != nullptr) DestroyWindow(dialog.hwnd);
    Pump();
    InstallLog::Close();
    SetMessageBoxResponderForTesting(nullptr);
    ReleaseSharedDrawingObjects();
  }
  void ClickAt(int x, int y, WPARAM keys = MK_LBUTTON) {
    PointAt(dialog.hwnd, x, y);
    SendMessageW(dialog.hwnd, WM_LBUTTONDOWN, keys, MAKELPARAM(x, y));
    SendMessageW(dialog.hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  }
  void Send(UINT message, LPARAM lParam) { SendMessageW(dialog.hwnd, message, 0, lParam); }
  // As StartInstall leaves it once the worker runs (without one being started).
  void PretendInstalling() {
    dialog.page = PageInstalling;
    MoveWindow(dialog.progressBar->hwnd, 34, 260, 434, 15, FALSE);
  }
  bool DragPosted() {
    MSG found;
    return PeekMessageW(&found, dialog.hwnd, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE) != FALSE;
  }

  CursorLock cursorLock;
  ScratchFolder scratch{"dialog"};
  TMorvantisDlg dialog;
  std::vector<MessageBoxRequest> boxes;
  int boxAnswer = IDCANCEL;
};
}  // namespace

TEST_F(DialogTest, CreationSetsTitleIconBarHandleAndPaths) {
  wchar_t title[32] = {};
  GetWindowTextW(dialog.hwnd, title, 32);
  EXPECT_STREQ(title, L"Morvantis");
  EXPECT_EQ(dialogWindow, dialog.hwnd);
  EXPECT_NE(SendMessageW(dialog.hwnd, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageW(dialog.hwnd, WM_GETICON, ICON_SMALL, 0), 0);
  ASSERT_TRUE(dialog.progressBar);
  EXPECT_EQ(GetParent(dialog.progressBar->hwnd), dialog.hwnd);
  RECT bar{};
  GetClientRect(dialog.progressBar->hwnd, &bar);
  EXPECT_EQ(bar.right, 0);  // zero-sized until an installation starts
  RECT client{};
  GetClientRect(dialog.hwnd, &client);
  EXPECT_EQ(client.right, 500);
  EXPECT_EQ(client.bottom, 310);
  EXPECT_EQ(dialog.actionRect.top, 202);  // laid out by the resize
  EXPECT_EQ(dialog.page, PageStart);
  EXPECT_TRUE(dialog.defaultView);
}

TEST_F(DialogTest, CustomLinkTogglesTheViewAndBrowseOnlyActsInTheCustomView) {
  ClickAt(440, 300);
  EXPECT_FALSE(dialog.defaultView);
  ClickAt(440, 300);
  EXPECT_TRUE(dialog.defaultView);
  // In the default view the Browse spot is a free spot: it drags, no picker opens.
  ClickAt(445, 167);
  EXPECT_TRUE(DragPosted());
  EXPECT_TRUE(dialog.defaultView);
}

TEST_F(DialogTest, HoverColoursFollowTheCursorAndLeavingClearsThemAll) {
  EXPECT_EQ(PaintedPixel(dialog.hwnd, 204, 206), kButtonFill);
  PointAt(dialog.hwnd, 250, 220);
  Send(WM_MOUSEMOVE, 0);
  EXPECT_TRUE(dialog.actionHover);
  EXPECT_EQ(PaintedPixel(dialog.hwnd, 204, 206), kButtonHover);
  PointAt(dialog.hwnd, 488, 12);
  Send(WM_MOUSEMOVE, 0);
  EXPECT_FALSE(dialog.actionHover);
  EXPECT_TRUE(dialog.closeHover);
  EXPECT_EQ(PaintedPixel(dialog.hwnd, 484, 8), RGB(150, 150, 150));
  Send(WM_MOUSELEAVE, 0);
  EXPECT_FALSE(dialog.closeHover);
  EXPECT_FALSE(dialog.browseHover);
  EXPECT_EQ(PaintedPixel(dialog.hwnd, 484, 8), RGB(231, 231, 231));
}

TEST_F(DialogTest, CancelledReinstallWarningLeavesTheStartPage) {
  const std::string& installDir = InstallerContext::Instance().installDir;
  ASSERT_TRUE(WriteFileBytes(installDir + "\\keep.txt", "old"));
  ClickAt(250, 220);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, UiText::ReinstallWarning());
  EXPECT_EQ(boxes[0].caption, UiText::WarningTitle());
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OKCANCEL));
  EXPECT_EQ(boxes[0].owner, dialog.hwnd);
  EXPECT_EQ(dialog.page, PageStart);
  EXPECT_FALSE(FolderExists(InstallerContext::Instance().tempDir));
  EXPECT_FALSE(FolderExists(InstallerContext::Instance().logDir));
  EXPECT_EQ(ReadFileBytes(installDir + "\\keep.txt"), "old");
}

TEST_F(DialogTest, ASecondCopyIsRefusedWithABoxAndTouchesNothing) {
  InstallerContext& context = InstallerContext::Instance();
  ASSERT_TRUE(WriteFileBytes(context.tempDir + "\\theirs.zip", "the other copy's download"));
  // Another copy installing: a thread holds the lock for the same staging folder.
  ScopedHandle taken(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ScopedHandle letGo(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread otherCopy([&] {
    InstallLock lock;
    if (lock.Acquire(context.tempDir)) SetEvent(taken.Get());
    WaitForSingleObject(letGo.Get(), 30000);
  });
  ASSERT_EQ(WaitForSingleObject(taken.Get(), 10000), WAIT_OBJECT_0);
  ClickAt(250, 220);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, UiText::AnotherInstallation());
  EXPECT_EQ(boxes[0].caption, UiText::WarningTitle());
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(boxes[0].owner, dialog.hwnd);
  EXPECT_EQ(dialog.page, PageStart);
  EXPECT_EQ(ReadFileBytes(context.tempDir + "\\theirs.zip"), "the other copy's download");
  EXPECT_FALSE(FolderExists(context.logDir));
  EXPECT_FALSE(InstallLog::IsOpen());

  // Once the other copy has ended, Install goes ahead (and fails here: no store holds the release).
  SetEvent(letGo.Get());
  otherCopy.join();
  ClickAt(250, 220);
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(dialog.page, PageFailed);
  EXPECT_FALSE(FileExists(context.tempDir + "\\theirs.zip"));
}

TEST_F(DialogTest, MissingManifestShowsTheFailurePageAndClosesTheLog) {
  InstallerContext& context = InstallerContext::Instance();
  ASSERT_TRUE(WriteFileBytes(context.installDir + "\\keep.txt", "old"));
  ASSERT_TRUE(WriteFileBytes(context.tempDir + "\\stale.zip", "stale"));
  boxAnswer = IDOK;
  ClickAt(250, 220);
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_EQ(dialog.page, PageFailed);
  EXPECT_EQ(dialog.statusText, std::wstring(UiText::StepName(kStepFetchManifest)) + UiText::MainText(6));
  EXPECT_FALSE(InstallLog::IsOpen());
  EXPECT_TRUE(FolderExists(context.tempDir));  // made anew; the entry point removes it at exit
  EXPECT_FALSE(FileExists(context.tempDir + "\\stale.zip"));
  std::vector<std::string> logs = ListFilesRecursive(context.logDir);
  ASSERT_EQ(logs.size(), 1u);
  std::string log = ReadFileBytes(context.logDir + "\\" + logs[0]);
  EXPECT_NE(log.find("Version: IE_9.5.9.1"), std::string::npos);
  EXPECT_NE(log.find("用户点击安装，安装开始..."), std::string::npos);
  EXPECT_EQ(ReadFileBytes(context.installDir + "\\keep.txt"), "old");
  // The failure page has its close box again.
  ClickAt(488, 12);
  EXPECT_FALSE(dialog.running);
  EXPECT_EQ(dialog.hwnd, nullptr);
}

TEST_F(DialogTest, LinkedInstallationOrStagingFolderStopsWithNothingTouched) {
  InstallerContext& context = InstallerContext::Instance();
  ScratchFolder elsewhere("dialog-link-target");
  ASSERT_TRUE(WriteFileBytes(elsewhere / "precious.txt", "not the installer's"));
  boxAnswer = IDOK;
  const std::wstring failure = std::wstring(UiText::StepName(kStepFilesHeld)) + UiText::MainText(6);

  // The installation folder is a link: its log folder would be behind it, so no log.
  ASSERT_TRUE(MakeSymbolicLink(elsewhere.Path(), context.installDir));
  ClickAt(250, 220);
  EXPECT_EQ(boxes.size(), 1u);  // the reinstall warning came first
  EXPECT_EQ(dialog.page, PageFailed);
  EXPECT_EQ(dialog.statusText, failure);
  EXPECT_EQ(ListFilesRecursive(elsewhere.Path()), std::vector<std::string>{"precious.txt"});
  EXPECT_FALSE(FolderExists(context.tempDir));
  RemoveSymbolicLink(context.installDir);

  // The staging folder is a link: the log opens and names it.
  dialog.page = PageStart;
  ASSERT_TRUE(MakeSymbolicLink(elsewhere.Path(), context.tempDir));
  ClickAt(250, 220);
  EXPECT_EQ(dialog.page, PageFailed);
  EXPECT_EQ(dialog.statusText, failure);
  EXPECT_FALSE(InstallLog::IsOpen());
  EXPECT_EQ(InstallLogLines(context.logDir),
            (std::vector<std::string>{"Version: IE_9.5.9.1", "用户点击安装，安装开始...",
                                      "发现链接，安装未做任何改动：" + context.tempDir, "安装失败：文件被占用"}));
  EXPECT_EQ(ListFilesRecursive(elsewhere.Path()), std::vector<std::string>{"precious.txt"});
  RemoveSymbolicLink(context.tempDir);
}

TEST_F(DialogTest, DrippingPackageFailsItsStepAfterTheRetriesWhileTheWindowAnswers) {
  // One byte every 8 seconds on the first package: each attempt ends at its first 10-second
  // window, and after the retries the step fails.
  LocalStore store;
  ASSERT_TRUE(store.Start());
  SampleReleaseOptions options;
  options.quant = options.stock = false;
  ASSERT_TRUE(BuildSampleRelease(store.RootWindows(), options));
  const std::string base = "9.5MOrvantisIE/base.zip";
  store.SetFaults(R"({"9.5MOrvantisIE/base.zip": [{"action": "drip", "interval": 8, "method": "GET"}]})");
  dialog.keyPrefix = "9.5MOrvantisIE";
  dialog.endpoint = store.Endpoint();
  dialog.ConnectStore();
  ClickAt(250, 220);
  ASSERT_EQ(dialog.page, PageInstalling);
  // The window goes on handling its messages (progress, steps, paints) while the
  // worker waits on the store; the test's time limit bounds the whole wait.
  int handled = 0;
  while (dialog.page == PageInstalling) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
    Pump();
    ++handled;
  }
  EXPECT_GT(handled, 1);
  EXPECT_EQ(dialog.page, PageFailed);
  EXPECT_EQ(dialog.statusText, std::wstring(UiText::StepName(kStepDownloadBase)) + UiText::MainText(6));
  auto gets = store.Requests("GET", base);
  ASSERT_EQ(gets.size(), 4u);  // the first attempt and three retries
  for (auto& get : gets) EXPECT_LE(std::stoi(get["bytes"]), 1);
}

TEST_F(DialogTest, WorkerMessagesDriveTheProgressPage) {
  PretendInstalling();
  Send(WM_INSTALL_STEP, kStepDownloadConfig);
  EXPECT_EQ(dialog.statusText, UiText::StepName(kStepDownloadConfig));
  Send(WM_INSTALL_PROGRESS, 40);
  EXPECT_EQ(dialog.progressBar->percent, 40);
  EXPECT_EQ(PaintedPixel(dialog.progressBar->hwnd, 60, 7), RGB(252, 115, 115));
  EXPECT_EQ(PaintedPixel(dialog.hwnd, 250, 300), RGB(255, 255, 255));  // the white band
  Send(WM_INSTALL_STEP, 99);  // an index no table holds names nothing
  EXPECT_EQ(dialog.statusText, L"");
  // Called from another thread, the dialog logs one line and ignores the message.
  InstallLog::Open(InstallerContext::Instance().logDir.c_str());
  std::thread([this] { EXPECT_EQ(dialog.HandleMessage(WM_INSTALL_DONE, 0, 0), 0); }).join();
  EXPECT_EQ(dialog.page, PageInstalling);
  InstallLog::Close();
  std::vector<std::string> lines = InstallLogLines(InstallerContext::Instance().logDir);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], FormatBounded(100, "message 0x%04X off the UI thread: ignored", WM_INSTALL_DONE));
  Send(WM_INSTALL_DONE, 0);
  EXPECT_EQ(dialog.page, PageFinished);
  EXPECT_FALSE(IsWindowVisible(dialog.progressBar->hwnd));
}

TEST_F(DialogTest, FailureIsFinalAndLateProgressCannotReopenIt) {
  InstallLog::Open(InstallerContext::Instance().logDir.c_str());
  PretendInstalling();
  Send(WM_INSTALL_PROGRESS, 30);
  Send(WM_INSTALL_FAILED, kStepDownloadConfig);
  EXPECT_EQ(dialog.page, PageFailed);
  EXPECT_EQ(dialog.statusText, L"下载配置文件失败");
  EXPECT_FALSE(InstallLog::IsOpen());
  Send(WM_INSTALL_PROGRESS, 60);
  Send(WM_INSTALL_STEP, kStepDownloadQuant);
  Send(WM_INSTALL_DONE, 0);
  EXPECT_EQ(dialog.page, PageFailed);
  EXPECT_EQ(dialog.progressBar->percent, 30);  // the bar keeps its last value
  EXPECT_EQ(dialog.statusText, L"下载配置文件失败");
  EXPECT_TRUE(IsWindowVisible(dialog.progressBar->hwnd));
}

TEST_F(DialogTest, WhileInstallingNeitherCloseBoxNorKeyboardCloses) {
  PretendInstalling();
  ClickAt(488, 12);
  EXPECT_FALSE(DragPosted());
  SendMessageW(dialog.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  SendMessageW(dialog.hwnd, WM_CLOSE, 0, 0);
  dialog.OnKeyboardClose();
  EXPECT_TRUE(dialog.running);
  EXPECT_TRUE(IsWindow(dialog.hwnd));
  // A plain press elsewhere still drags; with Ctrl held it does not.
  ClickAt(250, 100, MK_LBUTTON | MK_CONTROL);
  EXPECT_FALSE(DragPosted());
  ClickAt(250, 100);
  EXPECT_TRUE(DragPosted());
  Send(WM_INSTALL_FAILED, kStepUnpackConfig);
  dialog.OnKeyboardClose();
  EXPECT_FALSE(dialog.running);
  EXPECT_EQ(dialog.hwnd, nullptr);
}

TEST_F(DialogTest, CloseBoxWritesTheScalingSettingOnlyOnTheFinishPage) {
  const std::string settingsPath = InstallerContext::Instance().installDir + "\\config\\morvantis.Default.pri";
  ASSERT_TRUE(WriteFileBytes(settingsPath, "[morvantis]\r\nlanguage=2052\r\n"));
  ClickAt(488, 12);
  EXPECT_FALSE(dialog.running);
  EXPECT_EQ(ReadFileBytes(settingsPath).find("awaredpi="), std::string::npos);
}

TEST_F(DialogTest, OpenOnTheFinishPageWritesTheScalingSettingAndCloses) {
  const std::string& installDir = InstallerContext::Instance().installDir;
  ASSERT_TRUE(WriteFileBytes(installDir + "\\config\\morvantis.Default.pri", "[morvantis]\r\nlanguage=2052\r\n"));
  dialog.page = PageFinished;
  ClickAt(250, 220);
  EXPECT_FALSE(dialog.running);
  EXPECT_EQ(dialog.hwnd, nullptr);
  std::string settings = ReadFileBytes(installDir + "\\config\\morvantis.Default.pri");
  EXPECT_NE(settings.find("awaredpi="), std::string::npos) << settings;
}

TEST(DialogApartment, UiThreadIsApartmentThreadedForTheDialogsLife) {
  std::thread([] {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    {
      TMorvantisDlg dialog;
      ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
      EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << type;
    }
    EXPECT_EQ(CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED);

    // A thread already in the multithreaded apartment keeps it after the dialog.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    { TMorvantisDlg dialog; }
    ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_EQ(type, APTTYPE_MTA);
    CoUninitialize();
  }).join();
}
