// Test helper: prints its language settings; exit code 7.
#include <windows.h>
#include <cstdio>
int wmain() {
  printf("UI=%04x ACP=%u\n", GetUserDefaultUILanguage(), GetACP());
  return 7;
}
