// The HTTP(S) client against real servers on loopback.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>

#include "common/HttpClient.h"
#include "tests/support/FreePort.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::common {
namespace {

using namespace std::chrono_literals;

class HttpClientTest : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv(kCaFileVariable); }
  testing::TempProgramDir dir_;
};

TEST_F(HttpClientTest, PostSendsTheFormWithItsOneContentTypeAndTheAgentName) {
  testing::HttpTestServer server(dir_.path(), false);
  ASSERT_TRUE(server.started());
  HttpRequest request;
  request.url = server.origin() + "/register";
  request.formBody = "domain=a.example&user_login_id=me";
  request.replyFile = dir_.path() + "reply.txt";
  request.replyBufferSize = 5;
  const HttpReply reply = sendHttpRequest(request);
  ASSERT_TRUE(reply.succeeded) << reply.detail;
  EXPECT_EQ(reply.buffer, "post");  // the buffer's size less one
  EXPECT_EQ(testing::readFile(request.replyFile), "posted OK");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "POST /register|WININET Sample Program|application/x-www-form-urlencoded; "
            "charset=UTF-8|domain=a.example&user_login_id=me");
}

TEST_F(HttpClientTest, RepliesAreBoundedWithOrWithoutContentLength) {
  testing::HttpTestServer server(dir_.path(), false);
  ASSERT_TRUE(server.started());
  const struct {
    const char* mode;
    bool succeeded;
  } cases[] = {
      {"nolength", true},  // read to the end of the stream
      {"toolong", false},  // more than the client takes
      {"huge", false},     // 2,000,000,000 announced: refused before reading
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    HttpRequest request;
    request.url = server.origin() + "/u?mode=" + c.mode;
    request.replyFile = dir_.path() + "reply.txt";
    request.replyBufferSize = 1024;
    const auto begin = std::chrono::steady_clock::now();
    const HttpReply reply = sendHttpRequest(request);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_EQ(reply.succeeded, c.succeeded) << reply.detail;
    const std::string expected =
        c.succeeded ? "Updated without a length: OK" : "ERROR: No Response";
    EXPECT_EQ(reply.buffer, expected);
    EXPECT_EQ(testing::readFile(request.replyFile), expected);
  }
}

TEST_F(HttpClientTest, ASilentServerIsGivenUpWithinTheLimit) {
  testing::HttpTestServer server(dir_.path(), false);
  ASSERT_TRUE(server.started());
  HttpRequest request;
  request.url = server.origin() + "/u?mode=silent";
  request.replyBufferSize = 1024;
  request.totalLimit = 1500ms;
  const auto begin = std::chrono::steady_clock::now();
  const HttpReply reply = sendHttpRequest(request);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
  EXPECT_FALSE(reply.succeeded);
  EXPECT_EQ(reply.buffer, kNoResponseText);
}

TEST_F(HttpClientTest, FailuresBeforeAConnectionArePlacedAsSpecified) {
  // No server: the text goes into the buffer, or into the file when there is no buffer.
  HttpRequest request;
  request.url = "http://127.0.0.1:" + std::to_string(testing::freeTcpPort()) + "/u";
  request.replyFile = dir_.path() + "reply.txt";
  HttpReply reply = sendHttpRequest(request);
  EXPECT_FALSE(reply.succeeded);
  EXPECT_EQ(testing::readFile(request.replyFile), kNoConnectionText);
  request.replyBufferSize = 13;
  reply = sendHttpRequest(request);
  EXPECT_EQ(reply.buffer, "Error: Could");
  EXPECT_EQ(testing::readFile(request.replyFile), "");
  // An address the splitter refuses touches nothing.
  testing::writeFile(request.replyFile, "old");
  request.url = "ftp://127.0.0.1/u";
  reply = sendHttpRequest(request);
  EXPECT_FALSE(reply.succeeded);
  EXPECT_EQ(reply.buffer, "");
  EXPECT_EQ(testing::readFile(request.replyFile), "old");
}

TEST_F(HttpClientTest, HttpsVerifiesTheServerAgainstTheConfiguredAuthority) {
  testing::HttpTestServer server(dir_.path(), true);
  ASSERT_TRUE(server.started());
  HttpRequest request;
  request.url = server.origin() + "/u?mode=ok";
  request.replyBufferSize = 1024;
  // The system's trust store does not know the test authority.
  HttpReply reply = sendHttpRequest(request);
  EXPECT_FALSE(reply.succeeded);
  EXPECT_EQ(reply.buffer, kNoConnectionText);
  setenv(kCaFileVariable, server.caFile().c_str(), 1);
  reply = sendHttpRequest(request);
  ASSERT_TRUE(reply.succeeded) << reply.detail;
  EXPECT_EQ(reply.body, testing::HttpTestServer::okBody());
  EXPECT_EQ(reply.buffer, reply.body.substr(0, 1023));
}

}  // namespace
}  // namespace korvane::common
