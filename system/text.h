// Conversions between the logic side's GBK (code page 936) byte strings and UTF-16.
// Results are cut to the given number of units, as the fixed buffers of the
// original design were.
#pragma once
#include <string>

constexpr unsigned kGbkCodePage = 936;

// GBK (or another code page) to UTF-16, at most maxUnits - 1 code units.
std::wstring GbkToWide(const std::string& text, size_t maxUnits = 1024, unsigned codePage = kGbkCodePage);
// UTF-16 to GBK, at most maxBytes - 1 bytes, never splitting a double-byte character.
std::string WideToGbk(const std::wstring& text, size_t maxBytes = 2048, unsigned codePage = kGbkCodePage);
// The GBK form of a wide text, or "" when GBK cannot spell it within maxBytes - 1 bytes
// (a path that would name another folder once converted).
std::string ExactGbk(const std::wstring& text, size_t maxBytes);
// Cuts a GBK byte string to at most maxBytes bytes without splitting a double-byte character.
std::string CutGbk(const std::string& text, size_t maxBytes);
// printf into a std::string, cut to bufferSize - 1 bytes like snprintf into a fixed buffer.
std::string FormatBounded(size_t bufferSize, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(gnu_printf, 2, 3)))
#endif
    ;
