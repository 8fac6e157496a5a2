#include "panel/logic/PortMappingEditor.h"

#include "common/HubSettings.h"
#include "panel/logic/HubSettingsForm.h"
#include "panel/logic/HubSettingsText.h"

namespace korvane::panel {

int PortMappingEditor::statusText(bool mapped) {
  return mapped ? text::kMappingSet : text::kMappingNotSet;
}

RouterRequest PortMappingEditor::press(RouterAction action, std::string_view typedPort) {
  if (const std::optional<int> port = store(typedPort)) {
    return {action, *port};
  }
  return opening();
}

bool PortMappingEditor::accept(std::string_view typedPort) {
  return store(typedPort).has_value();
}

std::optional<int> PortMappingEditor::store(std::string_view typedPort) {
  const int port = fieldNumber(typedPort);
  if (port > common::kMaxPortNumber) {
    view_.showMessage(text::kBadPortNumber);
    return std::nullopt;
  }
  std::string err;
  if (!config_.writeSnatPort(hubNumber_, port, &err)) {
    view_.showFailure(err);
    return std::nullopt;
  }
  return port;
}

bool PortMappingEditor::isMapped(int port) const {
  std::string err;
  return mapper_.checkMapping(port, hubPort_, &err) == common::UpnpCheck::kMapped;
}

RouterAnswer PortMappingEditor::ask(const RouterRequest& request) const {
  if (!asksRouter(request)) {
    return {};
  }
  std::string err;
  switch (request.action) {
    case RouterAction::kCheck:
      return {.mapped = isMapped(request.port)};
    case RouterAction::kSet: {
      const bool added = mapper_.addMapping(request.port, hubPort_, &err);
      return {.mapped = isMapped(request.port), .message = added ? 0 : text::kMappingNotAdded};
    }
    case RouterAction::kRemove: {
      (void)mapper_.deleteMapping(request.port, &err);
      const bool mapped = isMapped(request.port);
      return {.mapped = mapped, .message = mapped ? text::kMappingNotRemoved : 0};
    }
  }
  return {};
}

bool PortMappingEditor::show(const RouterAnswer& answer) {
  if (answer.message != 0) {
    view_.showMessage(answer.message);
  }
  return answer.mapped;
}

}  // namespace korvane::panel
