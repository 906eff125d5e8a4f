#include "shell/RoadStep.h"

std::string RoadStep::Target::describe() const {
  switch (kind) {
    case Kind::Tag:
      return "#" + std::to_string(tag);
    case Kind::Picture:
      return "@" + text;
    case Kind::Class:
      return "%" + text;
    case Kind::Text:
      break;
  }
  return "\"" + text + "\"";
}
