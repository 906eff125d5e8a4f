#include <cairo.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "support/TempHome.h"

namespace platform {
namespace {

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = testsupport::makeTempFolder("ui-images");
    std::filesystem::create_directories(folder + "/images");
    previous = Bundle::main().resourcePath();
    Bundle::main().setResourcePath(folder);
    Image::clearCache();
  }
  void TearDown() override {
    Bundle::main().setResourcePath(previous);
    Image::clearCache();
    std::filesystem::remove_all(folder);
  }
  void writePng(const std::string& name, int width, int height) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    ASSERT_EQ(cairo_surface_write_to_png(s, (folder + "/images/" + name).c_str()),
              CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(s);
  }
  std::string folder;
  std::string previous;
};

TEST_F(ImageTest, NamesFindTheirFilesWithTheDoubleScaleVariantFirst) {
  writePng("btn_refresh@2x.png", 324, 72);
  writePng("btn_refresh.png", 10, 10);
  writePng("head_jia.png", 15, 15);
  writePng("conver_default@2x.png", 144, 186);
  writePng("jc－1.png", 520, 90);
  struct Case {
    const char* name;
    Size size;
    double scale;
  };
  std::vector<Case> cases{
      {"btn_refresh", {162, 36}, 2}, {"btn_refresh.png", {162, 36}, 2},
      {"head_jia", {15, 15}, 1},     {"conver_default@2x", {72, 93}, 2},
      {"jc－1.png", {520, 90}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = Image::named(c.name);
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->isMissing());
    EXPECT_EQ(image->size(), c.size);
    EXPECT_EQ(image->scale(), c.scale);
  }
  EXPECT_EQ(Image::named(""), nullptr);
  EXPECT_TRUE(Image::named("help7.png")->isMissing());
}

TEST_F(ImageTest, ImageViewsAndButtonsSizeToTheirPictures) {
  writePng("arraw@2x.png", 8, 12);
  auto view = ImageView::create(Image::named("arraw"));
  EXPECT_EQ(view->frame(), Rect(0, 0, 4, 6));
  EXPECT_FALSE(view->isUserInteractionEnabled());
  auto button = Button::create();
  button->setBackgroundImage(Image::named("arraw"));
  button->sizeToFit();
  EXPECT_EQ(button->frame().size, (Size{4, 6}));
  auto stretched = Image::named("arraw")->stretchableImage(10, 0);
  EXPECT_EQ(stretched->leftCapWidth(), 10);
  EXPECT_EQ(stretched->size(), (Size{4, 6}));
}

// The build draws every picture the screens name into the compiled-in resource folder, at the
// size the screens show it; names no screen uses stay placeholders.
TEST(DrawnPicturesTest, PicturesTheScreensNameHaveTheirSizes) {
  Bundle::main().setResourcePath("");
  Image::clearCache();
  struct Case {
    const char* name;
    Size size;
  };
  std::vector<Case> cases{
      {"help1.png", {440, 560}},       {"help6.png", {440, 560}},
      {"help7.png", {320, 480}},       {"help.png", {320, 480}},
      {"begin.png", {100, 30}},        {"icon_mycourse", {15, 19}},
      {"icon_localcourse", {18, 18}},  {"btn_studylog_s", {13, 13}},
      {"icon_setting@2x", {14, 14}},   {"c-2-1.png", {320, 49}},
      {"btn_back_2", {44, 44}},        {"btn_video_back", {44, 44}},
      {"btn_bg@2x.png", {100, 30}},    {"jc.png", {260, 45}},
      {"jc－1.png", {260, 45}},        {"btn_logout_p", {260, 45}},
      {"conver_default@2x", {72, 93}}, {"checkbox_check_big", {16, 16}},
      {"head_jian", {15, 15}},         {"arraw", {4, 6}},
      {"select_download", {95, 82}},   {"nohisoty_notify", {95, 82}},
      {"btn_switch_video", {39, 24}},  {"sound_clear", {22, 22}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = Image::named(c.name);
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->isMissing());
    EXPECT_EQ(image->size(), c.size);
    EXPECT_EQ(image->scale(), 2) << "the double-scale variant is drawn too";
  }
  // The guide sizes its first page's picture w / 2 by (h - 30) / 2: positive, on the page.
  Size help1 = Image::named("help1.png")->size();
  EXPECT_GT((help1.height - 30) / 2, 0);
  EXPECT_LE(help1.width / 2, 320);
  EXPECT_TRUE(Image::named("a_name_no_screen_uses")->isMissing());
  Image::clearCache();
}

}  // namespace
}  // namespace platform
