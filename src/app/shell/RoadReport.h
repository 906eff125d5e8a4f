#pragma once
// RoadReport: what a scripted run leaves for people: "index.html" in the output folder, which
// shows the summary and then the pictures in order, each under the step that led to it (a failed
// step marked, with its reason), and the summary printed on the terminal: steps passed, the study
// time credited this run (seconds), sent to the server (minutes, the server's unit) and kept on
// the device (seconds), the lecture bytes downloaded, the media-server requests served and where
// the pictures are.

#include <string>

class RoadRunner;

class RoadReport {
 public:
  RoadReport() = delete;

  // False with `error` set when the page cannot be written.
  static bool writeIndex(const RoadRunner& runner, const std::string& folder, std::string* error);
  static std::string summary(const RoadRunner& runner, const std::string& folder);
  // "step 7 (line 23: tap "登录") failed: <reason>", or empty when no step failed.
  static std::string failure(const RoadRunner& runner);
};
