#include "panel/windows/HubSettingsDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <initializer_list>
#include <span>

#include "common/HubSettings.h"
#include "panel/windows/KeyGeneratorDialog.h"
#include "panel/windows/PortMappingDialog.h"

namespace korvane::panel {
namespace {

/// Controls a running hub keeps read-only: its port, limit, authentication and log retention
/// take effect only when it starts.
constexpr int kHubWideControls[] = {1004, 1074, 1075, 1076, 1008, 1009,
                                    1087, 1089, 1090, 1091, 1092, 1093};
/// The DHCP range, mask and lease time with their labels.
constexpr int kRangeControls[] = {1029, 1030, 1031, 1032, 1033, 1034, 1039,
                                  1040, 1042, 1044, 1048, 1049, 1050};
/// The key with its labels and its generator.
constexpr int kKeyControls[] = {1036, 1045, 1046, 1047, 1025};

/// The radio button of each DHCP option.
constexpr std::pair<DhcpMode, int> kModeButtons[] = {
    {DhcpMode::kNone, 1096}, {DhcpMode::kBlocking, 1095}, {DhcpMode::kService, 1098}};

QString qText(const std::string& text) {
  return QString::fromStdString(text);
}

void acceptOnly(QLineEdit* edit, const QString& pattern) {
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
}

}  // namespace

HubSettingsDialog::HubSettingsDialog(const ResourceLibrary& library, common::ManagerConfig& config,
                                     AccountModelCache& models, int hubNumber, bool newHub,
                                     QWidget* parent)
    : library_(library),
      config_(config),
      mapperFactory_([] { return std::make_unique<UpnpPortMapper>(); }) {
  std::unique_ptr<QWidget> widget = library.dialog(102, parent);
  if (qobject_cast<QDialog*>(widget.get()) != nullptr) {
    dialog_.reset(static_cast<QDialog*>(widget.release()));
  }
  view_ = std::make_unique<MessageBoxView>(library, dialog_.get() ? dialog_.get() : parent);
  editor_ = std::make_unique<HubSettingsEditor>(config, models, hubNumber, newHub, *view_);
  if (dialog_ == nullptr) {
    return;
  }
  if (auto* number = control<QLabel>(1088)) {
    number->setText(QString::number(hubNumber));
  }
  if (auto* range = control<QLabel>(1076)) {
    range->setText(
        range->text().replace(QStringLiteral("%d"), QString::number(common::kMaxConnectionsLimit)));
  }
  if (auto* domains = control<QComboBox>(1107)) {
    for (const std::string& name : editor_->domainNames()) {
      domains->addItem(qText(name));
    }
  }
  for (const int id : {1004, 1074, 1089, 1090, 1039, 1040, 1042}) {
    if (auto* edit = control<QLineEdit>(id)) {
      acceptOnly(edit, QStringLiteral("[0-9]*"));
    }
  }
  for (const int id : {1029, 1030, 1031}) {
    if (auto* edit = control<QLineEdit>(id)) {
      acceptOnly(edit, QStringLiteral("[0-9.]*"));
    }
  }
  fill(editor_->initialForm());
  connectControls();
  applyEnabling();
}

HubSettingsDialog::~HubSettingsDialog() = default;

void HubSettingsDialog::connectControls() {
  QDialog* dialog = dialog_.get();
  if (auto* button = control<QPushButton>(1)) {
    QObject::connect(button, &QPushButton::clicked, dialog, [this] { ok(); });
  }
  if (auto* cancel = control<QPushButton>(2)) {
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  }
  // Cancel, Escape and the window's close button all end here.
  QObject::connect(dialog, &QDialog::rejected, dialog, [this] { editor_->cancel(); });
  if (auto* domains = control<QComboBox>(1107)) {
    QObject::connect(domains, &QComboBox::currentIndexChanged, dialog,
                     [this](int index) { selectDomain(index); });
  }
  for (const int id : {1008, 1009, 1096, 1095, 1098}) {
    if (auto* button = control<QRadioButton>(id)) {
      QObject::connect(button, &QRadioButton::toggled, dialog, [this] { applyEnabling(); });
    }
  }
  if (auto* lower = control<QLineEdit>(1030)) {
    QObject::connect(lower, &QLineEdit::editingFinished, dialog, [this, lower] {
      if (const auto mask = classfulMask(lower->text().toStdString())) {
        control<QLineEdit>(1029)->setText(qText(*mask));
      }
    });
  }
  clampOnLeaving(1040, kMaxLeaseHours);
  clampOnLeaving(1042, kMaxLeaseMinutes);
  clampOnLeaving(1090, kMaxLogMonths);
  if (auto* generate = control<QPushButton>(1025)) {
    QObject::connect(generate, &QPushButton::clicked, dialog, [this] { generateKey(); });
  }
  if (auto* mapping = control<QPushButton>(1077)) {
    QObject::connect(mapping, &QPushButton::clicked, dialog, [this] { mapPort(); });
  }
}

void HubSettingsDialog::clampOnLeaving(int id, int highest) {
  if (auto* edit = control<QLineEdit>(id)) {
    QObject::connect(edit, &QLineEdit::editingFinished, dialog_.get(), [edit, highest] {
      edit->setText(qText(clampedNumberText(edit->text().toStdString(), highest)));
    });
  }
}

void HubSettingsDialog::fill(const HubSettingsForm& form) {
  const auto set = [this](int id, const std::string& text) {
    if (auto* edit = control<QLineEdit>(id)) {
      edit->setText(qText(text));
    }
  };
  set(1003, form.name);
  set(1004, form.port);
  set(1074, form.maxConnections);
  set(1089, form.logDays);
  set(1090, form.logMonths);
  if (auto* on = control<QRadioButton>(form.authentication ? 1008 : 1009)) {
    on->setChecked(true);
  }
  set(1030, form.lowerAddress);
  set(1031, form.upperAddress);
  set(1029, form.subnetMask);
  set(1039, form.leaseDays);
  set(1040, form.leaseHours);
  set(1042, form.leaseMinutes);
  set(1036, form.key);
  showDhcpMode(form.dhcpMode);
}

HubSettingsForm HubSettingsDialog::form() const {
  const auto text = [this](int id) {
    const auto* edit = control<QLineEdit>(id);
    return edit == nullptr ? std::string() : edit->text().toStdString();
  };
  const auto checked = [this](int id) {
    const auto* button = control<QRadioButton>(id);
    return button != nullptr && button->isChecked();
  };
  HubSettingsForm form;
  form.name = text(1003);
  form.port = text(1004);
  form.maxConnections = text(1074);
  form.authentication = checked(1008);
  form.logDays = text(1089);
  form.logMonths = text(1090);
  for (const auto& [mode, id] : kModeButtons) {
    if (checked(id)) {
      form.dhcpMode = mode;
    }
  }
  form.lowerAddress = text(1030);
  form.upperAddress = text(1031);
  form.subnetMask = text(1029);
  form.leaseDays = text(1039);
  form.leaseHours = text(1040);
  form.leaseMinutes = text(1042);
  form.key = text(1036);
  return form;
}

void HubSettingsDialog::selectDomain(int index) {
  if (index < 0) {
    return;
  }
  domainIndex_ = index;
  HubSettingsForm shown = form();
  editor_->loadDomain(static_cast<std::size_t>(index), &shown);
  fill(shown);
  applyEnabling();
}

void HubSettingsDialog::showDhcpMode(DhcpMode mode) {
  for (const auto& [buttonMode, id] : kModeButtons) {
    if (auto* button = control<QRadioButton>(id); button != nullptr && buttonMode == mode) {
      button->setChecked(true);
    }
  }
}

void HubSettingsDialog::applyEnabling() {
  const bool stopped = !editor_->hubRunning();
  for (const int id : kHubWideControls) {
    if (auto* widget = control<QWidget>(id)) {
      widget->setEnabled(stopped);
    }
  }
  const DhcpControlStates states = dhcpControlStates(form().dhcpMode);
  const auto enable = [this](std::span<const int> ids, bool on) {
    for (const int id : ids) {
      if (auto* widget = control<QWidget>(id)) {
        widget->setEnabled(on);
      }
    }
  };
  enable(kRangeControls, states.range);
  enable(kKeyControls, states.key);
  const bool authentication = form().authentication;
  if (auto* on = control<QLabel>(1018)) {
    on->setVisible(authentication);
  }
  if (auto* off = control<QLabel>(1019)) {
    off->setVisible(!authentication);
  }
}

void HubSettingsDialog::ok() {
  if (editor_->accept(form(), static_cast<std::size_t>(domainIndex_))) {
    dialog_->done(QDialog::Accepted);
  }
}

void HubSettingsDialog::generateKey() {
  if (const std::optional<QString> key = KeyGeneratorDialog::run(library_, dialog_.get())) {
    control<QLineEdit>(1036)->setText(*key);
  }
}

void HubSettingsDialog::mapPort() {
  const std::unique_ptr<PortMapper> mapper = mapperFactory_();
  PortMappingDialog mapping(library_, config_, editor_->hubNumber(), fieldNumber(form().port),
                            *mapper, dialog_.get());
  (void)mapping.exec();
}

void HubSettingsDialog::open() {
  if (dialog_ != nullptr) {
    dialog_->show();
  }
}

bool HubSettingsDialog::exec() {
  if (dialog_ == nullptr) {
    editor_->cancel();
    return false;
  }
  return dialog_->exec() == QDialog::Accepted;
}

}  // namespace korvane::panel
