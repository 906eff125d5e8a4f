#include "platform/media/ResourceFetcher.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/net/URLError.h"

namespace platform {

namespace {

bool hasPrefixIgnoringCase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> percentDecode(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    int high = i + 1 < s.size() ? hexDigit(s[i + 1]) : -1;
    int low = i + 2 < s.size() ? hexDigit(s[i + 2]) : -1;
    // A NUL would cut the path short at the system call: refuse it with the malformed escapes.
    if (high < 0 || low < 0 || high * 16 + low == 0) return {};
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

Error fileError(int code, const std::string& url, const char* description) {
  Error error = urlError(code, url);
  error.userInfo()[kLocalizedDescriptionKey] = description;
  return error;
}

}  // namespace

std::shared_ptr<ResourceFetcher> ResourceFetcher::start(const URLRequest& request, bool keepBody,
                                                        Completion completion) {
  std::shared_ptr<ResourceFetcher> fetcher(new ResourceFetcher(keepBody, std::move(completion)));
  if (hasPrefixIgnoringCase(request.url(), "file:")) {
    fetcher->startFile(request.url());
  } else {
    fetcher->startHTTP(request);
  }
  return fetcher;
}

ResourceFetcher::ResourceFetcher(bool keepBody, Completion completion)
    : keepBody_(keepBody), completion_(std::move(completion)) {}

ResourceFetcher::~ResourceFetcher() {
  if (connection_) connection_->cancel();
}

void ResourceFetcher::cancel() {
  done_ = true;
  completion_ = nullptr;
  if (connection_) connection_->cancel();
}

std::optional<std::string> ResourceFetcher::filePath(const std::string& url) {
  if (!hasPrefixIgnoringCase(url, "file:")) return {};
  std::string rest = url.substr(5);
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.rfind("//", 0) == 0) {
    auto pathStart = rest.find('/', 2);
    std::string host =
        rest.substr(2, pathStart == std::string::npos ? std::string::npos : pathStart - 2);
    bool local = host.empty() || (host.size() == 9 && hasPrefixIgnoringCase(host, "localhost"));
    if (!local) return {};
    rest = pathStart == std::string::npos ? "/" : rest.substr(pathStart);
  }
  if (rest.empty() || rest.front() != '/') return {};
  return percentDecode(rest);
}

void ResourceFetcher::startHTTP(const URLRequest& request) {
  bool http = hasPrefixIgnoringCase(request.url(), "http://") ||
              hasPrefixIgnoringCase(request.url(), "https://");
  if (!http) {
    result_.error = urlError(kURLErrorUnsupportedURL, request.url());
    std::weak_ptr<ResourceFetcher> weak = shared_from_this();
    RunLoop::main()->perform([weak] {
      if (auto self = weak.lock()) self->finish();
    });
    return;
  }
  URLRequest sent = request;
  // A body that is only counted takes no memory, so a long media segment needs no limit.
  if (!keepBody_) sent.setMaximumBodyLength(std::nullopt);
  connection_ = URLConnection::make(std::move(sent), weak_from_this());
  connection_->scheduleInRunLoop(RunLoop::main());
  connection_->start();
}

void ResourceFetcher::startFile(const std::string& url) {
  std::weak_ptr<ResourceFetcher> weak = shared_from_this();
  RunLoop::main()->perform([weak, url] {
    if (auto self = weak.lock()) self->readFile(url);
  });
}

void ResourceFetcher::readFile(const std::string& url) {
  if (done_) return;
  auto path = filePath(url);
  struct stat info {};
  if (!path) {
    result_.error = urlError(kURLErrorUnsupportedURL, url);
  } else if (::stat(path->c_str(), &info) != 0) {
    result_.error = errno == EACCES
                        ? fileError(kURLErrorNoPermissionsToReadFile, url, "no permission")
                        : fileError(kURLErrorFileDoesNotExist, url, "The file does not exist.");
  } else if (S_ISDIR(info.st_mode)) {
    result_.error = fileError(kURLErrorFileIsDirectory, url, "The file is a directory.");
  } else {
    std::ifstream in(*path, std::ios::binary);
    // Read in large pieces: the read runs on the main run loop, and a page of a few MB read a
    // byte at a time held it for a noticeable part of a second.
    Bytes bytes;
    std::vector<char> chunk(64 * 1024);
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
      bytes.insert(bytes.end(), chunk.data(), chunk.data() + in.gcount());
    }
    if (!in.good() && !in.eof()) {
      result_.error = fileError(kURLErrorNoPermissionsToReadFile, url, "The file cannot be read.");
    } else {
      result_.statusCode = 200;
      result_.bodyLength = bytes.size();
      if (keepBody_) result_.body = std::move(bytes);
    }
  }
  finish();
}

void ResourceFetcher::connectionDidReceiveResponse(URLConnection&, const URLResponse& response) {
  result_.statusCode = response.statusCode();
}

void ResourceFetcher::connectionDidReceiveData(URLConnection&, const Bytes& data) {
  result_.bodyLength += data.size();
  if (keepBody_) result_.body.insert(result_.body.end(), data.begin(), data.end());
}

void ResourceFetcher::connectionDidFinishLoading(URLConnection&) { finish(); }

void ResourceFetcher::connectionDidFailWithError(URLConnection&, const Error& error) {
  result_.error = error;
  finish();
}

void ResourceFetcher::finish() {
  if (done_) return;
  done_ = true;
  // The completion may drop the last reference to this fetcher.
  auto self = shared_from_this();
  auto completion = std::move(completion_);
  completion_ = nullptr;
  if (completion) completion(result_);
}

}  // namespace platform
