#pragma once
// The movie player's notifications and their user-info keys, in the platform's spelling. The
// object of each is the player; only the finish notification has a payload: the reason (a
// MovieFinishReason number) and, for an error, the Error as a shared object.

namespace platform {

inline constexpr const char* kMoviePlayerPlaybackStateDidChangeNotification =
    "MPMoviePlayerPlaybackStateDidChangeNotification";
inline constexpr const char* kMoviePlayerLoadStateDidChangeNotification =
    "MPMoviePlayerLoadStateDidChangeNotification";
inline constexpr const char* kMoviePlayerPlaybackDidFinishNotification =
    "MPMoviePlayerPlaybackDidFinishNotification";

inline constexpr const char* kMoviePlayerPlaybackDidFinishReasonUserInfoKey =
    "MPMoviePlayerPlaybackDidFinishReasonUserInfoKey";
inline constexpr const char* kMoviePlayerPlaybackDidFinishErrorUserInfoKey = "error";

}  // namespace platform
