// The router port mapping dialog against a real home router (miniupnpd in namespaces): the
// dialog's router operations run on threads inside the LAN namespace, where the hub would be.

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <thread>

#include "panel/windows/PortMappingDialog.h"
#include "tests/panel/windows/WindowTestSupport.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"
#include "tests/support/UpnpTestRouter.h"

namespace korvane::panel {
namespace {

using korvane::testing::UpnpTestRouter;

constexpr int kHubPort = 7100;
constexpr int kExternalPort = 8100;

// The UPnP client, each operation on a thread of its own inside `lan`.
class NamespaceMapper : public PortMapper {
 public:
  explicit NamespaceMapper(const korvane::testing::NetworkNamespace& lan) : lan_(lan) {}

  bool addMapping(int port, int internalPort, std::string* err) override {
    bool done = false;
    inLan([&](common::UpnpClient& client) { done = client.addMapping(port, internalPort, err); },
          err);
    return done;
  }
  common::UpnpCheck checkMapping(int port, int internalPort, std::string* err) override {
    common::UpnpCheck check = common::UpnpCheck::kFailed;
    inLan([&](common::UpnpClient& client) { check = client.checkMapping(port, internalPort, err); },
          err);
    return check;
  }
  bool deleteMapping(int port, std::string* err) override {
    bool done = false;
    inLan([&](common::UpnpClient& client) { done = client.deleteMapping(port, err); }, err);
    return done;
  }

 private:
  void inLan(const std::function<void(common::UpnpClient&)>& operation, std::string* err) {
    std::thread worker([&] {
      if (lan_.enterOnThisThread(err)) {
        common::UpnpClient client;
        operation(client);
      }
    });
    worker.join();
  }
  const korvane::testing::NetworkNamespace& lan_;
};

class PortMappingDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string reason = UpnpTestRouter::skipReason(); !reason.empty()) {
      GTEST_SKIP() << reason;
    }
    std::string err;
    ASSERT_TRUE(net_.link(&err)) << err;
    ASSERT_TRUE(net_.start(dir_.path(), false, &err)) << err;
    testing::loadPack(library_, dir_.path(), "english");
    korvane::testing::writeFile(dir_.ini("Tollmar.ini"),
                                "[0001]\r\nHubName=lan\r\nPortNo=7100\r\nSNATPort=0\r\n");
  }

  QString status(const PortMappingDialog& dialog) const {
    return ResourceLibrary::control<QLabel>(dialog.dialog(), 1082)->text();
  }
  bool mappedPictureShown(const PortMappingDialog& dialog) const {
    return ResourceLibrary::control<QLabel>(dialog.dialog(), 1084)->isVisible() &&
           !ResourceLibrary::control<QLabel>(dialog.dialog(), 1083)->isVisible();
  }

  korvane::testing::TempProgramDir dir_;
  UpnpTestRouter net_;
  ResourceLibrary library_;
  korvane::testing::ManualClock clock_;
  common::ManagerConfig config_{dir_.ini("Tollmar.ini"), clock_};
};

TEST_F(PortMappingDialogTest, SetMappingShowsAlreadySetAndRemoveClearsIt) {
  NamespaceMapper mapper(net_.lan());
  PortMappingDialog dialog(library_, config_, 1, kHubPort, mapper, nullptr);
  ASSERT_NE(dialog.dialog(), nullptr);
  dialog.open();
  EXPECT_EQ(status(dialog), library_.text(74));
  EXPECT_FALSE(mappedPictureShown(dialog));
  EXPECT_EQ(ResourceLibrary::control<QLabel>(dialog.dialog(), 1079)->text(), "7100");

  ResourceLibrary::control<QLineEdit>(dialog.dialog(), 1081)
      ->setText(QString::number(kExternalPort));
  ResourceLibrary::control<QPushButton>(dialog.dialog(), 1085)->click();
  EXPECT_EQ(status(dialog), QStringLiteral("Already set"));
  EXPECT_TRUE(mappedPictureShown(dialog));
  EXPECT_EQ(config_.readSnatPort(1), kExternalPort);

  // Opened again, the dialog finds the mapping of the stored port.
  PortMappingDialog again(library_, config_, 1, kHubPort, mapper, nullptr);
  again.open();
  EXPECT_EQ(status(again), QStringLiteral("Already set"));

  ResourceLibrary::control<QPushButton>(dialog.dialog(), 1086)->click();
  EXPECT_EQ(status(dialog), library_.text(74));
  EXPECT_FALSE(mappedPictureShown(dialog));
}

}  // namespace
}  // namespace korvane::panel
