#include "download/DownloadList.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "download/DownloadNotifications.h"
#include "download/LectureURL.h"
#include "download/M3U8.h"
#include "download/TextReplacer.h"
#include "download/XPathDocument.h"
#include "net/NetworkEngine.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URLError.h"

namespace {

// The suffix of a file being written beside its final name.
constexpr const char* kWritingSuffix = ".part";

// The error the platform gave for the last failed file step (EIO when it gave none).
std::error_code lastFileError() {
  return std::error_code(errno ? errno : EIO, std::generic_category());
}

// Writes `text` to `path`; the error of the step that failed, if one did.
std::error_code writeFile(const std::string& path, const std::string& text) {
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return lastFileError();
  std::error_code error;
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0)
    error = lastFileError();
  if (std::fclose(file) != 0 && !error) error = lastFileError();
  return error;
}

// Writes `text` beside `path` and renames it into place, so a reader never finds half a file.
// What could not be written whole is removed (on a full disk it would hold space).
std::error_code writeAtomically(const std::string& path, const std::string& text) {
  std::string temporary = path + kWritingSuffix;
  if (auto failed = writeFile(temporary, text)) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return failed;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
  }
  return error;
}

bool fitsAsFileName(const std::string& name) {
  return LectureURL::isStorableFileName(name) && name.size() <= LectureURL::kMaxFileNameBytes;
}

}  // namespace

DownloadList::DownloadList() {
  // The files the list writes itself keep their names.
  reserveName(kPageFileName);
}

DownloadList::~DownloadList() = default;

const std::shared_ptr<NetworkEngine>& DownloadList::netWork() {
  if (!_netWork) _netWork = NetworkEngine::initWithDefaultSettings();
  return _netWork;
}

void DownloadList::parse() {
  isExistPath(_downloadToPath);
  getTSFiles(_cw ? _cw->videoUrl() : std::nullopt);
}

void DownloadList::isExistPath(const std::string& path) {
  std::error_code ignored;
  if (!std::filesystem::is_directory(path, ignored))
    std::filesystem::create_directories(path, ignored);
}

void DownloadList::getTSFiles(const std::optional<std::string>& playlistURL) {
  if (!playlistURL || !LectureURL::isFetchable(*playlistURL)) {
    playlistFailed(platform::urlError(platform::kURLErrorBadURL, playlistURL.value_or("")));
    return;
  }
  std::weak_ptr<DownloadList> weakSelf = weak_from_this();
  std::string url = *playlistURL;
  netWork()->getM3u8(
      url,
      [weakSelf, url](const std::optional<std::string>& text) {
        auto self = weakSelf.lock();
        if (!self) return;
        if (!self->addPlaylistFiles(url, text)) {
          self->playlistFailed(platform::urlError(platform::kURLErrorBadServerResponse, url));
          return;
        }
        if (auto error = self->savePlaylist()) {
          self->playlistFailed(platform::Error::posix(
              error.value(), "cannot store the playlist in " + self->_downloadToPath));
          return;
        }
        self->getHTMLFiles(self->_cw ? self->_cw->url() : std::nullopt);
      },
      [weakSelf](const platform::Error& error) {
        if (auto self = weakSelf.lock()) self->playlistFailed(error);
      });
}

void DownloadList::getHTMLFiles(const std::optional<std::string>& pageURL) {
  if (!pageURL || !LectureURL::isFetchable(*pageURL)) {
    deliver();
    return;
  }
  std::weak_ptr<DownloadList> weakSelf = weak_from_this();
  std::string url = *pageURL;
  pageReader_ = PageReader::read(url, [weakSelf, url](const std::optional<std::string>& text) {
    auto self = weakSelf.lock();
    if (!self) return;
    if (text) {
      // Delivered without its notes, the lecture would count as downloaded for good.
      if (auto error = self->savePage(self->rewritePage(url, *text))) {
        self->playlistFailed(platform::Error::posix(
            error.value(), "cannot store the notes page in " + self->_downloadToPath));
        return;
      }
    }
    self->deliver();
  });
}

std::error_code DownloadList::savePlaylist() {
  return writeAtomically(_downloadToPath + "/" + playlistName_, storedPlaylist_);
}

std::error_code DownloadList::savePage(const std::string& text) {
  return writeAtomically(_downloadToPath + "/" + kPageFileName, text);
}

