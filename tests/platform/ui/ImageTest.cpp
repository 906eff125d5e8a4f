#include <cairo.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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

}  // namespace
}  // namespace platform
