// The lecture playlist on arbitrary text, as the file list takes it: the playlist check, the
// entries, their URLs and stored names, and the playlist rewritten to those names. It must not
// crash; an accepted playlist lists its URL and one file per entry, every stored name is a plain
// file name the file system takes, one URL has one name and two URLs never share one, and the
// stored playlist reads back as exactly the stored names.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "download/DownloadList.h"
#include "download/LectureURL.h"
#include "download/M3U8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto playlist = M3U8::create(text);
  auto list = DownloadList::create();
  const std::string url = "http://media.example/v/2014/9001/index.m3u8";
  if (!list->addPlaylistFiles(url, text)) {
    if (!list->arryList().empty() || !list->fileNames().empty()) __builtin_trap();
    return 0;
  }
  if (!M3U8::hasPlaylistHeader(text)) __builtin_trap();
  const auto& urls = list->arryList();
  const auto& names = list->fileNames();
  if (urls.size() != playlist->m3u8Files().size() + 1 || names.size() != urls.size())
    __builtin_trap();
  if (urls[0] != url || names[0] != "index.m3u8") __builtin_trap();
  std::map<std::string, std::string> nameOf, urlOf;
  for (std::size_t i = 0; i < urls.size(); ++i) {
    const std::string& name = names[i];
    if (!LectureURL::isStorableFileName(name) || name.size() > LectureURL::kMaxFileNameBytes ||
        name.find('/') != std::string::npos || name == DownloadList::kPageFileName)
      __builtin_trap();
    if (!LectureURL::isFetchable(urls[i])) __builtin_trap();
    auto [byUrl, newUrl] = nameOf.emplace(urls[i], name);
    auto [byName, newName] = urlOf.emplace(name, urls[i]);
    if (byUrl->second != name || byName->second != urls[i]) __builtin_trap();
  }
  auto stored = M3U8::create(list->storedPlaylist());
  if (stored->m3u8Files().size() != names.size() - 1) __builtin_trap();
  for (std::size_t i = 0; i < stored->m3u8Files().size(); ++i)
    if (stored->m3u8Files()[i]->fileName() != names[i + 1]) __builtin_trap();
  if (!M3U8::hasPlaylistHeader(list->storedPlaylist())) __builtin_trap();
  return 0;
}
