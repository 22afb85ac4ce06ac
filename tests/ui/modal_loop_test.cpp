#include <gtest/gtest.h>

#include "app/startup.h"
#include "app/modal_loop.h"
#include "install/messages.h"
#include "window_fixture.h"

using namespace ui_testing;

TEST(SearchPath, SeparatorOnlyWhenMissing) {
  const std::optional<std::wstring> root = std::wstring(L"C:\\windows");
  EXPECT_EQ(ExtendedSearchPath(L"C:\\a;C:\\b", root), L"C:\\a;C:\\b;C:\\windows\\system32;");
  EXPECT_EQ(ExtendedSearchPath(L"C:\\a;", root), L"C:\\a;C:\\windows\\system32;");
  EXPECT_EQ(ExtendedSearchPath(L"", root), L"C:\\windows\\system32;");
  EXPECT_EQ(ExtendedSearchPath(L"C:\\a", std::nullopt), L"C:\\a");
  // Appended on every run, even when it is already there.
  EXPECT_EQ(ExtendedSearchPath(L"C:\\windows\\system32;", root), L"C:\\windows\\system32;C:\\windows\\system32;");
}

namespace {
std::wstring Variable(const wchar_t* name) {
  wchar_t buffer[4096] = {};
  DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  return std::wstring(buffer, length);
}

// Restores the two variables the search-path fix reads and writes.
class SearchPathEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    savedPath = Variable(L"Path");
    savedRoot = Variable(L"SystemRoot");
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"Path", savedPath.c_str());
    SetEnvironmentVariableW(L"SystemRoot", savedRoot.empty() ? nullptr : savedRoot.c_str());
  }
  std::wstring savedPath, savedRoot;
};
}  // namespace

TEST_F(SearchPathEnvironment, TheProcessPathGetsTheSystemFolder) {
  SetEnvironmentVariableW(L"Path", L"Z:\\tools");
  SetEnvironmentVariableW(L"SystemRoot", L"C:\\windows");
  FixProcessSearchPath();
  EXPECT_EQ(Variable(L"Path"), L"Z:\\tools;C:\\windows\\system32;");
  SetEnvironmentVariableW(L"Path", nullptr);
  FixProcessSearchPath();
  EXPECT_EQ(Variable(L"Path"), L"C:\\windows\\system32;");
  SetEnvironmentVariableW(L"Path", L"Z:\\tools");
  SetEnvironmentVariableW(L"SystemRoot", nullptr);
  FixProcessSearchPath();
  EXPECT_EQ(Variable(L"Path"), L"Z:\\tools");
}

namespace {
// A dialog with children four levels deep and an unrelated popup.
class LoopFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    InitLocaleAndFonts();
    ASSERT_TRUE(OpenPopup(dialog));
    ASSERT_TRUE(OpenPopup(other));
    HWND parent = dialog.hwnd;
    for (HWND& level : levels) {
      level = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
      parent = level;
    }
  }
  void TearDown() override {
    DestroyWindow(dialog.hwnd);
    DestroyWindow(other.hwnd);
    Pump();
    ReleaseSharedDrawingObjects();
  }
  LoopAction Classify(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    return ClassifyLoopMessage(msg, dialog.hwnd);
  }
  RecordingPopup dialog, other;
  HWND levels[4] = {};
};
}  // namespace

TEST_F(LoopFilter, InputPassesForTheDialogAndThreeLevelsBelowIt) {
  EXPECT_EQ(Classify(dialog.hwnd, WM_LBUTTONDOWN), LoopAction::Dispatch);
  EXPECT_EQ(Classify(levels[0], WM_MOUSEMOVE), LoopAction::Dispatch);
  EXPECT_EQ(Classify(levels[1], WM_KEYDOWN), LoopAction::Dispatch);
  EXPECT_EQ(Classify(levels[2], WM_LBUTTONUP), LoopAction::Dispatch);
  EXPECT_EQ(Classify(levels[3], WM_LBUTTONDOWN), LoopAction::Drop);
  EXPECT_EQ(Classify(other.hwnd, WM_LBUTTONDOWN), LoopAction::Drop);
  EXPECT_EQ(Classify(other.hwnd, WM_KEYDOWN), LoopAction::Drop);
  EXPECT_EQ(Classify(nullptr, WM_MOUSEMOVE), LoopAction::Drop);  // thread message below WM_USER
}

TEST_F(LoopFilter, PaintsAndInstallMessagesAlwaysPass) {
  EXPECT_EQ(Classify(other.hwnd, WM_PAINT), LoopAction::Dispatch);
  EXPECT_EQ(Classify(levels[3], WM_PAINT), LoopAction::Dispatch);
  EXPECT_EQ(Classify(other.hwnd, WM_INSTALL_PROGRESS, 0, 40), LoopAction::Dispatch);
  EXPECT_EQ(Classify(nullptr, WM_USER), LoopAction::Dispatch);
}

TEST_F(LoopFilter, OnlyTheKeyboardCloseCommandIsTheDialogs) {
  EXPECT_EQ(Classify(dialog.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0), LoopAction::KeyboardClose);
  EXPECT_EQ(Classify(other.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0), LoopAction::KeyboardClose);
  // From the mouse (cursor in lParam) or another command: the ordinary filter.
  EXPECT_EQ(Classify(dialog.hwnd, WM_SYSCOMMAND, SC_CLOSE, MAKELPARAM(10, 10)), LoopAction::Dispatch);
  EXPECT_EQ(Classify(other.hwnd, WM_SYSCOMMAND, SC_CLOSE, MAKELPARAM(10, 10)), LoopAction::Drop);
  EXPECT_EQ(Classify(dialog.hwnd, WM_SYSCOMMAND, SC_MOVE, 0), LoopAction::Dispatch);
  EXPECT_EQ(Classify(other.hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0), LoopAction::Drop);
}
