#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/SealedField.h"
#include "hub/DhcpService.h"
#include "platform/ProfileFile.h"
#include "tests/hub/DhcpTestFrames.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

using testframes::Bytes;
using testframes::DhcpMessage;
using testframes::DhcpReply;
using testframes::Framing;
using testframes::ip;
using testframes::kBroadcastMac;
using testframes::kServiceMac;
using testframes::station;

constexpr int kHubNumber = 3;
constexpr std::uint8_t kDiscover = 1;
constexpr std::uint8_t kOffer = 2;
constexpr std::uint8_t kRequest = 3;
constexpr std::uint8_t kAck = 5;
constexpr std::uint8_t kNak = 6;
constexpr std::uint8_t kRelease = 7;
constexpr std::uint32_t kLower = ip(192, 168, 10, 100);
constexpr std::uint32_t kUpper = ip(192, 168, 10, 102);
constexpr std::uint32_t kMask = ip(255, 255, 255, 0);
constexpr common::NetworkKey kNetworkKey = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                                            0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

/// One domain's section of the DHCP settings file; a key set to std::nullopt is left out.
struct Settings {
  std::optional<std::string> flag = "TRUE";
  std::optional<std::string> lower = "192.168.10.100";
  std::optional<std::string> upper = "192.168.10.102";
  std::optional<std::string> mask = "255.255.255.0";
  std::optional<std::string> net = std::nullopt;
  std::optional<std::string> leaseTime = std::nullopt;
};

void writeSettings(const std::string& path, const std::string& section, const Settings& s) {
  const std::pair<const char*, const std::optional<std::string>*> keys[] = {
      {"DHCPFlag", &s.flag},
      {"LowerAddress", &s.lower},
      {"UpperAddress", &s.upper},
      {"SubNetMask", &s.mask},
      {"Net", &s.net},
      {"ReaseTime", &s.leaseTime}};
  for (const auto& [key, value] : keys) {
    if (*value) {
      std::string err;
      ASSERT_TRUE(platform::profile::writeString(path, section, key, **value, &err)) << err;
    }
  }
}

std::string sealedKey(const common::NetworkKey& key) {
  return common::sealNetworkKey(key).value_or("");
}

/// What handleFrame did with one record.
struct Outcome {
  int result = 0;
  Bytes reply;
  std::string addressText;
};

/// A DHCP service of hub 3 over its own program directory and a hand-moved clock.
class Bench {
 public:
  explicit Bench(const Settings& settings = {}, std::u16string domain = u"",
                 const std::string& section = "DHCP") {
    writeSettings(dir.ini("0003_dhcp.ini"), section, settings);
    service =
        std::make_unique<DhcpService>(dir.ini(""), kHubNumber, std::move(domain), clock, writer);
    service->loadSettings();
  }

  Outcome handle(const Bytes& record, int block = 0) {
    std::array<std::uint8_t, kDhcpReplyBufferSize> buffer{};
    Outcome outcome;
    // The verdict as a number: the reply's length, -1 for a drop, 0 to switch.
    const DhcpExamination examined =
        service->handleFrame(record, block != 0, buffer, &outcome.addressText);
    switch (examined.verdict) {
      case DhcpVerdict::kReply:
        EXPECT_GT(examined.replyLength, 0u);
        outcome.result = static_cast<int>(examined.replyLength);
        break;
      case DhcpVerdict::kDrop:
        outcome.result = -1;
        break;
      case DhcpVerdict::kSwitch:
        outcome.result = 0;
        break;
    }
    if (outcome.result > 0) {
      EXPECT_LE(static_cast<std::size_t>(outcome.result), buffer.size());
      outcome.reply.assign(buffer.begin(), buffer.begin() + outcome.result);
    }
    return outcome;
  }

  /// The reply to `message` sent as a plain record; std::nullopt when there is none.
  std::optional<DhcpReply> ask(const DhcpMessage& message, int block = 0) {
    const Outcome outcome = handle(testframes::plainRecord(testframes::dhcpFrame(message)), block);
    if (outcome.result <= 0) {
      return std::nullopt;
    }
    const Bytes frame = testframes::frameOfRecord(outcome.reply);
    return testframes::parseDhcpReply(frame);
  }

  /// The address a DISCOVER from `mac` named `host` is offered; 0 when there is no offer.
  std::uint32_t offerTo(const testframes::Mac& mac, std::optional<std::string> host = "pc") {
    const auto reply = ask({.type = kDiscover, .station = mac, .hostName = std::move(host)});
    if (!reply) {
      return 0;
    }
    EXPECT_EQ(reply->type(), kOffer);
    return reply->yiaddr;
  }

  testing::TempProgramDir dir;
  testing::ManualClock clock;
  /// Its thread does not run: a test writes the lease file with flush().
  std::shared_ptr<LeaseWriter> writer =
      std::make_shared<LeaseWriter>([](std::string_view) {}, clock);
  std::unique_ptr<DhcpService> service;
};

// --- Pool and leases ---

TEST(DhcpService, PoolEndsBelowTheServicesOwnAddress) {
  Bench bench;
  EXPECT_EQ(bench.offerTo(station(1)), kLower);
  EXPECT_EQ(bench.offerTo(station(2)), kLower + 1);
  // .102 is the service's own address: the third station gets no answer and its DISCOVER is
  // switched, so that another server may answer it.
  const Outcome third = bench.handle(
      testframes::plainRecord(testframes::dhcpFrame({.type = kDiscover, .station = station(3)})));
  EXPECT_EQ(third.result, 0);
  EXPECT_EQ(bench.service->leases().size(), 2u);
}

