#include "logging/LGTTYLogger.h"

#include <errno.h>
#include <strings.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "logging/LGLogMessage.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Mutex.h"

namespace {

// Written by the class set-up (and by tests trying other terminals), read by profiles being
// made on the logger's queue and by any caller of the table accessors.
struct ClassState {
  platform::Mutex mutex;
  bool colorTerminal GUARDED_BY(mutex) = false;
  bool colorConsole GUARDED_BY(mutex) = false;
  std::vector<std::string> codesFg GUARDED_BY(mutex);
  std::vector<std::string> codesBg GUARDED_BY(mutex);
  std::vector<LGColor> colors GUARDED_BY(mutex);

  // Set once by `initialize`, read-only after.
  std::shared_ptr<LGTTYLogger> sharedInstance;
};

ClassState& classState() {
  static ClassState* s = new ClassState;  // lives to the end of the process
  return *s;
}

std::once_flag gInitializeOnce;

bool containsIgnoringCase(const std::string& text, const char* word) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find(word) != std::string::npos;
}

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

struct Rgb {
  int r, g, b;
};

constexpr Rgb k16Colors[16] = {
    {0, 0, 0},       {194, 54, 33},  {37, 188, 36},  {173, 173, 39},
    {73, 46, 225},   {211, 56, 211}, {51, 187, 200}, {203, 204, 205},
    {129, 131, 131}, {252, 57, 31},  {49, 231, 34},  {234, 236, 35},
    {88, 51, 255},   {249, 53, 248}, {20, 240, 240}, {233, 235, 235},
};

// Terminal colour number 16 to 255: the 6x6x6 cube and the grey ramp, with the measured values
// the console logger has always shown for a few of them.
Rgb color256(int n) {
  switch (n) {
    case 16:
      return {47, 49, 49};
    case 17:
      return {60, 42, 144};
    case 21:
      return {88, 51, 255};
    case 22:
      return {42, 128, 37};
    case 255:
      return {240, 242, 242};
  }
  if (n >= 232) {
    int grey = 8 + 10 * (n - 232);
    return {grey, grey, grey};
  }
  static constexpr int kLevels[6] = {0, 95, 135, 175, 215, 255};
  int i = n - 16;
  return {kLevels[i / 36], kLevels[(i / 6) % 6], kLevels[i % 6]};
}

void checkTables(ClassState& s) REQUIRES(s.mutex) {
  platform::assertThat(s.codesFg.size() == s.codesBg.size() && s.codesBg.size() == s.colors.size(),
                       "Invalid colors/codes array(s)");
}

bool hasTables(ClassState& s) REQUIRES(s.mutex) {
  return !s.codesFg.empty() || !s.codesBg.empty() || !s.colors.empty();
}

void fillColors16(ClassState& s) REQUIRES(s.mutex) {
  if (hasTables(s)) return;
  for (int i = 0; i < 16; ++i) {
    std::string prefix = i < 8 ? "" : "1;";
    s.codesFg.push_back(prefix + std::to_string(30 + i % 8) + "m");
    s.codesBg.push_back(prefix + std::to_string(40 + i % 8) + "m");
    s.colors.push_back(LGColor::fromBytes(k16Colors[i].r, k16Colors[i].g, k16Colors[i].b));
  }
  checkTables(s);
}

void fillColors256(ClassState& s) REQUIRES(s.mutex) {
  if (hasTables(s)) return;
  for (int n = 16; n <= 255; ++n) {
    s.codesFg.push_back("38;5;" + std::to_string(n) + "m");
    s.codesBg.push_back("48;5;" + std::to_string(n) + "m");
    Rgb c = color256(n);
    s.colors.push_back(LGColor::fromBytes(c.r, c.g, c.b));
  }
  checkTables(s);
}

bool isCopyableTag(const platform::Value& tag) {
  return !tag.isNull() && tag.kind() != platform::Value::Kind::Object;
}

}  // namespace

void LGTTYLogger::initialize() {
  std::call_once(gInitializeOnce, [] {
    initializeWithEnvironment(environment("TERM"), environment("ConsoleColors"));
    classState().sharedInstance = std::shared_ptr<LGTTYLogger>(new LGTTYLogger);
  });
}

