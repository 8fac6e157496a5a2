// Ostrel, the control panel: "Ostrel english" or "Ostrel japanese" switches the language packs
// and ends; without a switch it shows the main window.

#include <string>
#include <vector>

#include "panel/logic/PanelStartup.h"
#include "panel/windows/Panel.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  korvane::panel::Panel panel(argc, argv);
  return korvane::panel::runStartup(arguments, panel);
}
