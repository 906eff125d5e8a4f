#include "shell/RoadScript.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

namespace {

struct Word {
  std::string text;
  bool quoted = false;
};

// Splits a line into words; false with `error` set on an unclosed quote or a stray escape.
bool splitWords(const std::string& line, std::vector<Word>* words, std::string* error) {
  std::size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    Word word;
    if (line[i] == '"') {
      word.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\') {
          if (i >= line.size() || (line[i] != '"' && line[i] != '\\')) {
            *error = "only \\\" and \\\\ may be escaped";
            return false;
          }
          c = line[i++];
        }
        word.text += c;
      }
      if (!closed) {
        *error = "a quoted text is not closed";
        return false;
      }
      if (i < line.size() && line[i] != ' ' && line[i] != '\t') {
        *error = "a quoted text must be followed by a blank";
        return false;
      }
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') word.text += line[i++];
    }
    words->push_back(std::move(word));
  }
  return true;
}

bool parseNumber(const Word& word, double* value) {
  if (word.quoted || word.text.empty()) return false;
  const char* begin = word.text.data();
  const char* end = begin + word.text.size();
  auto [ptr, ec] = std::from_chars(begin, end, *value);
  return ec == std::errc() && ptr == end && std::isfinite(*value);
}

bool parseInteger(const Word& word, int* value) {
  if (word.quoted || word.text.empty()) return false;
  const char* begin = word.text.data();
  const char* end = begin + word.text.size();
  auto [ptr, ec] = std::from_chars(begin, end, *value);
  return ec == std::errc() && ptr == end;
}

bool parseTarget(const Word& word, RoadStep::Target* target) {
  if (word.quoted) {
    if (word.text.empty()) return false;
    target->kind = RoadStep::Target::Kind::Text;
    target->text = word.text;
    return true;
  }
  if (word.text.size() > 1 && word.text[0] == '#') {
    target->kind = RoadStep::Target::Kind::Tag;
    return parseInteger(Word{word.text.substr(1), false}, &target->tag);
  }
  if (word.text.size() > 1 && word.text[0] == '@') {
    target->kind = RoadStep::Target::Kind::Picture;
    target->text = word.text.substr(1);
    return true;
  }
  if (word.text.size() > 1 && word.text[0] == '%') {
    target->kind = RoadStep::Target::Kind::Class;
    target->text = word.text.substr(1);
    return true;
  }
  return false;
}

