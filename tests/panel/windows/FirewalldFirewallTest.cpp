#include <gtest/gtest.h>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QThread>
#include <filesystem>
#include <mutex>
#include <vector>

#include "panel/windows/FirewalldFirewall.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempProgramDir.h"

// A stand-in for firewalld on a private bus: the few calls the panel makes, answered from a
// thread of its own (the panel's calls block its thread), with what was added recorded.
namespace korvane::panel {
namespace {

struct StubState {
  std::mutex mutex;
  QList<QStringList> runtimePorts = {{QStringLiteral("7470"), QStringLiteral("tcp")}};
  std::vector<QString> permanentPorts;
  bool refuseRuntime = false;
};

class MainAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.fedoraproject.FirewallD1")

 public:
  explicit MainAdaptor(QObject* parent) : QDBusAbstractAdaptor(parent) {}
 public slots:
  QString getDefaultZone() { return QStringLiteral("public"); }
};

// The object the service's paths are registered with; D-Bus hands its context (to answer with
// an error) to it, not to its adaptors.
class StubObject : public QObject, public QDBusContext {
  Q_OBJECT
};

class ZoneAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.fedoraproject.FirewallD1.zone")

 public:
  ZoneAdaptor(QObject* parent, StubState& state) : QDBusAbstractAdaptor(parent), state_(state) {}
 public slots:
  QList<QStringList> getPorts(const QString&) {
    std::lock_guard lock(state_.mutex);
    return state_.runtimePorts;
  }
  QString addPort(const QString& zone, const QString& port, const QString& protocol, int) {
    std::lock_guard lock(state_.mutex);
    if (state_.refuseRuntime) {
      static_cast<StubObject*>(parent())->sendErrorReply(
          QStringLiteral("org.fedoraproject.FirewallD1.Exception"), QStringLiteral("INVALID_ZONE"));
      return {};
    }
    state_.runtimePorts.append({port, protocol});
    return zone;
  }

 private:
  StubState& state_;
};

class ConfigAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.fedoraproject.FirewallD1.config")

 public:
  explicit ConfigAdaptor(QObject* parent) : QDBusAbstractAdaptor(parent) {}
 public slots:
  QDBusObjectPath getZoneByName(const QString&) {
    return QDBusObjectPath(QStringLiteral("/org/fedoraproject/FirewallD1/config/zone/0"));
  }
};

class StoredZoneAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.fedoraproject.FirewallD1.config.zone")

 public:
  StoredZoneAdaptor(QObject* parent, StubState& state)
      : QDBusAbstractAdaptor(parent), state_(state) {}
 public slots:
  void addPort(const QString& port, const QString& protocol) {
    std::lock_guard lock(state_.mutex);
    state_.permanentPorts.push_back(port + QLatin1Char('/') + protocol);
  }

 private:
  StubState& state_;
};

class FirewalldFirewallTest : public ::testing::Test {
 protected:
  FirewalldFirewallTest()
      : address_(QStringLiteral("unix:path=") + QString::fromStdString(dir_.path() + "bus")),
        bus_("/usr/bin/dbus-daemon",
             {"--session", "--nofork", "--address=" + address_.toStdString()}, dir_.path(),
             dir_.path() + "bus.txt") {
    qDBusRegisterMetaType<QList<QStringList>>();
    EXPECT_TRUE(korvane::testing::waitUntil(
        [&] { return std::filesystem::exists(dir_.path() + "bus"); }, std::chrono::seconds(10)));
  }
  ~FirewalldFirewallTest() override {
    if (thread_.isRunning()) {
      thread_.quit();
      thread_.wait();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("stub"));
    QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
  }

  QDBusConnection panelBus() { return QDBusConnection::connectToBus(address_, "panel"); }

  void startStub() {
    QDBusConnection stub = QDBusConnection::connectToBus(address_, QStringLiteral("stub"));
    ASSERT_TRUE(stub.isConnected());
    new MainAdaptor(&main_);
    new ZoneAdaptor(&main_, state_);
    new ConfigAdaptor(&config_);
    new StoredZoneAdaptor(&storedZone_, state_);
    for (QObject* object : std::initializer_list<QObject*>{&main_, &config_, &storedZone_}) {
      object->moveToThread(&thread_);
    }
    thread_.start();
    ASSERT_TRUE(stub.registerObject(QStringLiteral("/org/fedoraproject/FirewallD1"), &main_,
                                    QDBusConnection::ExportAdaptors));
    ASSERT_TRUE(stub.registerObject(QStringLiteral("/org/fedoraproject/FirewallD1/config"),
                                    &config_, QDBusConnection::ExportAdaptors));
    ASSERT_TRUE(stub.registerObject(QStringLiteral("/org/fedoraproject/FirewallD1/config/zone/0"),
                                    &storedZone_, QDBusConnection::ExportAdaptors));
    ASSERT_TRUE(stub.registerService(QString::fromLatin1(FirewalldFirewall::kServiceName)));
  }

  korvane::testing::TempProgramDir dir_;
  QString address_;
  korvane::testing::ChildProcess bus_;
  StubState state_;
  QThread thread_;
  StubObject main_;
  QObject config_;
  QObject storedZone_;
};

TEST_F(FirewalldFirewallTest, WithoutTheServiceTheStepIsSkipped) {
  FirewalldFirewall firewall(panelBus());
  EXPECT_FALSE(firewall.openPorts().has_value());
}

TEST_F(FirewalldFirewallTest, ReadsTheZonesPortsAndOpensOneNowAndForLater) {
  startStub();
  FirewalldFirewall firewall(panelBus());
  const auto open = firewall.openPorts();
  ASSERT_TRUE(open.has_value());
  ASSERT_EQ(open->size(), 1u);
  EXPECT_EQ((*open)[0].port, "7470");
  EXPECT_EQ((*open)[0].protocol, "tcp");

  int step = 0;
  ASSERT_TRUE(firewall.openTcpPort(5555, &step));
  EXPECT_EQ(portsToOpen({7470, 5555}, *firewall.openPorts()), std::vector<int>{});
  std::lock_guard lock(state_.mutex);
  EXPECT_EQ(state_.permanentPorts, std::vector<QString>{QStringLiteral("5555/tcp")});
}

TEST_F(FirewalldFirewallTest, ARefusalNamesItsStep) {
  startStub();
  state_.refuseRuntime = true;
  FirewalldFirewall firewall(panelBus());
  int step = 0;
  EXPECT_FALSE(firewall.openTcpPort(5555, &step));
  EXPECT_EQ(step, FirewalldFirewall::kRuntimeAddFailed);
  EXPECT_TRUE(state_.permanentPorts.empty());
}

}  // namespace
}  // namespace korvane::panel

#include "FirewalldFirewallTest.moc"
