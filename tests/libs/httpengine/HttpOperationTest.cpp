#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "httpengine/HttpEngineAdditions.h"
#include "httpengine/HttpOperation.h"
#include "httpengine/RFC1123.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLError.h"
#include "support/Files.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

using platform::Bytes;
using platform::Dictionary;

namespace {

std::string text(const std::optional<Bytes>& b) {
  return b ? std::string(b->begin(), b->end()) : std::string("(no body)");
}

TEST(HttpOperationTest, RequestBuilding) {
  struct Case {
    const char* url;
    std::optional<Dictionary> params;
    std::optional<std::string> method;
    const char* finalURL;
    std::optional<std::string> contentType;
  };
  const std::string form = "application/x-www-form-urlencoded; charset=utf-8";
  const Case cases[] = {
      {"http://h/u", Dictionary{{"userId", 5}}, std::nullopt, "http://h/u?userId=5", std::nullopt},
      {"http://h/u?a=1", Dictionary{{"b", "x y"}}, "GET", "http://h/u?a=1?b=x%20y", std::nullopt},
      {"http://h/u", Dictionary{{"id", 7}}, "DELETE", "http://h/u?id=7", std::nullopt},
      {"http://h/u", Dictionary{{"a", 1}}, "POST", "http://h/u", form},
      {"http://h/u", Dictionary{{"a", 1}}, "PUT", "http://h/u", form},
      {"http://h/u", std::nullopt, "POST", "http://h/u", std::nullopt},
      {"http://h/u", Dictionary{}, "GET", "http://h/u", std::nullopt},
  };
  for (const auto& c : cases) {
    auto op = HttpOperation::make(c.url, c.params, c.method);
    ASSERT_TRUE(op) << c.url;
    auto request = op->readonlyRequest();
    EXPECT_EQ(op->url(), c.finalURL);
    EXPECT_EQ(op->HTTPMethod(), c.method.value_or("GET"));
    EXPECT_EQ(request.valueForHTTPHeaderField("Content-Type"), c.contentType) << c.url;
    EXPECT_EQ(request.timeoutInterval(), 35.0);
    EXPECT_EQ(op->state(), HttpOperation::kStateReady);
    EXPECT_EQ(op->HTTPStatusCode(), 0);
  }
  for (const char* bad : {"", "http://h/a b", "not a url"}) {
    EXPECT_EQ(HttpOperation::make(bad), nullptr) << bad;
  }
}

TEST(HttpOperationTest, AcceptLanguageNamesTheUsersLanguagesThenEnglish) {
  setenv("LANGUAGE", "zh_CN:en_GB", 1);
  auto op = HttpOperation::make("http://h/");
  EXPECT_EQ(op->readonlyRequest().valueForHTTPHeaderField("Accept-Language"),
            "zh-CN, en-GB, en-us");
  unsetenv("LANGUAGE");
}

TEST(HttpOperationTest, BodiesByEncoding) {
  auto op = HttpOperation::make("http://h/p", Dictionary{{"a", "1 2"}, {"b", 3}}, "POST");
  EXPECT_EQ(text(op->bodyData()), "a=1%202&b=3");
  op->setPostDataEncoding(HttpOperation::kPostDataEncodingTypeJSON);
  EXPECT_EQ(text(op->bodyData()), R"({"a":"1 2","b":3})");
  EXPECT_EQ(op->encodedPostDataString(), R"({"a":"1 2","b":3})");
  EXPECT_EQ(op->readonlyRequest().valueForHTTPHeaderField("Content-Type"),
            "application/json; charset=utf-8");
  op->setCustomPostDataEncodingHandler([](const Dictionary& d) { return std::to_string(d.size()); },
                                       "text/x-count");
  EXPECT_EQ(text(op->bodyData()), "2");
  EXPECT_EQ(op->readonlyRequest().valueForHTTPHeaderField("Content-Type"),
            "text/x-count; charset=utf-8");
  op->setPostDataEncoding(7);
  op->setCustomPostDataEncodingHandler(nullptr, "text/x-none");
  EXPECT_EQ(text(op->bodyData()), "");
}

TEST(HttpOperationTest, MultipartBodyBytes) {
  testsupport::TempHome home;
  std::string path = home.path() + "/notes.txt";
  testsupport::writeFile(path, "FILE");
  auto op = HttpOperation::make("http://h/up", Dictionary{{"k", "v"}});
  op->addFile(path, "doc", "text/plain");
  op->addData(Bytes{'D', 'A', 'T', 'A'}, "blob");
  EXPECT_EQ(op->HTTPMethod(), "POST");
  std::string body = text(op->bodyData());
  const std::string expected =
      "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n"
      "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"doc\"; "
      "filename=\"notes.txt\"\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: "
      "binary\r\n\r\nFILE\r\n"
      "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=\"blob\"; "
      "filename=\"file\"\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: "
      "binary\r\n\r\nDATA\r\n"
      "--0xKhTmLbOuNdArY--\r\n";
  EXPECT_EQ(body, expected);
  auto request = op->readonlyRequest();
  EXPECT_EQ(request.valueForHTTPHeaderField("Content-Type"),
            "multipart/form-data; charset=utf-8; boundary=0xKhTmLbOuNdArY");
  EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"), std::to_string(body.size()));
}

TEST(HttpOperationTest, FilePartsThatCannotBeReadGiveNoBody) {
  testsupport::TempHome home;
  struct Case {
    std::string path;
    int code;
  };
  const Case cases[] = {{home.path(), platform::kURLErrorFileIsDirectory},
                        {"/", platform::kURLErrorFileIsDirectory},
                        {home.path() + "/missing", platform::kURLErrorFileDoesNotExist},
                        {"/dev/zero", platform::kURLErrorNoPermissionsToReadFile}};
  for (const auto& c : cases) {
    auto op = HttpOperation::make("http://h/up");
    op->addFile(c.path, "doc");
    platform::Error error;
    EXPECT_FALSE(op->bodyData(&error)) << c.path;
    EXPECT_EQ(error.code(), c.code) << c.path;
    EXPECT_EQ(error.domain(), platform::kURLErrorDomain);
    EXPECT_FALSE(op->readonlyRequest().valueForHTTPHeaderField("Content-Length"));
  }
}

TEST(HttpOperationTest, CurlCommandLine) {
  auto get = HttpOperation::make("http://h/g");
  get->addHeaders({{"X-A", "1"}});
  EXPECT_EQ(get->curlCommandLineString().substr(0, 14), "curl -X GET -H");
  EXPECT_NE(get->curlCommandLineString().find(" -H 'X-A: 1' 'http://h/g'"), std::string::npos);

  auto post = HttpOperation::make("http://h/p", Dictionary{{"a", "1"}}, "POST");
  std::string line = post->curlCommandLineString();
  EXPECT_EQ(line.substr(line.find(" 'http")), " 'http://h/p' -d 'a=1'");

  post->addFile("/tmp/x.bin", "f", "application/x-bin");
  EXPECT_EQ(post->curlCommandLineString(),
            "curl -X POST 'http://h/p' -F 'a=1' -F 'f=@/tmp/x.bin;type=application/x-bin'");

  post->setPostDataEncoding(HttpOperation::kPostDataEncodingTypeJSON);
  line = post->curlCommandLineString();
  EXPECT_NE(line.find(R"( -d '{"a":"1"}')"), std::string::npos) << line;
}

TEST(HttpOperationTest, DescriptionShowsTheRequestAndTheAnswer) {
  platform::ScopedManualClock clock;
  auto op = HttpOperation::make("http://h/p", Dictionary{{"a", "1"}}, "POST");
  std::string text = op->description();
  EXPECT_NE(text.find("\nRequest\n-------\ncurl -X POST"), std::string::npos) << text;
  EXPECT_NE(text.find(" -d 'a=1'"), std::string::npos) << text;
  // No answer yet: no response part.
  EXPECT_EQ(text.find("Response"), std::string::npos) << text;
}

TEST(HttpOperationTest, CachedBytesReadInTheAskedEncoding) {
  auto op = HttpOperation::make("http://h/x");
  EXPECT_FALSE(op->responseString());
  op->setCachedData(Bytes{'c', 0xE9});
  EXPECT_TRUE(op->isCachedResponse());
  // Not UTF-8: no text; read as Latin-1 it is; ASCII refuses the high byte.
  EXPECT_FALSE(op->responseString());
  EXPECT_EQ(op->responseStringWithEncoding(HttpOperation::kISOLatin1StringEncoding), "c\xC3\xA9");
  EXPECT_FALSE(op->responseStringWithEncoding(HttpOperation::kASCIIStringEncoding));
  op->setStringEncoding(HttpOperation::kISOLatin1StringEncoding);
  EXPECT_EQ(op->responseString(), "c\xC3\xA9");
  EXPECT_FALSE(op->error());
}

TEST(HttpOperationTest, CacheHeaderExpiry) {
  auto now = std::chrono::system_clock::from_time_t(784111777);  // Sun, 06 Nov 1994 08:49:37
  struct Case {
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> expires;
  };
  const Case cases[] = {
      {{{"Content-Type", "text/html"}, {"Cache-Control", "max-age=300"}},
       "Sun, 06 Nov 1994 08:54:37 GMT"},
      {{{"Content-Type", "text/html"}, {"Cache-Control", "no-cache"}},
       "Sun, 06 Nov 1994 08:50:37 GMT"},
      {{{"Content-Type", "text/html"}, {"Cache-Control", "max-age"}},
       "Sun, 06 Nov 1994 08:49:37 GMT"},
      {{{"Content-Type", "text/html"}, {"Cache-Control", "public, max-age=60, no-cache"}},
       "Sun, 06 Nov 1994 08:50:37 GMT"},
      {{{"Content-Type", "image/png"}, {"ETag", "\"e\""}}, "Mon, 07 Nov 1994 08:49:37 GMT"},
      {{}, "Sun, 13 Nov 1994 08:49:37 GMT"},
      {{{"Content-Type", "text/html"}, {"Expires", "Thu, 01 Dec 1994 16:00:00 GMT"}},
       "Thu, 01 Dec 1994 16:00:00 GMT"},
      {{{"Content-Type", "text/html"}}, std::nullopt},
      // An age beyond what a date holds stops at the latest date, never wraps into the past.
      {{{"Content-Type", "text/html"}, {"Cache-Control", "max-age=99999999999999999"}},
       "Fri, 11 Apr 2262 23:47:16 GMT"},
      {{{"Content-Type", "text/html"}, {"Cache-Control", "max-age=-99999999999999999"}},
       "Tue, 21 Sep 1677 00:12:43 GMT"},
  };
  for (const auto& c : cases) {
    platform::HeaderFields fields;
    for (const auto& [n, v] : c.headers) fields.set(n, v);
    auto headers = HttpOperation::cacheHeadersForResponse(
        platform::URLResponse("http://h/", 200, fields), now);
    auto* expires = platform::find(headers, "Expires");
    if (!c.expires) {
      EXPECT_EQ(expires, nullptr);
      continue;
    }
    ASSERT_NE(expires, nullptr) << *c.expires;
    EXPECT_EQ(expires->stringValue(), *c.expires);
  }
}

TEST(HttpOperationTest, ChallengeAnswers) {
  using Challenge = HttpOperation::AuthenticationChallenge;
  using Trust = Challenge::TrustResult;
  using Answer = HttpOperation::ChallengeAnswer;
  auto plain = HttpOperation::make("https://h/");
  auto withPassword = HttpOperation::make("https://h/");
  withPassword->setUsername("u", "p");
  auto lenient = HttpOperation::make("https://h/");
  lenient->setShouldContinueWithInvalidCertificate(true);
  auto withCertificate = HttpOperation::make("https://h/");
  withCertificate->setClientCertificate("/nonexistent.p12");
  struct Case {
    HttpOperation* operation;
    Challenge challenge;
    Answer answer;
  };
  const Case cases[] = {
      {withPassword.get(),
       {HttpOperation::kAuthenticationMethodHTTPBasic, 1},
       Answer::ContinueWithoutCredential},
      {withPassword.get(),
       {HttpOperation::kAuthenticationMethodHTTPDigest, 0},
       Answer::UseCredential},
      {plain.get(),
       {HttpOperation::kAuthenticationMethodHTTPBasic, 0},
       Answer::ContinueWithoutCredential},
      {withCertificate.get(),
       {HttpOperation::kAuthenticationMethodClientCertificate, 0},
       Answer::UseCredential},
      {plain.get(),
       {HttpOperation::kAuthenticationMethodServerTrust, 0, Trust::Proceed},
       Answer::UseCredential},
      {plain.get(),
       {HttpOperation::kAuthenticationMethodServerTrust, 0, Trust::Unspecified},
       Answer::UseCredential},
      // A recoverable failure (self-signed, wrong host, expired) is not trusted by default.
      {plain.get(),
       {HttpOperation::kAuthenticationMethodServerTrust, 0, Trust::RecoverableTrustFailure},
       Answer::ContinueWithoutCredential},
      {lenient.get(),
       {HttpOperation::kAuthenticationMethodServerTrust, 0, Trust::RecoverableTrustFailure},
       Answer::UseCredential},
      {plain.get(),
       {HttpOperation::kAuthenticationMethodServerTrust, 0, Trust::Deny},
       Answer::ContinueWithoutCredential},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.operation->answerChallenge(c.challenge), c.answer)
        << c.challenge.authenticationMethod;
  }
  int handled = 0;
  plain->setAuthHandler([&](const Challenge&) { ++handled; });
  EXPECT_EQ(plain->answerChallenge({"NSURLAuthenticationMethodNegotiate", 0}), Answer::Handled);
  EXPECT_EQ(handled, 1);
}

