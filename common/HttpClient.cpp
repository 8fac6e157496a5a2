#include "common/HttpClient.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "common/Url.h"
#include "platform/WholeFile.h"

namespace korvane::common {
namespace {

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// libcurl's global set-up is not thread-safe; every request goes through this once.
bool initialiseCurl() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ready;
}

struct Transfer {
  std::string body;
  bool tooLarge = false;
  const std::atomic<bool>* cancel = nullptr;
};

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (transfer->body.size() + bytes > kMaxReplyBodyBytes) {
    transfer->tooLarge = true;
    return 0;  // libcurl ends the transfer with a write error
  }
  transfer->body.append(data, bytes);
  return bytes;
}

int checkCancel(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* transfer = static_cast<const Transfer*>(user);
  return transfer->cancel != nullptr && transfer->cancel->load() ? 1 : 0;
}

// Failures before the server could be spoken to: no name, no connection, no trusted TLS peer.
bool isConnectionFailure(CURLcode code, CURL* handle) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_URL_MALFORMAT:
      return true;
    case CURLE_OPERATION_TIMEDOUT: {
      curl_off_t connected = 0;
      curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connected);
      return connected == 0;
    }
    default:
      return false;
  }
}

// The text a C reader of a buffer of `size` bytes would see: up to the first zero byte, at most
// size - 1 bytes.
std::string fitBuffer(std::string_view text, std::size_t size) {
  if (size == 0) {
    return {};
  }
  text = text.substr(0, text.find('\0'));
  return std::string(text.substr(0, size - 1));
}

class RequestRun {
 public:
  explicit RequestRun(const HttpRequest& request) : request_(request) {}

  HttpReply run() {
    std::string err;
    const auto url = splitHttpUrl(request_.url, &err);
    if (!url) {
      reply_.detail = err;
      return reply_;
    }
    if (!initialiseCurl()) {
      return fail(kRequestFailedText, false, "libcurl could not be initialised");
    }
    CurlHandle handle(curl_easy_init());
    if (!handle) {
      return fail(kNoConnectionText, false, "curl_easy_init failed");
    }
    const std::string target = std::string(url->secure ? "https://" : "http://") + url->host + ":" +
                               std::to_string(url->port) + url->path;
    HeaderList headers;
    Transfer transfer;
    transfer.cancel = request_.cancel;
    if (!configure(handle.get(), target, &headers, &transfer)) {
      return fail(kRequestFailedText, false, "the request could not be set up");
    }
    const CURLcode code = curl_easy_perform(handle.get());
    if (code != CURLE_OK) {
      const std::string why = transfer.tooLarge ? "the reply is larger than " +
                                                      std::to_string(kMaxReplyBodyBytes) + " bytes"
                                                : curl_easy_strerror(code);
      if (isConnectionFailure(code, handle.get())) {
        return fail(kNoConnectionText, false, why);
      }
      return fail(kNoResponseText, true, why);
    }
    return succeed(transfer.body);
  }

 private:
  bool configure(CURL* h, const std::string& target, HeaderList* headers, Transfer* transfer) {
    bool ok = curl_easy_setopt(h, CURLOPT_URL, target.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok &&
         curl_easy_setopt(h, CURLOPT_USERAGENT, std::string(kHttpUserAgent).c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                                static_cast<long>(request_.connectLimit.count())) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_TIMEOUT_MS,
                                static_cast<long>(request_.totalLimit.count())) == CURLE_OK;
    // An announced length beyond the bound fails at once, before any body is read.
    ok = ok && curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                                static_cast<curl_off_t>(kMaxReplyBodyBytes)) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collectBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_WRITEDATA, transfer) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkCancel) == CURLE_OK;
    ok = ok && curl_easy_setopt(h, CURLOPT_XFERINFODATA, transfer) == CURLE_OK;
    if (const char* caFile = std::getenv(kCaFileVariable); caFile != nullptr && *caFile != 0) {
      ok = ok && curl_easy_setopt(h, CURLOPT_CAINFO, caFile) == CURLE_OK;
      ok = ok && curl_easy_setopt(h, CURLOPT_CAPATH, nullptr) == CURLE_OK;
    }
    if (request_.formBody) {
      headers->reset(curl_slist_append(nullptr, std::string(kFormContentType).c_str()));
      ok = ok && *headers != nullptr;
      ok = ok && curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers->get()) == CURLE_OK;
      ok = ok && curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                                  static_cast<curl_off_t>(request_.formBody->size())) == CURLE_OK;
      ok = ok && curl_easy_setopt(h, CURLOPT_POSTFIELDS, request_.formBody->data()) == CURLE_OK;
    }
    return ok;
  }

  // `both`: the text goes into the buffer and the file; otherwise into the buffer, or into the
  // file when there is no buffer (the file is then left empty).
  HttpReply fail(std::string_view text, bool both, std::string detail) {
    reply_.detail = std::move(detail);
    const bool hasBuffer = request_.replyBufferSize > 0;
    reply_.buffer = fitBuffer(text, request_.replyBufferSize);
    writeReplyFile(both || !hasBuffer ? text : std::string_view());
    return reply_;
  }

  HttpReply succeed(std::string_view body) {
    body = body.substr(0, body.find('\0'));
    reply_.buffer = fitBuffer(body, request_.replyBufferSize);
    // A reply file that cannot be written loses its copy only; the reply itself was had.
    if (!writeReplyFile(body)) {
      reply_.detail = "the reply file cannot be written";
    }
    reply_.body = std::string(body);
    reply_.succeeded = true;
    return reply_;
  }

  bool writeReplyFile(std::string_view text) {
    if (request_.replyFile.empty()) {
      return true;
    }
    std::string err;
    return platform::replaceWholeFile(request_.replyFile, text, &err);
  }

  const HttpRequest& request_;
  HttpReply reply_;
};

}  // namespace

HttpReply sendHttpRequest(const HttpRequest& request) {
  return RequestRun(request).run();
}

}  // namespace korvane::common
