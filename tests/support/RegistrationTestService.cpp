#include "tests/support/RegistrationTestService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "panel/logic/RegistrationClient.h"
#include "tests/support/FreePort.h"
#include "tests/support/PassCodeScrambler.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::testing {
namespace {

// Answers each request with the file named after the last part of its path, read anew each
// time so that the test can change a reply between requests.
constexpr const char* kServiceScript = R"PY(
import http.server, os, sys, urllib.parse

port, replies, record, ready = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def serve(self, body=b""):
        with open(record, "a") as f:
            f.write("%s %s|%s|%s\n" % (self.command, self.path,
                    self.headers.get("Content-Type", ""), body.decode(errors="replace")))
        page = os.path.basename(urllib.parse.urlsplit(self.path).path)
        try:
            with open(os.path.join(replies, page), "rb") as f:
                reply, status = f.read(), 200
        except OSError:
            reply, status = b"Not Found", 404
        self.send_response(status)
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def do_GET(self):
        self.serve()

    def do_POST(self):
        self.serve(self.rfile.read(int(self.headers.get("Content-Length", "0"))))

server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
server.daemon_threads = True
open(ready, "w").close()
server.serve_forever()
)PY";

using RS = RegistrationTestService;

}  // namespace

RegistrationTestService::RegistrationTestService(const std::string& workDirectory,
                                                 const std::string& passCode)
    : directory_(workDirectory + "registration/"), port_(freeTcpPort()) {
  std::error_code error;
  std::filesystem::create_directories(directory_ + "replies", error);
  if (error) {
    ADD_FAILURE() << "cannot create " << directory_ << ": " << error.message();
    return;
  }
  requestLog_ = directory_ + "requests.txt";
  writeFile(directory_ + "service.py", kServiceScript);
  writeFile(requestLog_, "");
  const std::string registered = "OK: Registered, UpdatePassCode is " + passCode + "\r\n";
  setReply(RS::kDispatchPage, std::string(panel::kDispatchReplyPrefix) + origin() + "/kvp/api/" +
                                  RS::kInformationPage + "\r\n");
  setReply(RS::kInformationPage, serviceInformation());
  setReply(RS::kCheckLoginPage, "OK: Hello \xE5\xB1\xB1\xE7\x94\xB0 Taro\r\n");
  setReply(RS::kCheckDomainPage, "OK\r\n");
  setReply(RS::kResetMailPage, "OK\r\n");
  setReply(RS::kTermsPage, "OK\r\nTerms of use\r\n1. Keep your pass code secret.\r\n");
  setReply(RS::kFormCheckPage, "OK\r\n");
  setReply(RS::kRegisterPage, registered);
  setReply(RS::kAddDomainPage, registered);
  setReply(RS::kPickupPage, "Pickup accepted.\r\nOK: UpdatePassCode: " + passCode + "\r\n");

  process_ = std::make_unique<ChildProcess>(
      "/usr/bin/python3",
      std::vector<std::string>{directory_ + "service.py", std::to_string(port_),
                               directory_ + "replies", requestLog_, directory_ + "ready"},
      workDirectory, directory_ + "service-output.txt");
  started_ = waitUntil([&] { return fileExists(directory_ + "ready"); }, std::chrono::seconds(10));
  if (!started_) {
    ADD_FAILURE() << "the registration stand-in did not start: "
                  << readFile(directory_ + "service-output.txt");
  }
}

RegistrationTestService::~RegistrationTestService() = default;

std::string RegistrationTestService::host() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string RegistrationTestService::origin() const {
  return "http://" + host();
}

std::string RegistrationTestService::dispatchUrl() const {
  return origin() + "/kvp/faces/api/" + kDispatchPage;
}

std::string RegistrationTestService::serviceInformation() const {
  // The URL base without a final '/', so that the client must add one.
  return "OK: Current Register URL is " + origin() + "/kvp/register\r\n" +
         "current_base_domain = vlan.example\r\n" + "current_url_base = " + origin() +
         "/kvp/pages\r\n" + "service_spec_document_page = " + kTermsPage + "\r\n" +
         "register_page = " + kRegisterPage + "\r\n" +
         "check_domain_name_page = " + kCheckDomainPage + "\r\n" +
         "format_check_page = " + kFormCheckPage + "\r\n" +
         "request_password_reset_mail_page = " + kResetMailPage + "\r\n" +
         "check_login_page = " + kCheckLoginPage + "\r\n" +
         "add_user_domain_page = " + kAddDomainPage + "\r\n" + "monthly_domain_price = 300\r\n" +
         "annual_domain_price = 3000.5\r\n";
}

std::string RegistrationTestService::pickupCode() const {
  return scramblePassCode(origin() + "/kvp/" + kPickupPage + "?ticket=T-1001");
}

void RegistrationTestService::setReply(const std::string& page, const std::string& body) {
  // Replaced by a rename, so that a request never reads half a reply.
  writeFile(directory_ + "replies/." + page, body);
  std::filesystem::rename(directory_ + "replies/." + page, directory_ + "replies/" + page);
}

std::vector<std::string> RegistrationTestService::requests() const {
  return readLines(requestLog_);
}

}  // namespace korvane::testing
