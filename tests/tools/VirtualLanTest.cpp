// Hosts joined into one virtual LAN by kvtap and a kvhub, each in a network namespace of its
// own: the hub's namespace is linked to each host's by a veth pair on addresses of the
// benchmarking range 198.18.0.0/15, with no default route anywhere, and the hosts' TAP devices
// carry addresses of 10.77.0.0/16. Nothing leaves the namespaces. Skipped without root.

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/ClientRecord.h"
#include "common/SealedField.h"
#include "platform/TcpConnection.h"
#include "platform/TcpListener.h"
#include "tests/hub/AccountFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/NetworkNamespace.h"
#include "tests/support/TempProgramDir.h"
#include "tools/kvtap/KvtapOptions.h"

namespace korvane::tools {
namespace {

using namespace std::chrono_literals;
using testing::NetworkNamespace;

// The hub has its namespace to itself, so a fixed port collides with nothing.
constexpr int kHubPort = 7470;
// A kvtap logs in within moments of the hub's start; a refused login is answered after 5 s.
constexpr auto kLoginLimit = 15s;
// ping -c 3 -W 1 ends within about four seconds; this bounds a hung one.
constexpr auto kPingLimit = 10s;
constexpr const char* kNetworkKeyHex = "000102030405060708090A0B0C0D0E0F";
// The hub's DHCP service answers from this hardware address.
constexpr const char* kHubHardwareAddress = "52:00:00:00:00:01";
// A recording relay in front of the hub listens here, in the hub's namespace.
constexpr int kProxyPort = 7471;
// The longest frame a TAP device of the default MTU (1500) may put on the wire: the MTU and the
// Ethernet header.
constexpr std::size_t kLongestFrame = 1500 + 14;
// Bytes sent each way by the TCP exchange: enough for the kernel to hand over many large
// segments, little enough to take well under a second.
constexpr std::size_t kExchangeBytes = 8 << 20;
constexpr int kExchangePort = 5001;
// The exchange fails when no byte moves for this long.
constexpr auto kExchangeSilence = 5s;

/// The byte at `index` of the exchange: no period that a segment size could hide a shift in.
std::uint8_t exchangeByte(std::size_t index) {
  return static_cast<std::uint8_t>((index * 2654435761u) >> 13);
}

/// Relays one connection between a kvtap and the hub, inside the hub's namespace, and notes the
/// data records that kvtap sent: how many, and the longest frame.
class RecordingProxy {
 public:
  ~RecordingProxy() {
    listener_.close();
    {
      const std::lock_guard lock(mutex_);
      closing_ = true;
      for (auto* connection : {&client_, &hub_}) {
        if (*connection) {
          (*connection)->shutdownBoth();
        }
      }
    }
    for (std::thread* thread : {&acceptor_, &backward_}) {
      if (thread->joinable()) {
        thread->join();
      }
    }
  }

  /// Listens on `port` in `ns`; the first connection is relayed to the hub on `hubPort` there.
  bool start(const NetworkNamespace& ns, int port, int hubPort, std::string* err) {
    std::promise<bool> listening;
    auto listened = listening.get_future();
    acceptor_ = std::thread([&, port, hubPort] {
      platform::ListenFailure failure;
      if (!ns.enterOnThisThread(err) ||
          !listener_.listenOnIpv4(static_cast<std::uint16_t>(port), &failure)) {
        listening.set_value(false);
        return;
      }
      listening.set_value(true);
      relay(hubPort);
    });
    if (!listened.get()) {
      *err += " (the recording relay cannot listen)";
      return false;
    }
    return true;
  }

  std::size_t dataFrames() const { return dataFrames_; }
  std::size_t longestFrame() const { return longestFrame_; }

 private:
  void relay(int hubPort) {
    std::optional<platform::TcpConnection> client;
    platform::ListenFailure failure;
    while (listener_.accept(&client, &failure) == platform::AcceptStatus::kRetry) {
    }
    std::string err;
    auto hub = client ? platform::TcpConnection::connect("127.0.0.1", hubPort, &err) : std::nullopt;
    if (!hub) {
      return;
    }
    {
      const std::lock_guard lock(mutex_);
      if (closing_) {
        return;  // the test ended before kvtap connected
      }
      client_ = std::move(client);
      hub_ = std::move(hub);
    }
    backward_ = std::thread([this] { pump(*hub_, *client_, false); });
    pump(*client_, *hub_, true);
  }

