#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/ManagerConfig.h"
#include "common/UpnpClient.h"
#include "panel/logic/MessageView.h"

namespace korvane::panel {

/// The router operations of the port mapping dialog (external TCP port to an internal port of
/// this computer).
class PortMapper {
 public:
  virtual ~PortMapper() = default;
  /// Maps `port` to `internalPort` of this computer; false with the reason in `err`.
  [[nodiscard]] virtual bool addMapping(int port, int internalPort, std::string* err) = 0;
  /// Whether the router maps `port` to `internalPort` of this computer.
  virtual common::UpnpCheck checkMapping(int port, int internalPort, std::string* err) = 0;
  /// Removes the mapping of `port`; false with the reason in `err`.
  [[nodiscard]] virtual bool deleteMapping(int port, std::string* err) = 0;
};

/// The router found by UPnP discovery, anew for each operation.
class UpnpPortMapper : public PortMapper {
 public:
  bool addMapping(int port, int internalPort, std::string* err) override {
    return client_.addMapping(port, internalPort, err);
  }
  common::UpnpCheck checkMapping(int port, int internalPort, std::string* err) override {
    return client_.checkMapping(port, internalPort, err);
  }
  bool deleteMapping(int port, std::string* err) override {
    return client_.deleteMapping(port, err);
  }

 private:
  common::UpnpClient client_;
};

/// The port mapping dialog's decisions for one hub: the external port it edits is the hub's
/// SNATPort, which every button stores before it asks the router, and the internal port is the
/// hub's port as the settings dialog shows it.
class PortMappingEditor {
 public:
  PortMappingEditor(common::ManagerConfig& config, int hubNumber, int hubPort, PortMapper& mapper,
                    MessageView& view)
      : config_(config), hubNumber_(hubNumber), hubPort_(hubPort), mapper_(mapper), view_(view) {}

  /// The stored SNATPort, which the port field shows first.
  int storedPort() const { return config_.readSnatPort(hubNumber_); }

  /// Whether the router maps the stored SNATPort to the hub now; false for SNATPort 0.
  bool isMapped();
  /// Set mapping: stores the typed port, asks the router to map it and checks. A refused port
  /// shows string 73, a failed mapping string 77. Whether the port is mapped afterwards.
  bool set(std::string_view typedPort);
  /// Remove mapping: stores the typed port, asks the router to remove it and checks; a mapping
  /// still there shows string 76. Whether the port is mapped afterwards.
  bool remove(std::string_view typedPort);
  /// OK: a port above 65535 shows string 73 and returns false (the dialog stays open); else the
  /// port is stored and the dialog may end.
  bool accept(std::string_view typedPort);

  /// The status text of a mapped or unmapped port.
  static int statusText(bool mapped);

 private:
  [[nodiscard]] bool store(std::string_view typedPort, int* port);
  bool check(int port);

  common::ManagerConfig& config_;
  int hubNumber_;
  int hubPort_;
  PortMapper& mapper_;
  MessageView& view_;
};

}  // namespace korvane::panel
