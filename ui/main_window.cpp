#include "ui/main_window.h"

#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStatusTipEvent>
#include <QVBoxLayout>

#include "app/string_table.h"
#include "config/config.h"
#include "errors/error_log.h"
#include "ui/about_dialog.h"
#include "ui/artwork.h"
#include "ui/help_opener.h"
#include "ui/language_menu.h"
#include "ui/login_dialog.h"
#include "ui/msg_box.h"
#include "ui/progress_status_bar.h"
#include "ui/table_text.h"
#include "ui/wait_dialog.h"
#include "workflow/main_controller.h"

namespace orvik {
namespace {

constexpr int kSerialLength = 11;
constexpr int kActionButtonWidth = 176;
constexpr int kFieldWidth = 210;

// Writing a saved personality back, after an update that failed on the way.
const char* const kRestoreMenuText = "&Restore Personality...";
const char* const kRestoreTip = "Write a saved personality back to the radio";
const char* const kRestoreCaption = "Restore Personality";
const char* const kBackupFilter = "Personality backups (*.orvp)";

// Test mode, which a console program turns on: the window says so and offers the way out.
const char* const kTestModeBanner =
    "Test mode: a console program drives this tool. Updates run without any question, "
    "downgrades included, and their results go to the console. Setting > Leave Test Mode "
    "ends it.";
const char* const kLeaveTestModeText = "&Leave Test Mode";
const char* const kLeaveTestModeTip = "Leave test mode: updates ask first and show their results";
const char* const kBackupSaved =
    "%1\n\nThe radio's personality is saved in\n%2\nWhen the radio works again, write it back "
    "with File > Restore Personality.";

// The panel's labels in the order of the fields, and whether the label gets a colon.
struct PanelLabel {
  StringId textId;
  bool colon;
};
constexpr std::array<PanelLabel, COstrelFlashToolDlg::kPanelFieldCount> kPanelLabels = {{
    {StringId::RadioTypeLabel, true},
    {StringId::RegionalCodeLabel, true},
    {StringId::ModelLabel, true},
    {StringId::SerialNumberLabel, true},
    {StringId::FirmwareVersionLabel, true},
    {StringId::KeypadVersionLabel, true},
    {StringId::CodeplugVersionLabel, true},
    {StringId::UnitPrivateIdLabel, false},
}};

// The wait cursor of a running action is the whole application's; a question or a result
// shown meanwhile gets the arrow back while it is up.
class ArrowWhileAsking {
 public:
  ArrowWhileAsking() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
  ~ArrowWhileAsking() { QApplication::restoreOverrideCursor(); }
  ArrowWhileAsking(const ArrowWhileAsking&) = delete;
  ArrowWhileAsking& operator=(const ArrowWhileAsking&) = delete;
};

QPushButton* actionButton(const QString& label, QWidget* parent) {
  auto* button = new QPushButton(label, parent);
  button->setMinimumWidth(kActionButtonWidth);
  button->setMinimumHeight(30);
  // Enter presses the focused button; elsewhere in the window it does nothing.
  button->setAutoDefault(true);
  return button;
}

}  // namespace

COstrelFlashToolDlg::COstrelFlashToolDlg(Config& config, QtMessagePump& pump, QWidget* parent)
    : QMainWindow(parent), config_(config) {
  waitView_ = std::make_unique<QtWaitView>(pump, this);
  messageBoxRunner_ = [](CMsgBox& box) { return box.exec(); };
  passwordRunner_ = [](CDialogPwd& dialog) { return dialog.exec(); };
  helpLauncher_ = processLauncher(this);
  fileChooser_ = [this](const QString& folder) {
    return QFileDialog::getOpenFileName(this, QString::fromLatin1(kRestoreCaption), folder,
                                        QString::fromLatin1(kBackupFilter));
  };

  setWindowIcon(applicationIcon());
  const QPixmap radio = radioPicture();
  // One picture per selector, as the package may ask for any of three; they look alike.
  for (const int image : {0, 1, 2}) {
    pictures_[image] = radio;
  }

  auto* central = new QWidget(this);
  buildPanel(central);
  setCentralWidget(central);

  statusBar_ = new CProgressStatusBar(this);
  setStatusBar(statusBar_);
  buildMenus();
  setPicture(0);
  fitToContents();
}

COstrelFlashToolDlg::~COstrelFlashToolDlg() {
  while (busyDepth_ > 0) {
    setBusyCursor(false);
  }
}

void COstrelFlashToolDlg::buildPanel(QWidget* central) {
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(14, 12, 14, 12);
  outer->setSpacing(12);

  testModeBanner_ = new QLabel(QString::fromLatin1(kTestModeBanner), central);
  testModeBanner_->setWordWrap(true);
  testModeBanner_->setFrameShape(QFrame::StyledPanel);
  testModeBanner_->setMargin(8);
  testModeBanner_->setAutoFillBackground(true);
  QPalette bannerPalette = testModeBanner_->palette();
  bannerPalette.setColor(QPalette::Window, QColor(255, 236, 179));
  bannerPalette.setColor(QPalette::WindowText, Qt::black);
  testModeBanner_->setPalette(bannerPalette);
  testModeBanner_->setVisible(false);
  outer->addWidget(testModeBanner_);

  // Radio information: the fields on the left, the picture and the time stamp on the right.
  auto* infoGroup = new QGroupBox(tableText(StringId::RadioInformationGroup), central);
  auto* info = new QGridLayout(infoGroup);
  info->setContentsMargins(14, 14, 14, 14);
  info->setHorizontalSpacing(12);
  info->setVerticalSpacing(6);
  for (int i = 0; i < kPanelFieldCount; ++i) {
    const PanelLabel& label = kPanelLabels[static_cast<std::size_t>(i)];
    QString caption = tableText(label.textId);
    if (label.colon) {
      caption += QLatin1Char(':');
    }
    auto* name = new QLabel(caption, infoGroup);
    auto* field = new QLineEdit(infoGroup);
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::ClickFocus);
    field->setMinimumWidth(kFieldWidth);
    field->setText(tableText(StringId::NotAvailable));
    // Read-only fields look it, so nobody tries to type into them.
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window).lighter(104));
    field->setPalette(palette);
    name->setBuddy(field);
    info->addWidget(name, i, 0);
    info->addWidget(field, i, 1);
    labels_[static_cast<std::size_t>(i)] = name;
    fields_[static_cast<std::size_t>(i)] = field;
  }

  auto* pictureColumn = new QVBoxLayout();
  pictureColumn->setSpacing(6);
  picture_ = new QLabel(infoGroup);
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setMinimumSize(kActionButtonWidth, 214);
  picture_->setFrameShape(QFrame::StyledPanel);
  picture_->setFrameShadow(QFrame::Sunken);
  picture_->setAutoFillBackground(true);
  QPalette picturePalette = picture_->palette();
  picturePalette.setColor(QPalette::Window, picturePalette.color(QPalette::Base));
  picture_->setPalette(picturePalette);
  pictureColumn->addWidget(picture_, 1);
  timeStamp_ = new QLabel(tableText(StringId::NoTimeStamp), infoGroup);
  timeStamp_->setAlignment(Qt::AlignCenter);
  timeStamp_->setVisible(false);
  // Keeps its room while hidden, so the panel does not jump after the first read.
  QSizePolicy keep = timeStamp_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  timeStamp_->setSizePolicy(keep);
  pictureColumn->addWidget(timeStamp_);
  getInfoButton_ = actionButton(tableText(StringId::GetRadioInformationButton), infoGroup);
  pictureColumn->addWidget(getInfoButton_);
  info->addLayout(pictureColumn, 0, 2, kPanelFieldCount, 1);
  info->setColumnStretch(1, 1);
  info->setColumnMinimumWidth(2, kActionButtonWidth);
  outer->addWidget(infoGroup);

  // Update.
  auto* updateGroup = new QGroupBox(tableText(StringId::UpdateButton), central);
  auto* update = new QHBoxLayout(updateGroup);
  update->setContentsMargins(14, 10, 14, 12);
  keepBox_ = new QCheckBox(tableText(StringId::KeepPersonalityBox), updateGroup);
  updateButton_ = actionButton(tableText(StringId::UpdateButton), updateGroup);
  update->addWidget(keepBox_);
  update->addStretch(1);
  update->addWidget(updateButton_);
  outer->addWidget(updateGroup);

  // The dealer's serial number, shown only in dealer mode.
  serialGroup_ = new QGroupBox(tableText(StringId::SerialNumberLabel), central);
  auto* serial = new QHBoxLayout(serialGroup_);
  serial->setContentsMargins(14, 10, 14, 12);
  serial->setSpacing(12);
  auto* serialLabel = new QLabel(tableText(StringId::SerialNumberLabel), serialGroup_);
  serialEdit_ = new QLineEdit(serialGroup_);
  serialEdit_->setMaxLength(kSerialLength);
  serialEdit_->setMinimumWidth(kFieldWidth - 40);
  serialLabel->setBuddy(serialEdit_);
  serialButton_ = actionButton(tableText(StringId::UpdateSerialNumberButton), serialGroup_);
  // The entry lines up with the panel's fields above it.
  int labelWidth = 0;
  for (const QLabel* label : labels_) {
    labelWidth = std::max(labelWidth, label->sizeHint().width());
  }
  serialLabel->setMinimumWidth(labelWidth);
  serial->addWidget(serialLabel);
  serial->addWidget(serialEdit_, 1);
  serial->addWidget(serialButton_);
  outer->addWidget(serialGroup_);
  outer->addStretch(1);

  connect(getInfoButton_, &QPushButton::clicked, this, [this] {
    if (controller_ != nullptr) {
      controller_->onGetRadioInfo();
    }
  });
  connect(updateButton_, &QPushButton::clicked, this, [this] {
    if (controller_ != nullptr) {
      controller_->onUpdate();
    }
  });
  connect(serialButton_, &QPushButton::clicked, this, [this] {
    if (controller_ != nullptr) {
      controller_->onUpdateSerialNumber();
    }
  });
}