  void pump(platform::TcpConnection& from, platform::TcpConnection& to, bool record) {
    std::vector<std::uint8_t> buffer(1 << 16);
    std::vector<std::uint8_t> pending;
    for (;;) {
      const long received = from.receive(buffer);
      if (received <= 0 ||
          !to.sendAll(std::span(buffer).first(static_cast<std::size_t>(received)))) {
        break;
      }
      if (record) {
        pending.insert(pending.end(), buffer.begin(), buffer.begin() + received);
        noteRecords(&pending);
      }
    }
    to.shutdownBoth();
    from.shutdownBoth();
  }

  void noteRecords(std::vector<std::uint8_t>* pending) {
    std::array<common::RecordSpan, common::kMaxRecordsPerPass> spans;
    for (;;) {
      const auto parsed = common::parseRecords(*pending, spans);
      for (std::size_t i = 0; i < parsed.count; ++i) {
        const auto header = common::decodeRecordHeader(
            std::span(*pending).subspan(spans[i].offset).first<common::kRecordHeaderSize>());
        if (header.kind != common::kKindControl) {
          ++dataFrames_;
          longestFrame_ = std::max<std::size_t>(longestFrame_, header.payloadLength);
        }
      }
      pending->erase(pending->begin(), pending->begin() + static_cast<long>(parsed.consumed));
      if (parsed.count < spans.size()) {
        return;
      }
    }
  }

  platform::TcpListener listener_;
  std::mutex mutex_;
  std::optional<platform::TcpConnection> client_;  // set under mutex_, then used by the pumps
  std::optional<platform::TcpConnection> hub_;
  bool closing_ = false;  // under mutex_
  std::thread acceptor_;
  std::thread backward_;
  std::atomic<std::size_t> dataFrames_{0};
  std::atomic<std::size_t> longestFrame_{0};
};

/// Receives kExchangeBytes from `connection` and checks them; false with a message when a byte
/// differs, or the connection ends or falls silent first.
bool receiveExchange(platform::TcpConnection& connection, std::string* err) {
  std::vector<std::uint8_t> buffer(1 << 16);
  std::size_t got = 0;
  while (got < kExchangeBytes) {
    if (!connection.waitReadable(kExchangeSilence)) {
      *err = "silent after " + std::to_string(got) + " bytes";
      return false;
    }
    const long received = connection.receive(buffer);
    if (received <= 0) {
      *err = "the connection ended after " + std::to_string(got) + " bytes";
      return false;
    }
    for (long i = 0; i < received; ++i, ++got) {
      if (buffer[static_cast<std::size_t>(i)] != exchangeByte(got)) {
        *err = "byte " + std::to_string(got) + " differs";
        return false;
      }
    }
  }
  return true;
}

bool sendExchange(platform::TcpConnection& connection) {
  std::vector<std::uint8_t> chunk(1 << 16);
  for (std::size_t sent = 0; sent < kExchangeBytes; sent += chunk.size()) {
    for (std::size_t i = 0; i < chunk.size(); ++i) {
      chunk[i] = exchangeByte(sent + i);
    }
    if (!connection.sendAll(chunk)) {
      return false;
    }
  }
  return true;
}

/// One host of the LAN: its namespace, its kvtap and the log kvtap writes.
struct Host {
  std::unique_ptr<NetworkNamespace> ns;
  std::string hubAddress;  // the hub's end of this host's veth link
  std::string log;
  std::unique_ptr<testing::ChildProcess> kvtap;
};

/// How a host's kvtap logs in and whether it encrypts.
struct KvtapSetup {
  std::optional<std::string> account;
  std::string password;
  bool passwordInEnvironment = false;
  bool encrypt = false;
  bool offloads = true;
  int port = kHubPort;  // kProxyPort: through the recording relay
  std::string tap = "tap0";
};

KvtapSetup withAccount(const std::string& account, const std::string& password,
                       bool passwordInEnvironment = false) {
  KvtapSetup setup;
  setup.account = account;
  setup.password = password;
  setup.passwordInEnvironment = passwordInEnvironment;
  return setup;
}

KvtapSetup encrypting() {
  KvtapSetup setup;
  setup.encrypt = true;
  return setup;
}

KvtapSetup onDevice(const std::string& tap) {
  KvtapSetup setup;
  setup.tap = tap;
  return setup;
}

KvtapSetup withoutOffloads() {
  KvtapSetup setup;
  setup.offloads = false;
  return setup;
}

KvtapSetup throughProxy(bool encrypt = false) {
  KvtapSetup setup;
  setup.port = kProxyPort;
  setup.encrypt = encrypt;
  return setup;
}

class VirtualLanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const std::string reason = skipReason();
    if (!reason.empty()) {
      GTEST_SKIP() << reason;
    }
    std::string err;
    hubNs_ = NetworkNamespace::create("hub", &err);
    ASSERT_TRUE(hubNs_) << err;
  }