void LGTTYLogger::initializeWithEnvironment(const std::optional<std::string>& term,
                                            const std::optional<std::string>& consoleColors) {
  auto& s = classState();
  platform::MutexLock lock(s.mutex);
  s.colorTerminal = false;
  s.colorConsole = false;
  s.codesFg.clear();
  s.codesBg.clear();
  s.colors.clear();
  if (term) {
    if (containsIgnoringCase(*term, "color")) {
      s.colorTerminal = true;
      if (containsIgnoringCase(*term, "256")) {
        fillColors256(s);
      } else {
        fillColors16(s);
      }
    }
  } else {
    s.colorConsole = consoleColors && *consoleColors == "YES";
  }
}

void LGTTYLogger::initialize_colors_16() {
  auto& s = classState();
  platform::MutexLock lock(s.mutex);
  fillColors16(s);
}

void LGTTYLogger::initialize_colors_256() {
  auto& s = classState();
  platform::MutexLock lock(s.mutex);
  fillColors256(s);
}

std::shared_ptr<LGTTYLogger> LGTTYLogger::sharedInstance() {
  initialize();
  return classState().sharedInstance;
}

bool LGTTYLogger::isColorTerminal() {
  auto& s = classState();
  platform::MutexLock lock(s.mutex);
  return s.colorTerminal;
}

bool LGTTYLogger::isColorConsole() {
  auto& s = classState();
  platform::MutexLock lock(s.mutex);
  return s.colorConsole;
}

std::size_t LGTTYLogger::colorTableSize() {
  auto& s = classState();
  platform::MutexLock lock(s.mutex);
  return s.colors.size();
}

std::string LGTTYLogger::foregroundCode(std::size_t index) {
  auto& s = classState();
  platform::MutexLock lock(s.mutex);
  return s.codesFg.at(index);
}

std::string LGTTYLogger::backgroundCode(std::size_t index) {
  auto& s = classState();
  platform::MutexLock lock(s.mutex);
  return s.codesBg.at(index);
}

std::uint32_t LGTTYLogger::codeIndexForColor(const LGColor& color) {
  auto& s = classState();
  platform::MutexLock lock(s.mutex);
  double best = 100;
  std::uint32_t bestIndex = 0;
  for (std::size_t i = 0; i < s.colors.size(); ++i) {
    double distance = std::sqrt(std::pow(s.colors[i].red - color.red, 2) +
                                std::pow(s.colors[i].green - color.green, 2) +
                                std::pow(s.colors[i].blue - color.blue, 2));
    if (distance < best) {
      best = distance;
      bestIndex = static_cast<std::uint32_t>(i);
    }
  }
  return bestIndex;
}

LGTTYLogger::LGTTYLogger()
    : appName_(program_invocation_short_name), processID_(std::to_string(getpid())) {
  colorProfilesArray_.reserve(8);
  colorProfilesDict_.reserve(8);
}

bool LGTTYLogger::colorsEnabled() {
  return readSetting([this] { return _colorsEnabled; });
}

void LGTTYLogger::setColorsEnabled(bool colorsEnabled) {
  checkSynchronousAccess();
  changeSetting([this, colorsEnabled] {
    _colorsEnabled = colorsEnabled;
    if (colorProfilesArray_.empty()) loadDefaultColorProfiles();
  });
}

void LGTTYLogger::loadDefaultColorProfiles() {
  auto error = std::make_shared<LGTTYLoggerColorProfile>(LGColor::fromBytes(214, 57, 30),
                                                         std::nullopt, LG_LOG_FLAG_ERROR, 0);
  auto warning = std::make_shared<LGTTYLoggerColorProfile>(LGColor::fromBytes(204, 121, 32),
                                                           std::nullopt, LG_LOG_FLAG_WARN, 0);
  colorProfilesArray_.push_back(error);
  colorProfilesArray_.push_back(warning);
}

void LGTTYLogger::setForegroundColor(std::optional<LGColor> foreground,
                                     std::optional<LGColor> background, int flag, int context) {
  changeSetting([this, foreground, background, flag, context] {
    auto profile = std::make_shared<LGTTYLoggerColorProfile>(foreground, background, flag, context);
    auto it =
        std::find_if(colorProfilesArray_.begin(), colorProfilesArray_.end(),
                     [&](const auto& p) { return p->mask() == flag && p->context() == context; });
    if (it != colorProfilesArray_.end()) {
      *it = profile;
    } else {
      colorProfilesArray_.push_back(profile);
    }
  });
}

