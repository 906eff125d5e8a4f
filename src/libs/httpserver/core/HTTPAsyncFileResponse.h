#pragma once
// HTTPAsyncFileResponse: serves a file that a read source reads on the response's own serial
// queue "HTTPAsyncFileResponse", so a slow disk holds up only this response, not the queue all
// connections share. Each `readDataOfLength` that finds nothing waiting asks for one read of at
// most that many bytes and answers absent; when the bytes are in, the response tells its
// connection `responseHasAvailableData`, and the connection's next `readDataOfLength` takes
// them. The file is opened on the first read or offset; a failure to open, seek, allocate or
// read, or the end of the file before its length (a file that shrank), aborts the response.
//
// Threads: the connection's queue calls the public operations, which step onto the read queue
// synchronously; the read source works only there. Subclasses change what becomes of the bytes
// read through `processReadBuffer` (see HTTPDynamicFileResponse).

#include <memory>
#include <optional>
#include <string>

#include "httpserver/core/HTTPResponse.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/SharedObject.h"

class HTTPConnection;

class HTTPAsyncFileResponse : public HTTPResponse,
                              public std::enable_shared_from_this<HTTPAsyncFileResponse> {
  CH_SHARED_OBJECT(HTTPAsyncFileResponse)

 public:
  // Null without a path or when its attributes cannot be read.
  static std::shared_ptr<HTTPAsyncFileResponse> initWithFilePath(
      const std::optional<std::string>& filePath, std::weak_ptr<HTTPConnection> connection);
  ~HTTPAsyncFileResponse() override;

  std::uint64_t contentLength() override;
  std::uint64_t offset() override;
  void setOffset(std::uint64_t offset) override;
  std::optional<platform::Bytes> readDataOfLength(std::size_t length) override;
  bool isDone() override;
  void connectionDidClose() override;

  const std::string& filePath() const { return _filePath; }
  bool isAsynchronous() const { return true; }

 protected:
  HTTPAsyncFileResponse(std::string filePath, std::weak_ptr<HTTPConnection> connection,
                        std::uint64_t length);
  // Checks the path and reads the file's size; false (with the warning logged) when it cannot.
  static bool fileLengthOfPath(const std::optional<std::string>& filePath, std::uint64_t* length);

  // Read queue only, from here on; each fails an assertion elsewhere (the destructor's
  // `cancelReadSource` excepted: nothing else can reach the response then).
  void assertOnReadQueue() const;
  void abort();
  bool openFileIfNeeded();
  bool openFileAndSetupReadSource();
  void readSourceDidFire(std::size_t available);
  // Hands the filled part of the buffer to the connection.
  virtual void processReadBuffer();
  void pauseReadSource();
  void resumeReadSource();
  void cancelReadSource();
  void notifyConnection(bool aborting);

  // Set at creation.
  const std::string _filePath;
  const std::uint64_t fileLength;
  const std::shared_ptr<platform::dispatch::Queue> readQueue;

  // Owned by readQueue.
  std::weak_ptr<HTTPConnection> connection;
  std::uint64_t fileOffset = 0;
  std::uint64_t readOffset = 0;
  bool aborted = false;
  std::optional<platform::Bytes> data;
  int fileFD = -1;
  platform::Bytes readBuffer;  // its size is the buffer's capacity
  std::size_t readBufferOffset = 0;
  std::size_t readRequestLength = 0;
  std::shared_ptr<platform::dispatch::Source> readSource;
  bool readSourceSuspended = true;
};