  void TearDown() override {
    // Programs end before their namespaces go.
    for (Host& host : hosts_) {
      host.kvtap.reset();
    }
    hub_.reset();
  }

  static std::string skipReason() {
    std::string reason = testing::networkNamespaceSkipReason();
    if (reason.empty() && !std::filesystem::exists("/dev/net/tun")) {
      reason = "no /dev/net/tun: the kernel has no TAP devices";
    }
    if (reason.empty() && !std::filesystem::exists("/usr/bin/busybox") &&
        !std::filesystem::exists("/bin/busybox")) {
      reason = "busybox is not installed (scripts/install-deps)";
    }
    return reason;
  }

  // --- the hub ---

  void writeHubConfig(bool auth, const std::string& splitter = "<NONE>",
                      const std::string& extra = "") {
    testing::writeFile(dir_.ini("Tollmar.ini"), "[SYSTEM]\r\nDomainSplitter=" + splitter +
                                                    "\r\n[0001]\r\nHubName=lan\r\nStatus=ON\r\n"
                                                    "PortNo=" +
                                                    std::to_string(kHubPort) +
                                                    "\r\nAuthFlag=" + (auth ? "1" : "0") +
                                                    "\r\nMaxCon=16\r\n" + extra);
  }

  void writeAccounts(const std::vector<hub::TestAccount>& accounts) {
    testing::writeFile(dir_.ini("0001_account.ini"), hub::accountFileText(accounts));
  }

  void startHub() {
    testing::ChildProcess::Options options;
    options.outputFile = dir_.path() + "kvhub.out";
    hub_ = hubNs_->start(testing::builtProgram("kvhub"), {"0001"}, dir_.path(), options);
    ASSERT_TRUE(hub_->started());
  }

  // --- the hosts ---

  /// A new host linked to the hub, with a TAP device `tap0` (up, with `tapAddress` unless it is
  /// empty) for kvtap to open.
  Host& addHost(const std::string& tapAddress) {
    const int index = static_cast<int>(hosts_.size()) + 1;
    Host host;
    std::string err;
    host.ns = NetworkNamespace::create("h" + std::to_string(index), &err);
    EXPECT_TRUE(host.ns) << err;
    if (!host.ns) {
      return hosts_.emplace_back(std::move(host));
    }
    const std::string subnet = "198.18." + std::to_string(index) + ".";
    host.hubAddress = subnet + "1";
    EXPECT_TRUE(hubNs_->linkTo(*host.ns, "veth" + std::to_string(index), subnet + "1/30", "veth0",
                               subnet + "2/30", &err))
        << err;
    EXPECT_TRUE(host.ns->runOk({"ip", "tuntap", "add", "dev", "tap0", "mode", "tap"}, &err)) << err;
    if (!tapAddress.empty()) {
      EXPECT_TRUE(host.ns->runOk({"ip", "addr", "add", tapAddress, "dev", "tap0"}, &err)) << err;
    }
    EXPECT_TRUE(host.ns->runOk({"ip", "link", "set", "tap0", "up"}, &err)) << err;
    host.log = dir_.path() + "kvtap-" + std::to_string(index) + ".log";
    return hosts_.emplace_back(std::move(host));
  }

