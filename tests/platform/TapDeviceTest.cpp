// TAP devices, made in a network namespace of the test's own (the device goes with it), with
// the kernel on the other side: it sends the frames the test reads and answers the frames the
// test writes. Skipped without root.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/TapDevice.h"
#include "tests/support/NetworkNamespace.h"

namespace korvane::platform {
namespace {

using namespace std::chrono_literals;
using testing::NetworkNamespace;

// A station the kernel believes lives behind the device: a permanent neighbour entry, so that
// the kernel sends to it at once, without asking by ARP.
constexpr const char* kPeerAddress = "10.77.5.2";
constexpr std::array<std::uint8_t, 6> kPeerHardware = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
constexpr std::array<std::uint8_t, 4> kPeerIp = {10, 77, 5, 2};
constexpr std::array<std::uint8_t, 4> kOwnIp = {10, 77, 5, 1};
constexpr std::uint16_t kEtherTypeArp = 0x0806;
constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;

std::uint16_t etherTypeOf(std::span<const std::uint8_t> frame) {
  return frame.size() < 14 ? 0 : static_cast<std::uint16_t>(frame[12] << 8 | frame[13]);
}

/// An ARP request from the peer for the device's own address.
std::vector<std::uint8_t> arpRequestFromPeer() {
  std::vector<std::uint8_t> frame(6, 0xFF);                               // to everybody
  frame.insert(frame.end(), kPeerHardware.begin(), kPeerHardware.end());  // from the peer
  frame.insert(frame.end(), {0x08, 0x06,                                  // ARP
                             0x00, 0x01, 0x08, 0x00, 6, 4,                // Ethernet, IPv4
                             0x00, 0x01});                                // request
  frame.insert(frame.end(), kPeerHardware.begin(), kPeerHardware.end());
  frame.insert(frame.end(), kPeerIp.begin(), kPeerIp.end());
  frame.insert(frame.end(), 6, 0x00);
  frame.insert(frame.end(), kOwnIp.begin(), kOwnIp.end());
  frame.resize(60, 0x00);  // Ethernet's minimum
  return frame;
}

class TapDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const std::string reason = testing::networkNamespaceSkipReason();
    if (!reason.empty()) {
      GTEST_SKIP() << reason;
    }
    if (!std::filesystem::exists("/dev/net/tun")) {
      GTEST_SKIP() << "no /dev/net/tun: the kernel has no TAP devices";
    }
    std::string err;
    ns_ = NetworkNamespace::create("tap", &err);
    ASSERT_TRUE(ns_) << err;
  }

  /// Opens device `name` on a thread that entered the namespace, so that the device is made
  /// there; the device itself then works from any thread.
  std::optional<TapDevice> openInNamespace(const std::string& name, std::string* err,
                                           const TapOptions& options = {}) {
    std::optional<TapDevice> device;
    std::thread opener([&] {
      if (ns_->enterOnThisThread(err)) {
        device = TapDevice::open(name, err, options);
      }
    });
    opener.join();
    return device;
  }

  /// Gives the device an address and the peer's permanent neighbour entry.
  void addressDevice(const std::string& name) {
    std::string err;
    ASSERT_TRUE(ns_->runOk({"ip", "addr", "add", "10.77.5.1/24", "dev", name}, &err)) << err;
    ASSERT_TRUE(ns_->runOk({"ip", "neigh", "replace", kPeerAddress, "lladdr", "02:00:00:00:00:02",
                            "nud", "permanent", "dev", name},
                           &err))
        << err;
  }

  std::unique_ptr<NetworkNamespace> ns_;
};

TEST(TapDevice, RefusesNamesTheKernelCannotTake) {
  for (const std::string name : {"", "sixteen-letters1"}) {
    SCOPED_TRACE("'" + name + "'");
    std::string err;
    EXPECT_FALSE(TapDevice::open(name, &err));
    EXPECT_NE(err.find("bad interface name"), std::string::npos) << err;
  }
}

TEST_F(TapDeviceTest, OpensOrCreatesTheDeviceUp) {
  std::string err;
  auto device = openInNamespace("kvt0", &err);
  ASSERT_TRUE(device) << err;
  EXPECT_EQ(device->name(), "kvt0");
  const auto shown = ns_->run({"ip", "-o", "link", "show", "kvt0"});
  EXPECT_NE(shown.out.find("<BROADCAST,MULTICAST,UP"), std::string::npos) << shown.out;
  const auto address = device->hardwareAddress(&err);
  ASSERT_TRUE(address) << err;
  EXPECT_NE(*address, (std::array<std::uint8_t, 6>{}));
  // The address is the device's, read from any thread's namespace.
  const auto link = ns_->run({"ip", "-o", "link", "show", "kvt0"}).out;
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", (*address)[0], (*address)[1],
                (*address)[2], (*address)[3], (*address)[4], (*address)[5]);
  EXPECT_NE(link.find(std::string("link/ether ") + text), std::string::npos) << link;
}

