#include "tests/support/HttpTestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "tests/support/FreePort.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::testing {
namespace {

constexpr const char* kServerScript = R"PY(
import http.server, ssl, sys, time, urllib.parse

port, record, ready = int(sys.argv[1]), sys.argv[2], sys.argv[3]
ok_body = sys.argv[4].encode()
bodies = {
    "ok": ok_body,
    "notcorrect": b"Error: UpdateCode is not correct. (code 7)",
    "inuse": b"Error: UpdateCode is used by another device.",
    "invalid": b"Service unavailable, try later",
}

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def note(self, body=b""):
        with open(record, "a") as f:
            f.write("%s %s|%s|%s|%s\n" % (self.command, self.path,
                    self.headers.get("User-Agent", ""), self.headers.get("Content-Type", ""),
                    body.decode(errors="replace")))

    def answer(self, body, length=True):
        self.send_response(200)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self.note()
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
        mode = query.get("mode", ["ok"])[0]
        if mode == "silent":
            time.sleep(600)
        elif mode == "huge":
            self.send_response(200)
            self.send_header("Content-Length", "2000000000")
            self.end_headers()
            self.wfile.write(b"OK" * 8)
            self.wfile.flush()
            time.sleep(600)
        elif mode == "nolength":
            self.answer(b"Updated without a length: OK", length=False)
        elif mode == "toolong":
            self.answer(b"OK" * (200 * 1024), length=False)
        else:
            self.answer(bodies[mode])

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.note(self.rfile.read(length))
        self.answer(b"posted OK")

server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
server.daemon_threads = True
if len(sys.argv) > 5:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[5], sys.argv[6])
    server.socket = context.wrap_socket(server.socket, server_side=True)
open(ready, "w").close()
server.serve_forever()
)PY";

bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A test authority and a certificate for 127.0.0.1 signed by it, in `directory`.
bool makeCertificates(const std::string& d) {
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  writeFile(d + "server.ext", "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
  return run("openssl req -x509" + ec + " -keyout " + d + "ca.key -out " + d +
             "ca.pem -days 2 -subj /CN=Korvane-Test-Authority") &&
         run("openssl req" + ec + " -keyout " + d + "server.key -out " + d +
             "server.csr -subj /CN=127.0.0.1") &&
         run("openssl x509 -req -in " + d + "server.csr -CA " + d + "ca.pem -CAkey " + d +
             "ca.key -CAcreateserial -out " + d + "server.pem -days 2 -extfile " + d +
             "server.ext");
}

}  // namespace

HttpTestServer::HttpTestServer(const std::string& workDirectory, bool tls)
    : directory_(workDirectory + (tls ? "https/" : "http/")), tls_(tls) {
  if (!run("mkdir -p " + directory_)) {
    ADD_FAILURE() << "cannot create " << directory_;
    return;
  }
  caFile_ = directory_ + "ca.pem";
  requestLog_ = directory_ + "requests.txt";
  writeFile(directory_ + "server.py", kServerScript);
  writeFile(requestLog_, "");
  if (tls && !makeCertificates(directory_)) {
    ADD_FAILURE() << "openssl could not make the test certificates";
    return;
  }
  port_ = freeTcpPort();
  std::vector<std::string> args = {directory_ + "server.py", std::to_string(port_), requestLog_,
                                   directory_ + "ready", okBody()};
  if (tls) {
    args.push_back(directory_ + "server.pem");
    args.push_back(directory_ + "server.key");
  }
  process_ = std::make_unique<ChildProcess>("/usr/bin/python3", args, workDirectory,
                                            directory_ + "server-output.txt");
  started_ = waitUntil([&] { return fileExists(directory_ + "ready"); }, std::chrono::seconds(10));
  if (!started_) {
    ADD_FAILURE() << "the test server did not start: "
                  << readFile(directory_ + "server-output.txt");
  }
}

HttpTestServer::~HttpTestServer() = default;

std::string HttpTestServer::origin() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> HttpTestServer::requests() const {
  return readLines(requestLog_);
}

std::string HttpTestServer::okBody() {
  return "Update result: OK, name points at the caller. " + std::string(1500, '.') + " end";
}

}  // namespace korvane::testing