  void startKvtap(Host& host, const KvtapSetup& setup = {}) {
    std::vector<std::string> args = {"--hub", host.hubAddress + ":" + std::to_string(setup.port),
                                     "--tap", setup.tap};
    if (!setup.offloads) {
      args.push_back("--no-offloads");
    }
    testing::ChildProcess::Options options;
    options.outputFile = host.log;
    if (setup.account) {
      args.insert(args.end(), {"--account", *setup.account});
      if (setup.passwordInEnvironment) {
        options.environment.push_back("KVTAP_PASSWORD=" + setup.password);
      } else {
        const std::string file = host.log + ".password";
        testing::writeFile(file, setup.password + "\n");
        args.insert(args.end(), {"--password-file", file});
      }
    }
    if (setup.encrypt) {
      args.insert(args.end(), {"--network-key", kNetworkKeyHex});
    }
    host.kvtap = host.ns->start(testing::builtProgram("kvtap"), args, dir_.path(), options);
    ASSERT_TRUE(host.kvtap->started());
  }

  /// Waits until the host's kvtap log holds `text` at least `count` times.
  static bool waitForLog(const Host& host, const std::string& text, int count = 1,
                         std::chrono::milliseconds limit = kLoginLimit) {
    return testing::waitUntil(
        [&] { return occurrences(testing::readFile(host.log), text) >= count; }, limit);
  }

  static int occurrences(const std::string& haystack, const std::string& needle) {
    int found = 0;
    for (auto at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
      ++found;
    }
    return found;
  }

  static bool pings(const Host& from, const std::string& address) {
    const auto result =
        from.ns->run({"busybox", "ping", "-c", "3", "-W", "1", address}, kPingLimit);
    return result.status == 0;
  }

  static std::string logOf(const Host& host) { return testing::readFile(host.log); }

  /// Sends kExchangeBytes over TCP from `from` to an echo server on `to` (at `toAddress`) across
  /// the LAN and checks every byte that comes back; false with a message in `err`.
  static bool exchangeTcp(const Host& from, const Host& to, const std::string& toAddress,
                          std::string* err) {
    platform::TcpListener listener;
    std::string serverErr = "the echo server did not start";
    std::promise<bool> listening;
    std::thread server([&] {
      platform::ListenFailure failure;
      if (!to.ns->enterOnThisThread(&serverErr) ||
          !listener.listenOnIpv4(kExchangePort, &failure)) {
        listening.set_value(false);
        return;
      }
      listening.set_value(true);
      std::optional<platform::TcpConnection> connection;
      if (listener.accept(&connection, &failure) != platform::AcceptStatus::kAccepted) {
        serverErr = "the echo server accepted nothing";
        return;
      }
      std::vector<std::uint8_t> buffer(1 << 16);
      while (connection->waitReadable(kExchangeSilence)) {
        const long received = connection->receive(buffer);
        if (received <= 0 ||
            !connection->sendAll(std::span(buffer).first(static_cast<std::size_t>(received)))) {
          break;
        }
      }
      serverErr.clear();
    });
    bool ok = listening.get_future().get();
    std::string clientErr;
    if (ok) {
      std::thread client([&] {
        if (!from.ns->enterOnThisThread(&clientErr)) {
          return;
        }
        auto connection = platform::TcpConnection::connect(toAddress, kExchangePort, &clientErr,
                                                           kExchangeSilence);
        if (!connection) {
          return;
        }
        std::thread sender([&] { (void)sendExchange(*connection); });
        if (receiveExchange(*connection, &clientErr)) {
          clientErr.clear();
        }
        connection->shutdownBoth();
        sender.join();
      });
      client.join();
    }
    listener.close();
    server.join();
    ok = ok && clientErr.empty();
    *err = clientErr + " " + serverErr;
    return ok;
  }

  /// Hosts a (its kvtap reaching the hub through a recording relay) and b exchange TCP traffic
  /// both ways; every data frame a's kvtap sent is at most `longest` bytes.
  void exchangeThroughRecordingRelay(const KvtapSetup& setupA, const KvtapSetup& setupB,
                                     std::size_t longest) {
    writeHubConfig(false);
    startHub();
    Host& a = addHost("10.77.0.1/24");
    Host& b = addHost("10.77.0.2/24");
    RecordingProxy proxy;
    std::string err;
    ASSERT_TRUE(proxy.start(*hubNs_, kProxyPort, kHubPort, &err)) << err;
    startKvtap(a, setupA);
    startKvtap(b, setupB);
    loggedIn({&a, &b});
    EXPECT_TRUE(exchangeTcp(a, b, "10.77.0.2", &err)) << err << logOf(a) << logOf(b);
    EXPECT_GE(proxy.dataFrames(), kExchangeBytes / kLongestFrame);
    EXPECT_LE(proxy.longestFrame(), longest);
  }