TEST(HttpOperationTest, IdentityEqualityAndCacheability) {
  auto a = HttpOperation::make("http://h/x");
  auto b = HttpOperation::make("http://h/x");
  auto c = HttpOperation::make("http://h/y");
  auto postA = HttpOperation::make("http://h/x", std::nullopt, "POST");
  auto postB = HttpOperation::make("http://h/x", std::nullopt, "POST");
  EXPECT_EQ(a->uniqueIdentifier(), HttpEngineAdditions::md5("GET http://h/x"));
  EXPECT_TRUE(a->isEqual(*b));
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_FALSE(a->isEqual(*c));
  EXPECT_FALSE(postA->isEqual(*postB));
  EXPECT_TRUE(postA->isEqual(*postA));
  b->setUsername("u", "p");
  EXPECT_EQ(b->uniqueIdentifier(), HttpEngineAdditions::md5("GET http://h/x [u:p]"));
  EXPECT_FALSE(b->isCacheable());
  EXPECT_TRUE(a->isCacheable());
  EXPECT_FALSE(postA->isCacheable());
  auto https = HttpOperation::make("HTTPS://h/x");
  EXPECT_FALSE(https->isCacheable());
  https->setShouldCacheResponseEvenIfProtocolIsHTTPS(true);
  EXPECT_TRUE(https->isCacheable());
  a->addDownloadStream(platform::OutputStream::toMemory());
  EXPECT_FALSE(a->isCacheable());
}

