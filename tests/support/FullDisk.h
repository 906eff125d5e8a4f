#pragma once
// FullDisk: makes the device look full to SQLite, as a small file system would, without needing
// one. While a FullDisk lives, every write of every SQLite file in the process fails with
// SQLITE_FULL ("database or disk is full"); reads go on. It works through a file layer installed
// as SQLite's default on first use, which passes everything to the usual one when no FullDisk
// lives, so connections opened before or after a test behave as always.

namespace testsupport {

class FullDisk {
 public:
  FullDisk();
  ~FullDisk();
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;

  // Installs the file layer (once per process); call it before the connections a test will make
  // full are opened.
  static void install();
};

}  // namespace testsupport
