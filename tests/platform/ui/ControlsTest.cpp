// Controls driven as a person would: text entry with its delegate calls, switches, sliders,
// page controls, scroll views and tap gesture recognizers beside controls.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/PageControl.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Slider.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TapGestureRecognizer.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextView.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

class Recorder : public TextFieldDelegate, public TextViewDelegate {
 public:
  bool textFieldShouldBeginEditing(TextField&) override {
    calls.push_back("shouldBegin");
    return allowBegin;
  }
  void textFieldDidBeginEditing(TextField&) override { calls.push_back("didBegin"); }
  bool textFieldShouldEndEditing(TextField&) override {
    calls.push_back("shouldEnd");
    return true;
  }
  void textFieldDidEndEditing(TextField&) override { calls.push_back("didEnd"); }
  bool shouldChangeCharactersInRange(TextField&, std::size_t, std::size_t,
                                     const std::string& s) override {
    calls.push_back("change " + s);
    return s != "x";
  }
  bool textFieldShouldReturn(TextField&) override {
    calls.push_back("shouldReturn");
    return true;
  }
  void textViewDidChange(TextView& v) override { calls.push_back("textViewDidChange " + v.text()); }
  void textViewDidEndEditing(TextView&) override { calls.push_back("textViewDidEnd"); }
  void scrollViewDidScroll(ScrollView& s) override {
    calls.push_back("didScroll " + std::to_string(static_cast<int>(s.contentOffset().x)));
  }
  void scrollViewDidEndDecelerating(ScrollView&) override { calls.push_back("didEndDecelerating"); }
  void scrollViewDidEndScrollingAnimation(ScrollView&) override {
    calls.push_back("didEndAnimation");
  }
  std::vector<std::string> calls;
  bool allowBegin = true;
};

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UITestDriver::reset();
    window = Window::create();
    window->makeKeyAndVisible();
    recorder = std::make_shared<Recorder>();
  }
  void TearDown() override { UITestDriver::reset(); }
  template <class T>
  std::shared_ptr<T> add(std::shared_ptr<T> view) {
    window->addSubview(view);
    return view;
  }
  std::shared_ptr<Window> window;
  std::shared_ptr<Recorder> recorder;
};

TEST_F(ControlsTest, TypingIntoATextFieldAsksAndTellsItsDelegate) {
  auto name = add(TextField::create(Rect{30, 45, 260, 35}));
  auto password = add(TextField::create(Rect{30, 95, 260, 35}));
  name->setDelegate(recorder);
  password->setSecureTextEntry(true);
  std::vector<std::string> events;
  name->addAction([&] { events.push_back("changed"); }, ControlEvent::EditingChanged);

  UITestDriver::typeText(name, "a张x");
  EXPECT_TRUE(name->isFirstResponder());
  EXPECT_EQ(name->text(), "a张") << "the delegate refused the x";
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"shouldBegin", "didBegin", "change a",
                                                       "change 张", "change x"}));
  EXPECT_EQ(events.size(), 2u);

  recorder->calls.clear();
  UITestDriver::typeText(password, "secret");
  EXPECT_FALSE(name->isFirstResponder());
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"shouldEnd", "didEnd"}));
  EXPECT_EQ(password->text(), "secret");
}

TEST_F(ControlsTest, ReturnKeyAsksTheDelegateAndEndsOnExitOnlyWhenWired) {
  auto field = add(TextField::create(Rect{30, 45, 260, 35}));
  field->setDelegate(recorder);
  UITestDriver::typeText(field, "1");
  UITestDriver::pressReturn(field);
  EXPECT_TRUE(field->isFirstResponder()) << "return alone does not end editing";
  field->addAction([] {}, ControlEvent::EditingDidEndOnExit);
  UITestDriver::pressReturn(field);
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_THROW(UITestDriver::pressReturn(field), AssertionFailure);
}

TEST_F(ControlsTest, RefusedEditingKeepsTheKeyboardAway) {
  auto field = add(TextField::create(Rect{30, 45, 260, 35}));
  field->setDelegate(recorder);
  recorder->allowBegin = false;
  EXPECT_THROW(UITestDriver::typeText(field, "a"), AssertionFailure);
  EXPECT_EQ(field->text(), "");
}

TEST_F(ControlsTest, EndEditingResignsTheFieldInsideAView) {
  auto form = add(View::create(Rect{0, 0, 320, 300}));
  auto field = TextField::create(Rect{30, 45, 260, 35});
  form->addSubview(field);
  UITestDriver::tap(field);
  EXPECT_TRUE(field->isFirstResponder());
  EXPECT_TRUE(form->endEditing(true));
  EXPECT_FALSE(field->isFirstResponder());
}