TEST(DhcpService, SameStationGetsItsAddressBackAndTheLeaseIsExtended) {
  Bench bench;
  ASSERT_EQ(bench.offerTo(station(1), "alpha"), kLower);
  ASSERT_EQ(bench.offerTo(station(2), "beta"), kLower + 1);
  bench.clock.setSecondsSinceEpoch(bench.clock.secondsSinceEpoch() + 1000);
  EXPECT_EQ(bench.offerTo(station(2), "beta"), kLower + 1);
  const std::vector<DhcpLease> leases = bench.service->leases();
  ASSERT_EQ(leases.size(), 2u);
  EXPECT_EQ(leases[1].expiry, bench.clock.secondsSinceEpoch() + kDefaultLeaseTime);
  EXPECT_EQ(leases[1].hostName, "beta");
}

TEST(DhcpService, ReturningStationKeepsItsAddressWhenALowerOneIsFree) {
  Bench bench({.upper = "192.168.10.110"});
  ASSERT_EQ(bench.offerTo(station(1), "alpha"), kLower);
  ASSERT_EQ(bench.offerTo(station(2), "beta"), kLower + 1);
  ASSERT_FALSE(
      bench.ask({.type = kRelease, .station = station(1), .ciaddr = kLower, .ipSource = kLower}));
  EXPECT_EQ(bench.offerTo(station(2), "beta"), kLower + 1);
  EXPECT_EQ(bench.service->leases().size(), 1u);
  EXPECT_EQ(bench.offerTo(station(3), "gamma"), kLower);
}

TEST(DhcpService, ExpiredLeasesAreGivenToOthers) {
  Bench bench({.upper = "192.168.10.101", .leaseTime = "600"});
  ASSERT_EQ(bench.offerTo(station(1)), kLower);
  EXPECT_EQ(bench.offerTo(station(2)), 0u) << "the one address is leased";
  bench.clock.setSecondsSinceEpoch(bench.clock.secondsSinceEpoch() + 601);
  EXPECT_EQ(bench.offerTo(station(2)), kLower);
  ASSERT_EQ(bench.service->leases().size(), 1u);
  EXPECT_EQ(bench.service->leases()[0].hardwareAddress, station(2));
}

TEST(DhcpService, RequestForAnotherStationsAddressIsRefusedByBroadcast) {
  Bench bench;
  const auto ack = bench.ask({.type = kRequest, .station = station(1), .requested = kLower});
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->type(), kAck);
  EXPECT_EQ(ack->yiaddr, kLower);

  struct Row {
    const char* name;
    DhcpMessage message;
  };
  const Row rows[] = {
      {"requested address", {.type = kRequest, .station = station(2), .requested = kLower}},
      {"client address, unicast",
       {.type = kRequest,
        .station = station(2),
        .ciaddr = kLower,
        .ipSource = kLower,
        .ipDestination = kUpper,
        .destination = kServiceMac}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome outcome =
        bench.handle(testframes::plainRecord(testframes::dhcpFrame(row.message)));
    ASSERT_GT(outcome.result, 0);
    EXPECT_EQ(outcome.addressText, "") << "a refusal hands out no address";
    const auto nak = testframes::parseDhcpReply(testframes::frameOfRecord(outcome.reply));
    ASSERT_TRUE(nak);
    EXPECT_EQ(nak->type(), kNak);
    EXPECT_EQ(nak->destination, kBroadcastMac);
    EXPECT_EQ(nak->ipDestination, 0xFFFFFFFFu);
    EXPECT_EQ(nak->yiaddr, 0u) << "a refusal names no address";
    EXPECT_EQ(nak->option32(54), kUpper);
    EXPECT_EQ(nak->optionOrder, (std::vector<std::uint8_t>{53, 54, 255}));
    EXPECT_TRUE(nak->ipChecksumOk);
    EXPECT_TRUE(nak->udpChecksumOk);
  }
  ASSERT_EQ(bench.service->leases().size(), 1u);
  EXPECT_EQ(bench.service->leases()[0].hardwareAddress, station(1));
}

TEST(DhcpService, RequestedAddressInsideAndOutsideThePool) {
  struct Row {
    const char* name;
    std::uint8_t type;
    std::uint32_t requested;
    std::uint8_t expectedType;
    std::uint32_t expectedAddress;
  };
  const Row rows[] = {
      {"discover, free pool address", kDiscover, kLower + 1, kOffer, kLower + 1},
      {"discover, below the pool", kDiscover, kLower - 1, kOffer, kLower},
      {"discover, the own address", kDiscover, kUpper, kOffer, kLower},
      {"discover, another network", kDiscover, ip(10, 0, 0, 5), kOffer, kLower},
      {"request, free pool address", kRequest, kLower + 1, kAck, kLower + 1},
      {"request, below the pool", kRequest, kLower - 1, kNak, 0},
      {"request, the own address", kRequest, kUpper, kNak, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bench bench;
    const auto reply = bench.ask(
        {.type = row.type, .station = station(1), .requested = row.requested, .hostName = "pc"});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->type(), row.expectedType);
    EXPECT_EQ(reply->yiaddr, row.expectedAddress);
  }
}

TEST(DhcpService, OfferOfARequestedAddressMakesALeaseWithoutHostName) {
  Bench bench;
  const auto offer = bench.ask(
      {.type = kDiscover, .station = station(1), .requested = kLower + 1, .hostName = "pc"});
  ASSERT_TRUE(offer);
  ASSERT_EQ(offer->yiaddr, kLower + 1);
  const std::vector<DhcpLease> leases = bench.service->leases();
  ASSERT_EQ(leases.size(), 1u);
  EXPECT_EQ(leases[0].address, kLower + 1);
  EXPECT_EQ(leases[0].hardwareAddress, station(1));
  EXPECT_EQ(leases[0].hostName, "");
  // The lease is in the file once the writer got to it.
  bench.writer->flush();
  DhcpLeases reread(bench.service->leasePath(), nullptr);
  std::string err;
  ASSERT_TRUE(reread.load(&err)) << err;
  EXPECT_EQ(reread.leases(), leases);
}

