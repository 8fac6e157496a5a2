#include "panel/logic/PortMappingEditor.h"

#include "common/HubSettings.h"
#include "panel/logic/HubSettingsForm.h"
#include "panel/logic/HubSettingsText.h"

namespace korvane::panel {

int PortMappingEditor::statusText(bool mapped) {
  return mapped ? text::kMappingSet : text::kMappingNotSet;
}

bool PortMappingEditor::isMapped() {
  return check(storedPort());
}

bool PortMappingEditor::check(int port) {
  // Port 0 is no mapping at all; the router is not asked about it.
  if (port == 0) {
    return false;
  }
  std::string err;
  return mapper_.checkMapping(port, hubPort_, &err) == common::UpnpCheck::kMapped;
}

bool PortMappingEditor::store(std::string_view typedPort, int* port) {
  *port = fieldNumber(typedPort);
  if (*port > common::kMaxPortNumber) {
    view_.showMessage(text::kBadPortNumber);
    return false;
  }
  std::string err;
  if (!config_.writeSnatPort(hubNumber_, *port, &err)) {
    view_.showFailure(err);
    return false;
  }
  return true;
}

bool PortMappingEditor::set(std::string_view typedPort) {
  int port = 0;
  if (!store(typedPort, &port)) {
    return check(storedPort());
  }
  std::string err;
  if (port != 0 && !mapper_.addMapping(port, hubPort_, &err)) {
    view_.showMessage(text::kMappingNotAdded);
  }
  return check(port);
}

bool PortMappingEditor::remove(std::string_view typedPort) {
  int port = 0;
  if (!store(typedPort, &port)) {
    return check(storedPort());
  }
  std::string err;
  if (port != 0) {
    (void)mapper_.deleteMapping(port, &err);
  }
  const bool mapped = check(port);
  if (mapped) {
    view_.showMessage(text::kMappingNotRemoved);
  }
  return mapped;
}

bool PortMappingEditor::accept(std::string_view typedPort) {
  int port = 0;
  return store(typedPort, &port);
}

}  // namespace korvane::panel
