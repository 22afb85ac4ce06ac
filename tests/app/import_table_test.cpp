#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

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
