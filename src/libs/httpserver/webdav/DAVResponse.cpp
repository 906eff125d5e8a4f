#include "httpserver/webdav/DAVResponse.h"

#include <fcntl.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "httpserver/core/HTTPLogging.h"
#include "httpserver/core/RequestPath.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Digest.h"

namespace {

constexpr int kLogLevel = kHTTPConnectionLogLevel;
namespace fs = std::filesystem;

constexpr int kResourceType = 1;
constexpr int kCreationDate = 2;
constexpr int kLastModified = 4;
constexpr int kContentLength = 8;

constexpr const char* kXMLPrologue = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>";
constexpr const char* kXMLContentType = "application/xml; charset=\"utf-8\"";

std::optional<std::string> headerValue(const DAVResponse::Headers& headers, const char* name) {
  for (const auto& [key, value] : headers)
    if (strcasecmp(key.c_str(), name) == 0) return value;
  return std::nullopt;
}

// A parsed request body; absent without a body or when libxml2 makes nothing of it.
class XMLDocument {
 public:
  explicit XMLDocument(const std::optional<platform::Bytes>& body) {
    if (!body || body->empty()) return;
    doc_ = xmlReadMemory(reinterpret_cast<const char*>(body->data()),
                         static_cast<int>(body->size()), nullptr, nullptr,
                         XML_PARSE_RECOVER | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                             XML_PARSE_NOBLANKS | XML_PARSE_NONET | XML_PARSE_COMPACT);
  }
  ~XMLDocument() {
    if (doc_) xmlFreeDoc(doc_);
  }
  XMLDocument(const XMLDocument&) = delete;
  XMLDocument& operator=(const XMLDocument&) = delete;
  // The top-level nodes.
  xmlNodePtr children() const { return doc_ ? doc_->children : nullptr; }

 private:
  xmlDocPtr doc_ = nullptr;
};

// The first element named `name` (namespaces ignored) in a node list.
xmlNodePtr findElement(xmlNodePtr node, const char* name) {
  for (; node; node = node->next) {
    if (node->type == XML_ELEMENT_NODE &&
        xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0)
      return node;
  }
  return nullptr;
}

std::string bodyText(const std::optional<platform::Bytes>& body) {
  return body ? std::string(body->begin(), body->end()) : std::string("(null)");
}

bool exists(const std::string& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() != fs::file_type::not_found && !error;
}

bool isDirectory(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::optional<platform::Date> birthTime(const std::string& path) {
  struct statx attributes {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &attributes) != 0 ||
      !(attributes.stx_mask & STATX_BTIME))
    return std::nullopt;
  return platform::Date(std::chrono::seconds(attributes.stx_btime.tv_sec));
}

void appendPropertyResponse(std::string& xml, const std::string& path, const std::string& href,
                            int properties) {
  struct stat attributes {};
  if (::stat(path.c_str(), &attributes) != 0) return;
  const bool directory = S_ISDIR(attributes.st_mode);
  xml += "<D:response>";
  xml += "<D:href>" + DAVResponse::hrefEscaped(href) + "</D:href>";
  xml += "<D:propstat>";
  xml += "<D:prop>";
  if (properties & kResourceType) {
    xml += directory ? "<D:resourcetype><D:collection/></D:resourcetype>" : "<D:resourcetype/>";
  }
  if (properties & kCreationDate) {
    if (std::optional<platform::Date> created = birthTime(path)) {
      xml += "<D:creationdate>" +
             platform::formatDate(*created, "yyyy-MM-dd'T'HH:mm:ss'+00:00'",
                                  platform::TimeZone::utc()) +
             "</D:creationdate>";
    }
  }
  if (properties & kLastModified) {
    platform::Date modified{std::chrono::seconds(attributes.st_mtim.tv_sec)};
    xml += "<D:getlastmodified>" +
           platform::formatDate(modified, "EEE', 'd' 'MMM' 'yyyy' 'HH:mm:ss' GMT'",
                                platform::TimeZone::utc()) +
           "</D:getlastmodified>";
  }
  if ((properties & kContentLength) && !directory) {
    char length[64];
    std::snprintf(length, sizeof length, "%" PRIu64,
                  static_cast<std::uint64_t>(attributes.st_size));
    xml += std::string("<D:getcontentlength>") + length + "</D:getcontentlength>";
  }
  xml += "</D:prop>";
  xml += "<D:status>HTTP/1.1 200 OK</D:status>";
  xml += "</D:propstat>";
  xml += "</D:response>\n";
}

}  // namespace

