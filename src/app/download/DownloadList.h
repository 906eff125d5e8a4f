#pragma once
// DownloadList: turns one lecture into the list of files of its offline copy. `parse` creates
// the lecture folder and fetches the playlist once; a text whose first line is not "#EXTM3U" is
// no playlist. The playlist's entries are resolved against the playlist URL and each is given
// the name it is stored under in the folder: the last component of its URL's path (without query
// or fragment), unless another file of the lecture already has that name (then a digest of the
// URL goes in front) or it is too long to store (then it is shortened). The playlist is stored at
// once, under the last path component of its URL, as the very text that was fetched with each entry
// line replaced by the stored name, so the offline copy plays from the folder alone.
//
// Then the notes page is read; its scripts, style sheets and images are resolved against the
// page URL and listed once each, every occurrence of their references in the page is replaced by
// their stored names, and the page is saved in the folder as "leture.htm". Last,
// "parseDownlistOK" is posted with {"arryList": the URLs, "fileNames": their stored names,
// "cwId": the lecture's download key}. The stored playlist is first in the list, so the queue
// finds it present and never fetches it a second time.
//
// A playlist that cannot be fetched, is no playlist, lists nothing, has an entry that forms no
// fetchable URL or cannot be stored posts "downloadError" with {"URL": the download key,
// "error"} instead, and no list. A notes page that cannot be read only leaves "leture.htm" out;
// one that cannot be written (a full device) posts "downloadError" with the POSIX error, as a
// playlist that cannot be stored does, and leaves no part of the page behind.
//
// A list is a shared object (`create()`) used once; dropping it stops its work: nothing is
// posted for a list nobody holds. Called on the main thread; answers arrive there too.
//
// List order: the playlist URL, its entries in playlist order (repeats kept), then the "src" of
// every script, the "href" of every link and the "src" of every image, each only when not yet
// listed.

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "download/PageReader.h"
#include "download/XPathElement.h"
#include "model/CourseWare.h"
#include "platform/foundation/SharedObject.h"

class NetworkEngine;

class DownloadList : public std::enable_shared_from_this<DownloadList> {
  CH_SHARED_OBJECT(DownloadList)

 public:
  static constexpr const char* kPageFileName = "leture.htm";

  ~DownloadList();

  const std::shared_ptr<CourseWare>& cw() const { return _cw; }
  void setCw(std::shared_ptr<CourseWare> cw) { _cw = std::move(cw); }
  const std::string& cwId() const { return _cwId; }
  void setCwId(std::string cwId) { _cwId = std::move(cwId); }
  const std::string& downloadToPath() const { return _downloadToPath; }
  void setDownloadToPath(std::string path) { _downloadToPath = std::move(path); }
  // Whether the list was delivered; kept from the design, nothing reads it yet.
  bool parseOk() const { return _parseOk; }
  // The engine of the playlist fetch, made on first use; only the list's own playlist step
  // uses it.
  const std::shared_ptr<NetworkEngine>& netWork();

  // Creates the lecture folder and starts the playlist step.
  void parse();
  // Creates the folder with its parents when missing; failures are left to the file moves.
  static void isExistPath(const std::string& path);
  // The two steps `parse` runs in turn; the queue only ever calls `parse`.
  // The playlist step: fetch, list the entries, store the playlist, then the page step.
  void getTSFiles(const std::optional<std::string>& playlistURL);
  // The page step: read, rewrite, save, then deliver the list.
  void getHTMLFiles(const std::optional<std::string>& pageURL);

  const std::vector<std::string>& arryList() const { return _arryList; }
  // The name each file of `arryList` is stored under in the lecture folder, in the same order.
  const std::vector<std::string>& fileNames() const { return fileNames_; }
  // The playlist as it is stored: the fetched text, each entry line naming its stored file.
  const std::string& storedPlaylist() const { return storedPlaylist_; }

  // Checks the playlist text, names its entries and appends the playlist URL and its entries.
  // False, with the list unchanged, when the text is absent, no playlist, lists no entries, or
  // has an entry that forms no storable URL: such a playlist is an error, never an empty lecture.
  bool addPlaylistFiles(const std::string& playlistURL, const std::optional<std::string>& text);
  // The three resource passes (scripts, links, images) over a page read from `pageURL`;
  // returns the rewritten page.
  std::string rewritePage(const std::string& pageURL, const std::string& text);
  // One resource pass: lists the attribute `attrName` of each element, resolved against
  // `pageURL`, and replaces every occurrence of the attribute's value in `returnStr` with the
  // listed file's stored name (longer values first where values overlap). Values that name
  // nothing fetchable or storable are left alone.
  std::string parseHtmlArray(const XPathElement::List& elements, const std::string& returnStr,
                             const std::string& pageURL, const std::string& attrName);
  // The text after the last "/".
  static std::string getFileName(const std::string& url);

 private:
  DownloadList();

  // Lists `url` unless it is listed already; returns its stored name.
  const std::string& listOnce(const std::string& url);
  void list(const std::string& url);
  // Keeps `name` (and the name it is written under first) from being given to a listed file.
  void reserveName(const std::string& name);
  // The name `url` is stored under, given on first use.
  const std::string& storedNameFor(const std::string& url);
  std::error_code savePlaylist();
  // Writes the rewritten page as "leture.htm"; the error of a write that failed, else none.
  std::error_code savePage(const std::string& text);
  void playlistFailed(const platform::Error& error);
  void deliver();

  // Named by the design.
  std::shared_ptr<CourseWare> _cw;
  std::string _cwId;
  std::string _downloadToPath;
  std::vector<std::string> _arryList;
  std::shared_ptr<NetworkEngine> _netWork;
  bool _parseOk = false;

  // Our own.
  std::vector<std::string> fileNames_;
  std::unordered_set<std::string> listed_;                    // the texts of _arryList
  std::unordered_map<std::string, std::string> storedNames_;  // URL -> stored name
  std::unordered_set<std::string> takenNames_;                // names given in the folder
  std::string playlistName_;
  std::string storedPlaylist_;
  std::shared_ptr<PageReader> pageReader_;
};