void COstrelFlashToolDlg::buildMenus() {
  const auto addAction = [this](QMenu* menu, int id, const QString& label, StringId tipId) {
    QAction* action = menu->addAction(label);
    action->setStatusTip(tableText(tipId));
    actions_[id] = action;
    return action;
  };
  // Opening a menu shows the general hint until an item is highlighted.
  const auto hintOnOpen = [this](QMenu* menu) {
    connect(menu, &QMenu::aboutToShow, this,
            [this] { setHelpText(tableText(StringId::HelpPrompt)); });
  };

  fileMenu_ = menuBar()->addMenu(tableText(StringId::FileMenu));
  hintOnOpen(fileMenu_);
  QAction* restore = fileMenu_->addAction(QString::fromLatin1(kRestoreMenuText));
  restore->setStatusTip(QString::fromLatin1(kRestoreTip));
  actions_[kRestorePersonalityId] = restore;
  connect(restore, &QAction::triggered, this, &COstrelFlashToolDlg::onRestorePersonality);
  fileMenu_->addSeparator();
  QAction* exitAction =
      addAction(fileMenu_, kExitId, tableText(StringId::ExitMenu), StringId::ExitTip);
  exitAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  connect(exitAction, &QAction::triggered, this, &COstrelFlashToolDlg::onExit);

  settingMenu_ = menuBar()->addMenu(tableText(StringId::SettingMenu));
  hintOnOpen(settingMenu_);
  QAction* login = addAction(settingMenu_, kDealerLoginId, tableText(StringId::DealerLoginMenu),
                             StringId::DealerLoginTip);
  connect(login, &QAction::triggered, this, [this] {
    if (controller_ != nullptr) {
      controller_->onDealerLogin();
    }
  });
  QAction* leave = settingMenu_->addAction(QString::fromLatin1(kLeaveTestModeText));
  leave->setStatusTip(QString::fromLatin1(kLeaveTestModeTip));
  leave->setVisible(false);  // only in test mode
  actions_[kLeaveTestModeId] = leave;
  connect(leave, &QAction::triggered, this, [this] {
    if (controller_ != nullptr) {
      controller_->onLeaveTestMode();
    }
  });
  buildLanguageMenu();

  helpMenu_ = menuBar()->addMenu(tableText(StringId::HelpMenu));
  hintOnOpen(helpMenu_);
  QAction* contents = addAction(helpMenu_, kHelpContentsId, tableText(StringId::HelpContentsMenu),
                                StringId::HelpTip);
  contents->setShortcut(QKeySequence(Qt::Key_F1));
  contents->setShortcutContext(Qt::WindowShortcut);
  connect(contents, &QAction::triggered, this, &COstrelFlashToolDlg::onHelp);
  helpMenu_->addSeparator();
  QAction* about =
      addAction(helpMenu_, kAboutId, tableText(StringId::AboutMenu), StringId::AboutTip);
  connect(about, &QAction::triggered, this, &COstrelFlashToolDlg::onAbout);
}

