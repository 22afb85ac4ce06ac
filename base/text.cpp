#include "base/text.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
std::wstring Decode(unsigned codePage, DWORD flags, const std::string& text) {
  if (text.empty()) return std::wstring();
  int needed = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &wide[0], needed);
  return wide;
}
}  // namespace

std::wstring GbkToWide(const std::string& text, size_t maxUnits, unsigned codePage) {
  if (text.empty() || maxUnits < 2) return std::wstring();
  std::wstring wide = Decode(codePage, 0, text);
  if (wide.size() > maxUnits - 1) {
    wide.resize(maxUnits - 1);
    // Do not leave half a surrogate pair behind.
    if (!wide.empty() && wide.back() >= 0xD800 && wide.back() <= 0xDBFF) wide.pop_back();
  }
  return wide;
}

std::wstring Utf8ToWide(const std::string& text, InvalidUtf8 invalid) {
  return Decode(CP_UTF8, invalid == InvalidUtf8::kRefuse ? MB_ERR_INVALID_CHARS : 0, text);
}

std::string CutGbk(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t i = 0;
  while (i < maxBytes) {
    size_t step = (static_cast<unsigned char>(text[i]) >= 0x81 && i + 1 < text.size()) ? 2 : 1;
    if (i + step > maxBytes) break;
    i += step;
  }
  return text.substr(0, i);
}

std::string WideToGbk(const std::wstring& text, size_t maxBytes, unsigned codePage) {
  if (text.empty() || maxBytes < 2) return std::string();
  int needed = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string bytes(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0], needed, nullptr, nullptr);
  return codePage == kGbkCodePage ? CutGbk(bytes, maxBytes - 1) : bytes.substr(0, maxBytes - 1);
}

std::string ExactGbk(const std::wstring& text, size_t maxBytes) {
  std::string bytes = WideToGbk(text, maxBytes);
  if (bytes.empty() || GbkToWide(bytes, text.size() + 2) != text) return std::string();
  return bytes;
}

std::string FormatBounded(size_t bufferSize, const char* format, ...) {
  std::vector<char> buffer(bufferSize == 0 ? 1 : bufferSize);
  va_list args;
  va_start(args, format);
  vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  return std::string(buffer.data());
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

size_t FindGbkSeparator(const std::string& text, size_t from, const char* separators) {
  for (size_t i = from; i < text.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x81 && byte <= 0xFE) {
      ++i;  // the trail byte belongs to the character, whatever its value
      continue;
    }
    if (byte != 0 && strchr(separators, text[i]) != nullptr) return i;
  }
  return std::string::npos;
}

bool EndsWithGbkSeparator(const std::string& text, const char* separators) {
  size_t last = std::string::npos;
  for (size_t at = FindGbkSeparator(text, 0, separators); at != std::string::npos;
       at = FindGbkSeparator(text, at + 1, separators)) {
    last = at;
  }
  return !text.empty() && last == text.size() - 1;
}

bool WriteProfileStringGbk(const char* section, const char* key, const char* value, const std::string& path) {
  const std::wstring wideSection = GbkToWide(section ? section : "", 1024);
  const std::wstring wideKey = GbkToWide(key ? key : "", 1024);
  const std::wstring wideValue = GbkToWide(value ? value : "", 4096);
  return WritePrivateProfileStringW(wideSection.c_str(), key ? wideKey.c_str() : nullptr,
                                    value ? wideValue.c_str() : nullptr, GbkToWide(path, 32768).c_str()) != FALSE;
}

std::string ReadProfileStringGbk(const char* section, const char* key, const std::string& path, size_t maxBytes) {
  if (maxBytes < 2) return std::string();
  std::vector<wchar_t> buffer(maxBytes, L'\0');
  GetPrivateProfileStringW(GbkToWide(section ? section : "", 1024).c_str(), GbkToWide(key ? key : "", 1024).c_str(), L"",
                           buffer.data(), static_cast<DWORD>(buffer.size()), GbkToWide(path, 32768).c_str());
  return WideToGbk(buffer.data(), maxBytes);
}
