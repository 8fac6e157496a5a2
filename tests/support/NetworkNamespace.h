#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/RunProgram.h"

namespace korvane::testing {

/// Why tests in network namespaces cannot run on this machine ("needs root", "ip netns add
/// failed: ..."), or an empty text when they can.
std::string networkNamespaceSkipReason();

/// A network namespace of a test's own, with a name no other test or run uses, its loopback
/// interface up and IPv6 switched off inside, so that nothing in it reaches beyond the links the
/// test makes. The destructor ends every process still inside and deletes the namespace.
class NetworkNamespace {
 public:
  /// Creates a namespace whose name ends in `role` ("hub", "a"); empty with a message in `err`.
  static std::unique_ptr<NetworkNamespace> create(const std::string& role, std::string* err);

  ~NetworkNamespace();
  NetworkNamespace(const NetworkNamespace&) = delete;
  NetworkNamespace& operator=(const NetworkNamespace&) = delete;

  const std::string& name() const { return name_; }

  /// Runs `command` (a program looked up on PATH, and its arguments) inside the namespace until
  /// it ends, at most `limit` (it is killed then, status -1).
  ProgramResult run(const std::vector<std::string>& command,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

  /// Runs `command` inside; false with the command and its output in `err` when it does not end
  /// with status 0 within `limit`.
  [[nodiscard]] bool runOk(const std::vector<std::string>& command, std::string* err,
                           std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

  /// Starts `program` (a path) with `args` inside the namespace, with program directory
  /// `programDir`; the process is killed when the object goes.
  std::unique_ptr<ChildProcess> start(const std::string& program,
                                      const std::vector<std::string>& args,
                                      const std::string& programDir,
                                      const ChildProcess::Options& options) const;

  /// Moves the calling thread (only it) into the namespace, so that the devices and sockets it
  /// makes from then on belong there; false with a message in `err`. Call it on a thread of the
  /// test's own, never on the thread that runs the tests.
  [[nodiscard]] bool enterOnThisThread(std::string* err) const;

  /// Links this namespace to `other` with a veth pair: `localName` here with `localAddress`
  /// ("198.18.1.1/30"), `otherName` there with `otherAddress`, both up. False with a message.
  [[nodiscard]] bool linkTo(const NetworkNamespace& other, const std::string& localName,
                            const std::string& localAddress, const std::string& otherName,
                            const std::string& otherAddress, std::string* err) const;

 private:
  struct Key {};  // only create() makes namespaces

 public:
  NetworkNamespace(Key, std::string name) : name_(std::move(name)) {}

 private:
  std::string name_;
};

/// The path of ip(8), which the namespace helpers run.
std::string ipProgram();

}  // namespace korvane::testing
