// Splitting of http and https addresses for the HTTP client.

#include <gtest/gtest.h>

#include "common/Url.h"

namespace korvane::common {
namespace {

TEST(Url, SplitsHostPortAndPath) {
  const struct {
    std::string url;
    bool secure;
    const char* host;
    int port;
    const char* path;
  } cases[] = {
      {"http://dns.example/u?c=1", false, "dns.example", 80, "/u?c=1"},
      {"https://dns.example/u?c=1", true, "dns.example", 443, "/u?c=1"},
      {"http://dns.example:8080/u?c=1", false, "dns.example", 8080, "/u?c=1"},
      {"https://127.0.0.1:0008443/", true, "127.0.0.1", 8443, "/"},
      {"http://dns.example", false, "dns.example", 80, "/"},
      // The adapter address's colons stand in the query: never a port.
      {"http://dns.example/u?c=1&mac_address=00:1a:2b:3c:4d:5e", false, "dns.example", 80,
       "/u?c=1&mac_address=00:1a:2b:3c:4d:5e"},
      {"http://dns.example?c=1&mac_address=00:1a:2b:3c:4d:5e", false, "dns.example", 80,
       "/?c=1&mac_address=00:1a:2b:3c:4d:5e"},
      {"https://dns.example:8080?mac_address=00:00:00:00:00:00", true, "dns.example", 8080,
       "/?mac_address=00:00:00:00:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    std::string err;
    const auto url = splitHttpUrl(c.url, &err);
    ASSERT_TRUE(url.has_value()) << err;
    EXPECT_EQ(url->secure, c.secure);
    EXPECT_EQ(url->host, c.host);
    EXPECT_EQ(url->port, c.port);
    EXPECT_EQ(url->path, c.path);
  }
}

TEST(Url, RefusesAddressesBeyondItsRules) {
  const std::string longHost(1024 - 1, 'h');
  const std::string longPath = "/" + std::string(1023, 'p');
  const std::string cases[] = {
      "ftp://dns.example/u",
      "file:///etc/passwd",
      "HTTP://dns.example/",  // the scheme is compared as written
      "http:/dns.example/",
      "http:///u",  // no host
      "http://:8080/u",
      "http://dns.example:80a/u",  // the port is a number
      "http://dns.example:/u",
      "http://dns.example:00000080/u",  // eight digits
      "http://dns.example:65536/u",
      "http://dns.example:0/u",
      "http://" + longHost + "h",  // 1024 characters after "://"
      "http://h" + longPath,       // a path of 1024 characters
  };
  for (const auto& url : cases) {
    SCOPED_TRACE(url.substr(0, 40));
    std::string err;
    EXPECT_FALSE(splitHttpUrl(url, &err).has_value());
    EXPECT_FALSE(err.empty());
  }
  std::string err;
  EXPECT_TRUE(splitHttpUrl("http://" + longHost, &err).has_value()) << err;
}

}  // namespace
}  // namespace korvane::common
