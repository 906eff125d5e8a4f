#include "logging/LGTTYLoggerColorProfile.h"

#include <cstdio>

#include "logging/LGTTYLogger.h"

namespace {

constexpr std::size_t kMaxCodeLength = 23;

std::uint8_t toByte(double component) { return static_cast<std::uint8_t>(component * 255); }

std::string consoleCode(const char* kind, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  char code[kMaxCodeLength + 1];
  std::snprintf(code, sizeof code, "\x1b[%s%u,%u,%u;", kind, r, g, b);
  return code;
}

}  // namespace

LGTTYLoggerColorProfile::LGTTYLoggerColorProfile(std::optional<LGColor> foregroundColor,
                                                 std::optional<LGColor> backgroundColor, int flag,
                                                 int context)
    : _mask(flag), _context(context) {
  if (foregroundColor) {
    fg_r = toByte(foregroundColor->red);
    fg_g = toByte(foregroundColor->green);
    fg_b = toByte(foregroundColor->blue);
  }
  if (backgroundColor) {
    bg_r = toByte(backgroundColor->red);
    bg_g = toByte(backgroundColor->green);
    bg_b = toByte(backgroundColor->blue);
  }
  if (LGTTYLogger::isColorTerminal()) {
    if (foregroundColor) {
      fgCodeIndex_ = LGTTYLogger::codeIndexForColor(*foregroundColor);
      fgCodeRaw_ = LGTTYLogger::foregroundCode(fgCodeIndex_);
      _fgCode = "\x1b[" + *fgCodeRaw_;
    }
    if (backgroundColor) {
      bgCodeIndex_ = LGTTYLogger::codeIndexForColor(*backgroundColor);
      bgCodeRaw_ = LGTTYLogger::backgroundCode(bgCodeIndex_);
      _bgCode = "\x1b[" + *bgCodeRaw_;
    }
    _resetCode = "\x1b[0m";
  } else if (LGTTYLogger::isColorConsole()) {
    if (foregroundColor) _fgCode = consoleCode("fg", fg_r, fg_g, fg_b);
    if (backgroundColor) _bgCode = consoleCode("bg", bg_r, bg_g, bg_b);
    _resetCode = "\x1b[;";
  }
}

std::string LGTTYLoggerColorProfile::description() const {
  char text[256];
  std::snprintf(text, sizeof text,
                "<LGTTYLoggerColorProfile: %p mask:%i ctxt:%i fg:%u,%u,%u bg:%u,%u,%u fgCode:%s "
                "bgCode:%s>",
                static_cast<const void*>(this), _mask, _context, fg_r, fg_g, fg_b, bg_r, bg_g, bg_b,
                fgCodeRaw_ ? fgCodeRaw_->c_str() : "(null)",
                bgCodeRaw_ ? bgCodeRaw_->c_str() : "(null)");
  return text;
}