void DownloadList::deliver() {
  pageReader_.reset();
  _parseOk = true;
  platform::NotificationCenter::defaultCenter().post(
      kParseDownlistOK, {},
      {{kArryListKey, platform::Array(_arryList.begin(), _arryList.end())},
       {kFileNamesKey, platform::Array(fileNames_.begin(), fileNames_.end())},
       {kCwIdKey, _cwId}});
}

void DownloadList::playlistFailed(const platform::Error& error) {
  platform::NotificationCenter::defaultCenter().post(
      kDownloadError, {},
      {{kURLKey, _cwId},
       {kErrorKey, platform::Value::object(std::make_shared<platform::Error>(error))}});
}

bool DownloadList::addPlaylistFiles(const std::string& playlistURL,
                                    const std::optional<std::string>& text) {
  if (!text || !M3U8::hasPlaylistHeader(*text)) return false;
  auto playlist = M3U8::create(text);
  if (playlist->m3u8Files().empty()) return false;
  std::string playlistName = getFileName(playlistURL);
  // The player asks for the playlist by this very name, so it cannot be given another.
  if (!fitsAsFileName(playlistName)) return false;
  std::vector<std::string> entries;
  for (const auto& file : playlist->m3u8Files()) {
    auto url = LectureURL::resolve(playlistURL, file->fileName());
    if (!url || !LectureURL::isFetchable(*url) ||
        !LectureURL::isStorableFileName(LectureURL::pathFileName(*url)))
      return false;
    entries.push_back(*url);
  }
  playlistName_ = playlistName;
  reserveName(playlistName);
  storedNames_[playlistURL] = playlistName;
  list(playlistURL);
  for (const auto& url : entries) list(url);
  storedPlaylist_ = M3U8::rewriteEntries(
      *text, [&](std::size_t index, const std::string&) { return fileNames_[1 + index]; });
  return true;
}

std::string DownloadList::rewritePage(const std::string& pageURL, const std::string& text) {
  auto document = XPathDocument::documentWithHTMLData(platform::Bytes(text.begin(), text.end()));
  std::string page = text;
  page = parseHtmlArray(document->searchWithXPathQuery("//script"), page, pageURL, "src");
  page = parseHtmlArray(document->searchWithXPathQuery("//link"), page, pageURL, "href");
  page = parseHtmlArray(document->searchWithXPathQuery("//img"), page, pageURL, "src");
  return page;
}

std::string DownloadList::parseHtmlArray(const XPathElement::List& elements,
                                         const std::string& returnStr, const std::string& pageURL,
                                         const std::string& attrName) {
  // All references of the pass are replaced in one sweep over the page: one search of the whole
  // page per element made a page of many images take minutes.
  TextReplacer replacer;
  for (const auto& element : elements) {
    auto value = element->objectForKey(attrName);
    if (!value || value->empty()) continue;
    auto url = LectureURL::resolve(pageURL, *value);
    if (!url || !LectureURL::isFetchable(*url)) continue;
    if (!LectureURL::isStorableFileName(LectureURL::pathFileName(*url))) continue;
    replacer.add(*value, listOnce(*url));
  }
  return replacer.apply(returnStr);
}

std::string DownloadList::getFileName(const std::string& url) { return LectureURL::fileName(url); }

const std::string& DownloadList::listOnce(const std::string& url) {
  if (!listed_.count(url)) list(url);
  return storedNameFor(url);
}

void DownloadList::list(const std::string& url) {
  fileNames_.push_back(storedNameFor(url));
  _arryList.push_back(url);
  listed_.insert(url);
}

void DownloadList::reserveName(const std::string& name) {
  takenNames_.insert(name);
  takenNames_.insert(name + kWritingSuffix);
}

const std::string& DownloadList::storedNameFor(const std::string& url) {
  auto known = storedNames_.find(url);
  if (known != storedNames_.end()) return known->second;
  // Two files of one lecture may end in the same name ("a/0.ts", "b/0.ts"); the later one is
  // told apart by a digest of its URL, so both are fetched and the stored playlist names each.
  std::string base = LectureURL::pathFileName(url);
  std::string name = LectureURL::fitFileName(base, LectureURL::kMaxFileNameBytes);
  for (int attempt = 0; takenNames_.count(name); ++attempt) {
    std::string salted = attempt == 0 ? url : url + "\n" + std::to_string(attempt);
    name = LectureURL::fitFileName(platform::md5Hex(salted).substr(0, 8) + "_" + base,
                                   LectureURL::kMaxFileNameBytes);
  }
  takenNames_.insert(name);
  return storedNames_.emplace(url, std::move(name)).first->second;
}
