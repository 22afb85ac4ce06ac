// Start-up: the shared drawing objects, the interface language and the names of the
// build, before any window or the worker exists.
#pragma once
#include <windows.h>

#include <cstdint>

#include "ui/drawing_objects.h"

void InitLocaleAndFonts();

// Tests only: choose the language as InitLocaleAndFonts does, from a given UI language.
int32_t MapUiLanguage(LANGID uiLanguage);
