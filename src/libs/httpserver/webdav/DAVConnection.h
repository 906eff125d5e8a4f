#pragma once
// DAVConnection: a connection class that turns the server's document root into a WebDAV share.
// Besides GET and HEAD it accepts PUT, DELETE, OPTIONS, PROPFIND, MKCOL, MOVE, COPY, LOCK and
// UNLOCK (exactly so spelled; anything else is 405). Request bodies of up to 1 MiB are kept in
// memory; larger and chunked ones go to a temporary file made with mkstemp in a private folder
// ("DAVUploads", mode 0700) under the temporary folder, which a PUT moves into place and which
// is removed when the response finishes or the connection goes. An upload whose bytes could not
// all be written is answered 403 and not stored; one whose folder lies on another file system
// than the temporary folder is copied beside its target and renamed there. Bodies of the other
// methods are XML read whole into memory: they are capped at 1 MiB (413 beyond). A chunked body
// is read whatever the method, so it is never left on the socket to pass for the next request.
//
// Files of up to 16 MiB are served by HTTPFileResponse, larger ones by HTTPAsyncFileResponse.
// Set it as the server's connection class with
// `server->setConnectionClass(&HTTPConnection::initWithAsyncSocket<DAVConnection>)`.

#include <variant>

#include "httpserver/core/HTTPConnection.h"

class DAVConnection : public HTTPConnection {
  CH_SHARED_OBJECT(DAVConnection)

 public:
  ~DAVConnection() override;

  // The private folder uploads are collected in, made when missing.
  static std::string uploadFolder();

 protected:
  DAVConnection(std::shared_ptr<DispatchSocket> newSocket, std::shared_ptr<HTTPConfig> aConfig);

  bool supportsMethod(const std::string& method, const std::string& path) override;
  bool expectsRequestBodyFromMethod(const std::string& method, const std::string& path) override;
  // 1 MiB for the XML bodies (LOCK, PROPFIND, MKCOL), the connection's cap for a PUT.
  std::uint64_t maxRequestBodySize() override;
  void prepareForBodyWithSize(std::uint64_t contentLength) override;
  void processBodyData(const SocketData& postDataChunk) override;
  void finishBody() override;
  void finishResponse() override;
  void die() override;
  std::shared_ptr<HTTPResponse> httpResponseForMethod(
      const std::string& method, const std::optional<std::string>& path) override;

  // Nothing, the bytes, or the path of the temporary file that holds them.
  std::variant<std::monostate, platform::Bytes, std::string> requestContentBody;
  // The open temporary file, or -1.
  int requestContentStream = -1;

 private:
  // The request's "Transfer-Encoding" is "chunked" (in any case), as the base connection reads it.
  bool announcesChunkedBody() const;
  void closeStream();
  // Drops the body, removing its temporary file if it is still there.
  void discardBody();
  bool uploadFailed_ = false;
};