TEST_F(ControlsTest, TextViewTellsItsDelegateOfEachChange) {
  auto text = add(TextView::create(Rect{20, 10, 280, 100}));
  text->setDelegate(recorder);
  UITestDriver::typeText(text, "好的");
  EXPECT_EQ(recorder->calls,
            (std::vector<std::string>{"textViewDidChange 好", "textViewDidChange 好的"}));
  text->resignFirstResponder();
  EXPECT_EQ(recorder->calls.back(), "textViewDidEnd");
}

TEST_F(ControlsTest, SwitchFlipsOnTapAndSliderMovesWithinItsRange) {
  auto toggle = add(Switch::create(Rect{215, 8, 80, 30}));
  EXPECT_EQ(toggle->frame(), Rect(215, 8, 79, 27));
  int changes = 0;
  toggle->addAction([&] { ++changes; }, ControlEvent::ValueChanged);
  toggle->setOn(true);
  EXPECT_EQ(changes, 0) << "code does not send events";
  UITestDriver::tap(toggle);
  EXPECT_FALSE(toggle->isOn());
  EXPECT_EQ(changes, 1);

  auto slider = add(Slider::create(Rect{100, 200, 200, 44}));
  std::vector<double> values;
  slider->addAction([&](Control& c) { values.push_back(static_cast<Slider&>(c).value()); },
                    ControlEvent::ValueChanged);
  UITestDriver::slide(slider, 0.25);
  UITestDriver::slide(slider, 3);
  EXPECT_EQ(values, (std::vector<double>{0.25, 1}));
}

TEST_F(ControlsTest, DisabledButtonSendsNothing) {
  auto button = add(Button::create(Rect{0, 0, 100, 40}));
  int taps = 0;
  button->addAction([&] { ++taps; }, ControlEvent::TouchUpInside);
  button->setEnabled(false);
  UITestDriver::tap(button);
  EXPECT_EQ(taps, 0);
  button->setEnabled(true);
  UITestDriver::tap(button);
  EXPECT_EQ(taps, 1);
}

TEST_F(ControlsTest, TappingWhatAViewShowsReachesTheViewHoldingItButNotOneCoveringIt) {
  auto button = add(Button::create(Rect{0, 0, 100, 40}));
  button->setTitle(std::string("登录"));
  int taps = 0;
  button->addAction([&] { ++taps; }, ControlEvent::TouchUpInside);
  window->layoutIfNeeded();
  std::string why;
  EXPECT_FALSE(UITestDriver::tryTap(button->titleLabel(), &why)) << "the title takes no touch";
  UITestDriver::tapContent(button->titleLabel());
  EXPECT_EQ(taps, 1);

  auto label = add(Label::create(Rect{0, 100, 100, 40}));
  label->setText("盖住");
  add(Button::create(Rect{0, 100, 100, 40}));  // covers the label
  EXPECT_FALSE(UITestDriver::tryTapContent(label, &why));
  EXPECT_NE(why.find("would go to"), std::string::npos) << why;
  EXPECT_THROW(UITestDriver::tapContent(label), AssertionFailure);
}

TEST_F(ControlsTest, ButtonStatesFallBackToNormal) {
  auto button = add(Button::create(Rect{0, 0, 100, 40}));
  button->setTitle(std::string("下载中（0）"));
  button->setTitleColor(Color::blackColor());
  button->setTitleColor(Color::redColor(), ControlState::Disabled);
  EXPECT_EQ(button->titleLabel()->text(), "下载中（0）");
  button->setEnabled(false);
  EXPECT_EQ(button->currentTitle(), "下载中（0）");
  EXPECT_EQ(button->titleLabel()->textColor(), Color::redColor());
  button->setEnabled(true);
  button->setSelected(true);
  EXPECT_EQ(button->currentTitleColor(), Color::blackColor());
}

TEST_F(ControlsTest, PageControlStepsTowardsTheTappedSide) {
  auto dots = add(PageControl::create(Rect{60, 445, 200, 20}));
  dots->setNumberOfPages(7);
  int changes = 0;
  dots->addAction([&] { ++changes; }, ControlEvent::ValueChanged);
  UITestDriver::tapAt(*window, {210, 455});
  EXPECT_EQ(dots->currentPage(), 1);
  UITestDriver::tapAt(*window, {65, 455});
  EXPECT_EQ(dots->currentPage(), 0);
  UITestDriver::tapAt(*window, {65, 455});
  EXPECT_EQ(dots->currentPage(), 0) << "no page before the first";
  EXPECT_EQ(changes, 2);
}

