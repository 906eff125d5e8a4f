#pragma once
// DownloadInfo: one lecture of the download list (a row of the download table). `state` is 0
// while queued or unfinished and 1 once the lecture is complete on disk.

#include "model/ModelTypes.h"

class DownloadInfo {
 public:
  const model::Number& userId() const { return _userId; }
  void setUserId(model::Number v) { _userId = v; }
  const model::Number& year() const { return _year; }
  void setYear(model::Number v) { _year = v; }
  const model::Number& reclassId() const { return _reclassId; }
  void setReclassId(model::Number v) { _reclassId = v; }
  const model::Number& cwid() const { return _cwid; }
  void setCwid(model::Number v) { _cwid = v; }
  const model::Number& state() const { return _state; }
  void setState(model::Number v) { _state = v; }
  const model::Text& areacode() const { return _areacode; }
  void setAreacode(model::Text v) { _areacode = std::move(v); }

 private:
  model::Number _userId;
  model::Number _year;
  model::Number _reclassId;
  model::Number _cwid;
  model::Number _state;
  model::Text _areacode;
};
