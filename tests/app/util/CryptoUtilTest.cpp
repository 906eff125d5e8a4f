#include <gtest/gtest.h>

#include <string>

#include "util/CryptoUtil.h"

namespace {

TEST(CryptoUtilTest, DigestsUtf8BytesAsLowerCaseHex) {
  struct Case {
    std::string text;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"123456", "e10adc3949ba59abbe56e057f20f883e"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      // The text ends at its first zero byte, as a C string would.
      {std::string("abc\0def", 7), "900150983cd24fb0d6963f7d28e17f72"},
  };
  for (const auto& c : cases) EXPECT_EQ(CryptoUtil::md5HexDigest(c.text), c.digest) << c.text;
}

TEST(CryptoUtilTest, AlwaysThirtyTwoHexCharacters) {
  for (const char* text : {"密码", "p@ss word", "\xff\xfe", "a"}) {
    std::string digest = CryptoUtil::md5HexDigest(text);
    ASSERT_EQ(digest.size(), 32u) << text;
    EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << digest;
  }
}

}  // namespace
