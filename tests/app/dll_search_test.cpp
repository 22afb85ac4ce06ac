#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "base/scoped.h"
#include "base/text.h"

using namespace testing_support;

namespace {
// The DLL names of a PE32+ file's static import table, upper-cased; empty when the file
// is not one.
std::vector<std::string> StaticImports(const std::string& image) {
  std::vector<std::string> names;
  auto read = [&](size_t offset, void* out, size_t size) {
    if (offset > image.size() || image.size() - offset < size) return false;
    memcpy(out, image.data() + offset, size);
    return true;
  };
  IMAGE_DOS_HEADER dos;
  IMAGE_NT_HEADERS64 nt;
  if (!read(0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE) return names;
  if (!read(dos.e_lfanew, &nt, sizeof(nt)) || nt.Signature != IMAGE_NT_SIGNATURE ||
      nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
    return names;
  std::vector<IMAGE_SECTION_HEADER> sections(nt.FileHeader.NumberOfSections);
  size_t sectionTable = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
  if (!read(sectionTable, sections.data(), sections.size() * sizeof(IMAGE_SECTION_HEADER))) return names;
  auto fileOffset = [&](DWORD rva) -> size_t {
    for (const IMAGE_SECTION_HEADER& section : sections) {
      DWORD size = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
      if (rva >= section.VirtualAddress && rva < section.VirtualAddress + size)
        return rva - section.VirtualAddress + section.PointerToRawData;
    }
    return image.size();
  };
  DWORD importRva = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (size_t at = fileOffset(importRva);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    if (!read(at, &descriptor, sizeof(descriptor)) || descriptor.Name == 0) break;
    size_t name = fileOffset(descriptor.Name);
    if (name >= image.size()) break;
    std::string text(image.c_str() + name);
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(toupper(c)); });
    names.push_back(text);
  }
  return names;
}

std::wstring Lower(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

// The file paths of the modules a process has loaded.
std::vector<std::wstring> ModulePaths(DWORD processId) {
  std::vector<std::wstring> paths;
  ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
  if (!snapshot) return paths;
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Module32FirstW(snapshot.Get(), &entry); more; more = Module32NextW(snapshot.Get(), &entry))
    paths.push_back(entry.szExePath);
  return paths;
}

// A top-level window of the process with this class, or nullptr.
HWND FindProcessWindow(DWORD processId, const wchar_t* className) {
  struct Search {
    DWORD processId;
    const wchar_t* className;
    HWND found;
  } search{processId, className, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (owner != s->processId || lstrcmpW(name, s->className) != 0) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}
}  // namespace

// Every DLL the loader resolves before the entry point runs must be a KnownDLL: any other
// would be looked for first in the folder the installer was started from.
TEST(ImportTable, InstallerImportsOnlyKnownDlls) {
  const std::string image = ReadFileBytes(BinaryPath("MorvantisSetup.exe"));
  ASSERT_FALSE(image.empty());
  const std::vector<std::string> imports = StaticImports(image);
  ASSERT_FALSE(imports.empty());
  const std::set<std::string> known = {"KERNEL32.DLL", "USER32.DLL",   "GDI32.DLL",    "ADVAPI32.DLL", "SHELL32.DLL",
                                       "OLE32.DLL",    "OLEAUT32.DLL", "SHLWAPI.DLL",  "COMDLG32.DLL", "MSVCRT.DLL"};
  for (const std::string& name : imports) EXPECT_EQ(known.count(name), 1u) << name << " is in the static import table";
  EXPECT_EQ(std::count(imports.begin(), imports.end(), "KERNEL32.DLL"), 1);

  // The others are still used, loaded on first use instead.
  for (const char* delayed : {"bcrypt.dll", "winhttp.dll", "wtsapi32.dll", "userenv.dll"})
    EXPECT_NE(image.find(delayed), std::string::npos) << delayed;
}

// Started from a folder (its current folder too) that holds DLLs named like the system
// DLLs it uses, the installer comes up with the system's own and loads none of them.
TEST(DllSearch, DllsPlantedBesideTheInstallerAreNotLoaded) {
  ScratchFolder folder("planted");
  const std::string setup = folder / "MorvantisSetup.exe";
  ASSERT_TRUE(CopyFileW(GbkToWide(BinaryPath("MorvantisSetup.exe")).c_str(), GbkToWide(setup).c_str(), FALSE));
  // Not SHCore.dll: Wine's own shell32 and shlwapi import it before the entry point runs
  // (on Windows it is a KnownDLL there); the installer loads it from the system folder.
  const std::vector<std::string> planted = {"wtsapi32.dll", "winhttp.dll", "bcrypt.dll", "crypt32.dll", "userenv.dll"};
  for (const std::string& name : planted) {
    ASSERT_TRUE(CopyFileW(GbkToWide(BinaryPath("test-programs/planted.dll")).c_str(), GbkToWide(folder / name).c_str(),
                          FALSE));
  }
  StartedProcess installer = StartProcess(L"\"" + GbkToWide(setup) + L"\"", {}, GbkToWide(folder.Path()));
  ASSERT_TRUE(installer.started);
  // The window comes after the console user's folder and the store connection are set up.
  HWND window = nullptr;
  for (int i = 0; i < 400 && (window = FindProcessWindow(installer.id, L"TModalWnd")) == nullptr; ++i) Sleep(50);
  EXPECT_NE(window, nullptr) << "the installer did not come up";
  // Wine may put its built-in code behind a file it found, but names the module by that
  // file: no module of the running installer may come from its folder but itself.
  const std::wstring plantedFolder = Lower(GbkToWide(folder.Path() + "\\"));
  for (const std::wstring& module : ModulePaths(installer.id)) {
    if (Lower(module) == Lower(GbkToWide(setup))) continue;
    EXPECT_NE(Lower(module).rfind(plantedFolder, 0), 0u) << WideToGbk(module) << " was loaded";
  }
  if (window != nullptr) PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  if (WaitForSingleObject(installer.process.Get(), 20000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the installer did not close";
    TerminateProcess(installer.process.Get(), 1);
    WaitForSingleObject(installer.process.Get(), 5000);
  }
  for (const std::string& name : planted) EXPECT_FALSE(FileExists(folder / (name + ".loaded"))) << name;
}