TEST_F(TapDeviceTest, ReadsEveryReadyFrameUpToTheBatchCapacity) {
  std::string err;
  auto device = openInNamespace("kvt0", &err);
  ASSERT_TRUE(device) << err;
  addressDevice("kvt0");
  // Ten pings to the peer queue ten frames on the device while nobody reads it.
  (void)ns_->run({"busybox", "ping", "-c", "10", "-i", "0.01", "-W", "1", "-w", "1", kPeerAddress},
                 10s);
  TapFrameBatch batch(4);
  std::vector<std::size_t> sizes;
  for (int read = 0; read < 3; ++read) {
    ASSERT_EQ(device->readFrames(&batch, &err), TapReadResult::kFrames) << err;
    sizes.push_back(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i) {
      EXPECT_EQ(etherTypeOf(batch.frame(i)), kEtherTypeIpv4);
      EXPECT_TRUE(std::equal(kPeerHardware.begin(), kPeerHardware.end(), batch.frame(i).begin()));
    }
  }
  EXPECT_EQ(sizes, (std::vector<std::size_t>{4, 4, 2}));
}

TEST_F(TapDeviceTest, WrittenFramesReachTheKernel) {
  std::string err;
  auto device = openInNamespace("kvt0", &err);
  ASSERT_TRUE(device) << err;
  addressDevice("kvt0");
  ASSERT_TRUE(device->writeFrame(arpRequestFromPeer(), &err)) << err;
  // The kernel answers the request: an ARP reply to the peer comes out of the device.
  TapFrameBatch batch(8);
  ASSERT_EQ(device->readFrames(&batch, &err), TapReadResult::kFrames) << err;
  ASSERT_GE(batch.size(), 1u);
  const auto reply = batch.frame(0);
  ASSERT_GE(reply.size(), 42u);
  EXPECT_EQ(etherTypeOf(reply), kEtherTypeArp);
  EXPECT_TRUE(std::equal(kPeerHardware.begin(), kPeerHardware.end(), reply.begin()));
  EXPECT_EQ(reply[21], 2) << "an ARP reply";
}

TEST_F(TapDeviceTest, WithOffloadsHandsOverChecksumsLeftOpen) {
  std::string err;
  auto device = openInNamespace("kvt0", &err, TapOptions{.offloads = true});
  ASSERT_TRUE(device) << err;
  EXPECT_TRUE(device->hasOffloads());
  addressDevice("kvt0");
  // A connection attempt to the peer, which never answers: the kernel leaves the checksum of
  // its SYN to the device. Read without waiting, so that a missing frame fails, not hangs.
  (void)ns_->run({"busybox", "nc", "-w", "1", kPeerAddress, "9"}, 10s);
  TapFrameBatch batch(8);
  ASSERT_EQ(device->readReadyFrames(&batch, &err), TapReadResult::kFrames) << err;
  const auto frame = batch.frame(0);
  ASSERT_GE(frame.size(), 54u);
  EXPECT_EQ(etherTypeOf(frame), kEtherTypeIpv4);
  EXPECT_EQ(frame[23], 6) << "TCP";
  const TapOffload& offload = batch.offload(0);
  EXPECT_EQ(offload.segmentation, TapOffload::Segmentation::kNone);
  EXPECT_TRUE(offload.needsChecksum);
  EXPECT_EQ(offload.checksumStart, 34);   // behind the Ethernet and the IPv4 header
  EXPECT_EQ(offload.checksumOffset, 16);  // TCP's checksum field
  // The device takes plain frames as before.
  EXPECT_TRUE(device->writeFrame(arpRequestFromPeer(), &err)) << err;
}

TEST_F(TapDeviceTest, WithoutOffloadsRefusesPacketsThatNeedThem) {
  std::string err;
  auto device = openInNamespace("kvt0", &err);
  ASSERT_TRUE(device) << err;
  EXPECT_FALSE(device->hasOffloads());
  TapOffload segment;
  segment.segmentation = TapOffload::Segmentation::kTcp4;
  segment.segmentSize = 1448;
  EXPECT_FALSE(device->writePacket(segment, arpRequestFromPeer(), &err));
  EXPECT_NE(err.find("without offloads"), std::string::npos) << err;
}

TEST_F(TapDeviceTest, WakeEndsABlockedReadAndEveryLaterOne) {
  std::string err;
  auto device = openInNamespace("kvt0", &err);
  ASSERT_TRUE(device) << err;
  std::optional<TapReadResult> result;
  std::thread reader([&] {
    TapFrameBatch batch(1);
    std::string readErr;
    result = device->readFrames(&batch, &readErr);
  });
  std::this_thread::sleep_for(100ms);  // the reader blocks: the device has no address, no traffic
  device->wake();
  reader.join();
  EXPECT_EQ(result, TapReadResult::kWoken);
  TapFrameBatch batch(1);
  EXPECT_EQ(device->readFrames(&batch, &err), TapReadResult::kWoken);
}

TEST_F(TapDeviceTest, ReadingADeletedDeviceFails) {
  std::string err;
  auto device = openInNamespace("kvt0", &err);
  ASSERT_TRUE(device) << err;
  ASSERT_TRUE(ns_->runOk({"ip", "link", "del", "kvt0"}, &err)) << err;
  TapFrameBatch batch(1);
  EXPECT_EQ(device->readFrames(&batch, &err), TapReadResult::kFailed);
  EXPECT_NE(err.find("read kvt0"), std::string::npos) << err;
  EXPECT_FALSE(device->writeFrame(arpRequestFromPeer(), &err));
}

}  // namespace
}  // namespace korvane::platform