void COstrelFlashToolDlg::buildLanguageMenu() {
  auto* languages = new QMenu(tableText(StringId::LanguageMenu), settingMenu_);
  languageGroup_ = new QActionGroup(languages);
  languageGroup_->setExclusive(true);
  std::string code;
  while (config_.NextLanguage(code)) {
    if (const LanguageEntry* entry = findLanguage(code)) {
      QAction* action = languages->addAction(tableText(entry->textId));
      action->setCheckable(true);
      action->setData(entry->menuId);
      languageGroup_->addAction(action);
      actions_[entry->menuId] = action;
      const int id = entry->menuId;
      connect(action, &QAction::triggered, this, [this, id] { onLanguage(id); });
    } else {
      // Listed under its own code, with an id outside the language range: it does nothing.
      QAction* action = languages->addAction(QString::fromStdString(code));
      action->setData(static_cast<int>(settingMenu_->actions().size()));
    }
  }
  if (languages->actions().isEmpty()) {
    delete languages;
    return;
  }
  languageMenu_ = languages;
  settingMenu_->addMenu(languages);
  if (!config_.currentLanguage.empty()) {
    if (const LanguageEntry* current = findLanguage(config_.currentLanguage)) {
      if (QAction* action = menuAction(current->menuId)) {
        action->setChecked(true);
        QFont bold = action->font();
        bold.setBold(true);
        action->setFont(bold);
      }
    }
  }
}

