// Registry values the installer writes.
#pragma once
#include <windows.h>

#include <string>

// A REG_SZ value through the wide interface: a GBK path written through the 8-bit one
// would be read in the system's code page and name a different file where that is not
// 936. name null: the key's default value. ERROR_SUCCESS when it was written, else the
// registry's status, for the log.
LSTATUS SetRegistryText(HKEY key, const wchar_t* name, const std::wstring& data);
