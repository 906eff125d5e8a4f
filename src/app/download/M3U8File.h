#pragma once
// M3U8File: one entry of a playlist: the line naming a segment or nested playlist, as written.

#include <string>

class M3U8File {
 public:
  const std::string& fileName() const { return _fileName; }
  void setFileName(std::string v) { _fileName = std::move(v); }
  // Kept from the design for the player screens; nothing reads the "#EXTINF" tag into it yet.
  double extInf() const { return _extInf; }
  void setExtInf(double v) { _extInf = v; }

 private:
  std::string _fileName;
  double _extInf = 0;
};
