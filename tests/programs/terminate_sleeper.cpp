// Stand-in for a running terminal: does nothing until it is ended. It gives up after a
// few minutes so that a copy a failed test leaves behind does not live for ever.
#include <windows.h>
int wmain() {
  Sleep(5 * 60 * 1000);
  return 3;
}