std::string DAVResponse::xmlEscaped(const std::string& text) {
  xmlChar* escaped = xmlEncodeSpecialChars(nullptr, reinterpret_cast<const xmlChar*>(text.c_str()));
  if (!escaped) return std::string();
  std::string result(reinterpret_cast<const char*>(escaped));
  xmlFree(escaped);
  return result;
}

std::string DAVResponse::hrefEscaped(const std::string& path) {
  static const char* const kKept = "-._~!$'()*,;:@/=";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) && c < 0x80) {
      out += static_cast<char>(c);
    } else if (std::strchr(kKept, c) && c != '\0') {
      out += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      out += escape;
    }
  }
  return out;
}

std::shared_ptr<DAVResponse> DAVResponse::initWithMethod(const std::string& method,
                                                         const Headers& headers,
                                                         const std::optional<platform::Bytes>& body,
                                                         const std::string& resourcePath,
                                                         const std::string& rootPath) {
  std::optional<std::string> path = pathUnderRoot(
      rootPath,
      resourcePath.empty() || resourcePath.front() != '/' ? "/" + resourcePath : resourcePath);
  if (!path) return nullptr;
  std::shared_ptr<DAVResponse> response(new DAVResponse());
  bool served = true;
  if (method == "OPTIONS") {
    served = response->options(headers);
  } else if (method == "PROPFIND") {
    served = response->propfind(headers, body, resourcePath, *path);
  } else if (method == "MKCOL") {
    response->mkcol(*path);
  } else if (method == "COPY" || method == "MOVE") {
    served = response->copyOrMove(method == "MOVE", headers, resourcePath, rootPath, *path);
  } else if (method == "LOCK") {
    response->lock(headers, body, resourcePath, *path);
  } else if (method == "UNLOCK") {
    served = response->unlock(headers, *path);
  } else {
    served = false;
  }
  return served ? response : nullptr;
}

std::optional<platform::Bytes> DAVResponse::readDataOfLength(std::size_t length) {
  if (!_data) return std::nullopt;
  std::size_t start = static_cast<std::size_t>(std::min<std::uint64_t>(_offset, _data->size()));
  std::size_t count = std::min(length, _data->size() - start);
  _offset = start + count;
  return platform::Bytes(_data->begin() + static_cast<std::ptrdiff_t>(start),
                         _data->begin() + static_cast<std::ptrdiff_t>(start + count));
}

void DAVResponse::setXMLBody(const std::string& xml) {
  _headers["Content-Type"] = kXMLContentType;
  _data = platform::Bytes(xml.begin(), xml.end());
}

bool DAVResponse::options(const Headers& headers) {
  std::optional<std::string> userAgent = headerValue(headers, "User-Agent");
  _headers["DAV"] = userAgent && userAgent->rfind("WebDAVFS/", 0) == 0 ? "1, 2" : "1";
  return true;
}

