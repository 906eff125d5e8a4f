#pragma once
// RoadScreen: what the scripted run sees of the screen: the views a person can see, found by
// what they show (a text, a tag, a picture), front-most first: the alert on top, the other
// alerts, then the key window and the other windows, and within a tree later and deeper views
// before the ones they cover. A view counts as seen when it and its ancestors are shown and
// some of it lies inside its window. Main thread only.

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ScrollView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/View.h"
#include "shell/RoadStep.h"

class RoadScreen {
 public:
  RoadScreen() = delete;

  // The views showing `target`, front-most first.
  static std::vector<std::shared_ptr<platform::View>> find(const RoadStep::Target& target);
  // The front-most table or other scroll view on screen, or null.
  static std::shared_ptr<platform::TableView> frontTable();
  static std::shared_ptr<platform::ScrollView> frontScrollView();
  // Whether a wait indicator spins somewhere on screen.
  static bool showsActivity();
  // The texts on screen, front-most first, each once: what a failure message lists.
  static std::vector<std::string> visibleTexts();

  // Where `view` lies in the coordinates of its root: its window, or its alert.
  static platform::Rect frameOnScreen(const platform::View& view);

  static bool shows(const platform::View& view, const RoadStep::Target& target);
  static bool isSeen(const platform::View& view);
};