TEST(DhcpService, ReleaseEndsOnlyTheStationsOwnLease) {
  Bench bench;
  ASSERT_EQ(bench.offerTo(station(1)), kLower);
  const Outcome foreign = bench.handle(testframes::plainRecord(testframes::dhcpFrame(
      {.type = kRelease, .station = station(2), .ciaddr = kLower, .ipSource = kLower})));
  EXPECT_EQ(foreign.result, 0) << "a release is never answered";
  EXPECT_EQ(bench.service->leases().size(), 1u);
  const Outcome own = bench.handle(testframes::plainRecord(testframes::dhcpFrame(
      {.type = kRelease, .station = station(1), .ciaddr = kLower, .ipSource = kLower})));
  EXPECT_EQ(own.result, 0);
  EXPECT_TRUE(bench.service->leases().empty());
  EXPECT_EQ(bench.service->addressTextOf(station(1)), "");
}

TEST(DhcpService, OtherMessageTypesAreNotAnswered) {
  Bench bench;
  for (const std::uint8_t type : {0, 2, 4, 5, 6, 8, 9, 200}) {
    SCOPED_TRACE(static_cast<int>(type));
    const Outcome outcome = bench.handle(testframes::plainRecord(
        testframes::dhcpFrame({.type = type, .station = station(1), .requested = kLower})));
    EXPECT_EQ(outcome.result, 0);
  }
}

TEST(DhcpService, MessageTypeIsLookedForInTheFirstSixtyOptionBytes) {
  Bench bench;
  // Option 61 of 56 bytes puts option 53 58 bytes behind the cookie: still seen.
  Bytes near(58, 0xEE);
  near[0] = 61;
  near[1] = 56;
  EXPECT_TRUE(bench.ask({.type = kDiscover, .station = station(1), .optionsBefore = near}));
  // Two more bytes put it at 60: not looked at, so not answered.
  Bytes far(60, 0xEE);
  far[0] = 61;
  far[1] = 58;
  EXPECT_FALSE(bench.ask({.type = kDiscover, .station = station(2), .optionsBefore = far}));
  // Pad bytes count towards the sixty.
  Bytes pads(59, 0);
  EXPECT_TRUE(bench.ask({.type = kDiscover, .station = station(3), .optionsBefore = pads}));
}

TEST(DhcpService, HostNameIsKeptUpToTheFirstControlCharacter) {
  struct Row {
    std::string sent;
    std::string kept;
  };
  const Row rows[] = {
      {"office pc", "office pc"},
      {std::string("ab\0cd", 5), "ab"},
      {"line\r\nbreak", "line"},
      {std::string(255, 'h'), std::string(255, 'h')},
      {"", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kept);
    Bench bench;
    ASSERT_EQ(bench.offerTo(station(1), row.sent), kLower);
    ASSERT_EQ(bench.service->leases().size(), 1u);
    EXPECT_EQ(bench.service->leases()[0].hostName, row.kept);
    EXPECT_EQ(bench.offerTo(station(1), row.sent), kLower) << "recognised again";
    EXPECT_EQ(bench.service->leases().size(), 1u);
  }
}

// --- Reply bytes ---

TEST(DhcpService, OfferHasTheReplyLayout) {
  Bench bench;
  const DhcpMessage discover{.type = kDiscover,
                             .station = station(7),
                             .xid = 0xCAFEF00D,
                             .flags = 0x0000,
                             .hostName = "pc",
                             .ipId = 0x4321,
                             .ttl = 64};
  const Bytes request = testframes::plainRecord(testframes::dhcpFrame(discover));
  const Outcome outcome = bench.handle(request);
  ASSERT_GT(outcome.result, 0);
  EXPECT_EQ(outcome.addressText, "192.168.10.100");
  ASSERT_EQ(outcome.reply.size(), 32u + 14 + 20 + 556);
  // The received header travels back with the reply's length; the client bytes stay.
  EXPECT_EQ(testframes::get32(outcome.reply, 4), 14u + 20 + 556);
  EXPECT_EQ(testframes::get32(outcome.reply, 8), 1u);
  EXPECT_TRUE(std::equal(request.begin() + 24, request.begin() + 32, outcome.reply.begin() + 24));

  const Bytes frame = testframes::frameOfRecord(outcome.reply);
  const auto offer = testframes::parseDhcpReply(frame);
  ASSERT_TRUE(offer);
  EXPECT_EQ(offer->destination, kBroadcastMac) << "the request came from 0.0.0.0";
  EXPECT_EQ(offer->source, kServiceMac);
  EXPECT_EQ(offer->typeOrLength, 0x0800);
  EXPECT_EQ(offer->ipTotalLength, 576);
  EXPECT_EQ(offer->ipId, 0x4322);
  EXPECT_EQ(offer->ttl, 64);
  EXPECT_EQ(offer->ipSource, kUpper);
  EXPECT_EQ(offer->ipDestination, 0xFFFFFFFFu);
  EXPECT_TRUE(offer->ipChecksumOk);
  EXPECT_EQ(offer->sourcePort, 67);
  EXPECT_EQ(offer->destinationPort, 68);
  EXPECT_EQ(offer->udpLength, 556);
  EXPECT_TRUE(offer->udpChecksumOk);
  EXPECT_EQ(offer->messageSize, 548u);
  EXPECT_EQ(offer->op, 2);
  EXPECT_EQ(offer->xid, 0xCAFEF00Du);
  EXPECT_EQ(offer->flags, 0);
  EXPECT_EQ(offer->ciaddr, 0u);
  EXPECT_EQ(offer->yiaddr, kLower);
  EXPECT_EQ(offer->siaddr, kUpper);
  EXPECT_EQ(offer->giaddr, 0u);
  EXPECT_EQ(offer->chaddr, station(7));
  EXPECT_TRUE(offer->snameAndFileZero);
  EXPECT_EQ(offer->optionOrder, (std::vector<std::uint8_t>{53, 54, 58, 59, 51, 1, 3, 255}));
  EXPECT_EQ(offer->type(), kOffer);
  EXPECT_EQ(offer->option32(54), kUpper);
  EXPECT_EQ(offer->option32(1), kMask);
  EXPECT_EQ(offer->option32(3), kUpper);
  EXPECT_TRUE(offer->zeroBehindEnd);
}

