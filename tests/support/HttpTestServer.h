#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace korvane::testing {

/// A real HTTP or HTTPS server on 127.0.0.1 (python3's http.server), started by the test and
/// killed with the object. Its answer depends on the query's "mode": ok, notcorrect, inuse,
/// invalid, silent (never answers), huge (announces 2,000,000,000 bytes), nolength (a body
/// without Content-Length), toolong (more than the client takes, without Content-Length). It
/// records every request as a line "VERB PATH|USER-AGENT|CONTENT-TYPE|BODY".
class HttpTestServer {
 public:
  /// Starts the server with its files in `workDirectory`; with `tls`, behind a certificate for
  /// 127.0.0.1 signed by a test authority made here (caFile()). Fails the test when it cannot.
  HttpTestServer(const std::string& workDirectory, bool tls);
  ~HttpTestServer();

  bool started() const { return started_; }
  int port() const { return port_; }
  /// The test authority's certificate (PEM), for KORVANE_CA_FILE.
  const std::string& caFile() const { return caFile_; }
  /// "http://127.0.0.1:PORT" or https.
  std::string origin() const;
  /// The requests seen so far, oldest first.
  std::vector<std::string> requests() const;

  /// The body the "ok" mode answers: longer than 1024 bytes, with "OK" near its start.
  static std::string okBody();

 private:
  std::string directory_;
  std::string caFile_;
  std::string requestLog_;
  bool tls_ = false;
  int port_ = 0;
  bool started_ = false;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace korvane::testing
