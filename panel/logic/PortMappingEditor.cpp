#include "panel/logic/PortMappingEditor.h"

#include "common/HubSettings.h"
#include "panel/logic/HubSettingsForm.h"
#include "panel/logic/HubSettingsText.h"

namespace korvane::panel {

int PortMappingEditor::statusText(bool mapped) {
  return mapped ? text::kMappingSet : text::kMappingNotSet;
}

bool PortMappingEditor::isMapped() {
  return show(askCheck(storedPort()));
}

bool PortMappingEditor::set(std::string_view typedPort) {
  const std::optional<int> port = store(typedPort);
  return show(port ? askSet(*port) : askCheck(storedPort()));
}

bool PortMappingEditor::remove(std::string_view typedPort) {
  const std::optional<int> port = store(typedPort);
  return show(port ? askRemove(*port) : askCheck(storedPort()));
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

RouterAnswer PortMappingEditor::askCheck(int port) const {
  if (!asksRouter(port)) {
    return {};
  }
  std::string err;
  return {.mapped = mapper_.checkMapping(port, hubPort_, &err) == common::UpnpCheck::kMapped};
}

RouterAnswer PortMappingEditor::askSet(int port) const {
  if (!asksRouter(port)) {
    return {};
  }
  std::string err;
  const bool added = mapper_.addMapping(port, hubPort_, &err);
  RouterAnswer answer = askCheck(port);
  if (!added) {
    answer.message = text::kMappingNotAdded;
  }
  return answer;
}

RouterAnswer PortMappingEditor::askRemove(int port) const {
  if (!asksRouter(port)) {
    return {};
  }
  std::string err;
  (void)mapper_.deleteMapping(port, &err);
  RouterAnswer answer = askCheck(port);
  if (answer.mapped) {
    answer.message = text::kMappingNotRemoved;
  }
  return answer;
}

bool PortMappingEditor::show(const RouterAnswer& answer) {
  if (answer.message != 0) {
    view_.showMessage(answer.message);
  }
  return answer.mapped;
}

}  // namespace korvane::panel
