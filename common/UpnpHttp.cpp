#include "common/UpnpHttp.h"

#include <charconv>


namespace korvane::common {
namespace {

constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kHeadEnd = "\r\n\r\n";
// A decimal number of more digits than this cannot be a port, an octet or a length we accept.
constexpr std::size_t kMaxNumberDigits = 9;

bool sameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// A whole decimal number of at most kMaxNumberDigits digits.
std::optional<std::uint32_t> decimal(std::string_view text) {
  if (text.empty() || text.size() > kMaxNumberDigits) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<std::uint32_t> parseIpv4(std::string_view text) {
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) {
      return std::nullopt;
    }
    const auto octet = decimal(text.substr(0, dot));
    if (!octet || *octet > 255 || dot > 3) {
      return std::nullopt;
    }
    address = (address << 8) | *octet;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return address;
}

std::string ipv4Text(std::uint32_t address) {
  return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
         std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

std::optional<UpnpEndpoint> splitUpnpUrl(std::string_view url, std::string* err) {
  const auto refuse = [&](const std::string& why) -> std::optional<UpnpEndpoint> {
    *err = why;
    return std::nullopt;
  };
  if (url.size() > kMaxUpnpUrlLength) {
    return refuse("the URL is longer than " + std::to_string(kMaxUpnpUrlLength) + " characters");
  }
  if (url.substr(0, kHttpScheme.size()) != kHttpScheme) {
    return refuse("not an http URL: " + std::string(url));
  }
  url.remove_prefix(kHttpScheme.size());
  const std::size_t slash = url.find('/');
  UpnpEndpoint endpoint;
  endpoint.hostPart = std::string(url.substr(0, slash));
  endpoint.path = slash == std::string_view::npos ? "/" : std::string(url.substr(slash));
  std::string_view host = endpoint.hostPart;
  if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
    const auto port = decimal(host.substr(colon + 1));
    if (!port || *port < 1 || *port > 65535) {
      return refuse("no port number in the URL host " + endpoint.hostPart);
    }
    endpoint.port = static_cast<int>(*port);
    host = host.substr(0, colon);
  }
  const auto address = parseIpv4(host);
  if (!address) {
    return refuse("the URL host is not an IPv4 address: " + endpoint.hostPart);
  }
  endpoint.address = *address;
  return endpoint;
}

std::optional<std::string> findHeader(std::string_view head, std::string_view name) {
  while (!head.empty()) {
    const std::size_t end = head.find("\r\n");
    const std::string_view line = head.substr(0, end);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && sameAscii(trimmed(line.substr(0, colon)), name)) {
      return std::string(trimmed(line.substr(colon + 1)));
    }
    if (end == std::string_view::npos) {
      break;
    }
    head.remove_prefix(end + 2);
  }
  return std::nullopt;
}

HttpAnswerReader::State HttpAnswerReader::fail(std::string message) {
  error_ = std::move(message);
  state_ = State::kFailed;
  return state_;
}

HttpAnswerReader::State HttpAnswerReader::add(std::string_view piece) {
  if (state_ != State::kNeedMore) {
    return state_;
  }
  if (piece.size() > kMaxUpnpAnswerBytes - data_.size()) {
    return fail("the answer is larger than " + std::to_string(kMaxUpnpAnswerBytes) + " bytes");
  }
  data_.append(piece);
  if (bodyStart_ == 0) {
    const std::size_t end = data_.find(kHeadEnd);
    if (end == std::string::npos) {
      if (data_.size() > kMaxUpnpHeadBytes) {
        return fail("the answer's headers do not end within " +
                    std::to_string(kMaxUpnpHeadBytes) + " bytes");
      }
      return state_;
    }
    bodyStart_ = end + kHeadEnd.size();
    if (parseHead() == State::kFailed) {
      return state_;
    }
  }
  if (contentLength_ && data_.size() - bodyStart_ >= *contentLength_) {
    data_.resize(bodyStart_ + *contentLength_);
    state_ = State::kComplete;
  }
  return state_;
}

HttpAnswerReader::State HttpAnswerReader::parseHead() {
  firstLineEnd_ = data_.find("\r\n");
  const std::string_view first = std::string_view(data_).substr(0, firstLineEnd_);
  // "HTTP/1.1 200 OK": the status is the three digits after the first blank.
  const std::size_t blank = first.find(' ');
  const auto status = blank == std::string_view::npos || first.substr(0, 5) != "HTTP/"
                          ? std::nullopt
                          : decimal(first.substr(blank + 1, 3));
  if (!status || *status < 100 || *status > 999) {
    return fail("not an HTTP answer");
  }
  status_ = static_cast<int>(*status);
  if (const auto length = findHeader(head(), "Content-Length")) {
    const auto value = decimal(*length);
    if (!value || *value > kMaxUpnpAnswerBytes - bodyStart_) {
      return fail("the answer announces a body of " + *length + " bytes");
    }
    contentLength_ = *value;
  } else if (const auto coding = findHeader(head(), "Transfer-Encoding");
             coding && sameAscii(*coding, "chunked")) {
    return fail("the answer is chunked, which this client does not read");
  }
  return state_;
}

HttpAnswerReader::State HttpAnswerReader::finish() {
  if (state_ != State::kNeedMore) {
    return state_;
  }
  if (bodyStart_ == 0) {
    return fail(data_.empty() ? "the router closed the connection without answering"
                              : "the answer ends within its headers");
  }
  if (contentLength_) {
    return fail("the answer ends before its body is complete");
  }
  state_ = State::kComplete;
  return state_;
}

std::string_view HttpAnswerReader::head() const {
  if (bodyStart_ == 0) {
    return {};
  }
  const std::size_t start = firstLineEnd_ + 2;
  return std::string_view(data_).substr(start, bodyStart_ - 2 - start);
}

std::string_view HttpAnswerReader::body() const {
  return bodyStart_ == 0 ? std::string_view() : std::string_view(data_).substr(bodyStart_);
}

}  // namespace korvane::common
