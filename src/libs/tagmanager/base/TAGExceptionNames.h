#pragma once
// The names of the exceptions the tag manager raises (`platform::Exception::name()`), declared
// once: code that catches one kind and lets the others go compares against these, never against
// a text of its own.

inline constexpr const char* kTAGIllegalArgumentException = "IllegalArgumentException";
inline constexpr const char* kTAGIllegalStateException = "IllegalStateException";
inline constexpr const char* kTAGInvalidResourceException = "InvalidResourceException";
inline constexpr const char* kTAGContainerAlreadyLoadedException =
    "ContainerAlreadyLoadedException";
inline constexpr const char* kTAGNoSuchAlgorithmException = "NoSuchAlgorithmException";
inline constexpr const char* kTAGNotSupportedException = "NotSupportedException";
inline constexpr const char* kTAGFileHandleOperationException = "NSFileHandleOperationException";
inline constexpr const char* kTAGInvalidProtocolBufferException = "InvalidProtocolBufferException";
inline constexpr const char* kTAGUninitializedMessageException = "UninitializedMessageException";
