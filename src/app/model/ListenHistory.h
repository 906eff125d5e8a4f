#pragma once
// ListenHistory: the last play of one lecture by one user in one region, year and class (a row
// of the listen-history table). Made empty and filled field by field; an empty one (every field
// absent) stands for "no play recorded".

#include "model/ModelTypes.h"

class ListenHistory {
 public:
  const model::Number& Id() const { return _Id; }
  void setId(model::Number v) { _Id = v; }
  const model::Number& userId() const { return _userId; }
  void setUserId(model::Number v) { _userId = v; }
  const model::Number& cwid() const { return _cwid; }
  void setCwid(model::Number v) { _cwid = v; }
  const model::Number& reclassId() const { return _reclassId; }
  void setReclassId(model::Number v) { _reclassId = v; }
  const model::Text& year() const { return _year; }
  void setYear(model::Text v) { _year = std::move(v); }
  const model::Text& areCode() const { return _areCode; }
  void setAreCode(model::Text v) { _areCode = std::move(v); }
  // "yyyy-MM-dd HH:mm:ss" local time, so that text order is time order.
  const model::Text& lastListenTime() const { return _lastListenTime; }
  void setLastListenTime(model::Text v) { _lastListenTime = std::move(v); }
  const model::Number& listenedMilliseconds() const { return _listenedMilliseconds; }
  void setListenedMilliseconds(model::Number v) { _listenedMilliseconds = v; }

 private:
  model::Number _Id;
  model::Number _userId;
  model::Number _cwid;
  model::Number _reclassId;
  model::Text _year;
  model::Text _areCode;
  model::Text _lastListenTime;
  model::Number _listenedMilliseconds;
};