QAction* COstrelFlashToolDlg::menuAction(int id) const {
  const auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
}

void COstrelFlashToolDlg::fitToContents() {
  centralWidget()->layout()->activate();
  layout()->activate();
  setFixedSize(sizeHint());
}

void COstrelFlashToolDlg::setPicture(int image) {
  const auto found = pictures_.find(image);
  if (found == pictures_.end() || image == currentPicture_) {
    return;
  }
  currentPicture_ = image;
  picture_->setPixmap(found->second);
  picture_->repaint();
}

void COstrelFlashToolDlg::setHelpText(const QString& text) {
  statusBar_->setHelpText(text);
}

// --- menu commands ------------------------------------------------------------------------

void COstrelFlashToolDlg::onExit() {
  if (controller_ == nullptr || controller_->requestExit()) {
    close();
  }
}

void COstrelFlashToolDlg::onRestorePersonality() {
  // Not while another action runs (a console may have started one).
  if (controller_ == nullptr || controller_->busyOperation() != MainController::kIdle) {
    return;
  }
  const QString folder =
      QString::fromStdString(controller_->programCommand().backupFolder.string());
  const QString file = fileChooser_(folder);
  if (file.isEmpty()) {
    return;
  }
  // The controller asks before it writes anything.
  controller_->onRestorePersonality(std::filesystem::path(file.toStdString()));
}

void COstrelFlashToolDlg::onAbout() {
  CAboutDlg about(this, packageSigner_);
  about.exec();
}

