#pragma once

#include <memory>
#include <optional>
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

/// What the router said after a question: whether it maps the port to the hub now, and the
/// string to show about the question (0 for none).
struct RouterAnswer {
  bool mapped = false;
  int message = 0;
};

/// What the dialog asks of the router: whether a port is mapped, to map it, or to remove it.
enum class RouterAction { kCheck, kSet, kRemove };

/// One question to the router about an external port.
struct RouterRequest {
  RouterAction action = RouterAction::kCheck;
  int port = 0;
};

/// The port mapping dialog's decisions for one hub: the external port it edits is the hub's
/// SNATPort, which every button stores before it asks the router, and the internal port is the
/// hub's port as the settings dialog shows it.
///
/// Each question is three steps, so that a window can ask the router off its own thread:
/// `opening` or `press` (the file and any refusal) on the window's thread, then `ask`, which
/// touches nothing but the router and may run on any thread while the window waits, then `show`
/// back on the window's thread.
class PortMappingEditor {
 public:
  PortMappingEditor(common::ManagerConfig& config, int hubNumber, int hubPort, PortMapper& mapper,
                    MessageView& view)
      : config_(config), hubNumber_(hubNumber), hubPort_(hubPort), mapper_(mapper), view_(view) {}

  /// The stored SNATPort, which the port field shows first.
  int storedPort() const { return config_.readSnatPort(hubNumber_); }

  /// Opening the dialog: whether the router maps the stored SNATPort.
  RouterRequest opening() const { return {RouterAction::kCheck, storedPort()}; }
  /// Set mapping or Remove mapping pressed: stores the typed port and gives the request about
  /// it. A port that is not stored (above 65535: string 73; the file's failure) is shown, and
  /// the request becomes the check of the stored port.
  RouterRequest press(RouterAction action, std::string_view typedPort);
  /// OK: a port above 65535 shows string 73 and returns false (the dialog stays open); else the
  /// port is stored and the dialog may end.
  bool accept(std::string_view typedPort);

  /// Whether `request` goes to the router at all: port 0 is no mapping, and every question
  /// about it is answered "not mapped" at once.
  static bool asksRouter(const RouterRequest& request) { return request.port != 0; }
  /// Puts `request` to the router and checks the mapping afterwards: a refused mapping gives
  /// string 77, a mapping still there after its removal string 76. Touches nothing but the
  /// router, so it may run on any thread.
  RouterAnswer ask(const RouterRequest& request) const;
  /// Shows the answer's string, if any; whether the port is mapped.
  bool show(const RouterAnswer& answer);

  /// The status text of a mapped or unmapped port.
  static int statusText(bool mapped);

 private:
  /// Stores the typed port as SNATPort; the port, or nothing after showing why it was not.
  std::optional<int> store(std::string_view typedPort);
  bool isMapped(int port) const;

  common::ManagerConfig& config_;
  int hubNumber_;
  int hubPort_;
  PortMapper& mapper_;
  MessageView& view_;
};

}  // namespace korvane::panel
