// Every text the installer window shows, in Simplified Chinese, Traditional Chinese and
// English, chosen by the context's language.
#pragma once

namespace UiText {
constexpr int kMainTextCount = 11;
constexpr int kStepNameCount = 17;

const wchar_t* MainText(int index);   // 0..10
const wchar_t* StepName(int index);   // 0..16, the install steps

const wchar_t* WindowTitle();
const wchar_t* PathLabel();
const wchar_t* BrowseCaption();
const wchar_t* CustomLink();
const wchar_t* WarningTitle();
const wchar_t* ReinstallWarning();
const wchar_t* AnotherInstallation();  // a second copy pressed Install
const wchar_t* Usage();                // the command line's help
const wchar_t* BadArgument();          // followed by the argument refused
const char* FolderPickerTitle();      // GBK, for the ANSI folder picker
const char* PercentFormat();          // "%d%%", ASCII for FormatBounded
}  // namespace UiText