bool DAVResponse::propfind(const Headers& headers, const std::optional<platform::Bytes>& body,
                           const std::string& resourcePath, const std::string& path) {
  std::optional<std::string> depth = headerValue(headers, "Depth");
  if (depth != "0" && depth != "1") {
    HTTP_LOG_ERROR(kLogLevel, "Unsupported DAV depth \"%s\"", depth.value_or("(null)").c_str());
    return false;
  }

  int properties = 0;
  XMLDocument document(body);
  if (body) {
    xmlNodePtr propfindNode = findElement(document.children(), "propfind");
    xmlNodePtr prop = propfindNode ? findElement(propfindNode->children, "prop") : nullptr;
    if (prop) {
      for (xmlNodePtr child = prop->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        const char* name = reinterpret_cast<const char*>(child->name);
        if (std::strcmp(name, "resourcetype") == 0) {
          properties |= kResourceType;
        } else if (std::strcmp(name, "creationdate") == 0) {
          properties |= kCreationDate;
        } else if (std::strcmp(name, "getlastmodified") == 0) {
          properties |= kLastModified;
        } else if (std::strcmp(name, "getcontentlength") == 0) {
          properties |= kContentLength;
        } else {
          HTTP_LOG_WARN(kLogLevel, "Unknown DAV property requested \"%s\"", name);
        }
      }
    } else {
      HTTP_LOG_WARN(kLogLevel, "HTTP Server: Invalid DAV properties\n%s", bodyText(body).c_str());
    }
  }
  if (!properties) properties = kResourceType | kCreationDate | kLastModified | kContentLength;

  if (!exists(path)) return false;

  std::string href = resourcePath;
  if (href.empty() || href.front() != '/') href.insert(0, "/");
  std::string xml = kXMLPrologue;
  xml += "<D:multistatus xmlns:D=\"DAV:\">\n";
  appendPropertyResponse(xml, path, href, properties);
  if (*depth == "1") {
    if (href.back() != '/') href += '/';
    std::error_code error;
    std::vector<std::string> names;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
      names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    const std::string folder = path.back() == '/' ? path : path + "/";
    for (const std::string& name : names)
      appendPropertyResponse(xml, folder + name, href + name, properties);
  }
  xml += "</D:multistatus>";
  _status = 207;
  setXMLBody(xml);
  return true;
}

void DAVResponse::mkcol(const std::string& path) {
  std::string target = withoutTrailingSlash(path);
  std::string parent = fs::path(target).parent_path().string();
  if (!isDirectory(parent)) {
    HTTP_LOG_ERROR(kLogLevel, "Missing intermediate collection(s) at \"%s\"", target.c_str());
    _status = 409;
    return;
  }
  if (::mkdir(target.c_str(), 0755) != 0) {
    HTTP_LOG_ERROR(kLogLevel, "Failed creating collection at \"%s\"", target.c_str());
    _status = 405;
  }
}

bool DAVResponse::copyOrMove(bool isMove, const Headers& headers, const std::string&,
                             const std::string& rootPath, const std::string& sourcePath) {
  if (!isMove) {
    std::optional<std::string> depth = headerValue(headers, "Depth");
    if (depth != "infinity") {
      HTTP_LOG_ERROR(kLogLevel, "Unsupported DAV depth \"%s\"", depth.value_or("(null)").c_str());
      return false;
    }
  }
  const std::string source = withoutTrailingSlash(sourcePath);
  if (!exists(source)) return false;

  // The destination takes the same road as a request path: decoded, standardised and kept
  // inside the root.
  std::optional<std::string> host = headerValue(headers, "Host");
  std::optional<std::string> destinationHeader = headerValue(headers, "Destination");
  if (!host || !destinationHeader) return false;
  std::size_t hostAt = destinationHeader->find(*host);
  if (host->empty() || hostAt == std::string::npos) return false;
  std::optional<std::string> relative =
      relativePathOfURI(destinationHeader->substr(hostAt + host->size()));
  if (!relative) return false;
  std::optional<std::string> resolved = pathUnderRoot(rootPath, *relative);
  if (!resolved) return false;
  const std::string destination = withoutTrailingSlash(*resolved);
  const std::string root = withoutTrailingSlash(rootPath);

  // The root is never moved away or replaced, and nothing is copied or moved into itself.
  if (source == root || destination == root || destination == source ||
      destination.compare(0, source.size() + 1, source + "/") == 0) {
    HTTP_LOG_ERROR(kLogLevel,
                   isMove ? "Failed moving \"%s\" to \"%s\"" : "Failed copying \"%s\" to \"%s\"",
                   source.c_str(), destination.c_str());
    _status = 403;
    return true;
  }

  std::string parent = fs::path(destination).parent_path().string();
  if (!isDirectory(parent)) {
    HTTP_LOG_ERROR(kLogLevel, "Invalid destination path \"%s\"", destination.c_str());
    _status = 409;
    return true;
  }

  bool replaced = false;
  if (exists(destination)) {
    std::optional<std::string> overwrite = headerValue(headers, "Overwrite");
    if (overwrite && strcasecmp(overwrite->c_str(), "F") == 0) {
      HTTP_LOG_ERROR(kLogLevel, "Pre-existing destination path \"%s\"", destination.c_str());
      _status = 412;
      return true;
    }
    std::error_code error;
    fs::remove_all(destination, error);
    replaced = true;
  }

  std::error_code error;
  if (isMove) {
    fs::rename(source, destination, error);
  } else {
    fs::copy(source, destination, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
             error);
  }
  if (error) {
    HTTP_LOG_ERROR(kLogLevel,
                   isMove ? "Failed moving \"%s\" to \"%s\"" : "Failed copying \"%s\" to \"%s\"",
                   source.c_str(), destination.c_str());
    _status = 403;
    return true;
  }
  _status = replaced ? 204 : 201;
  return true;
}