  // --- DHCP ---

  void writeDhcpSection(const std::string& section, const std::string& lower,
                        const std::string& upper, const std::string& mask, bool encrypt = false) {
    std::string net = "0000000000000000000000";
    if (encrypt) {
      const auto key = parseNetworkKey(kNetworkKeyHex);
      const auto sealed = key ? common::sealNetworkKey(*key) : std::nullopt;
      ASSERT_TRUE(sealed);
      net = *sealed;
    }
    dhcpText_ += "[" + section + "]\r\nDHCPFlag=TRUE\r\nLowerAddress=" + lower +
                 "\r\nUpperAddress=" + upper + "\r\nSubNetMask=" + mask + "\r\nNet=" + net +
                 "\r\nReaseTime=3600\r\n";
    testing::writeFile(dir_.ini("0001_dhcp.ini"), dhcpText_);
  }

  /// Runs a DHCP client on the host's tap0 until it has a lease or gives up (bounded); returns
  /// the address it set, or an empty text.
  std::string leaseAddress(const Host& host) {
    const std::string script = dir_.path() + "udhcpc.script";
    if (!std::filesystem::exists(script)) {
      // The script only sets the address: no route, no name server, nothing outside tap0.
      testing::writeFile(script,
                         "#!/bin/sh\n"
                         "case \"$1\" in\n"
                         "  deconfig) ip -4 addr flush dev \"$interface\" ;;\n"
                         "  bound|renew) ip -4 addr flush dev \"$interface\"\n"
                         "    ip addr add \"$ip/$mask\" dev \"$interface\" ;;\n"
                         "esac\n"
                         "exit 0\n");
      std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }
    const auto result = host.ns->run(
        {"busybox", "udhcpc", "-q", "-n", "-t", "3", "-T", "1", "-i", "tap0", "-s", script}, 20s);
    if (result.status != 0) {
      return "";
    }
    return tapAddressOf(host);
  }

  static std::string tapAddressOf(const Host& host) {
    const auto shown = host.ns->run({"ip", "-4", "-o", "addr", "show", "dev", "tap0"});
    const auto at = shown.out.find("inet ");
    if (at == std::string::npos) {
      return "";
    }
    const auto start = at + 5;
    return shown.out.substr(start, shown.out.find('/', start) - start);
  }

  void loggedIn(const std::vector<Host*>& hosts) {
    for (const Host* host : hosts) {
      ASSERT_TRUE(waitForLog(*host, "logged in")) << logOf(*host);
    }
  }

  testing::TempProgramDir dir_;
  std::unique_ptr<NetworkNamespace> hubNs_;
  std::deque<Host> hosts_;  // a deque: the references addHost() returns stay valid
  std::unique_ptr<testing::ChildProcess> hub_;
  std::string dhcpText_;
};

TEST_F(VirtualLanTest, HostsPingEachOtherThroughTheHub) {
  writeHubConfig(false);
  startHub();
  Host& a = addHost("10.77.0.1/24");
  Host& b = addHost("10.77.0.2/24");
  startKvtap(a);
  startKvtap(b);
  loggedIn({&a, &b});
  EXPECT_TRUE(pings(a, "10.77.0.2")) << logOf(a) << logOf(b);
  EXPECT_TRUE(pings(b, "10.77.0.1")) << logOf(a) << logOf(b);
  const std::string log = logOf(a);
  EXPECT_NE(log.find("connected to 198.18.1.1:7470\n"), std::string::npos) << log;
  EXPECT_NE(log.find("logged in without an account\n"), std::string::npos) << log;
}

TEST_F(VirtualLanTest, HostsLogInWithAccountsAndPasswordsFromFileOrEnvironment) {
  writeHubConfig(true);
  writeAccounts({{"alice", "wonder land"}, {"bob", "builder"}});
  startHub();
  Host& a = addHost("10.77.0.1/24");
  Host& b = addHost("10.77.0.2/24");
  startKvtap(a, withAccount("alice", "wonder land"));
  startKvtap(b, withAccount("bob", "builder", true));
  loggedIn({&a, &b});
  EXPECT_NE(logOf(a).find("logged in as alice\n"), std::string::npos) << logOf(a);
  EXPECT_TRUE(pings(a, "10.77.0.2")) << logOf(a) << logOf(b);
}