TEST(DhcpService, LeaseRenewalAndRebindingTimes) {
  struct Row {
    std::optional<std::string> setting;
    std::uint32_t lease;
    std::uint32_t renewal;
    std::uint32_t rebinding;
  };
  const Row rows[] = {
      {std::nullopt, 259200, 129600, 226800},
      {"30", 60, 30, 52},
      {"0", 60, 30, 52},
      {"-5", 60, 30, 52},
      {"not a number", 60, 30, 52},
      {"60", 60, 30, 52},
      {"1001", 1001, 500, 875},
      {"2147483647", 2147483647, 1073741823, 1879048191},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.setting.value_or("(missing)"));
    Bench bench({.leaseTime = row.setting});
    EXPECT_EQ(bench.service->leaseTime(), row.lease);
    const auto ack = bench.ask({.type = kRequest, .station = station(1)});
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->type(), kAck);
    EXPECT_EQ(ack->option32(51), row.lease);
    EXPECT_EQ(ack->option32(58), row.renewal);
    EXPECT_EQ(ack->option32(59), row.rebinding);
    EXPECT_EQ(bench.service->leases().at(0).expiry, bench.clock.secondsSinceEpoch() + row.lease);
  }
}

TEST(DhcpService, RepliesAreAddressedByBroadcastOrToTheStation) {
  struct Row {
    const char* name;
    DhcpMessage message;
    bool broadcast;
  };
  const Row rows[] = {
      {"from 0.0.0.0", {.type = kRequest, .station = station(1), .requested = kLower}, true},
      {"broadcast flag",
       {.type = kRequest,
        .station = station(1),
        .flags = 0x8000,
        .ciaddr = kLower,
        .ipSource = kLower},
       true},
      {"renewal from the leased address",
       {.type = kRequest,
        .station = station(1),
        .ciaddr = kLower,
        .ipSource = kLower,
        .ipDestination = kUpper,
        .destination = kServiceMac},
       false},
      {"request from an address, nothing requested",
       {.type = kRequest, .station = station(1), .ipSource = ip(192, 168, 10, 50)},
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bench bench;
    const auto reply = bench.ask(row.message);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->type(), kAck);
    ASSERT_EQ(reply->yiaddr, kLower);
    EXPECT_EQ(reply->destination, row.broadcast ? kBroadcastMac : station(1));
    EXPECT_EQ(reply->ipDestination, row.broadcast ? 0xFFFFFFFFu : kLower);
    EXPECT_EQ(reply->flags, row.message.flags);
    EXPECT_TRUE(reply->ipChecksumOk);
    EXPECT_TRUE(reply->udpChecksumOk);
  }
}

TEST(DhcpService, LlcFramedRequestsAreAnsweredInTheirFraming) {
  struct Row {
    const char* name;
    Framing framing;
    std::size_t llcSize;
  };
  const Row rows[] = {{"LLC", Framing::kLlc, 3}, {"LLC and SNAP", Framing::kSnap, 8}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bench bench;
    const Outcome outcome = bench.handle(testframes::plainRecord(
        testframes::dhcpFrame({.type = kDiscover, .station = station(1), .framing = row.framing})));
    ASSERT_GT(outcome.result, 0);
    const Bytes frame = testframes::frameOfRecord(outcome.reply);
    ASSERT_EQ(frame.size(), 14 + row.llcSize + 576);
    const auto offer = testframes::parseDhcpReply(frame);
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->llcSize, row.llcSize);
    EXPECT_EQ(offer->typeOrLength, row.llcSize + 576) << "802.3 length";
    EXPECT_EQ(offer->yiaddr, kLower);
    EXPECT_TRUE(offer->ipChecksumOk);
    EXPECT_TRUE(offer->udpChecksumOk);
  }
}

