// The installer's diagnostic record: one install.log per run in the log folder, one
// time-stamped GBK line per Write. Writes while no file is open are dropped, so any
// code on any thread may write at any time. One lock keeps a write from reaching a
// file that another thread is closing. An optional copy (the command line's /LOG=) gets
// every line as UTF-8 with the same stamp, under the same lock.
#pragma once
#include <string>
#include <vector>

class InstallLog {
 public:
  // Creates the log folder and "<hhmmssmmm>install.log" in it (truncating a file of that
  // name); true when the file is open.
  static bool Open(const char* logDir);
  // Appends "[hh:mm:ss mmm]\t\t" + message + CR LF and flushes; nothing for a null message.
  static void Write(const char* message);
  static void Close();
  static bool IsOpen();
  // Also writes every line to path (UTF-8 without byte-order mark, CR LF, the same stamp),
  // from now until CloseCopy, whether the log file itself is open or not; the file is
  // created anew. False (and no copy) when it cannot be created.
  static bool OpenCopy(const wchar_t* path);
  static void CloseCopy();
  // Lines this thread writes from now on go to `held` instead (null: to the log again):
  // work done ahead of its turn hands its lines to the thread that logs them in sequence.
  static void HoldThisThread(std::vector<std::string>* held);
};