TEST(HttpOperationTest, FreezableOnlyForNonGet) {
  auto get = HttpOperation::make("http://h/x");
  get->setFreezable(true);
  EXPECT_FALSE(get->freezable());
  EXPECT_TRUE(get->uniqueId().empty());
  auto post = HttpOperation::make("http://h/x", std::nullopt, "POST");
  std::string before = post->uniqueIdentifier();
  post->setFreezable(true);
  EXPECT_TRUE(post->freezable());
  EXPECT_EQ(post->uniqueId().size(), 36u);
  EXPECT_EQ(post->uniqueIdentifier(),
            HttpEngineAdditions::md5("POST http://h/x" + post->uniqueId()));
  EXPECT_NE(post->uniqueIdentifier(), before);
}

TEST(HttpOperationTest, ArchiveRestoresTheRequestWithoutHandlers) {
  auto op = HttpOperation::make("http://h/p", Dictionary{{"a", "1"}}, "POST");
  op->setFreezable(true);
  op->setUsername("u", "p", true);
  op->addData(Bytes{1, 2, 3}, "blob");
  int calls = 0;
  op->onCompletion([&](const HttpOperation::Ptr&) { ++calls; }, [](const platform::Error&) {});
  auto archive = op->encodeWithCoder();
  for (const char* key : {"stringEncoding",
                          "postDataEncoding",
                          "uniqueId",
                          "request",
                          "response",
                          "fieldsToBePosted",
                          "filesToBePosted",
                          "dataToBePosted",
                          "username",
                          "password",
                          "clientCertificate",
                          "clientCertificatePassword",
                          "shouldContinueWithInvalidCertificate",
                          "localNotification",
                          "state",
                          "isCancelled",
                          "mutableData",
                          "downloadedDataSize",
                          "downloadStreams",
                          "startPosition",
                          "credentialPersistence"}) {
    EXPECT_TRUE(archive.contains(key)) << key;
  }
  auto restored = HttpOperation::initWithCoder(nlohmann::json::parse(archive.dump()));
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->uniqueIdentifier(), op->uniqueIdentifier());
  EXPECT_EQ(restored->HTTPMethod(), "POST");
  EXPECT_EQ(restored->readonlyPostDictionary(), op->readonlyPostDictionary());
  EXPECT_EQ(restored->readonlyRequest().valueForHTTPHeaderField("Authorization"), "Basic dTpw");
  EXPECT_EQ(text(restored->bodyData()), text(op->bodyData()));
  EXPECT_EQ(restored->state(), HttpOperation::kStateReady);

  auto copy = op->copy();
  EXPECT_EQ(copy->uniqueIdentifier(), op->uniqueIdentifier());
  EXPECT_EQ(text(copy->bodyData()), text(op->bodyData()));
}