TEST(DhcpService, EncryptedRequestsAreAnsweredEncrypted) {
  Bench bench({.net = sealedKey(kNetworkKey)});
  ASSERT_EQ(bench.service->networkKey(), kNetworkKey);
  const Bytes request = testframes::encryptedRecord(
      testframes::dhcpFrame({.type = kDiscover, .station = station(1), .hostName = "crypt"}),
      kNetworkKey);
  const Outcome outcome = bench.handle(request);
  ASSERT_GT(outcome.result, 0);
  EXPECT_EQ(testframes::get32(outcome.reply, 8), 2u);
  EXPECT_EQ(testframes::get32(outcome.reply, 16), 14u + 576);
  EXPECT_EQ(outcome.reply.size(), 32u + 14 + 576) << "576 is a whole number of blocks";
  const Bytes frame = testframes::frameOfRecord(outcome.reply, kNetworkKey);
  const auto offer = testframes::parseDhcpReply(frame);
  ASSERT_TRUE(offer);
  EXPECT_EQ(offer->type(), kOffer);
  EXPECT_EQ(offer->yiaddr, kLower);
  EXPECT_TRUE(offer->udpChecksumOk);
  EXPECT_EQ(bench.service->leases().at(0).hostName, "crypt");

  // With padding: SNAP framing makes the encrypted part 584 bytes, 8 short of 37 blocks.
  const Outcome padded = bench.handle(testframes::encryptedRecord(
      testframes::dhcpFrame({.type = kDiscover, .station = station(2), .framing = Framing::kSnap}),
      kNetworkKey));
  ASSERT_GT(padded.result, 0);
  EXPECT_EQ(testframes::get32(padded.reply, 16), 14u + 8 + 576);
  EXPECT_EQ(padded.reply.size(), 32u + 14 + 592);
  const auto snapOffer =
      testframes::parseDhcpReply(testframes::frameOfRecord(padded.reply, kNetworkKey));
  ASSERT_TRUE(snapOffer);
  EXPECT_EQ(snapOffer->yiaddr, kLower + 1);

  // Under another key the frame is noise, which is switched like any other frame.
  common::NetworkKey otherKey = kNetworkKey;
  otherKey[0] ^= 1;
  EXPECT_EQ(bench
                .handle(testframes::encryptedRecord(
                    testframes::dhcpFrame({.type = kDiscover, .station = station(3)}), otherKey))
                .result,
            0);
}

