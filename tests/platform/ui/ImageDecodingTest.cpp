// Pictures from bytes: PNG, JPEG and GIF decode, all at once or as the bytes arrive; anything
// else, damaged or hostile, gives no picture; pictures go back out as JPEG.

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/Image.h"
#include "platform/ui/ImageSource.h"
#include "support/Pictures.h"

namespace platform {
namespace {

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::uint32_t pixel(const Image& image, int x, int y) {
  cairo_surface_flush(image.surface());
  const unsigned char* data = cairo_image_surface_get_data(image.surface());
  int stride = cairo_image_surface_get_stride(image.surface());
  std::uint32_t p = reinterpret_cast<const std::uint32_t*>(data + y * stride)[x];
  return image.hasAlpha() ? p : (p | 0xFF000000u);
}

bool near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift = 0; shift < 32; shift += 8) {
    int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d > tolerance || d < -tolerance) return false;
  }
  return true;
}

std::uint32_t crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A real PNG whose header claims another size (with a correct checksum).
std::string pngClaiming(std::uint32_t width, std::uint32_t height) {
  std::string png = testsupport::pngBytes(1, 1);
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) png[at + i] = static_cast<char>(v >> (24 - 8 * i));
  };
  put(16, width);
  put(20, height);
  put(29, crc32(png.substr(12, 17)));
  return png;
}

TEST(ImageDecodingTest, PngJpegAndGifDecodeToTheirSizeAndColours) {
  std::string png = testsupport::pngBytes(3, 2, 0xFF3366CC);
  auto fromPng = Image::imageWithData(bytesOf(png));
  ASSERT_TRUE(fromPng);
  auto jpeg = fromPng->JPEGRepresentation(1.0);
  ASSERT_TRUE(jpeg);
  struct Case {
    const char* name;
    Bytes bytes;
    Size size;
    std::uint32_t colour;
    int tolerance;
  };
  std::vector<Case> cases{
      {"png", bytesOf(png), {3, 2}, 0xFF3366CC, 0},
      {"jpeg", *jpeg, {3, 2}, 0xFF3366CC, 6},
      {"gif", bytesOf(testsupport::redPixelGif()), {1, 1}, 0xFFFF0000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = Image::imageWithData(c.bytes);
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->isMissing());
    EXPECT_EQ(image->size(), c.size);
    EXPECT_EQ(image->scale(), 1);
    EXPECT_TRUE(near(pixel(*image, 0, 0), c.colour, c.tolerance))
        << std::hex << pixel(*image, 0, 0);
  }
  EXPECT_FALSE(Image::imageWithData(*jpeg)->hasAlpha()) << "JPEG pictures are opaque";
}

TEST(ImageDecodingTest, TheScaleDividesThePixelSize) {
  auto image = Image::imageWithData(bytesOf(testsupport::pngBytes(8, 6)), 2);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), (Size{4, 3}));
  EXPECT_EQ(image->scale(), 2);
}

TEST(ImageDecodingTest, BytesThatDoNotDecodeGiveNoPicture) {
  std::string png = testsupport::pngBytes(16, 16, 0xFF000000, true);
  auto jpeg = Image::imageWithData(bytesOf(png))->JPEGRepresentation(0.9);
  std::string jpegText(jpeg->begin(), jpeg->end());
  std::string bmp = "BM" + std::string(60, '\0');
  std::string svg = "<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'/>";
  std::vector<std::pair<const char*, std::string>> cases{
      {"empty", ""},
      {"text", "not a picture"},
      {"png cut in half", png.substr(0, png.size() / 2)},
      {"png signature only", png.substr(0, 8)},
      {"png signature and noise", png.substr(0, 8) + std::string(200, '\x5a')},
      {"jpeg cut in half", jpegText.substr(0, jpegText.size() / 2)},
      {"jpeg start and noise", std::string("\xFF\xD8\xFF\xE0", 4) + std::string(100, '\x01')},
      {"gif header only", "GIF89a"},
      {"gif without its end", testsupport::redPixelGif().substr(0, 28)},
      {"another format (bmp)", bmp},
      {"another format (svg)", svg},
      {"wider than any picture", pngClaiming(40000, 1)},
      {"too many pixels", pngClaiming(20000, 20000)},
      {"no pixels", pngClaiming(0, 0)},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Image::imageWithData(bytesOf(bytes)), nullptr);
  }
}

TEST(ImageDecodingTest, AnIncrementalSourceGivesTheRowsDecodedSoFar) {
  std::string png = testsupport::pngBytes(64, 64, 0, true);
  Bytes all = bytesOf(png);
  ImageSource source;
  source.updateData(Bytes(all.begin(), all.begin() + 4), false);
  EXPECT_EQ(source.pixelWidth(), 0) << "too few bytes to know the format yet";
  EXPECT_EQ(source.imageAtIndex(0), nullptr);

  Bytes half(all.begin(), all.begin() + all.size() / 2);
  source.updateData(half, false);
  EXPECT_EQ(source.pixelWidth(), 64);
  EXPECT_EQ(source.pixelHeight(), 64);
  EXPECT_FALSE(source.isComplete());
  auto partial = source.imageAtIndex(0);
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->size().width, 64);
  EXPECT_GT(partial->size().height, 8);
  EXPECT_LT(partial->size().height, 64);
  EXPECT_EQ(source.imageAtIndex(1), nullptr);

  source.updateData(all, true);
  EXPECT_TRUE(source.isComplete());
  auto whole = source.imageAtIndex(0, 2);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->size(), (Size{32, 32}));
  int lastPartialRow = static_cast<int>(partial->size().height) - 1;
  EXPECT_EQ(pixel(*partial, 63, lastPartialRow), pixel(*whole, 63, lastPartialRow))
      << "decoded rows are final";
}

TEST(ImageDecodingTest, AFailedSourceStaysFailed) {
  ImageSource source;
  source.updateData(bytesOf("certainly not a picture"), false);
  EXPECT_TRUE(source.isFailed());
  source.updateData(bytesOf(testsupport::pngBytes(2, 2)), true);
  EXPECT_TRUE(source.isFailed());
  EXPECT_EQ(source.imageAtIndex(0), nullptr);
}

TEST(ImageDecodingTest, JpegOfAMissingPictureIsAbsent) {
  auto missing = std::make_shared<Image>("gone", nullptr, 1);
  EXPECT_FALSE(missing->JPEGRepresentation(1.0));
  auto image = Image::imageWithData(bytesOf(testsupport::pngBytes(20, 10)));
  auto low = image->JPEGRepresentation(0.1);
  auto high = image->JPEGRepresentation(1.0);
  ASSERT_TRUE(low && high);
  EXPECT_EQ(Image::imageWithData(*low)->size(), (Size{20, 10}));
}

}  // namespace
}  // namespace platform
