// The unattended installation (/S): the Install button's sequence and the worker without
// a window or a question; the outcome is the process's exit code.
#pragma once
#include "app/command_line.h"

// Runs one installation after InitLocaleAndFonts; returns the exit code (kExit...).
int RunUnattended(const CommandLine& commandLine);
