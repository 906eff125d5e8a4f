#pragma once
// DownloadList: turns one lecture into the list of files of its offline copy. `parse` creates
// the lecture folder, fetches the playlist and resolves its entries against the playlist URL,
// reads the notes page, collects its scripts, style sheets and images (resolved against the page
// URL, each listed once), rewrites the page so that it refers to each resource by its bare file
// name and saves it in the folder as "leture.htm". Then it posts "parseDownlistOK" with
// {"arryList": the URLs, "cwId": the lecture's download key}.
//
// A playlist that cannot be fetched, does not decode, lists nothing or names something that
// cannot be stored posts "downloadError" with {"URL": the download key, "error"} instead, and no
// list. A notes page that cannot be read only leaves "leture.htm" out.
//
// A list is shared (std::make_shared) and used once; dropping it stops its work: nothing is
// posted for a list nobody holds. Called on the main thread; answers arrive there too.
//
// List order: the playlist URL, its entries in playlist order (repeats kept), then the "src" of
// every script, the "href" of every link and the "src" of every image, each only when not yet
// listed.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/PageReader.h"
#include "download/XPathElement.h"
#include "model/CourseWare.h"

class NetworkEngine;

class DownloadList : public std::enable_shared_from_this<DownloadList> {
 public:
  static constexpr const char* kPageFileName = "leture.htm";

  DownloadList();
  ~DownloadList();

  const std::shared_ptr<CourseWare>& cw() const { return _cw; }
  void setCw(std::shared_ptr<CourseWare> cw) { _cw = std::move(cw); }
  const std::string& cwId() const { return _cwId; }
  void setCwId(std::string cwId) { _cwId = std::move(cwId); }
  const std::string& downloadToPath() const { return _downloadToPath; }
  void setDownloadToPath(std::string path) { _downloadToPath = std::move(path); }
  bool parseOk() const { return _parseOk; }
  // The engine of the playlist fetch, made on first use.
  const std::shared_ptr<NetworkEngine>& netWork();

  // Creates the lecture folder and starts the playlist step.
  void parse();
  // Creates the folder with its parents when missing; failures are left to the file moves.
  static void isExistPath(const std::string& path);
  // The playlist step: fetch, list the entries, then the page step.
  void getTSFiles(const std::optional<std::string>& playlistURL);
  // The page step: read, rewrite, save, then deliver the list.
  void getHTMLFiles(const std::optional<std::string>& pageURL);

  const std::vector<std::string>& arryList() const { return _arryList; }

  // Appends the playlist URL and its entries. False, with the list unchanged, when the text is
  // absent, lists no entries, or has an entry that forms no storable URL: such a playlist is
  // an error, never an empty lecture.
  bool addPlaylistFiles(const std::string& playlistURL, const std::optional<std::string>& text);
  // The three resource passes (scripts, links, images) over a page read from `pageURL`;
  // returns the rewritten page.
  std::string rewritePage(const std::string& pageURL, const std::string& text);
  // One resource pass: lists the attribute `attrName` of each element, resolved against
  // `pageURL`, and replaces every occurrence of the attribute's value in `returnStr` with the
  // listed URL's file name. Values that name nothing fetchable or storable are left alone.
  std::string parseHtmlArray(const XPathElement::List& elements, std::string returnStr,
                             const std::string& pageURL, const std::string& attrName);
  // The text after the last "/".
  static std::string getFileName(const std::string& url);

 private:
  void appendOnce(const std::string& url);
  void playlistFailed(const platform::Error& error);
  void savePage(const std::string& text);
  void deliver();

  std::shared_ptr<CourseWare> _cw;
  std::string _cwId;
  std::string _downloadToPath;
  std::vector<std::string> _arryList;
  std::shared_ptr<NetworkEngine> _netWork;
  std::shared_ptr<PageReader> _pageReader;
  bool _parseOk = false;
};