TEST_F(ControlsTest, PagingScrollViewEndsOnAPageAndTellsItsDelegate) {
  auto pages = add(ScrollView::create(Rect{0, 0, 320, 480}));
  pages->setContentSize({320 * 7, 480});
  pages->setPagingEnabled(true);
  pages->setDelegate(recorder);
  UITestDriver::scrollTo(pages, {700, 0});
  EXPECT_EQ(pages->contentOffset(), (Point{640, 0}));
  UITestDriver::scrollTo(pages, {5000, 0});
  EXPECT_EQ(pages->contentOffset(), (Point{1920, 0})) << "clamped to the last page";
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"didScroll 640", "didEndDecelerating",
                                                       "didScroll 1920", "didEndDecelerating"}));
}

TEST_F(ControlsTest, AnimatedScrollEndsOnTheClock) {
  ScopedManualClock clock;
  auto pages = add(ScrollView::create(Rect{0, 0, 290, 200}));
  pages->setContentSize({580, 200});
  pages->setDelegate(recorder);
  pages->setContentOffset({290, 0}, true);
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"didScroll 290"}));
  UITestDriver::settle(ScrollView::kScrollAnimationDuration);
  EXPECT_EQ(recorder->calls.back(), "didEndAnimation");
}

TEST_F(ControlsTest, TapGestureOnAViewRunsAndCancelsTheTouch) {
  auto header = add(View::create(Rect{0, 0, 320, 55}));
  auto label = Label::create(Rect{22, 0, 300, 55});
  header->addSubview(label);
  int taps = 0;
  auto gesture = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer& g) {
    ++taps;
    EXPECT_EQ(g.view(), header.get());
    EXPECT_EQ(g.locationInView(header.get()).y, 27.5);
  });
  header->addGestureRecognizer(gesture);
  UITestDriver::tap(header);
  EXPECT_EQ(taps, 1);
}

TEST_F(ControlsTest, RecognizerOutlivingItsViewCanBeAttachedElsewhere) {
  auto gesture = std::make_shared<TapGestureRecognizer>();
  {
    auto page = View::create(Rect{0, 44, 320, 212});
    page->addGestureRecognizer(gesture);
    EXPECT_EQ(gesture->view(), page.get());
  }
  EXPECT_EQ(gesture->view(), nullptr) << "the destroyed view let go of its recognizer";
  int taps = 0;
  gesture->addAction([&](GestureRecognizer&) { ++taps; });
  auto other = add(View::create(Rect{0, 44, 320, 212}));
  other->addGestureRecognizer(gesture);
  EXPECT_EQ(gesture->view(), other.get());
  UITestDriver::tap(other);
  EXPECT_EQ(taps, 1);
}

TEST_F(ControlsTest, ControlsKeepTheirTapsFromAncestorGestures) {
  auto form = add(View::create(Rect{0, 0, 320, 480}));
  auto button = Button::create(Rect{30, 180, 260, 45});
  form->addSubview(button);
  int background = 0, pressed = 0;
  auto gesture = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { ++background; });
  form->addGestureRecognizer(gesture);
  button->addAction([&] { ++pressed; }, ControlEvent::TouchUpInside);
  UITestDriver::tap(button);
  EXPECT_EQ(pressed, 1);
  EXPECT_EQ(background, 0);
  UITestDriver::tapAt(*window, {10, 10});
  EXPECT_EQ(background, 1);
}

TEST_F(ControlsTest, GestureThatLetsTouchesThroughStillLetsTheControlAct) {
  auto slider = add(Slider::create(Rect{165, 0, 167, 44}));
  int taps = 0, downs = 0;
  auto gesture = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { ++taps; });
  gesture->setCancelsTouchesInView(false);
  slider->addGestureRecognizer(gesture);
  slider->addAction([&] { ++downs; }, ControlEvent::TouchUpInside);
  UITestDriver::tap(slider);
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(downs, 1);
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

TEST_F(ControlsTest, BackgroundTapGestureReachesTextFieldsUnlessItCancelsTheirTouches) {
  auto form = add(View::create(Rect{0, 0, 320, 480}));
  auto field = TextField::create(Rect{30, 45, 260, 35});
  form->addSubview(field);
  int background = 0;
  auto gesture = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) {
    ++background;
    form->endEditing(true);
  });
  form->addGestureRecognizer(gesture);
  UITestDriver::tap(field);
  EXPECT_EQ(background, 1);
  EXPECT_FALSE(field->isFirstResponder()) << "the recognizer cancelled the field's touch";
  gesture->setCancelsTouchesInView(false);
  UITestDriver::tap(field);
  EXPECT_EQ(background, 2);
  EXPECT_TRUE(field->isFirstResponder()) << "a recognizer that lets touches through";
}

}  // namespace
}  // namespace platform