TEST(DhcpService, NetworkKeySetting) {
  struct Row {
    const char* name;
    std::optional<std::string> value;
    common::NetworkKey expected;
  };
  const Row rows[] = {
      {"missing", std::nullopt, common::NetworkKey{}},
      {"sealed", sealedKey(kNetworkKey), kNetworkKey},
      {"no key set", "0000000000000000000000",
       common::unsealNetworkKey(std::string(32, '0')).value_or(common::NetworkKey{})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bench bench({.net = row.value});
    EXPECT_EQ(bench.service->networkKey(), row.expected);
  }
}

// --- ARP ---

TEST(DhcpService, ArpForTheOwnAddressIsAnswered) {
  Bench bench;
  const testframes::Mac asker = station(9);
  const Bytes request = testframes::arpFrame(asker, kLower, kUpper);
  const Outcome outcome = bench.handle(testframes::plainRecord(request));
  ASSERT_GT(outcome.result, 0);
  const Bytes frame = testframes::frameOfRecord(outcome.reply);
  ASSERT_EQ(frame.size(), request.size());
  EXPECT_TRUE(std::equal(asker.begin(), asker.end(), frame.begin()));
  EXPECT_TRUE(std::equal(kServiceMac.begin(), kServiceMac.end(), frame.begin() + 6));
  EXPECT_EQ(testframes::get16(frame, 12), 0x0806);
  EXPECT_EQ(testframes::get16(frame, 20), 2) << "reply";
  EXPECT_TRUE(std::equal(kServiceMac.begin(), kServiceMac.end(), frame.begin() + 22));
  EXPECT_EQ(testframes::get32(frame, 28), kUpper);
  EXPECT_TRUE(std::equal(asker.begin(), asker.end(), frame.begin() + 32));
  EXPECT_EQ(testframes::get32(frame, 38), kLower);
  EXPECT_EQ(outcome.addressText, "");

  // Encrypted, the reply is encrypted the same way.
  Bench crypt({.net = sealedKey(kNetworkKey)});
  const Outcome encrypted = crypt.handle(
      testframes::encryptedRecord(testframes::arpFrame(asker, 0, kUpper), kNetworkKey));
  ASSERT_GT(encrypted.result, 0);
  const Bytes decrypted = testframes::frameOfRecord(encrypted.reply, kNetworkKey);
  ASSERT_EQ(decrypted.size(), 60u);
  EXPECT_EQ(testframes::get16(decrypted, 20), 2);
  EXPECT_EQ(testframes::get32(decrypted, 28), kUpper);
}

TEST(DhcpService, OtherArpIsSwitched) {
  Bench bench;
  const testframes::Mac asker = station(9);
  const Bytes request = testframes::arpFrame(asker, kLower, kUpper);
  Bytes unicastElsewhere = request;
  std::copy(asker.begin(), asker.end(), unicastElsewhere.begin());
  struct Row {
    const char* name;
    Bytes frame;
  };
  const Row rows[] = {
      {"another address", testframes::arpFrame(asker, kLower, kLower + 1)},
      {"a reply", testframes::arpFrame(asker, kLower, kUpper, 2)},
      {"hardware size 8", testframes::arpFrame(asker, kLower, kUpper, 1, 8)},
      {"protocol size 16", testframes::arpFrame(asker, kLower, kUpper, 1, 6, 16)},
      {"to another station", unicastElsewhere},
      {"cut short", Bytes(request.begin(), request.begin() + 41)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(bench.handle(testframes::plainRecord(row.frame)).result, 0);
  }
}

// --- Blocking and disabled services ---

TEST(DhcpService, BlockDhcpDropsDhcpWhateverTheSettings) {
  const Settings enabled;
  const Settings disabled{.flag = "FALSE"};
  for (const Settings* settings : {&enabled, &disabled}) {
    SCOPED_TRACE(*settings->flag);
    Bench bench(*settings);
    for (const std::uint8_t type : {kDiscover, kRequest, kRelease, std::uint8_t{8}}) {
      SCOPED_TRACE(static_cast<int>(type));
      EXPECT_EQ(bench
                    .handle(testframes::plainRecord(testframes::dhcpFrame(
                                {.type = type, .station = station(1), .requested = kLower})),
                            1)
                    .result,
                -1);
    }
    EXPECT_TRUE(bench.service->leases().empty());
    // Other frames pass.
    DhcpMessage dns{.station = station(1), .sourcePort = 5353, .destinationPort = 53};
    EXPECT_EQ(bench.handle(testframes::plainRecord(testframes::dhcpFrame(dns)), 1).result, 0);
  }
}

TEST(DhcpService, BlockedServiceStillAnswersArpForItsAddress) {
  Bench bench;
  EXPECT_GT(
      bench.handle(testframes::plainRecord(testframes::arpFrame(station(1), 0, kUpper)), 1).result,
      0);
}

TEST(DhcpService, DisabledServiceAnswersNothing) {
  Bench bench({.flag = "FALSE"});
  EXPECT_FALSE(bench.service->enabled());
  EXPECT_EQ(bench
                .handle(testframes::plainRecord(
                    testframes::dhcpFrame({.type = kDiscover, .station = station(1)})))
                .result,
            0);
  EXPECT_EQ(
      bench.handle(testframes::plainRecord(testframes::arpFrame(station(1), 0, kUpper))).result, 0);
  // Blocked as well, it drops DHCP but claims no address.
  EXPECT_EQ(
      bench.handle(testframes::plainRecord(testframes::arpFrame(station(1), 0, kUpper)), 1).result,
      0);
  EXPECT_TRUE(bench.service->leases().empty());
}

TEST(DhcpService, SettingsThatDisableTheService) {
  struct Row {
    const char* name;
    Settings settings;
    bool enabled;
  };
  const Row rows[] = {
      {"all valid", {}, true},
      {"one-address pool", {.lower = "192.168.10.102"}, true},
      {"short forms", {.lower = "192.168.2660", .upper = "0xC0A80A66"}, true},
      {"flag lower-case", {.flag = "true"}, false},
      {"flag missing", {.flag = std::nullopt}, false},
      {"lower above upper", {.lower = "192.168.10.103"}, false},
      {"lower missing", {.lower = std::nullopt}, false},
      {"upper empty", {.upper = ""}, false},
      {"mask missing", {.mask = std::nullopt}, false},
      {"lower 0.0.0.0", {.lower = "0.0.0.0"}, false},
      {"upper 255.255.255.255", {.upper = "255.255.255.255"}, false},
      {"mask 255.255.255.255", {.mask = "255.255.255.255"}, false},
      {"mask 0.0.0.0", {.mask = "0.0.0.0"}, false},
      {"malformed lower", {.lower = "192.168.10.x"}, false},
      {"malformed upper", {.upper = "192.168.10.256"}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bench bench(row.settings);
    EXPECT_EQ(bench.service->enabled(), row.enabled);
  }
  testing::TempProgramDir empty;
  testing::ManualClock clock;
  DhcpService missingFile(empty.ini(""), kHubNumber, u"", clock, nullptr);
  missingFile.loadSettings();
  EXPECT_FALSE(missingFile.enabled());
  EXPECT_EQ(missingFile.leaseTime(), kDefaultLeaseTime);
}

TEST(DhcpService, DomainsReadTheirOwnSectionAndLeaseFile) {
  Bench bench({.lower = "10.1.0.10", .upper = "10.1.0.20"}, u"sales", "DHCP@sales");
  EXPECT_TRUE(bench.service->enabled());
  EXPECT_EQ(bench.service->ownAddress(), ip(10, 1, 0, 20));
  EXPECT_EQ(bench.service->leasePath(), bench.dir.ini("0003_sales_dhcp.leases"));
  EXPECT_EQ(bench.offerTo(station(1)), ip(10, 1, 0, 10));
  bench.writer->flush();
  EXPECT_TRUE(testing::fileExists(bench.dir.ini("0003_sales_dhcp.leases")));

  Bench global;
  EXPECT_EQ(global.service->leasePath(), global.dir.ini("0003__dhcp.leases"));

  // A long domain text names its section and its file by its first 127 bytes.
  const std::string longName(130, 'd');
  Bench longDomain({}, std::u16string(130, u'd'), "DHCP@" + longName.substr(0, 127));
  EXPECT_TRUE(longDomain.service->enabled());
  EXPECT_EQ(longDomain.service->leasePath(),
            longDomain.dir.ini("0003_" + longName.substr(0, 127) + "_dhcp.leases"));
}

TEST(DhcpService, DomainTextThatCannotNameAFileKeepsLeasesInMemory) {
  Bench slash({}, u"../../x", "DHCP@../../x");
  EXPECT_TRUE(slash.service->enabled());
  EXPECT_EQ(slash.service->leasePath(), "");
  EXPECT_EQ(slash.offerTo(station(1)), kLower);
  EXPECT_EQ(slash.service->leases().size(), 1u);

  Bench surrogate({}, std::u16string(1, char16_t{0xD800}), "DHCP@x");
  EXPECT_FALSE(surrogate.service->enabled());
  EXPECT_EQ(surrogate.service->leasePath(), "");
}

TEST(DhcpService, SameSettings) {
  testing::TempProgramDir dir;
  testing::ManualClock clock;
  const std::string path = dir.ini("0003_dhcp.ini");
  writeSettings(path, "DHCP", {});
  DhcpService reference(dir.ini(""), kHubNumber, u"", clock, nullptr);
  reference.loadSettings();

  struct Row {
    const char* name;
    Settings settings;
    bool same;
  };
  const Row rows[] = {
      {"unchanged", {}, true},
      {"lease time written as its default", {.leaseTime = "259200"}, true},
      {"flag", {.flag = "FALSE"}, false},
      {"lower", {.lower = "192.168.10.99"}, false},
      {"upper", {.upper = "192.168.10.103"}, false},
      {"same address, other text", {.upper = "192.168.010.102"}, false},
      {"mask", {.mask = "255.255.0.0"}, false},
      {"lease time", {.leaseTime = "600"}, false},
      {"network key", {.net = sealedKey(kNetworkKey)}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::TempProgramDir other;
    writeSettings(other.ini("0003_dhcp.ini"), "DHCP", row.settings);
    DhcpService fresh(other.ini(""), kHubNumber, u"", clock, nullptr);
    fresh.loadSettings();
    EXPECT_EQ(fresh.sameSettings(reference), row.same);
  }
}

TEST(DhcpService, AddressTextOfTheLeasedStation) {
  Bench bench;
  EXPECT_EQ(bench.service->addressTextOf(station(1)), "");
  ASSERT_EQ(bench.offerTo(station(1)), kLower);
  EXPECT_EQ(bench.service->addressTextOf(station(1)), "192.168.10.100");
  EXPECT_EQ(bench.service->addressTextOf(station(2)), "");
}

TEST(DhcpService, LeasesSurviveARestart) {
  Bench bench;
  ASSERT_EQ(bench.offerTo(station(1), "one"), kLower);
  ASSERT_EQ(bench.offerTo(station(2), "two"), kLower + 1);
  bench.writer->flush();
  DhcpService restarted(bench.dir.ini(""), kHubNumber, u"", bench.clock, nullptr);
  restarted.loadSettings();
  std::string err;
  ASSERT_TRUE(restarted.loadLeases(&err)) << err;
  EXPECT_EQ(restarted.leases(), bench.service->leases());
  EXPECT_EQ(restarted.addressTextOf(station(2)), "192.168.10.101");
}

/// Holds the exclusive lock on a folder, as any program that can open the folder may, and as
/// every replacement of a file in it takes.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    EXPECT_GE(fd_, 0) << folder;
    EXPECT_EQ(::flock(fd_, LOCK_EX), 0);
  }
  ~FolderLock() { release(); }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  void release() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

 private:
  int fd_;
};

TEST(DhcpService, AnswersWhileTheLeaseFolderIsLockedAndWritesTheLeaseAfter) {
  // An answer takes microseconds; this only keeps a failing run from hanging.
  constexpr std::chrono::seconds kAnswerWait{10};
  Bench bench;
  bench.writer->start();
  FolderLock lock(bench.dir.ini(""));
  auto offered =
      std::async(std::launch::async, [&bench] { return bench.offerTo(station(1), "pc"); });
  const bool inTime = offered.wait_for(kAnswerWait) == std::future_status::ready;
  lock.release();
  EXPECT_TRUE(inTime) << "the answer waited for the ini folder's lock";
  EXPECT_EQ(offered.get(), kLower);
  bench.writer->stop();
  DhcpLeases reread(bench.service->leasePath(), nullptr);
  std::string err;
  ASSERT_TRUE(reread.load(&err)) << err;
  EXPECT_EQ(reread.leases(), bench.service->leases());
}

// --- Frames that are not the service's business, and malformed ones ---

TEST(DhcpService, FramesToOtherStationsAreSwitched) {
  Bench bench;
  DhcpMessage toOther{.type = kDiscover, .station = station(1), .destination = station(5)};
  EXPECT_EQ(bench.handle(testframes::plainRecord(testframes::dhcpFrame(toOther))).result, 0);
  EXPECT_EQ(bench.handle(testframes::plainRecord(testframes::dhcpFrame(toOther)), 1).result, 0);
  DhcpMessage toZero{.type = kDiscover, .station = station(1), .destination = {}};
  EXPECT_GT(bench.handle(testframes::plainRecord(testframes::dhcpFrame(toZero))).result, 0);
}

TEST(DhcpService, RecordTooLongForTheReplyBufferIsSwitched) {
  Bench bench;
  DhcpMessage big{.type = kDiscover, .station = station(1), .minimumMessageSize = 4100};
  EXPECT_EQ(bench.handle(testframes::plainRecord(testframes::dhcpFrame(big))).result, 0);
  EXPECT_EQ(bench.handle(testframes::plainRecord(testframes::dhcpFrame(big)), 1).result, -1);
  EXPECT_TRUE(bench.service->leases().empty());

  Bench crypt({.net = sealedKey(kNetworkKey)});
  const Bytes encrypted = testframes::encryptedRecord(testframes::dhcpFrame(big), kNetworkKey);
  EXPECT_EQ(crypt.handle(encrypted).result, 0);
  EXPECT_EQ(crypt.handle(encrypted, 1).result, -1) << "recognised from its first blocks";
}

/// A frame whose field at `offset` (from the frame's start) is replaced by `value`.
Bytes patched(Bytes frame, std::size_t offset, std::vector<std::uint8_t> value) {
  std::copy(value.begin(), value.end(), frame.begin() + static_cast<std::ptrdiff_t>(offset));
  return frame;
}

TEST(DhcpService, MalformedRequestsAreSwitchedUnanswered) {
  Bench bench;
  const Bytes good = testframes::dhcpFrame(
      {.type = kDiscover, .station = station(1), .hostName = "pc", .minimumMessageSize = 0});
  const std::size_t ip = 14;
  const std::size_t udp = ip + 20;
  const std::size_t message = udp + 8;
  const std::size_t options = message + 240;
  ASSERT_GT(bench.handle(testframes::plainRecord(good)).result, 0);

  struct Row {
    const char* name;
    Bytes frame;
  };
  const Row rows[] = {
      {"cut inside the Ethernet header", Bytes(good.begin(), good.begin() + 13)},
      {"cut inside the IPv4 header", Bytes(good.begin(), good.begin() + ip + 10)},
      {"cut inside the UDP header", Bytes(good.begin(), good.begin() + udp + 4)},
      {"cut inside the fixed fields", Bytes(good.begin(), good.begin() + message + 100)},
      {"cut before the cookie ends", Bytes(good.begin(), good.begin() + options - 1)},
      {"IPv4 version 6", patched(good, ip, {0x65})},
      {"IPv4 header length 4 words", patched(good, ip, {0x44})},
      {"IPv4 header length beyond the frame", patched(good, ip, {0x4F})},
      {"IPv4 total length shorter than its headers", patched(good, ip + 2, {0, 27})},
      {"IPv4 total length cuts the cookie", patched(good, ip + 2, {0x01, 0x0B})},
      {"fragment", patched(good, ip + 6, {0x20, 0})},
      {"later fragment", patched(good, ip + 6, {0, 0x10})},
      {"TCP", patched(good, ip + 9, {6})},
      {"UDP length 7", patched(good, udp + 4, {0, 7})},
      {"UDP length cuts the cookie", patched(good, udp + 4, {0, 8 + 239})},
      {"wrong cookie", patched(good, options - 4, {99, 130, 83, 98})},
      {"EtherType IPv6", patched(good, 12, {0x86, 0xDD})},
      {"802.3 length without LLC", patched(good, 12, {0x01, 0x00})},
      {"option 53 overruns the message", patched(good, options, {53, 250})},
      {"option 53 empty", patched(good, options, {53, 0, 255})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(bench.handle(testframes::plainRecord(row.frame)).result, 0);
  }
  EXPECT_EQ(bench.service->leases().size(), 1u);

  // A host name that overruns the message is left out; the request is still answered.
  Bytes overrun = good;
  const std::size_t hostAt = options + 3;
  ASSERT_EQ(overrun[hostAt], 12);
  overrun[hostAt + 1] = 200;
  ASSERT_GT(bench.handle(testframes::plainRecord(overrun)).result, 0);
}

TEST(DhcpService, RecordsWithBadLengthsAreSwitched) {
  Bench bench({.net = sealedKey(kNetworkKey)});
  const Bytes frame = testframes::dhcpFrame({.type = kDiscover, .station = station(1)});
  const Bytes plain = testframes::plainRecord(frame);
  const Bytes encrypted = testframes::encryptedRecord(frame, kNetworkKey);
  auto withField = [](Bytes record, std::size_t at, std::uint32_t value) {
    testframes::put32(record, at, value);
    return record;
  };
  struct Row {
    const char* name;
    Bytes record;
  };
  const Row rows[] = {
      {"header only", Bytes(plain.begin(), plain.begin() + 32)},
      {"payload length beyond the record", withField(plain, 4, 0xFFFFFFF0)},
      {"payload length shorter than an Ethernet header", withField(plain, 4, 13)},
      {"encrypted, not whole blocks", withField(encrypted, 4, 14 + 575)},
      {"encrypted, plain length beyond the payload", withField(encrypted, 16, 14 + 577)},
      {"encrypted, plain length below 14", withField(encrypted, 16, 13)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(bench.handle(row.record).result, 0);
    EXPECT_EQ(bench.handle(row.record, 1).result, 0);
  }
  EXPECT_TRUE(bench.service->leases().empty());
}

// Random damage to valid requests: whatever the bytes, the service answers within the buffer
// or not at all. Under the sanitizers this also shows that nothing is read out of bounds.
TEST(DhcpService, DamagedRecordsNeverBreakTheService) {
  Bench bench({.upper = "192.168.11.0", .net = sealedKey(kNetworkKey)});
  std::mt19937 random(20240131);
  const std::vector<Bytes> seeds = {
      testframes::plainRecord(testframes::dhcpFrame(
          {.type = kRequest, .station = station(1), .requested = kLower, .hostName = "pc"})),
      testframes::plainRecord(testframes::dhcpFrame(
          {.type = kDiscover, .station = station(2), .framing = Framing::kSnap})),
      testframes::encryptedRecord(testframes::dhcpFrame({.type = kDiscover, .station = station(3)}),
                                  kNetworkKey),
      testframes::plainRecord(testframes::arpFrame(station(4), 0, ip(192, 168, 11, 0))),
  };
  for (int round = 0; round < 4000; ++round) {
    Bytes record = seeds[static_cast<std::size_t>(round) % seeds.size()];
    const int damage = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < damage; ++i) {
      const std::size_t at = 32 + random() % (record.size() - 32);
      record[at] = static_cast<std::uint8_t>(random());
    }
    if (random() % 10 == 0) {
      // The kind and the plain length, which decide how the frame is read.
      record[8 + random() % 12] = static_cast<std::uint8_t>(random());
    }
    if (random() % 4 == 0) {
      const std::size_t keep = 32 + random() % (record.size() - 31);
      record.resize(keep);
      testframes::put32(record, 4, static_cast<std::uint32_t>(keep - 32));
    }
    const Outcome outcome = bench.handle(record, static_cast<int>(random() % 2));
    EXPECT_GE(outcome.result, -1);
    EXPECT_LE(outcome.result, static_cast<int>(kDhcpReplyBufferSize));
  }
}

}  // namespace
}  // namespace korvane::hub
