#include "download/DownloadList.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "download/LectureURL.h"
#include "download/M3U8.h"
#include "download/XPathDocument.h"
#include "net/NetworkEngine.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URLError.h"

namespace {

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (auto pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
  return text;
}

}  // namespace

DownloadList::DownloadList() = default;

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
  _pageReader = PageReader::read(url, [weakSelf, url](const std::optional<std::string>& text) {
    auto self = weakSelf.lock();
    if (!self) return;
    if (text) self->savePage(self->rewritePage(url, *text));
    self->deliver();
  });
}

void DownloadList::savePage(const std::string& text) {
  // Written beside and renamed, so a reader never finds half a page.
  std::string path = _downloadToPath + "/" + kPageFileName;
  std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return;
  }
  std::error_code ignored;
  std::filesystem::rename(temporary, path, ignored);
  if (ignored) std::filesystem::remove(temporary, ignored);
}

void DownloadList::deliver() {
  _pageReader.reset();
  platform::Array urls(_arryList.begin(), _arryList.end());
  _parseOk = true;
  platform::NotificationCenter::defaultCenter().post(
      "parseDownlistOK", {}, {{"arryList", std::move(urls)}, {"cwId", _cwId}});
}

void DownloadList::playlistFailed(const platform::Error& error) {
  platform::NotificationCenter::defaultCenter().post(
      "downloadError", {},
      {{"URL", _cwId},
       {"error", platform::Value::object(std::make_shared<platform::Error>(error))}});
}

bool DownloadList::addPlaylistFiles(const std::string& playlistURL,
                                    const std::optional<std::string>& text) {
  auto playlist = M3U8::create(text);
  if (playlist->m3u8Files().empty()) return false;
  std::vector<std::string> entries;
  for (const auto& file : playlist->m3u8Files()) {
    auto url = LectureURL::resolve(playlistURL, file->fileName());
    if (!url || !LectureURL::isFetchable(*url) ||
        !LectureURL::isStorableFileName(getFileName(*url)))
      return false;
    entries.push_back(*url);
  }
  _arryList.push_back(playlistURL);
  _arryList.insert(_arryList.end(), entries.begin(), entries.end());
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

std::string DownloadList::parseHtmlArray(const XPathElement::List& elements, std::string returnStr,
                                         const std::string& pageURL, const std::string& attrName) {
  for (const auto& element : elements) {
    auto value = element->objectForKey(attrName);
    if (!value || value->empty()) continue;
    auto url = LectureURL::resolve(pageURL, *value);
    if (!url || !LectureURL::isFetchable(*url)) continue;
    std::string name = getFileName(*url);
    if (!LectureURL::isStorableFileName(name)) continue;
    appendOnce(*url);
    returnStr = replaceAll(std::move(returnStr), *value, name);
  }
  return returnStr;
}

std::string DownloadList::getFileName(const std::string& url) { return LectureURL::fileName(url); }

void DownloadList::appendOnce(const std::string& url) {
  if (std::find(_arryList.begin(), _arryList.end(), url) == _arryList.end())
    _arryList.push_back(url);
}
