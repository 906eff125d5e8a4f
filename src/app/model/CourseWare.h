#pragma once
// CourseWare: one lecture of a course class: its notes page, its playlist and the minutes the
// server has credited. Built from the course answer by `jsonToObject` and from stored rows by
// the lecture queries (which alone set `reclassId`).

#include <memory>
#include <nlohmann/json.hpp>

#include "model/ModelTypes.h"

class CourseWare {
 public:
  // One lecture object of the course answer; members of the wrong type read as absent.
  static std::shared_ptr<CourseWare> jsonToObject(const nlohmann::json& object);

  const model::Number& cwId() const { return _cwId; }
  void setCwId(model::Number v) { _cwId = v; }
  const model::Number& reclassId() const { return _reclassId; }
  void setReclassId(model::Number v) { _reclassId = v; }
  const model::Text& name() const { return _name; }
  void setName(model::Text v) { _name = std::move(v); }
  const model::Text& url() const { return _url; }
  void setUrl(model::Text v) { _url = std::move(v); }
  const model::Text& videoUrl() const { return _videoUrl; }
  void setVideoUrl(model::Text v) { _videoUrl = std::move(v); }
  const model::Number& totalMins() const { return _totalMins; }
  void setTotalMins(model::Number v) { _totalMins = v; }
  const model::Number& listenedMins() const { return _listenedMins; }
  void setListenedMins(model::Number v) { _listenedMins = v; }

 private:
  model::Number _cwId;
  model::Number _reclassId;
  model::Text _name;
  model::Text _url;
  model::Text _videoUrl;
  model::Number _totalMins;
  model::Number _listenedMins;
};
