#pragma once
// TAGPServingRoot: parsing of container data (a fetch answer, the saved file, the bundle's
// binary default) into the messages of the serving schema. Field 101 of every value node, at
// any depth, is read as its serving extension.
//
// A parse refuses bytes that are not a message of that type ("InvalidProtocolBufferException")
// and a message that lacks a required field ("UninitializedMessageException"), raised as
// platform::Exception for the loaders to catch. Zero bytes are a valid message when the type
// has no required field. Any thread may call.

#include <limits>
#include <string>
#include <string_view>

#include "platform/foundation/Assert.h"
#include "tagmanager/base/TAGExceptionNames.h"
#include "tagmanager/proto/resource_with_metadata.pb.h"
#include "tagmanager/proto/serving.pb.h"

class TAGPServingRoot {
 public:
  TAGPServingRoot() = delete;

  template <class Message>
  static Message parseFromData(std::string_view data) {
    Message message;
    if (data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
        !message.ParsePartialFromArray(data.data(), static_cast<int>(data.size()))) {
      throw platform::Exception(kTAGInvalidProtocolBufferException,
                                "Unable to parse " + message.GetTypeName());
    }
    if (!message.IsInitialized()) {
      throw platform::Exception(
          kTAGUninitializedMessageException,
          "Message " + message.GetTypeName() +
              " is missing required fields: " + message.InitializationErrorString());
    }
    return message;
  }
};
