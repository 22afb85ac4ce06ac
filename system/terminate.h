// Ends a copy of the terminal that runs from the installation folder.
#pragma once

// imageName: the terminal's file name (UTF-16). Ends the first process whose executable
// name matches without case and whose main module is exactly installDir\imageName.
void TerminateRunningInstance(const wchar_t* imageName);
