#include "ui/ui_text.h"

#include "app/context.h"

namespace UiText {
namespace {

// Every set of texts is ordered Simplified Chinese, Traditional Chinese, English.
// Each table entry sits in a fixed slot of 100 UTF-16 units, zero-filled after its end.
constexpr int kSlotUnits = 100;
using MainTable = wchar_t[kMainTextCount][kSlotUnits];
using StepTable = wchar_t[kStepNameCount][kSlotUnits];

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
const char* FolderPickerTitle() { return Pick(kFolderPickerTitle); }
const wchar_t* PercentFormat() { return L"%d%%"; }

}  // namespace UiText