void LGTTYLogger::setForegroundColorForTag(std::optional<LGColor> foreground,
                                           std::optional<LGColor> background,
                                           const platform::Value& tag) {
  platform::assertThat(isCopyableTag(tag), "Invalid tag");
  changeSetting([this, foreground, background, tag] {
    auto profile = std::make_shared<LGTTYLoggerColorProfile>(foreground, background, 0, 0);
    for (auto& entry : colorProfilesDict_) {
      if (entry.first == tag) {
        entry.second = profile;
        return;
      }
    }
    colorProfilesDict_.emplace_back(tag, profile);
  });
}

void LGTTYLogger::clearColorsForFlag(int flag, int context) {
  changeSetting([this, flag, context] {
    auto it =
        std::find_if(colorProfilesArray_.begin(), colorProfilesArray_.end(),
                     [&](const auto& p) { return p->mask() == flag && p->context() == context; });
    if (it != colorProfilesArray_.end()) colorProfilesArray_.erase(it);
  });
}

void LGTTYLogger::clearColorsForTag(const platform::Value& tag) {
  platform::assertThat(isCopyableTag(tag), "Invalid tag");
  changeSetting([this, tag] {
    std::erase_if(colorProfilesDict_, [&](const auto& entry) { return entry.first == tag; });
  });
}

void LGTTYLogger::clearColorsForAllFlags() {
  changeSetting([this] { colorProfilesArray_.clear(); });
}

void LGTTYLogger::clearColorsForAllTags() {
  changeSetting([this] { colorProfilesDict_.clear(); });
}

void LGTTYLogger::clearAllColors() {
  changeSetting([this] {
    colorProfilesArray_.clear();
    colorProfilesDict_.clear();
  });
}

std::shared_ptr<LGTTYLoggerColorProfile> LGTTYLogger::profileFor(
    const LGLogMessage& message) const {
  if (!_colorsEnabled) return nullptr;
  if (!message.tag().isNull()) {
    for (const auto& entry : colorProfilesDict_) {
      if (entry.first == message.tag()) return entry.second;
    }
  }
  for (const auto& profile : colorProfilesArray_) {
    if ((profile->mask() & message.logFlag()) && profile->context() == message.logContext()) {
      return profile;
    }
  }
  return nullptr;
}

std::string LGTTYLogger::timestampText(platform::Date date) const {
  auto fields = platform::calendarFields(date, platform::TimeZone::local());
  auto sinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch());
  long long fraction = sinceEpoch.count() % 1000000000LL;
  if (fraction < 0) fraction += 1000000000LL;
  char text[96];
  std::snprintf(text, sizeof text, "%04ld-%02ld-%02ld %02ld:%02ld:%02ld:%03d",
                static_cast<long>(fields.year), static_cast<long>(fields.month),
                static_cast<long>(fields.day), static_cast<long>(fields.hour),
                static_cast<long>(fields.minute), static_cast<long>(fields.second),
                static_cast<int>(fraction / 1000000));
  return std::string(text).substr(0, 23);
}

void LGTTYLogger::logMessage(const LGLogMessage& message) {
  LGLogText text = formatter_ ? formatter_->formatLogMessage(message) : message.logMsgText();
  if (!text) return;
  // A formatter that hands back the message's own text leaves the line to be prefixed.
  bool prefixed = !formatter_ || text == message.logMsgText();
  auto profile = profileFor(message);
  static const std::string kEmpty;
  const std::string& fg = profile ? profile->fgCode() : kEmpty;
  const std::string& bg = profile ? profile->bgCode() : kEmpty;
  const std::string& reset = profile ? profile->resetCode() : kEmpty;
  bool needsNewline = text->empty() || text->back() != '\n';

  std::string head;
  if (prefixed) {
    std::string threadID = message.threadID().substr(0, 8);
    head = timestampText(message.timestamp()) + " " + appName_ + "[" + processID_ + ":" + threadID +
           "] ";
  }
  auto piece = [](const std::string& s) { return iovec{const_cast<char*>(s.data()), s.size()}; };
  static const std::string kNewline = "\n";
  iovec pieces[6];
  int count = 0;
  pieces[count++] = piece(fg);
  pieces[count++] = piece(bg);
  if (prefixed) pieces[count++] = piece(head);
  pieces[count++] = piece(*text);
  if (needsNewline) pieces[count++] = piece(kNewline);
  pieces[count++] = piece(reset);
  ssize_t ignored = writev(STDERR_FILENO, pieces, count);
  (void)ignored;
}