TEST_F(VirtualLanTest, DeniedLoginIsLoggedAndRetriedWithBackOff) {
  writeHubConfig(true);
  writeAccounts({{"alice", "wonder land"}});
  startHub();
  Host& a = addHost("10.77.0.1/24");
  startKvtap(a, withAccount("alice", "wrong"));
  // The hub answers a refused login after 5 s and closes; kvtap waits and tries again.
  ASSERT_TRUE(waitForLog(a, "login denied\n")) << logOf(a);
  ASSERT_TRUE(waitForLog(a, "reconnecting in ")) << logOf(a);
  ASSERT_TRUE(waitForLog(a, "connected to ", 2, 5s)) << logOf(a);
  EXPECT_EQ(logOf(a).find("logged in"), std::string::npos) << logOf(a);
}

TEST_F(VirtualLanTest, HostsReconnectAfterTheHubRestarts) {
  writeHubConfig(false);
  startHub();
  Host& a = addHost("10.77.0.1/24");
  Host& b = addHost("10.77.0.2/24");
  startKvtap(a);
  startKvtap(b);
  loggedIn({&a, &b});
  ASSERT_TRUE(pings(a, "10.77.0.2"));

  hub_->kill();
  ASSERT_TRUE(waitForLog(a, "connection lost: ")) << logOf(a);
  ASSERT_TRUE(waitForLog(a, "reconnecting in ")) << logOf(a);
  startHub();
  for (const Host* host : {&a, &b}) {
    ASSERT_TRUE(waitForLog(*host, "logged in", 2, 40s)) << logOf(*host);
  }
  // Both hosts still hold each other's addresses in their ARP caches: unicast must flow at
  // once, although the new hub has learned no address yet from traffic.
  EXPECT_TRUE(pings(a, "10.77.0.2")) << logOf(a) << logOf(b);
}

TEST_F(VirtualLanTest, StopsCleanlyOnSigtermAndRemovesTheDeviceItMade) {
  writeHubConfig(false);
  startHub();
  Host& a = addHost("");
  // kvtap makes this device itself; it goes when kvtap closes it.
  startKvtap(a, onDevice("kvtap9"));
  loggedIn({&a});
  std::string err;
  EXPECT_TRUE(a.ns->runOk({"ip", "link", "show", "kvtap9"}, &err)) << err;
  ASSERT_EQ(::kill(a.kvtap->pid(), SIGTERM), 0);
  EXPECT_EQ(a.kvtap->waitForExit(5s), 0) << logOf(a);
  EXPECT_NE(logOf(a).find(" stopped\n"), std::string::npos) << logOf(a);
  EXPECT_NE(a.ns->run({"ip", "link", "show", "kvtap9"}).status, 0);
}

TEST_F(VirtualLanTest, StopsCleanlyWhileWaitingToReconnect) {
  writeHubConfig(false);  // no hub runs: every attempt is refused
  Host& a = addHost("10.77.0.1/24");
  startKvtap(a);
  ASSERT_TRUE(waitForLog(a, "reconnecting in ", 2)) << logOf(a);
  ASSERT_EQ(::kill(a.kvtap->pid(), SIGINT), 0);
  EXPECT_EQ(a.kvtap->waitForExit(5s), 0) << logOf(a);
}

TEST_F(VirtualLanTest, DomainsKeepTheirUnicastApart) {
  writeHubConfig(true, "@");
  writeAccounts({{"alice@red", "a"}, {"bob@red", "b"}, {"carol@blue", "c"}});
  startHub();
  Host& a = addHost("10.77.0.1/24");
  Host& b = addHost("10.77.0.2/24");
  Host& c = addHost("10.77.0.3/24");
  startKvtap(a, withAccount("alice@red", "a"));
  startKvtap(b, withAccount("bob@red", "b"));
  startKvtap(c, withAccount("carol@blue", "c"));
  loggedIn({&a, &b, &c});
  EXPECT_TRUE(pings(a, "10.77.0.2"));
  EXPECT_FALSE(pings(a, "10.77.0.3"));
  EXPECT_FALSE(pings(c, "10.77.0.2"));
}

