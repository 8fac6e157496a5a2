#include "panel/windows/FilterWindow.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "panel/logic/AccountView.h"
#include "panel/logic/EditWindowText.h"

namespace korvane::panel {
namespace {

constexpr int kRuleColumnWidths[] = {140, 200, 100};

// What an IP address control takes: up to four dotted numbers of up to three digits; the rule
// dialog's check refuses what is not a whole address.
const QRegularExpression kDottedInput(QStringLiteral("[0-9]{0,3}(\\.[0-9]{0,3}){0,3}"));

QString qtText(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

FilterWindow::FilterWindow(const ResourceLibrary& library, std::string iniDirectory, int hubNumber,
                           const QString& hubName, int port)
    : HubListWindow(library, hubNumber, hubName, port,
                    {140, text::kFilterTitle, icon::kRuleRefuses, text::kRuleColumnHeaders,
                     kRuleColumnWidths, "FilterList", "Ostrel_FilterListDlg"}),
      iniDirectory_(std::move(iniDirectory)) {
  if (window() == nullptr || list() == nullptr) {
    return;
  }
  onCommand(static_cast<int>(FilterCommand::kAdd), [this] { editRule(false); });
  onCommand(static_cast<int>(FilterCommand::kEdit), [this] { editRule(true); });
  onCommand(static_cast<int>(FilterCommand::kMoveUp), [this] { change(&FilterEditor::moveUp); });
  onCommand(static_cast<int>(FilterCommand::kMoveDown),
            [this] { change(&FilterEditor::moveDown); });
  onCommand(static_cast<int>(FilterCommand::kDelete), [this] { change(&FilterEditor::remove); });
  connect(list(), &QTreeWidget::itemDoubleClicked, this, [this] { editRule(true); });
  refill(QString());
}

std::optional<FilterModel> FilterWindow::openModel() {
  std::string err;
  return FilterModel::open(iniDirectory_, hubNumber(), &err);
}

void FilterWindow::selectionChanged() {
  const FilterMenuState state = filterMenuState(!selectedName().isEmpty());
  const std::pair<FilterCommand, bool> enabled[] = {{FilterCommand::kAdd, state.add},
                                                    {FilterCommand::kEdit, state.edit},
                                                    {FilterCommand::kMoveUp, state.moveUp},
                                                    {FilterCommand::kMoveDown, state.moveDown},
                                                    {FilterCommand::kDelete, state.remove}};
  for (const auto& [command, on] : enabled) {
    if (QAction* action = this->command(static_cast<int>(command))) {
      action->setEnabled(on);
    }
  }
}

void FilterWindow::refill(const QString& keep) {
  list()->clear();
  // A filter file that cannot be read shows as an empty list.
  const std::optional<FilterModel> model = openModel();
  const std::size_t count = model ? model->rules().size() : 0;
  for (std::size_t i = 0; i < count; ++i) {
    const FilterRow row = filterRow(model->rules()[i]);
    auto* item = new QTreeWidgetItem(list());
    item->setIcon(0, library().icon(row.icon));
    item->setText(0, qtText(row.name));
    item->setText(1, qtText(row.match));
    item->setText(2, library().text(row.access));
  }
  const StatusLine line{text::kRuleCountLabel, static_cast<int>(count)};
  const QByteArray label = library().text(line.id).toUtf8();
  setStatusText(QString::fromStdString(statusLineText(label.toStdString(), line)));
  finishFill(keep);
}

void FilterWindow::change(bool (FilterEditor::*operation)(std::string_view, std::string*)) {
  const QString name = selectedName();
  std::optional<FilterModel> model = openModel();
  if (name.isEmpty() || !model) {
    return;
  }
  FilterEditor editor(*model, pipeReloadSender(hubNumber()));
  std::string err;
  if (!(editor.*operation)(name.toStdString(), &err)) {
    showFailure(err);
  }
  refill(name);
}

void FilterWindow::editRule(bool existing) {
  const QString selected = selectedName();
  RuleForm form = newRuleForm();
  if (existing) {
    const std::optional<FilterModel> model = openModel();
    const FilterRule* rule = model ? model->find(selected.toStdString()) : nullptr;
    if (rule == nullptr) {
      return;
    }
    form = ruleFormOf(*rule);
  }
  std::unique_ptr<QWidget> loaded = library().dialog(150, window());
  auto* dialog = qobject_cast<QDialog*>(loaded.get());
  if (dialog == nullptr) {
    return;
  }
  auto* byHost = ResourceLibrary::control<QRadioButton>(dialog, 1064);
  auto* byAddress = ResourceLibrary::control<QRadioButton>(dialog, 1063);
  auto* allow = ResourceLibrary::control<QRadioButton>(dialog, 1065);
  auto* refuse = ResourceLibrary::control<QRadioButton>(dialog, 1066);
  auto* name = ResourceLibrary::control<QLineEdit>(dialog, 1061);
  auto* host = ResourceLibrary::control<QLineEdit>(dialog, 1062);
  auto* address = ResourceLibrary::control<QLineEdit>(dialog, 1057);
  auto* mask = ResourceLibrary::control<QLineEdit>(dialog, 1058);
  auto* hub = ResourceLibrary::control<QLabel>(dialog, 1060);
  auto* previous = ResourceLibrary::control<QLabel>(dialog, 1059);
  if (!byHost || !byAddress || !allow || !refuse || !name || !host || !address || !mask || !hub ||
      !previous) {
    return;
  }
  QList<QWidget*> hostControls = {host};
  QList<QWidget*> addressControls = {address, mask};
  for (int id : {1069, 1072}) {
    hostControls << ResourceLibrary::control<QLabel>(dialog, id);
  }
  for (int id : {1067, 1068}) {
    addressControls << ResourceLibrary::control<QLabel>(dialog, id);
  }
  QWidget* allowPicture = ResourceLibrary::control<QLabel>(dialog, 1070);
  QWidget* refusePicture = ResourceLibrary::control<QLabel>(dialog, 1071);
  hostControls.removeAll(nullptr);
  addressControls.removeAll(nullptr);
  if (allowPicture == nullptr || refusePicture == nullptr) {
    return;
  }
  for (QLineEdit* edit : {address, mask}) {
    edit->setValidator(new QRegularExpressionValidator(kDottedInput, edit));
  }
  hub->setText(QStringLiteral("%1").arg(hubNumber(), 4, 10, QLatin1Char('0')));
  previous->setText(qtText(form.previousName));
  name->setText(qtText(form.name));
  host->setText(qtText(form.hostName));
  address->setText(qtText(form.address));
  mask->setText(qtText(form.mask));
  const auto matchChosen = [=] {
    for (QWidget* widget : hostControls) {
      widget->setEnabled(byHost->isChecked());
    }
    for (QWidget* widget : addressControls) {
      widget->setEnabled(!byHost->isChecked());
    }
  };
  const auto accessChosen = [=] {
    allowPicture->setVisible(allow->isChecked());
    refusePicture->setVisible(!allow->isChecked());
  };
  (form.byHostName ? byHost : byAddress)->setChecked(true);
  (form.allow ? allow : refuse)->setChecked(true);
  matchChosen();
  accessChosen();
  connect(byHost, &QRadioButton::toggled, dialog, matchChosen);
  connect(allow, &QRadioButton::toggled, dialog, accessChosen);

  auto* buttons = ResourceLibrary::control<QDialogButtonBox>(dialog, 1);
  if (buttons == nullptr) {
    return;
  }
  connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, dialog, [&] {
    form.name = name->text().toStdString();
    form.byHostName = byHost->isChecked();
    form.hostName = host->text().toStdString();
    form.address = address->text().toStdString();
    form.mask = mask->text().toStdString();
    form.allow = allow->isChecked();
    std::optional<FilterModel> model = openModel();
    if (!model) {
      return;
    }
    FilterEditor editor(*model, pipeReloadSender(hubNumber()));
    int refusal = 0;
    std::string err;
    if (editor.submit(form, &refusal, &err)) {
      dialog->accept();
    } else if (refusal != 0) {
      showText(refusal);
    } else {
      showFailure(err);
    }
  });
  if (dialog->exec() == QDialog::Accepted) {
    refill(qtText(form.name));
  }
}

}  // namespace korvane::panel