// An archive comes from disk; one that cannot be sent as it stands is refused whole, with the
// reason, instead of failing (or ending the process) when the queue runs it.
TEST(HttpOperationTest, ArchivesThatCannotBeSentAreRefused) {
  const std::string request = R"("request":{"url":"http://h/p","method":"POST"})";
  const std::pair<std::string, const char*> refused[] = {
      {"[]", "not a dictionary"},
      {R"({"dataToBePosted":[{}]})", "no request"},
      {R"({"request":{"method":"POST"},"filesToBePosted":[{}]})", "no usable URL"},
      {R"({"request":{"url":"not a url"}})", "no usable URL"},
      {"{" + request + R"(,"filesToBePosted":[{}]})", "file entry"},
      {"{" + request + R"(,"filesToBePosted":[{"name":"f","mimetype":"t","filepath":7}]})",
       "file entry"},
      {"{" + request + R"(,"filesToBePosted":{"name":"f"}})", "file entry"},
      {"{" + request + R"(,"dataToBePosted":[{"name":"d","mimetype":"t","filename":"f"}]})",
       "data entry"},
      {"{" + request +
           R"(,"dataToBePosted":[{"data":"!!","name":"d","mimetype":"t","filename":"f"}]})",
       "Base64"},
  };
  for (const auto& [archive, reason] : refused) {
    std::string failure;
    EXPECT_FALSE(HttpOperation::initWithCoder(nlohmann::json::parse(archive), &failure)) << archive;
    EXPECT_NE(failure.find(reason), std::string::npos) << archive << ": " << failure;
  }
  // Complete entries restore, and give the body they describe.
  auto restored = HttpOperation::initWithCoder(nlohmann::json::parse(
      "{" + request +
      R"(,"state":2,"dataToBePosted":[{"data":"REFUQQ==","name":"d","mimetype":"t","filename":"f"}]})"));
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->state(), HttpOperation::kStateReady);
  EXPECT_NE(text(restored->bodyData()).find("filename=\"f\"\r\nContent-Type: t"),
            std::string::npos);
}

