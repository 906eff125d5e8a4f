// The exception names the tag manager raises and compares are its own texts, byte for byte, and
// the raising code uses the constants the catching code compares against.

#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/Assert.h"
#include "tagmanager/base/TAGExceptionNames.h"
#include "tagmanager/values/TAGBase16.h"

namespace {

TEST(TAGExceptionNamesTest, NamesAreTheTextsOfTheExceptions) {
  const std::pair<const char*, const char*> names[] = {
      {kTAGIllegalArgumentException, "IllegalArgumentException"},
      {kTAGIllegalStateException, "IllegalStateException"},
      {kTAGInvalidResourceException, "InvalidResourceException"},
      {kTAGContainerAlreadyLoadedException, "ContainerAlreadyLoadedException"},
      {kTAGNoSuchAlgorithmException, "NoSuchAlgorithmException"},
      {kTAGNotSupportedException, "NotSupportedException"},
      {kTAGFileHandleOperationException, "NSFileHandleOperationException"},
      {kTAGInvalidProtocolBufferException, "InvalidProtocolBufferException"},
      {kTAGUninitializedMessageException, "UninitializedMessageException"},
  };
  for (const auto& [constant, text] : names) EXPECT_EQ(std::string(constant), text);
}

TEST(TAGExceptionNamesTest, ARaisedExceptionCarriesItsConstant) {
  try {
    TAGBase16::decode("ABC");
    FAIL() << "odd-length text decoded";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.name(), kTAGIllegalArgumentException);
  }
}

}  // namespace
