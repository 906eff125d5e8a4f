#include "shell/RoadReport.h"

#include <libxml/entities.h>
#include <libxml/xmlmemory.h>

#include <cstdio>
#include <fstream>

#include "platform/foundation/Paths.h"
#include "shell/RoadRunner.h"

namespace {

std::string escaped(const std::string& text) {
  xmlChar* encoded = xmlEncodeSpecialChars(nullptr, reinterpret_cast<const xmlChar*>(text.c_str()));
  if (!encoded) return "";
  std::string out(reinterpret_cast<const char*>(encoded));
  xmlFree(encoded);
  return out;
}

std::string stepTitle(const RoadRunner::Record& record) {
  return "step " + std::to_string(record.number) + " (line " + std::to_string(record.step.line) +
         ": " + record.step.source + ")";
}

std::string line(const char* label, const std::string& value) {
  char text[256];
  std::snprintf(text, sizeof text, "  %-30s %s\n", label, value.c_str());
  return text;
}

}  // namespace

bool RoadReport::writeIndex(const RoadRunner& runner, const std::string& folder,
                            std::string* error) {
  const std::string path = platform::Paths::join(folder, "index.html");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  out << "<!DOCTYPE html>\n<html lang=\"zh\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<title>chengheng: the learner's road</title>\n<style>\n"
      << "body { font-family: sans-serif; margin: 2em; }\n"
      << ".steps { display: flex; flex-wrap: wrap; gap: 1.5em; }\n"
      << "figure { margin: 0; width: 330px; }\n"
      << "figure img { width: 320px; border: 1px solid #999; }\n"
      << "figcaption { font-size: 0.9em; margin-bottom: 0.4em; }\n"
      << ".failed figcaption { color: #b00; font-weight: bold; }\n</style>\n</head>\n<body>\n"
      << "<h1>The learner's road</h1>\n<p>" << runner.passedCount() << " of " << runner.stepCount()
      << " steps passed.</p>\n"
      // The figures as the console printed them, so the page alone tells the whole run.
      << "<pre class=\"summary\">" << escaped(summary(runner, folder)) << "</pre>\n"
      << "<div class=\"steps\">\n";
  for (const auto& record : runner.records()) {
    out << "<figure" << (record.passed ? "" : " class=\"failed\"") << ">\n<figcaption>"
        << escaped(stepTitle(record));
    if (!record.passed) out << "<br>failed: " << escaped(record.failure);
    out << "</figcaption>\n";
    if (!record.picture.empty())
      out << "<img src=\"" << escaped(record.picture) << "\" alt=\"" << escaped(record.step.source)
          << "\">\n";
    out << "</figure>\n";
  }
  out << "</div>\n</body>\n</html>\n";
  out.close();
  if (!out) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

std::string RoadReport::summary(const RoadRunner& runner, const std::string& folder) {
  const RoadCounters& counters = runner.counters();
  std::string text = "The learner's road:\n";
  text += line("steps passed:",
               std::to_string(runner.passedCount()) + " of " + std::to_string(runner.stepCount()));
  text +=
      line("study time credited this run:", std::to_string(counters.studySecondsCredited()) + " s");
  text +=
      line("study time sent to the server:", std::to_string(counters.studyMinutesSent()) + " min");
  text +=
      line("study time kept on the device:", std::to_string(counters.studySecondsKept()) + " s");
  text += line("lecture bytes downloaded:", std::to_string(counters.lectureBytesDownloaded()));
  text += line("media-server requests served:", std::to_string(counters.mediaRequestsServed()));
  text += line("screens:", platform::Paths::join(folder, "index.html"));
  return text;
}

std::string RoadReport::failure(const RoadRunner& runner) {
  for (const auto& record : runner.records())
    if (!record.passed) return stepTitle(record) + " failed: " + record.failure;
  return "";
}
