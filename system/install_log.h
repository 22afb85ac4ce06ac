// The installer's diagnostic record: one install.log per run in the log folder, one
// time-stamped GBK line per Write. Writes while no file is open are dropped, so any
// code on any thread may write at any time. One lock keeps a write from reaching a
// file that another thread is closing.
#pragma once

class InstallLog {
 public:
  // Creates the log folder and "<hhmmssmmm>install.log" in it (truncating a file of that name).
  static void Open(const char* logDir);
  // Appends "[hh:mm:ss mmm]\t\t" + message + CR LF and flushes; nothing for a null message.
  static void Write(const char* message);
  static void Close();
  static bool IsOpen();
};