TEST(HttpOperationTest, ALocalNotificationSurvivesArchiving) {
  auto op = HttpOperation::make("http://h/frozen", Dictionary{{"a", 1}}, "POST");
  platform::LocalNotification n{"body", "Dismiss", std::nullopt, {{"k", platform::Value("v")}}};
  op->setLocalNotification(n);
  auto restored = HttpOperation::initWithCoder(op->encodeWithCoder());
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->localNotification(), n);
  EXPECT_FALSE(HttpOperation::initWithCoder(HttpOperation::make("http://h/x")->encodeWithCoder())
                   ->localNotification());
}

// Frozen requests written by earlier builds stay readable, their notification included.
TEST(HttpOperationTest, AStoredArchiveWithANotificationIsReadBack) {
  auto restored = HttpOperation::initWithCoder(nlohmann::json::parse(R"({
      "request": {"url": "http://h/frozen", "method": "POST", "headers": [], "timeout": 35.0},
      "uniqueId": "2F1B6C1E-6E0A-4A49-9C0B-2B8A3B1A7C11",
      "localNotification": {"alertBody": "上传失败", "alertAction": "Dismiss",
                            "fireDate": 1700000000000000000, "userInfo": {"k": "v"}}})"));
  ASSERT_TRUE(restored);
  platform::LocalNotification expected{
      "上传失败",
      "Dismiss",
      platform::Date(std::chrono::duration_cast<platform::Date::duration>(
          std::chrono::nanoseconds(1700000000000000000))),
      {{"k", platform::Value("v")}}};
  EXPECT_EQ(restored->localNotification(), expected);
  EXPECT_TRUE(restored->freezable());
}

