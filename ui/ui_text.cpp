#include "ui/ui_text.h"

#include "base/context.h"
#include "install/messages.h"

namespace UiText {
namespace {

// Every set of texts is ordered Simplified Chinese, Traditional Chinese, English.
// Each table entry sits in a fixed slot of 100 UTF-16 units, zero-filled after its end.
constexpr int kSlotUnits = 100;
using MainTable = wchar_t[kMainTextCount][kSlotUnits];
using StepTable = wchar_t[kStepNameCount][kSlotUnits];
static_assert(kStepNameCount == kInstallStepCount, "one name per install step");

const MainTable kMainTexts[] = {
    {
        L"安装",
        L"服务器连接断开",
        L"已经是最新版本",
        L"安装成功",
        L"Morvantis",
        L"安装成功",
        L"失败",
        L"打开",
        L"错误码:",
        L"正在更新文件...",
        L"安装中，请稍后...",
    },
    {
        L"安裝",
        L"服務器連接斷開",
        L"已經是最新版本",
        L"安裝成功",
        L"Morvantis",
        L"安裝成功",
        L"失敗",
        L"打開",
        L"錯誤碼:",
        L"正在更新文件...",
        L"安裝中，請稍後...",
    },
    {
        L"Install",
        L"Server Link Fail",
        L"The Local is latest version",
        L"Install Success",
        L"Morvantis",
        L"Install Success",
        L" Fail",  // appended to a step name, hence the leading blank
        L"Open",
        L"Error Code:",
        L"Updating file...",
        L"Installing, please wait...",
    },
};

const StepTable kStepNames[] = {
    {
        L"下载安装统计信息",
        L"下载前端依赖库",
        L"下载服务依赖库",
        L"下载配置文件",
        L"下载运行库",
        L"下载Quant运行库",
        L"安装前端依赖库",
        L"安装服务依赖库",
        L"安装配置文件",
        L"安装运行库",
        L"安装Quant运行库",
        L"文件夹或文件被另一程序占用,安装",
        L"删除安装文件",
        L"保存版本信息",
        L"删除备份文件",
        L"下载证券信息配置文件",
        L"安装证券信息配置文件",
    },
    {
        L"下載安裝統計信息",
        L"下載前端依賴庫",
        L"下載服務依賴庫",
        L"下載配置文件",
        L"下載運行庫",
        L"下載Quant運行庫",
        L"安裝前端依賴庫",
        L"安裝服務依賴庫",
        L"安裝配置文件",
        L"安裝運行庫",
        L"安裝Quant運行庫",
        L"文件夾或文件被另一程序占用,安裝",
        L"刪除安裝文件",
        L"保存版本信息",
        L"刪除備份文件",
        L"下載證券信息配置文件",
        L"安裝證券信息配置文件",
    },
    {
        L"Download install-statistics",
        L"Download front-end dependency library",
        L"Download service dependency library",
        L"Download configuration file",
        L"Download runtime library",
        L"Download Quant runtime library",
        L"Install front-end dependency library",
        L"Install service dependency library",
        L"Install configuration file",
        L"Install runtime library",
        L"Install Quant Runtime Library",
        // Followed by " Fail" on the failure page, so it ends with a blank.
        L"The folder or file is occupied by another program,install ",
        L"Delete install files",
        L"Save version information",
        L"Delete backup files",
        L"Download securities information configuration file",
        L"Install securities information configuration file",
    },
};

const wchar_t* const kPathLabel[] = {L"安装目录:", L"安裝目錄:", L"Path:"};
const wchar_t* const kBrowseCaption[] = {L"浏览", L"瀏覽", L"Browse"};
const wchar_t* const kCustomLink[] = {L"自定义安装 >", L"自定義安裝 >", L"Custom >"};
const wchar_t* const kWarningTitle[] = {L"警告", L"警告", L"Warn"};
const wchar_t* const kReinstallWarning[] = {
    L"请注意，重新安装可能导致某些数据或设置丢失，请谨慎操作。是否继续？",
    L"請注意，重新安裝可能導致某些數據或設定遺失，請謹慎操作。是否繼續？",
    L"Please note that reinstalling may result in the loss of some data or settings, please proceed with "
    L"caution. Do you want to continue?",
};
const wchar_t* const kAnotherInstallation[] = {
    L"另一个安装程序正在运行，请稍后再试。",
    L"另一個安裝程式正在執行，請稍後再試。",
    L"Another installation is in progress. Please try again later.",
};
const wchar_t* const kUsage[] = {
    L"用法: MorvantisSetup.exe [/S] [/LOG=<文件>] [/D=<文件夹>]\r\n"
    L"  /S            无人值守安装：不显示窗口，不提问；以退出代码报告结果\r\n"
    L"  /LOG=<文件>   将每一行安装日志另外写入此文件（UTF-8）\r\n"
    L"  /D=<文件夹>   安装到此文件夹下（代替默认文件夹）；须放在最后，可含空格，不加引号\r\n"
    L"  /? 或 /H      显示本说明\r\n"
    L"/S 的退出代码: 0 成功；1 下载安装包之前失败；100+步骤 某一步骤失败（103: 下载配置文件失败）；\r\n"
    L"  87 命令行无效；1618 另一个安装程序正在运行\r\n",
    L"用法: MorvantisSetup.exe [/S] [/LOG=<檔案>] [/D=<資料夾>]\r\n"
    L"  /S            無人值守安裝：不顯示視窗，不提問；以結束代碼報告結果\r\n"
    L"  /LOG=<檔案>   將每一行安裝日誌另外寫入此檔案（UTF-8）\r\n"
    L"  /D=<資料夾>   安裝到此資料夾下（代替預設資料夾）；須放在最後，可含空格，不加引號\r\n"
    L"  /? 或 /H      顯示本說明\r\n"
    L"/S 的結束代碼: 0 成功；1 下載安裝套件之前失敗；100+步驟 某一步驟失敗（103: 下載配置文件失敗）；\r\n"
    L"  87 命令列無效；1618 另一個安裝程式正在執行\r\n",
    L"Usage: MorvantisSetup.exe [/S] [/LOG=<file>] [/D=<folder>]\r\n"
    L"  /S            unattended: no window, no questions; the exit code tells the outcome\r\n"
    L"  /LOG=<file>   also write every line of the install log to this file (UTF-8)\r\n"
    L"  /D=<folder>   install below this folder instead of the default one; must come last,\r\n"
    L"                may contain spaces, takes no quotes\r\n"
    L"  /? or /H      show this help\r\n"
    L"Exit codes with /S: 0 installed; 1 failed before the packages were downloaded;\r\n"
    L"  100 + step: a step failed (103: the configuration package could not be downloaded);\r\n"
    L"  87 bad command line; 1618 another installation is in progress\r\n",
};
const wchar_t* const kBadArgument[] = {L"无效的参数: ", L"無效的參數: ", L"Invalid argument: "};
// Narrow literals are compiled to GBK: the ANSI folder picker takes these bytes as they are.
const char* const kFolderPickerTitle[] = {"浏览文件夹", "瀏覽資料夾", "Browse Folder"};

template <typename T>
const T& Pick(const T (&texts)[3]) {
  switch (CurrentUiLanguage()) {
    case UiLanguage::Cht: return texts[1];
    case UiLanguage::Enu: return texts[2];
    case UiLanguage::Chs: break;
  }
  return texts[0];
}

}  // namespace

const wchar_t* MainText(int index) { return Pick(kMainTexts)[index]; }
const wchar_t* StepName(int index) { return Pick(kStepNames)[index]; }

const wchar_t* WindowTitle() { return L"Morvantis"; }
const wchar_t* PathLabel() { return Pick(kPathLabel); }
const wchar_t* BrowseCaption() { return Pick(kBrowseCaption); }
const wchar_t* CustomLink() { return Pick(kCustomLink); }
const wchar_t* WarningTitle() { return Pick(kWarningTitle); }
const wchar_t* ReinstallWarning() { return Pick(kReinstallWarning); }
const wchar_t* AnotherInstallation() { return Pick(kAnotherInstallation); }
const wchar_t* Usage() { return Pick(kUsage); }
const wchar_t* BadArgument() { return Pick(kBadArgument); }
const char* FolderPickerTitle() { return Pick(kFolderPickerTitle); }
const char* PercentFormat() { return "%d%%"; }

}  // namespace UiText
