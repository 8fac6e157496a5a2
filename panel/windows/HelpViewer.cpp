#include "panel/windows/HelpViewer.h"

#include <QDesktopServices>
#include <QUrl>

#include "panel/logic/LanguagePacks.h"

namespace korvane::panel {

void HelpViewer::show(const std::string& programDirectory) {
  if (failed_) {
    return;
  }
  const std::string help = installationDirectory(programDirectory) + kActiveHelpName;
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(help)))) {
    failed_ = true;
  }
}

}  // namespace korvane::panel