TEST_F(VirtualLanTest, FramesTravelEncryptedWithANetworkKey) {
  writeHubConfig(false);
  startHub();
  Host& a = addHost("10.77.0.1/24");
  Host& b = addHost("10.77.0.2/24");
  Host& c = addHost("10.77.0.3/24");  // no key: it sees the others' frames only as ciphertext
  startKvtap(a, encrypting());
  startKvtap(b, encrypting());
  startKvtap(c);
  loggedIn({&a, &b, &c});
  EXPECT_TRUE(pings(a, "10.77.0.2")) << logOf(a) << logOf(b);
  EXPECT_FALSE(pings(a, "10.77.0.3"));
  EXPECT_TRUE(waitForLog(c, "dropping encrypted frames: no network key is set", 1, 2s)) << logOf(c);
}

TEST_F(VirtualLanTest, AHostsDhcpServerServesAnotherHostThroughTheHub) {
  // The hub's own service is off (no DHCP settings), so DHCP is switched like other frames.
  writeHubConfig(false);
  startHub();
  Host& server = addHost("10.77.0.1/24");
  Host& client = addHost("");
  startKvtap(server);
  startKvtap(client);
  loggedIn({&server, &client});
  const std::string config = dir_.path() + "udhcpd.conf";
  testing::writeFile(config, "start 10.77.0.50\nend 10.77.0.60\ninterface tap0\nlease_file " +
                                 dir_.path() + "udhcpd.leases\noption subnet 255.255.255.0\n");
  testing::writeFile(dir_.path() + "udhcpd.leases", "");
  testing::ChildProcess::Options options;
  options.outputFile = dir_.path() + "udhcpd.out";
  const auto udhcpd =
      server.ns->start("/bin/busybox", {"udhcpd", "-f", config}, dir_.path(), options);
  const std::string address = leaseAddress(client);
  // udhcpd picks any free address of its range, the last one included.
  const std::string prefix = "10.77.0.";
  ASSERT_EQ(address.rfind(prefix, 0), 0u) << address << testing::readFile(options.outputFile);
  const int host = std::atoi(address.c_str() + prefix.size());
  EXPECT_TRUE(host >= 50 && host <= 60) << address << testing::readFile(options.outputFile);
  EXPECT_TRUE(pings(client, "10.77.0.1"));
}

TEST_F(VirtualLanTest, ClientsWithAndWithoutOffloadsExchangeTcpInFramesNoLongerThanTheMtu) {
  // With offloads the kernel hands a's kvtap TCP segments of up to 64 KiB; b has none.
  exchangeThroughRecordingRelay(throughProxy(), withoutOffloads(), kLongestFrame);
}

TEST_F(VirtualLanTest, EncryptingClientsWithOffloadsExchangeTcpInFramesNoLongerThanTheMtu) {
  // An encrypted frame is padded to whole cipher blocks behind its 14 plain bytes.
  exchangeThroughRecordingRelay(throughProxy(true), encrypting(), kLongestFrame + 16);
}

// --- the hub's DHCP service ---

TEST_F(VirtualLanTest, HubHandsOutAddressesByDhcp) {
  writeHubConfig(false);
  writeDhcpSection("DHCP", "10.77.0.100", "10.77.0.110", "255.255.255.0");
  startHub();
  Host& a = addHost("");
  Host& b = addHost("");
  startKvtap(a);
  startKvtap(b);
  loggedIn({&a, &b});
  const std::string first = leaseAddress(a);
  const std::string second = leaseAddress(b);
  EXPECT_EQ(first, "10.77.0.100");
  EXPECT_EQ(second, "10.77.0.101");
  EXPECT_TRUE(pings(a, second));
}