// Reads the words after the verb into `step`; the text of what is wrong otherwise.
std::optional<std::string> readStep(const std::string& verb, const std::vector<Word>& args,
                                    RoadStep* step) {
  const std::string kTargetHelp = "a target is \"text\", #tag, @picture or %Class";
  auto target = [&](std::size_t i) -> std::optional<std::string> {
    RoadStep::Target t;
    if (!parseTarget(args[i], &t)) return "\"" + args[i].text + "\" is no target: " + kTargetHelp;
    step->target = t;
    return std::nullopt;
  };
  auto waitLimit = [&](std::size_t i) -> std::optional<std::string> {
    step->seconds = RoadScript::kDefaultWaitSeconds;
    if (i < args.size() && (!parseNumber(args[i], &step->seconds) || step->seconds <= 0))
      return "the wait limit must be a number of seconds above 0";
    return std::nullopt;
  };

  if (verb == "tap") {
    if (args.size() != 1) return "usage: tap TARGET";
    step->verb = RoadStep::Verb::Tap;
    return target(0);
  }
  if (verb == "type") {
    if (args.size() != 2 || !args[1].quoted) return "usage: type TARGET \"text\"";
    step->verb = RoadStep::Verb::Type;
    step->text = args[1].text;
    return target(0);
  }
  if (verb == "select") {
    if (args.size() < 2 || args.size() > 3 || !parseInteger(args[0], &step->section) ||
        !parseInteger(args[1], &step->row) || step->section < 0 || step->row < 0)
      return "usage: select SECTION ROW [TARGET], with SECTION and ROW from 0";
    step->verb = RoadStep::Verb::Select;
    return args.size() == 3 ? target(2) : std::nullopt;
  }
  if (verb == "answer") {
    if (args.size() != 1) return "usage: answer INDEX or answer \"button title\"";
    step->verb = RoadStep::Verb::Answer;
    int index = 0;
    if (args[0].quoted) {
      step->text = args[0].text;
    } else if (parseInteger(args[0], &index) && index >= 0) {
      step->buttonIndex = index;
    } else {
      return "usage: answer INDEX or answer \"button title\"";
    }
    return std::nullopt;
  }
  if (verb == "advance") {
    if (args.size() != 1 || !parseNumber(args[0], &step->seconds) || step->seconds < 0)
      return "usage: advance SECONDS, at least 0";
    step->verb = RoadStep::Verb::Advance;
    return std::nullopt;
  }
  if (verb == "wait") {
    if (!args.empty() && !args[0].quoted && args[0].text == "notification") {
      if (args.size() < 2 || args.size() > 3 || args[1].text.empty())
        return "usage: wait notification NAME [SECONDS]";
      step->verb = RoadStep::Verb::WaitNotification;
      step->text = args[1].text;
      return waitLimit(2);
    }
    if (args.empty() || args.size() > 2 || !args[0].quoted || args[0].text.empty())
      return "usage: wait \"text\" [SECONDS] or wait notification NAME [SECONDS]";
    step->verb = RoadStep::Verb::WaitText;
    step->text = args[0].text;
    return waitLimit(1);
  }
  if (verb == "scroll") {
    if (args.size() < 2 || args.size() > 3 || !parseNumber(args[0], &step->x) ||
        !parseNumber(args[1], &step->y))
      return "usage: scroll X Y [TARGET]";
    step->verb = RoadStep::Verb::Scroll;
    return args.size() == 3 ? target(2) : std::nullopt;
  }
  if (verb == "frame") {
    if (args.size() != 5 || !parseNumber(args[1], &step->x) || !parseNumber(args[2], &step->y) ||
        !parseNumber(args[3], &step->width) || !parseNumber(args[4], &step->height) ||
        step->width < 0 || step->height < 0)
      return "usage: frame TARGET X Y WIDTH HEIGHT, with WIDTH and HEIGHT at least 0";
    step->verb = RoadStep::Verb::Frame;
    return target(0);
  }
  if (verb == "snapshot") {
    if (args.size() != 1 || !args[0].quoted) return "usage: snapshot \"caption\"";
    step->verb = RoadStep::Verb::Snapshot;
    step->text = args[0].text;
    return std::nullopt;
  }
  return "unknown step \"" + verb +
         "\" (tap, type, select, answer, advance, wait, scroll, frame, snapshot)";
}

std::string trimmed(const std::string& line) {
  auto first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  auto last = line.find_last_not_of(" \t\r");
  return line.substr(first, last - first + 1);
}

}  // namespace

std::optional<RoadScript> RoadScript::parse(const std::string& text, std::string* error) {
  RoadScript script;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string source = trimmed(line);
    if (source.empty() || source[0] == '#') continue;
    auto fail = [&](const std::string& why) {
      if (error) *error = "line " + std::to_string(number) + ": " + why;
      return std::nullopt;
    };
    std::vector<Word> words;
    std::string why;
    if (!splitWords(source, &words, &why)) return fail(why);
    if (words[0].quoted) return fail("a step starts with its verb");
    RoadStep step;
    step.line = number;
    step.source = source;
    if (auto wrong = readStep(words[0].text, {words.begin() + 1, words.end()}, &step))
      return fail(*wrong);
    script.steps_.push_back(std::move(step));
  }
  if (script.steps_.empty()) {
    if (error) *error = "the script has no steps";
    return std::nullopt;
  }
  return script;
}

std::optional<RoadScript> RoadScript::load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read the script " + path;
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return parse(content.str(), error);
}

std::vector<std::string> RoadScript::awaitedNotifications() const {
  std::set<std::string> names;
  for (const auto& step : steps_)
    if (step.verb == RoadStep::Verb::WaitNotification) names.insert(step.text);
  return {names.begin(), names.end()};
}