TEST(HttpOperationTest, AddedParametersReachTheBodyButNeverAFormedUrl) {
  auto get = HttpOperation::make("http://h/u", Dictionary{{"userId", 5}});
  get->addParams(Dictionary{{"late", 1}});
  EXPECT_EQ(get->url(), "http://h/u?userId=5");
  EXPECT_EQ(get->readonlyPostDictionary(), (Dictionary{{"userId", 5}, {"late", 1}}));

  auto post = HttpOperation::make("http://h/p", Dictionary{{"a", "old"}, {"b", 3}}, "POST");
  post->addParams(Dictionary{{"a", "new"}, {"c", "x y"}});
  EXPECT_EQ(post->encodedPostDataString(), "a=new&b=3&c=x%20y");
  EXPECT_EQ(text(post->bodyData()), "a=new&b=3&c=x%20y");
  // With a file added the body is multipart; the encoded fields stay the form text.
  post->addData(Bytes{'D'}, "blob");
  EXPECT_EQ(post->encodedPostDataString(), "a=new&b=3&c=x%20y");
  EXPECT_NE(text(post->bodyData()).find("name=\"c\"\r\n\r\nx y\r\n"), std::string::npos);
}

TEST(HttpOperationTest, AuthorizationIsTheTypeThenTheValueAndTheLastOneWins) {
  auto op = HttpOperation::make("http://h/p");
  EXPECT_FALSE(op->readonlyRequest().valueForHTTPHeaderField("Authorization"));
  op->setAuthorizationHeaderValue("abc.def", "Bearer");
  EXPECT_EQ(op->readonlyRequest().valueForHTTPHeaderField("Authorization"), "Bearer abc.def");
  op->setUsername("user", "pa:ss", true);
  EXPECT_EQ(op->readonlyRequest().valueForHTTPHeaderField("Authorization"),
            "Basic dXNlcjpwYTpzcw==");
  op->setAuthorizationHeaderValue("t0ken", "Token");
  EXPECT_EQ(op->readonlyRequest().valueForHTTPHeaderField("Authorization"), "Token t0ken");
}

TEST(HttpOperationTest, JsonIsDecodedOffTheMainThreadAndHandedBackOnIt) {
  struct Case {
    std::optional<std::string> data;
    std::optional<nlohmann::json> expected;
  };
  const Case cases[] = {
      {R"({"a":[1,2]})", nlohmann::json::parse(R"({"a":[1,2]})")},
      {"not json", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    auto op = HttpOperation::make("http://h/j");
    op->setCachedData(Bytes(c.data->begin(), c.data->end()));
    bool called = false, onMain = false;
    std::optional<nlohmann::json> decoded;
    op->responseJSONWithOptions(0, [&](const std::optional<nlohmann::json>& j) {
      called = true;
      onMain = platform::RunLoop::isMainThread();
      decoded = j;
    });
    ASSERT_TRUE(testsupport::runUntil([&] { return called; })) << *c.data;
    EXPECT_TRUE(onMain);
    EXPECT_EQ(decoded, c.expected) << *c.data;
  }
  // Without any data there is nothing to decode: the answer comes at once.
  bool empty = false;
  HttpOperation::make("http://h/j")
      ->responseJSONWithOptions(0, [&](const std::optional<nlohmann::json>& j) { empty = !j; });
  EXPECT_TRUE(empty);
}

}  // namespace
