// Conversions between the logic side's GBK (code page 936) byte strings and UTF-16.
// Results are cut to the given number of units, as the fixed buffers of the
// original design were.
#pragma once
#include <string>

constexpr unsigned kGbkCodePage = 936;

// GBK (or another code page) to UTF-16, at most maxUnits - 1 code units.
std::wstring GbkToWide(const std::string& text, size_t maxUnits = 1024, unsigned codePage = kGbkCodePage);
// What UTF-8 decoding does with bytes that are not UTF-8: replace them with U+FFFD, or
// refuse the whole text ("" is returned), as for a name that must not be guessed at.
enum class InvalidUtf8 { kReplace, kRefuse };
// UTF-8 to UTF-16, whole.
std::wstring Utf8ToWide(const std::string& text, InvalidUtf8 invalid = InvalidUtf8::kReplace);
// UTF-16 to GBK, at most maxBytes - 1 bytes, never splitting a double-byte character.
std::string WideToGbk(const std::wstring& text, size_t maxBytes = 2048, unsigned codePage = kGbkCodePage);
// The GBK form of a wide text, or "" when GBK cannot spell it within maxBytes - 1 bytes
// (a path that would name another folder once converted).
std::string ExactGbk(const std::wstring& text, size_t maxBytes);
// Cuts a GBK byte string to at most maxBytes bytes without splitting a double-byte character.
std::string CutGbk(const std::string& text, size_t maxBytes);
// The text with line breaks and other control characters turned into spaces, so that text
// from outside cannot write log lines of its own. GBK trail bytes are all above 0x3F, so
// no character is split.
std::string OneLine(std::string text);
// Where the next path separator (one of separators) lies at or after from, or npos.
// Double-byte characters are stepped over whole: every lead byte 0x81-0xFE can be
// followed by 0x5C, the byte of a backslash. from must start a character.
size_t FindGbkSeparator(const std::string& text, size_t from = 0, const char* separators = "\\");
// Whether the last character of text is one of separators.
bool EndsWithGbkSeparator(const std::string& text, const char* separators = "\\");
// INI files through the wide calls, with GBK arguments: an 8-bit call would read the
// names in the system's code page and miss the file where it is not 936.
bool WriteProfileStringGbk(const char* section, const char* key, const char* value, const std::string& path);
// The value cut to maxBytes - 1 bytes, "" when absent.
std::string ReadProfileStringGbk(const char* section, const char* key, const std::string& path, size_t maxBytes);
// printf into a std::string, cut to bufferSize - 1 bytes like snprintf into a fixed buffer.
std::string FormatBounded(size_t bufferSize, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(gnu_printf, 2, 3)))
#endif
    ;
