#pragma once
// The names and payload keys of the lecture download notifications, declared once so that a
// producer and its observers cannot drift apart by a typo. Every notification is posted on the
// main thread with no object, except "downloadDidComplete", whose object is the downloader.

// The file downloader (SIDownloadManager), about one file.
inline constexpr const char* kDownloadChangeProgress = "downloadChangeProgress";  // URL, progress
inline constexpr const char* kDownloadDidComplete = "downloadDidComplete";        // URL
inline constexpr const char* kDownloadDone = "downloadDone";                      // URL
inline constexpr const char* kDownloadExist = "downloadExist";                    // URL
inline constexpr const char* kDownloadError = "downloadError";                    // URL, error
inline constexpr const char* kDownloadPause = "downloadPause";                    // URL
inline constexpr const char* kDownloadChangeNetwork = "downloadChangeNetwork";    // type

// The lecture file list (DownloadList): the list of one lecture is ready.
inline constexpr const char* kParseDownlistOK = "parseDownlistOK";  // arryList, fileNames, cwId

// The lecture download queue (DownloadManager), about one lecture, for the screens.
inline constexpr const char* kStartDown = "STARTDOWN";                  // no payload
inline constexpr const char* kChangP = "changP";                        // progress, cwId
inline constexpr const char* kCellFinish = "cell_finish";               // cwId
inline constexpr const char* kCellNetworkError = "cell_network_error";  // cwId, error

// Payload keys.
// The file's URL text; for a playlist that could not be used, the lecture's download key.
inline constexpr const char* kURLKey = "URL";
// A file's fraction ("%.2f") or a lecture's ("%.3f"), as text.
inline constexpr const char* kProgressKey = "progress";
// The platform::Error, as a shared object value.
inline constexpr const char* kErrorKey = "error";
// The network type as text: "1" offline, "2" WiFi, "3" mobile network.
inline constexpr const char* kTypeKey = "type";
inline constexpr const char* kNetworkTypeOffline = "1";
inline constexpr const char* kNetworkTypeWiFi = "2";
inline constexpr const char* kNetworkTypeWWAN = "3";
// The URLs of a lecture's files, in download order.
inline constexpr const char* kArryListKey = "arryList";
// The name each of those files is stored under in the lecture folder, in the same order.
inline constexpr const char* kFileNamesKey = "fileNames";
// The lecture's download key.
inline constexpr const char* kCwIdKey = "cwId";