TEST_F(VirtualLanTest, HubAnswersArpForItsOwnAddress) {
  writeHubConfig(false);
  writeDhcpSection("DHCP", "10.77.0.100", "10.77.0.110", "255.255.255.0");
  startHub();
  Host& a = addHost("10.77.0.5/24");
  startKvtap(a);
  loggedIn({&a});
  const auto arping =
      a.ns->run({"busybox", "arping", "-c", "1", "-w", "3", "-I", "tap0", "10.77.0.110"}, 10s);
  EXPECT_EQ(arping.status, 0) << arping.out << arping.err;
  // The kernel's own ARP, which a ping starts (the hub answers no ping), shows the answer's
  // address in full in the neighbour table; arping prints it abbreviated.
  (void)a.ns->run({"busybox", "ping", "-c", "1", "-W", "1", "10.77.0.110"}, kPingLimit);
  const auto neighbour = a.ns->run({"ip", "neigh", "show", "10.77.0.110", "dev", "tap0"});
  EXPECT_NE(neighbour.out.find(std::string("lladdr ") + kHubHardwareAddress), std::string::npos)
      << neighbour.out;
}

TEST_F(VirtualLanTest, DomainsLeaseFromTheirOwnRangesAndStayApart) {
  writeHubConfig(true, "@");
  writeAccounts({{"alice@red", "a"}, {"bob@red", "b"}, {"carol@blue", "c"}});
  // One /16 for both ranges, so that only the hub's domains keep the hosts apart.
  writeDhcpSection("DHCP@red", "10.77.1.100", "10.77.1.110", "255.255.0.0");
  writeDhcpSection("DHCP@blue", "10.77.2.100", "10.77.2.110", "255.255.0.0");
  startHub();
  Host& a = addHost("");
  Host& b = addHost("");
  Host& c = addHost("");
  startKvtap(a, withAccount("alice@red", "a"));
  startKvtap(b, withAccount("bob@red", "b"));
  startKvtap(c, withAccount("carol@blue", "c"));
  loggedIn({&a, &b, &c});
  EXPECT_EQ(leaseAddress(a), "10.77.1.100");
  EXPECT_EQ(leaseAddress(b), "10.77.1.101");
  EXPECT_EQ(leaseAddress(c), "10.77.2.100");
  EXPECT_TRUE(pings(a, "10.77.1.101"));
  EXPECT_FALSE(pings(a, "10.77.2.100"));
}

TEST_F(VirtualLanTest, DomainWithANetworkKeyServesEncryptingClients) {
  writeHubConfig(false);
  writeDhcpSection("DHCP", "10.77.0.100", "10.77.0.110", "255.255.255.0", true);
  startHub();
  Host& a = addHost("");
  Host& b = addHost("");
  startKvtap(a, encrypting());
  startKvtap(b, encrypting());
  loggedIn({&a, &b});
  EXPECT_EQ(leaseAddress(a), "10.77.0.100");
  EXPECT_EQ(leaseAddress(b), "10.77.0.101");
  EXPECT_TRUE(pings(a, "10.77.0.101"));
}

TEST_F(VirtualLanTest, BlockDhcpSilencesTheHub) {
  writeHubConfig(false, "<NONE>", "BlockDHCP=1\r\n");
  writeDhcpSection("DHCP", "10.77.0.100", "10.77.0.110", "255.255.255.0");
  startHub();
  Host& a = addHost("");
  startKvtap(a);
  loggedIn({&a});
  EXPECT_EQ(leaseAddress(a), "");
}

TEST_F(VirtualLanTest, LeasesSurviveAHubRestart) {
  writeHubConfig(false);
  writeDhcpSection("DHCP", "10.77.0.100", "10.77.0.110", "255.255.255.0");
  startHub();
  Host& a = addHost("");
  Host& b = addHost("");
  startKvtap(a);
  startKvtap(b);
  loggedIn({&a, &b});
  ASSERT_EQ(leaseAddress(a), "10.77.0.100");

  // Leases are written behind the answers; a clean stop writes what is still outstanding.
  ASSERT_EQ(::kill(hub_->pid(), SIGTERM), 0);
  ASSERT_EQ(hub_->waitForExit(20s), 0);
  startHub();
  for (const Host* host : {&a, &b}) {
    ASSERT_TRUE(waitForLog(*host, "logged in", 2, 40s)) << logOf(*host);
  }
  // The restarted hub knows that .100 is a's: b, asking first, gets the next address.
  EXPECT_EQ(leaseAddress(b), "10.77.0.101");
  EXPECT_EQ(leaseAddress(a), "10.77.0.100");
}

}  // namespace
}  // namespace korvane::tools
