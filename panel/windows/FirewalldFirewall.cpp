#include "panel/windows/FirewalldFirewall.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>

namespace korvane::panel {
namespace {

const QString kPath = QStringLiteral("/org/fedoraproject/FirewallD1");
const QString kMainInterface = QStringLiteral("org.fedoraproject.FirewallD1");
const QString kZoneInterface = QStringLiteral("org.fedoraproject.FirewallD1.zone");
const QString kConfigPath = QStringLiteral("/org/fedoraproject/FirewallD1/config");
const QString kConfigInterface = QStringLiteral("org.fedoraproject.FirewallD1.config");
const QString kConfigZoneInterface = QStringLiteral("org.fedoraproject.FirewallD1.config.zone");

std::vector<ZonePort> portsOf(const QDBusArgument& argument) {
  std::vector<ZonePort> ports;
  argument.beginArray();
  while (!argument.atEnd()) {
    QStringList entry;
    argument >> entry;
    if (entry.size() >= 2) {
      ports.push_back({entry[0].toStdString(), entry[1].toStdString()});
    }
  }
  argument.endArray();
  return ports;
}

// A port that is open already counts as opened: firewalld refuses it as ALREADY_ENABLED.
bool added(const QDBusMessage& reply) {
  return reply.type() == QDBusMessage::ReplyMessage ||
         reply.errorMessage().contains(QStringLiteral("ALREADY_ENABLED"));
}

}  // namespace

std::optional<QString> FirewalldFirewall::defaultZone() {
  if (zone_) {
    return zone_;
  }
  if (!bus_.isConnected() || bus_.interface() == nullptr ||
      !bus_.interface()->isServiceRegistered(QString::fromLatin1(kServiceName))) {
    return std::nullopt;
  }
  QDBusInterface firewall(QString::fromLatin1(kServiceName), kPath, kMainInterface, bus_);
  firewall.setTimeout(kCallTimeoutMs);
  const QDBusReply<QString> zone = firewall.call(QStringLiteral("getDefaultZone"));
  if (!zone.isValid()) {
    return std::nullopt;
  }
  zone_ = zone.value();
  return zone_;
}

std::optional<std::vector<ZonePort>> FirewalldFirewall::openPorts() {
  const std::optional<QString> zone = defaultZone();
  if (!zone) {
    return std::nullopt;
  }
  QDBusInterface zones(QString::fromLatin1(kServiceName), kPath, kZoneInterface, bus_);
  zones.setTimeout(kCallTimeoutMs);
  const QDBusMessage reply = zones.call(QStringLiteral("getPorts"), *zone);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
      !reply.arguments().front().canConvert<QDBusArgument>()) {
    return std::nullopt;
  }
  return portsOf(reply.arguments().front().value<QDBusArgument>());
}

bool FirewalldFirewall::openTcpPort(int port, int* step) {
  const std::optional<QString> zone = defaultZone();
  const QString portText = QString::number(port);
  const QString protocol = QStringLiteral("tcp");
  QDBusInterface zones(QString::fromLatin1(kServiceName), kPath, kZoneInterface, bus_);
  zones.setTimeout(kCallTimeoutMs);
  if (!zone || !added(zones.call(QStringLiteral("addPort"), *zone, portText, protocol, 0))) {
    *step = kRuntimeAddFailed;
    return false;
  }
  // The running zone forgets the port when the firewall restarts; its stored settings keep it.
  QDBusInterface config(QString::fromLatin1(kServiceName), kConfigPath, kConfigInterface, bus_);
  config.setTimeout(kCallTimeoutMs);
  const QDBusReply<QDBusObjectPath> zonePath = config.call(QStringLiteral("getZoneByName"), *zone);
  if (!zonePath.isValid()) {
    *step = kPermanentAddFailed;
    return false;
  }
  QDBusInterface stored(QString::fromLatin1(kServiceName), zonePath.value().path(),
                        kConfigZoneInterface, bus_);
  stored.setTimeout(kCallTimeoutMs);
  if (!added(stored.call(QStringLiteral("addPort"), portText, protocol))) {
    *step = kPermanentAddFailed;
    return false;
  }
  return true;
}

}  // namespace korvane::panel
