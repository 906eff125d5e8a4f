#pragma once
// One colour choice of the console logger, for a flag mask and context (or a tag), with its
// escape sequences built once, for the terminal the process runs on: table codes on a 16- or
// 256-colour terminal, RGB escapes on a colour console, nothing otherwise.

#include <cstdint>
#include <optional>
#include <string>

#include "logging/LGColor.h"

class LGTTYLoggerColorProfile {
 public:
  LGTTYLoggerColorProfile(std::optional<LGColor> foregroundColor,
                          std::optional<LGColor> backgroundColor, int flag, int context);

  int mask() const { return _mask; }
  int context() const { return _context; }
  const std::string& fgCode() const { return _fgCode; }
  const std::string& bgCode() const { return _bgCode; }
  const std::string& resetCode() const { return _resetCode; }

  std::string description() const;

 private:
  int _mask;
  int _context;
  std::uint8_t fg_r = 0, fg_g = 0, fg_b = 0;
  std::uint8_t bg_r = 0, bg_g = 0, bg_b = 0;
  std::uint32_t fgCodeIndex_ = 0;
  std::optional<std::string> fgCodeRaw_;
  std::uint32_t bgCodeIndex_ = 0;
  std::optional<std::string> bgCodeRaw_;
  // Escape sequences written before (colours) and after (reset) a line.
  std::string _fgCode;
  std::string _bgCode;
  std::string _resetCode;
};