void COstrelFlashToolDlg::onHelp() {
  const std::string code =
      config_.currentLanguage.empty() ? kDefaultHelpLanguage : config_.currentLanguage;
  // The opener may still run when the answer comes: it reaches the window only while it lives.
  QPointer<COstrelFlashToolDlg> self(this);
  openHelp(helpLauncher_, baseFolder_ / "lang", code, [self] {
    if (self != nullptr) {
      self->showMessage(stringText(StringId::HelpUnavailable), kStyleInformation);
      errorLog().logLine("Failed to load help file.");
    }
  });
}

void COstrelFlashToolDlg::onLanguage(int menuId) {
  const LanguageEntry* entry = findLanguageById(menuId);
  QAction* chosen = menuAction(menuId);
  if (entry == nullptr || chosen == nullptr) {
    return;
  }
  for (QAction* action : languageGroup_->actions()) {
    QFont font = action->font();
    font.setBold(action == chosen);
    action->setFont(font);
  }
  chosen->setChecked(true);
  config_.SetDefaultLanguage(entry->code);
  showMessage(stringText(StringId::RestartForLanguage), kStyleInformation);
}

// --- events -------------------------------------------------------------------------------

bool COstrelFlashToolDlg::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    // A highlighted menu item shows its prompt; leaving it brings back the general hint.
    const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
    setHelpText(tip.isEmpty() ? tableText(StringId::HelpPrompt) : tip);
    return true;
  }
  return QMainWindow::event(event);
}

void COstrelFlashToolDlg::closeEvent(QCloseEvent* event) {
  // The window stays while an action runs: the radio must not be left half-programmed.
  if (controller_ != nullptr && !controller_->requestExit()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void COstrelFlashToolDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
      event->key() == Qt::Key_Enter) {
    event->accept();  // neither closes the window
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void COstrelFlashToolDlg::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && controller_ != nullptr) {
    controller_->fillRadioPanel();
  }
}

// --- MainView -----------------------------------------------------------------------------

int COstrelFlashToolDlg::showMessage(const std::string& text, unsigned style) {
  // The caption is the application's name, also while the title says test mode.
  CMsgBox box(isVisible() ? this : nullptr, QString::fromStdString(text), QString(), style);
  const ArrowWhileAsking arrow;
  return messageBoxRunner_(box);
}

bool COstrelFlashToolDlg::confirmTestMode(const std::string& text) {
  QString question = QString::fromStdString(text);
  question.remove(QLatin1Char('\r'));
  const ArrowWhileAsking arrow;
  return QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

void COstrelFlashToolDlg::setBusyCursor(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++busyDepth_;
  } else if (busyDepth_ > 0) {
    QApplication::restoreOverrideCursor();
    --busyDepth_;
  }
}

QWidget* COstrelFlashToolDlg::control(Control control) const {
  switch (control) {
    case Control::GetRadioInfo:
      return getInfoButton_;
    case Control::Update:
      return updateButton_;
    case Control::KeepPersonality:
      return keepBox_;
    case Control::SerialNumberEdit:
      return serialEdit_;
    case Control::UpdateSerialNumber:
      return serialButton_;
    case Control::RadioTypeField:
      return fields_[0];
  }
  return nullptr;
}

void COstrelFlashToolDlg::enableControl(Control which, bool enabled) {
  if (QWidget* widget = control(which)) {
    widget->setEnabled(enabled);
  }
  // Writing a personality back needs the radio, as reading its information does.
  if (which == Control::GetRadioInfo) {
    if (QAction* restore = menuAction(kRestorePersonalityId)) {
      restore->setEnabled(enabled);
    }
  }
}

bool COstrelFlashToolDlg::controlEnabled(Control which) {
  const QWidget* widget = control(which);
  return widget != nullptr && widget->isEnabled();
}