void DAVResponse::lock(const Headers& headers, const std::optional<platform::Bytes>& body,
                       const std::string& resourcePath, const std::string& path) {
  std::optional<std::string> scope;
  std::optional<std::string> type;
  std::optional<std::string> owner;
  XMLDocument document(body);
  xmlNodePtr lockinfo = findElement(document.children(), "lockinfo");
  if (lockinfo) {
    if (xmlNodePtr node = findElement(lockinfo->children, "lockscope"))
      if (xmlNodePtr first = node->children) scope = reinterpret_cast<const char*>(first->name);
    if (xmlNodePtr node = findElement(lockinfo->children, "locktype"))
      if (xmlNodePtr first = node->children) type = reinterpret_cast<const char*>(first->name);
    if (xmlNodePtr node = findElement(lockinfo->children, "owner")) {
      if (xmlNodePtr href = findElement(node->children, "href")) {
        if (xmlNodePtr text = href->children) {
          if (xmlChar* content = xmlNodeGetContent(text)) {
            owner = reinterpret_cast<const char*>(content);
            xmlFree(content);
          }
        }
      }
    }
  } else {
    HTTP_LOG_WARN(kLogLevel, "HTTP Server: Invalid DAV properties\n%s", bodyText(body).c_str());
  }

  std::optional<std::string> depth = headerValue(headers, "Depth");
  bool allowed = scope == "exclusive" && type == "write" && depth == "0";
  if (allowed && !exists(path)) {
    // An empty file, made so that no reader ever sees a half-made one.
    std::string temporary = path + ".lock-XXXXXX";
    int fd = ::mkstemp(temporary.data());
    allowed = fd >= 0 && ::close(fd) == 0 && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (fd >= 0 && !allowed) ::unlink(temporary.c_str());
    if (allowed) ::chmod(path.c_str(), 0644);
  }
  if (!allowed) {
    HTTP_LOG_ERROR(kLogLevel, "Locking request \"%s/%s/%s\" for \"%s\" is not allowed",
                   scope.value_or("(null)").c_str(), type.value_or("(null)").c_str(),
                   depth.value_or("(null)").c_str(), resourcePath.c_str());
    _status = 403;
    return;
  }

  std::string token = "urn:uuid:" + platform::makeUuid();
  std::string xml = kXMLPrologue;
  xml += "<D:prop xmlns:D=\"DAV:\">\n";
  xml += "<D:lockdiscovery>\n<D:activelock>\n";
  xml += "<D:locktype><D:" + *type + "/></D:locktype>\n";
  xml += "<D:lockscope><D:" + *scope + "/></D:lockscope>\n";
  xml += "<D:depth>" + *depth + "</D:depth>\n";
  if (owner) xml += "<D:owner><D:href>" + xmlEscaped(*owner) + "</D:href></D:owner>\n";
  if (std::optional<std::string> timeout = headerValue(headers, "Timeout"))
    xml += "<D:timeout>" + xmlEscaped(*timeout) + "</D:timeout>\n";
  xml += "<D:locktoken><D:href>" + token + "</D:href></D:locktoken>\n";
  xml += "</D:activelock>\n</D:lockdiscovery>\n";
  xml += "</D:prop>";
  _status = 200;
  setXMLBody(xml);
}

bool DAVResponse::unlock(const Headers& headers, const std::string& path) {
  if (!exists(path)) return false;
  _status = headerValue(headers, "Lock-Token") ? 204 : 400;
  return true;
}
