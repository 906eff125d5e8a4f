#include "shell/RoadScreen.h"

#include <set>

#include "platform/foundation/Thread.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextView.h"
#include "platform/ui/Window.h"

namespace {

using platform::View;

// Every root a person may see, the one on top first.
std::vector<std::shared_ptr<View>> roots() {
  std::vector<std::shared_ptr<View>> found;
  auto top = platform::AlertView::topAlert();
  if (top) found.push_back(top);
  auto alerts = platform::AlertView::visibleAlerts();
  for (auto it = alerts.rbegin(); it != alerts.rend(); ++it)
    if (*it != top) found.push_back(*it);
  auto& app = platform::Application::sharedApplication();
  auto key = app.keyWindow();
  if (key && !key->isHidden()) found.push_back(key);
  auto windows = app.windows();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if (*it != key && !(*it)->isHidden()) found.push_back(*it);
  return found;
}

// Front-most first: later subviews before earlier ones, a view's subviews before the view.
void collect(const std::shared_ptr<View>& view, std::vector<std::shared_ptr<View>>* out) {
  const auto& subviews = view->subviews();
  for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) collect(*it, out);
  out->push_back(view);
}

std::vector<std::shared_ptr<View>> seenViews() {
  platform::assertMainThread("RoadScreen");
  std::vector<std::shared_ptr<View>> all;
  for (const auto& root : roots()) {
    root->layoutIfNeeded();
    collect(root, &all);
  }
  std::vector<std::shared_ptr<View>> seen;
  for (const auto& view : all)
    if (RoadScreen::isSeen(*view)) seen.push_back(view);
  return seen;
}

std::string withoutPng(const std::string& name) {
  const std::string extension = ".png";
  if (name.size() > extension.size() &&
      name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
    return name.substr(0, name.size() - extension.size());
  return name;
}

bool isPicture(const std::shared_ptr<platform::Image>& image, const std::string& name) {
  return image && !image->name().empty() && withoutPng(image->name()) == withoutPng(name);
}

bool showsPicture(const View& view, const std::string& name) {
  if (auto* button = dynamic_cast<const platform::Button*>(&view)) {
    return isPicture(button->imageForState(button->state()), name) ||
           isPicture(button->backgroundImageForState(button->state()), name);
  }
  if (auto* image = dynamic_cast<const platform::ImageView*>(&view))
    return isPicture(image->image(), name);
  return false;
}

// The texts a view shows itself (a button's title is its label's).
std::vector<std::string> textsOf(const View& view) {
  if (auto* alert = dynamic_cast<const platform::AlertView*>(&view)) {
    std::vector<std::string> texts = alert->buttonTitles();
    if (alert->title()) texts.push_back(*alert->title());
    if (alert->message()) texts.push_back(*alert->message());
    return texts;
  }
  if (auto* label = dynamic_cast<const platform::Label*>(&view)) return {label->text()};
  if (auto* field = dynamic_cast<const platform::TextField*>(&view)) {
    std::vector<std::string> texts{field->text()};
    if (field->placeholder()) texts.push_back(*field->placeholder());
    return texts;
  }
  if (auto* textView = dynamic_cast<const platform::TextView*>(&view)) return {textView->text()};
  return {};
}

std::string trimmed(const std::string& text) {
  auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

platform::Rect RoadScreen::frameOnScreen(const View& view) {
  const View* root = &view;
  while (root->superviewPointer()) root = root->superviewPointer();
  return view.convertRectToView(view.bounds(), root);
}

bool RoadScreen::isSeen(const View& view) {
  const View* root = &view;
  for (const View* v = &view; v; v = v->superviewPointer()) {
    if (v->isHidden() || v->alpha() < 0.01) return false;
    root = v;
  }
  // A tree counts when it hangs in a window or is an alert on screen (alerts are roots).
  if (auto* alert = dynamic_cast<const platform::AlertView*>(root)) {
    if (!alert->isVisible()) return false;
  } else if (!dynamic_cast<const platform::Window*>(root)) {
    return false;
  }
  platform::Rect inRoot = view.convertRectToView(view.bounds(), root);
  platform::Rect area = root->bounds();
  return inRoot.maxX() > area.minX() && inRoot.minX() < area.maxX() &&
         inRoot.maxY() > area.minY() && inRoot.minY() < area.maxY();
}

bool RoadScreen::shows(const View& view, const RoadStep::Target& target) {
  switch (target.kind) {
    case RoadStep::Target::Kind::Tag:
      return view.tag() == target.tag;
    case RoadStep::Target::Kind::Picture:
      return showsPicture(view, target.text);
    case RoadStep::Target::Kind::Class:
      return view.className() == target.text;
    case RoadStep::Target::Kind::Text:
      break;
  }
  // Blanks around a text are not seen: "  用户名：" reads as "用户名：".
  for (const auto& text : textsOf(view))
    if (trimmed(text) == trimmed(target.text)) return true;
  return false;
}

std::vector<std::shared_ptr<View>> RoadScreen::find(const RoadStep::Target& target) {
  std::vector<std::shared_ptr<View>> found;
  for (const auto& view : seenViews())
    if (shows(*view, target)) found.push_back(view);
  return found;
}

std::shared_ptr<platform::TableView> RoadScreen::frontTable() {
  for (const auto& view : seenViews())
    if (auto table = std::dynamic_pointer_cast<platform::TableView>(view)) return table;
  return nullptr;
}

std::shared_ptr<platform::ScrollView> RoadScreen::frontScrollView() {
  for (const auto& view : seenViews()) {
    if (std::dynamic_pointer_cast<platform::TableView>(view) ||
        std::dynamic_pointer_cast<platform::TextView>(view))
      continue;
    if (auto scroll = std::dynamic_pointer_cast<platform::ScrollView>(view)) return scroll;
  }
  return nullptr;
}

bool RoadScreen::showsActivity() {
  for (const auto& view : seenViews()) {
    auto* indicator = dynamic_cast<const platform::ActivityIndicatorView*>(view.get());
    if (indicator && indicator->isAnimating()) return true;
  }
  return false;
}

std::vector<std::string> RoadScreen::visibleTexts() {
  std::vector<std::string> texts;
  std::set<std::string> seen;
  auto add = [&](const std::string& text) {
    if (!text.empty() && seen.insert(text).second) texts.push_back(text);
  };
  for (const auto& view : seenViews()) {
    for (const auto& text : textsOf(*view))
      if (!trimmed(text).empty()) add("\"" + trimmed(text) + "\"");
    if (auto* button = dynamic_cast<const platform::Button*>(view.get())) {
      for (const auto& image : {button->imageForState(button->state()),
                                button->backgroundImageForState(button->state())})
        if (image && !image->name().empty()) add("@" + withoutPng(image->name()));
    }
  }
  return texts;
}
