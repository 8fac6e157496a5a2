// kvhub: one virtual hub. Started by the manager as "kvhub NNNN MANAGER-PID".

#include "hub/HubCommandLine.h"
#include "hub/HubProcess.h"

int main(int argc, char** argv) {
  using namespace korvane;
  const auto commandLine = hub::parseHubCommandLine(hub::joinArguments(argc, argv));
  return hub::runHubProcess(commandLine, platform::systemClock());
}
