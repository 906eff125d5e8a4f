// The multipart form-data parser: a body fed whole and split at every byte gives the same parts,
// headers with parameters, folded lines and quoted-printable text, and a table of bad inputs.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "httpserver/core/MultipartFormDataParser.h"
#include "logging/LoggingTestSupport.h"

namespace {

// Records what the parser tells, merging the pieces of one preamble, content or epilogue.
class Recorder : public MultipartFormDataParserDelegate {
 public:
  void processPreambleData(std::string_view data) override { append("preamble", data); }
  void processStartOfPartWithHeader(const MultipartMessageHeader& header) override {
    std::string text = "start";
    for (const auto& [name, field] : header.fields()) {
      text += " " + name + "=" + field.value();
      for (const auto& [key, value] : field.params()) text += " " + key + ":" + value;
    }
    events.push_back(text);
  }
  void processContent(std::string_view data, const MultipartMessageHeader&) override {
    append("content", data);
  }
  void processEndOfPartWithHeader(const MultipartMessageHeader&) override {
    events.push_back("end");
  }
  void processEpilogueData(std::string_view data) override { append("epilogue", data); }

  std::vector<std::string> events;

 private:
  void append(const std::string& kind, std::string_view data) {
    if (data.empty()) return;
    if (!events.empty() && events.back().rfind(kind + ":", 0) == 0) {
      events.back() += data;
    } else {
      events.push_back(kind + ":" + std::string(data));
    }
  }
};

const std::string kBoundary = "----WebKitFormBoundary7MA4YWxkTrZu0gW";
const std::string kBody =
    "This is the preamble.\r\n"
    "------WebKitFormBoundary7MA4YWxkTrZu0gW\r\n"
    "Content-Disposition: form-data; name=\"title\"\r\n"
    "\r\n"
    "Lecture notes\r\n"
    "------WebKitFormBoundary7MA4YWxkTrZu0gW  \r\n"
    "Content-Disposition: form-data; name=\"file\"; filename=\"a \\\"b\\\".txt\"\r\n"
    "Content-Type: text/plain;\r\n charset=utf-8\r\n"
    "\r\n"
    "line one\r\n------WebKitFormBoundary7MA4YWxkTrZu0gX not yet\r\n\r\n"
    "------WebKitFormBoundary7MA4YWxkTrZu0gW\r\n"
    "Content-Disposition: form-data; name=\"empty\"\r\n"
    "\r\n"
    "\r\n"
    "------WebKitFormBoundary7MA4YWxkTrZu0gW--\r\n"
    "The epilogue.";

const std::vector<std::string> kExpected = {
    "preamble:This is the preamble.\r\n",
    "start Content-Disposition=form-data name:title",
    "content:Lecture notes",
    "end",
    "start Content-Disposition=form-data filename:a \"b\".txt name:file "
    "Content-Type=text/plain charset:utf-8",
    "content:line one\r\n------WebKitFormBoundary7MA4YWxkTrZu0gX not yet\r\n",
    "end",
    "start Content-Disposition=form-data name:empty",
    "end",
    "epilogue:The epilogue.",
};

std::vector<std::string> parseInPieces(const std::string& body,
                                       const std::vector<std::size_t>& cuts) {
  auto recorder = std::make_shared<Recorder>();
  MultipartFormDataParser parser(kBoundary, kMultipartUTF8Encoding);
  parser.setDelegate(recorder);
  std::size_t start = 0;
  for (std::size_t cut : cuts) {
    EXPECT_TRUE(parser.appendData(std::string_view(body).substr(start, cut - start)));
    start = cut;
  }
  EXPECT_TRUE(parser.appendData(std::string_view(body).substr(start)));
  return recorder->events;
}

TEST(MultipartFormDataParserTest, AWholeBodyGivesEveryPart) {
  EXPECT_EQ(parseInPieces(kBody, {}), kExpected);
}

TEST(MultipartFormDataParserTest, ABodySplitAtAnyByteGivesTheSameParts) {
  for (std::size_t cut = 0; cut <= kBody.size(); ++cut)
    ASSERT_EQ(parseInPieces(kBody, {cut}), kExpected) << "split at " << cut;
  for (std::size_t cut = 1; cut + 7 <= kBody.size(); cut += 5)
    ASSERT_EQ(parseInPieces(kBody, {cut, cut + 1, cut + 7}), kExpected) << "cuts from " << cut;
}

TEST(MultipartFormDataParserTest, AByteAtATimeGivesTheSameParts) {
  std::vector<std::size_t> cuts;
  for (std::size_t i = 1; i < kBody.size(); ++i) cuts.push_back(i);
  EXPECT_EQ(parseInPieces(kBody, cuts), kExpected);
}

TEST(MultipartFormDataParserTest, AHeaderWithoutParsableLinesIsPlainText) {
  const std::string body = "--b\r\nno colon here\r\n\r\nx\r\n--b--";
  auto recorder = std::make_shared<Recorder>();
  MultipartFormDataParser parser("b", kMultipartUTF8Encoding);
  parser.setDelegate(recorder);
  EXPECT_TRUE(parser.appendData(body));
  EXPECT_EQ(recorder->events,
            (std::vector<std::string>{"start Content-Type=text/plain", "content:x", "end"}));
}

TEST(MultipartFormDataParserTest, ATruncatedBodyGivesTheSamePartsWholeAndSplit) {
  // A part whose header ends in the last bytes: the tail after the cut is shorter than the
  // boundary, and must still complete the header.
  for (const std::string body :
       {"--b\r\n\r\n\r\n", "--b\r\nA: 1\r\n\r\nxy", "x\r\n--b\r\n\r\n\r\nz"}) {
    auto events = [&](std::size_t cut) {
      auto recorder = std::make_shared<Recorder>();
      MultipartFormDataParser parser("b", kMultipartUTF8Encoding);
      parser.setDelegate(recorder);
      EXPECT_TRUE(parser.appendData(std::string_view(body).substr(0, cut)));
      EXPECT_TRUE(parser.appendData(std::string_view(body).substr(cut)));
      std::vector<std::string> parts;
      for (const std::string& event : recorder->events)
        if (event.rfind("preamble:", 0) != 0) parts.push_back(event);
      return parts;
    };
    const auto whole = events(body.size());
    ASSERT_FALSE(whole.empty()) << body;
    for (std::size_t cut = 0; cut <= body.size(); ++cut)
      EXPECT_EQ(events(cut), whole) << body << " cut at " << cut;
  }
}

TEST(MultipartFormDataParserTest, UnparsableHeaderLinesAreReportedOncePerPart) {
  auto logger = logtest::RecordingLogger::create();
  LGLog::addLogger(logger);
  std::string badLines;
  for (int i = 0; i < 300; ++i) badLines += "no colon " + std::to_string(i) + "\r\n";
  const std::string body = "--b\r\n" + badLines + "\r\nx\r\n--b\r\n" + badLines +
                           "Content-Type: text/html\r\n\r\ny\r\n--b--";
  auto recorder = std::make_shared<Recorder>();
  MultipartFormDataParser parser("b", kMultipartUTF8Encoding);
  parser.setDelegate(recorder);
  EXPECT_TRUE(parser.appendData(body));
  LGLog::flushLog();
  auto texts = logger->texts();
  LGLog::removeAllLoggers();
  EXPECT_EQ(recorder->events,
            (std::vector<std::string>{"start Content-Type=text/plain", "content:x", "end",
                                      "start Content-Type=text/html", "content:y", "end"}));
  // Per part: what was wrong with the first bad line, and one line with the count.
  const std::vector<std::string> perPart = {
      "MultipartFormDataParser: Bad format.No colon in field header.",
      "MultipartFormDataParser: Failed to parse MIME header field. Input ASCII string:no colon 0 "
      "(and 299 more lines of this part)"};
  std::vector<std::string> expected = perPart;
  expected.insert(expected.end(), perPart.begin(), perPart.end());
  EXPECT_EQ(texts, expected);
}

TEST(MultipartFormDataParserTest, HeaderFieldsAndTheirParameters) {
  struct Case {
    const char* line;
    bool parses;
    const char* value;
    std::map<std::string, std::string> params;
  };
  const Case cases[] = {
      {"Content-Disposition: form-data; name=\"a\"; filename=\"b.txt\"",
       true,
       "form-data",
       {{"name", "a"}, {"filename", "b.txt"}}},
      {"Content-Type: text/plain", true, "text/plain", {}},
      {"X: v; k=\"\"", true, "v", {{"k", ""}}},
      {"X: v; k=\"", true, "v", {{"k", ""}}},  // a lone quote is the empty value
      {"X: v; k=\"a;b=c\"", true, "v", {{"k", "a;b=c"}}},
      {"X: v; k=back\\\\slash", true, "v", {{"k", "back\\slash"}}},
      {"X: v; k=", true, "v", {}},
      {"X: v; flag", true, "v", {}},
      {"X: v;k=1", true, "v", {{"k", "1"}}},
      {"X: v; k=1=2", false, "", {}},
      {"X: v; ;k=1", false, "", {}},
      {"no colon", false, "", {}},
      {"X:", false, "", {}},
      {"N\xC3\xA4me: v", false, "", {}},
      {"X: \xFF", false, "", {}},
  };
  for (const Case& c : cases) {
    auto field = MultipartMessageHeaderField::initWithData(c.line, kMultipartUTF8Encoding);
    EXPECT_EQ(field.has_value(), c.parses) << c.line;
    if (!field || !c.parses) continue;
    EXPECT_EQ(field->value(), c.value) << c.line;
    EXPECT_EQ(field->params(), c.params) << c.line;
  }
}

TEST(MultipartFormDataParserTest, FoldedHeaderLinesStayOneField) {
  MultipartMessageHeader header("A: one\r\n\ttwo\r\nB: three\r\n", kMultipartUTF8Encoding);
  ASSERT_EQ(header.fields().size(), 2u);
  EXPECT_EQ(header.fields().at("A").value(), "one\r\n\ttwo");
  EXPECT_EQ(header.fields().at("B").value(), "three");
  MultipartMessageHeader latin("A: caf\xE9\r\n", kMultipartISOLatin1Encoding);
  EXPECT_EQ(latin.fields().at("A").value(), "caf\xC3\xA9");
}

TEST(MultipartFormDataParserTest, QuotedPrintableDecoding) {
  struct Case {
    const char* encoded;
    const char* decoded;
  };
  const Case cases[] = {
      {"caf=C3=A9", "caf\xC3\xA9"},
      {"soft=\r\nbreak", "softbreak"},
      {"soft=\rbreak", "softbreak"},
      {"=3D=3d", "=\x30"},  // lower-case hexadecimal digits count 0
      {"a==41b",
       "a\x04"
       "1b"},
      {"trailing=", "trailing"},
      {"trailing=4", "trailing"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MultipartFormDataParser::decodedDataFromQuotedPrintableData(c.encoded), c.decoded)
        << c.encoded;
  EXPECT_EQ(MultipartFormDataParser::decodedDataFromData("=41", contentTransferEncoding_binary),
            "=41");
  EXPECT_EQ(MultipartFormDataParser::decodedDataFromData("YWJj", contentTransferEncoding_base64),
            "abc");
}

TEST(MultipartFormDataParserTest, BadBodiesFail) {
  EXPECT_FALSE(MultipartFormDataParser::initWithBoundary(std::nullopt, kMultipartUTF8Encoding));
  MultipartFormDataParser nonASCII("b\xC3\xA4", kMultipartUTF8Encoding);
  EXPECT_FALSE(nonASCII.appendData("--b\xC3\xA4\r\n"));

  // A header block that never ends is refused once it passes the cap, whole or in pieces.
  const std::string endless =
      "--b\r\nX: " + std::string(MultipartFormDataParser::kMaxHeaderLength, 'a');
  MultipartFormDataParser whole("b", kMultipartUTF8Encoding);
  EXPECT_FALSE(whole.appendData(endless));
  MultipartFormDataParser pieces("b", kMultipartUTF8Encoding);
  bool refused = false;
  for (std::size_t i = 0; i < endless.size() && !refused; i += 1000)
    refused = !pieces.appendData(std::string_view(endless).substr(i, 1000));
  EXPECT_TRUE(refused);
}

}  // namespace
