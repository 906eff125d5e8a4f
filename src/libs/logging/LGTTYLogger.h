#pragma once
// LGTTYLogger: writes each message as one line to standard error, in one gathered write, with
// an optional colour per kind of message (chosen by tag, or by flag and context). Colours are
// escape sequences for the terminal the environment announces: "TERM" containing "color" (a
// 16-colour terminal, or 256 colours when it also contains "256"), or, without "TERM", a console
// that takes RGB escapes when "ConsoleColors" is "YES".
//
// One process-wide instance. Writing and colour changes run on its queue "logging.ttyLogger";
// colour changes from elsewhere travel through the logging queue.
//
// Nothing in the system attaches it yet; it is kept whole for a host that wants the console.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "logging/LGAbstractLogger.h"
#include "logging/LGColor.h"
#include "logging/LGTTYLoggerColorProfile.h"
#include "platform/foundation/Value.h"

class LGTTYLogger : public LGAbstractLogger {
 public:
  // The class set-up, from the process's environment; runs once.
  static void initialize();
  // The class set-up with the given environment values (absent: unset). `initialize` calls it
  // once; tests call it to try other terminals. Profiles made before keep their codes.
  static void initializeWithEnvironment(const std::optional<std::string>& term,
                                        const std::optional<std::string>& consoleColors);
  // Fill the colour tables; the class set-up calls the one the terminal needs.
  static void initialize_colors_16();
  static void initialize_colors_256();

  static std::shared_ptr<LGTTYLogger> sharedInstance();

  static bool isColorTerminal();
  static bool isColorConsole();
  // The colour tables (empty unless on a colour terminal).
  static std::size_t colorTableSize();
  static std::string foregroundCode(std::size_t index);
  static std::string backgroundCode(std::size_t index);
  // The index of the nearest table colour; the first of equally near ones; 0 for no table.
  static std::uint32_t codeIndexForColor(const LGColor& color);

  bool colorsEnabled();
  void setColorsEnabled(bool colorsEnabled);

  void setForegroundColor(std::optional<LGColor> foreground, std::optional<LGColor> background,
                          int flag, int context = 0);
  // The tag must be copyable (not null, not an opaque object), else "Invalid tag" fails.
  void setForegroundColorForTag(std::optional<LGColor> foreground,
                                std::optional<LGColor> background, const platform::Value& tag);
  void clearColorsForFlag(int flag, int context = 0);
  void clearColorsForTag(const platform::Value& tag);
  void clearColorsForAllFlags();
  void clearColorsForAllTags();
  void clearAllColors();

  void logMessage(const LGLogMessage& message) override;
  std::optional<std::string> loggerName() const override { return "logging.ttyLogger"; }

 private:
  LGTTYLogger();
  // Queue only.
  void loadDefaultColorProfiles();
  std::shared_ptr<LGTTYLoggerColorProfile> profileFor(const LGLogMessage& message) const;
  std::string timestampText(platform::Date date) const;

  // Set before start, read-only after.
  const std::string appName_;
  const std::string processID_;

  // Owned by the logger's queue.
  bool _colorsEnabled = false;
  std::vector<std::shared_ptr<LGTTYLoggerColorProfile>> colorProfilesArray_;
  std::vector<std::pair<platform::Value, std::shared_ptr<LGTTYLoggerColorProfile>>>
      colorProfilesDict_;
};