void COstrelFlashToolDlg::focusControl(Control which) {
  QWidget* widget = control(which);
  if (widget == nullptr) {
    return;
  }
  if (auto* edit = qobject_cast<QLineEdit*>(widget); edit != nullptr && edit->isReadOnly()) {
    edit->deselect();
    edit->setCursorPosition(0);
  }
  widget->setFocus();
}

void COstrelFlashToolDlg::showPanel(const RadioPanel& panel) {
  const std::array<const std::string*, kPanelFieldCount> values = {
      &panel.radioType,       &panel.regionalCode,  &panel.model,           &panel.serialNumber,
      &panel.firmwareVersion, &panel.keypadVersion, &panel.codeplugVersion, &panel.privateId};
  for (std::size_t i = 0; i < values.size(); ++i) {
    fields_[i]->setText(QString::fromStdString(*values[i]));
    fields_[i]->setCursorPosition(0);
  }
  timeStamp_->setText(QString::fromStdString(panel.timeStamp));
  timeStamp_->setVisible(panel.timeStampVisible);
  // A model the package does not know keeps the picture shown before.
  if (!panel.modelNumber.empty() && panel.image >= 0) {
    setPicture(panel.image);
  }
}

std::string COstrelFlashToolDlg::typedSerialNumber() {
  return serialEdit_->text().toStdString();
}

void COstrelFlashToolDlg::selectSerialNumber() {
  serialEdit_->selectAll();
  serialEdit_->setFocus();
}

bool COstrelFlashToolDlg::keepPersonality() {
  return keepBox_->isChecked();
}

void COstrelFlashToolDlg::setKeepPersonality(bool checked) {
  keepBox_->setChecked(checked);
}

void COstrelFlashToolDlg::setCableStatus(bool connected) {
  statusBar_->setCableConnected(connected);
}

void COstrelFlashToolDlg::setProgress(unsigned position) {
  statusBar_->setProgress(position, 0);
  if (progressObserver_) {
    progressObserver_(position);
  }
}

void COstrelFlashToolDlg::setStatusText(const std::string& text) {
  setHelpText(QString::fromStdString(text));
}

void COstrelFlashToolDlg::setTitle(const std::string& title) {
  setWindowTitle(QString::fromStdString(title));
}

void COstrelFlashToolDlg::flashWindow() {
  QApplication::alert(this, 500);
}

void COstrelFlashToolDlg::layoutForDealerMode(bool dealerMode) {
  serialGroup_->setVisible(dealerMode);
  serialGroup_->setEnabled(dealerMode);
  serialEdit_->setEnabled(dealerMode);
  serialButton_->setEnabled(dealerMode);
  fitToContents();
}

void COstrelFlashToolDlg::enableDealerLogin(bool enabled) {
  if (QAction* login = menuAction(kDealerLoginId)) {
    login->setEnabled(enabled);
  }
}

std::optional<std::string> COstrelFlashToolDlg::askPassword(bool wrongPassword) {
  if (!wrongPassword) {
    lastPassword_.clear();  // a new login starts empty; a retry shows what was typed
  }
  CDialogPwd dialog(this);
  dialog.setPassword(lastPassword_);
  dialog.setErrorFlag(wrongPassword);
  const ArrowWhileAsking arrow;
  if (passwordRunner_(dialog) != QDialog::Accepted) {
    return std::nullopt;
  }
  lastPassword_ = dialog.password();
  return lastPassword_.toStdString();
}

WaitView& COstrelFlashToolDlg::waitView() {
  return *waitView_;
}

void COstrelFlashToolDlg::showUpdateFailure(const std::string& text, unsigned style,
                                            const std::filesystem::path& personalityBackup) {
  const QString shown =
      QString::fromLatin1(kBackupSaved)
          .arg(QString::fromStdString(text), QString::fromStdString(personalityBackup.string()));
  showMessage(shown.toStdString(), style);
}

void COstrelFlashToolDlg::showTestMode(bool testMode) {
  testModeBanner_->setVisible(testMode);
  if (QAction* leave = menuAction(kLeaveTestModeId)) {
    leave->setVisible(testMode);
  }
  fitToContents();
}

}  // namespace orvik
