#include "ui/TLoggerMainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>
#include <filesystem>

#include "app/Application.h"
#include "app/WebServerService.h"
#include "core/Clock.h"
#include "slots/TSlotInfo.h"
#include "ui/LevelMeter.h"
#include "ui/SlotView.h"
#include "ui/TAsioPage.h"
#include "ui/TConfigureSlotForm.h"
#include "ui/TEmailPage.h"
#include "ui/TPNGStore.h"
#include "ui/TWebServerPage.h"
#include "ui/TileComposition.h"

namespace velloran::ui {

QFont WindowFont() {
  if (QFontDatabase::families().contains(QStringLiteral("Tahoma"))) {
    return QFont(QStringLiteral("Tahoma"), 8);
  }
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(8);
  return font;
}

TLoggerMainForm::TLoggerMainForm(TPNGStore& pictures) : pictures_(pictures) {
  openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  runSlotDialog = [](TConfigureSlotForm& dialog) { return dialog.exec(); };
  gridFont_ = WindowFont();
  setFont(gridFont_);
  setWindowTitle(QString::fromLatin1(app::TVelloranApp::kCaption));
  BuildPages();
  BuildPopupMenu();
  // Client area 454 x 504, centred; the smallest window is 470 x 110 with its frame, which
  // leaves a client area of 454 x 72.
  resize(kClientWidth, kClientHeight);
  setMinimumSize(kClientWidth, 72);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
}

TLoggerMainForm::~TLoggerMainForm() {
  // The pages' fields lose the focus while the window's children are destroyed; nothing may
  // reach this object from them any more.
  webServerPage_->SetActions({});
  emailPage_->save = nullptr;
  asioPage_->save = nullptr;
  if (webServer_ != nullptr) {
    webServer_->Log().SetOnLine(nullptr);
  }
}

void TLoggerMainForm::BuildPages() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  pgcMain_ = new QTabWidget(this);
  layout->addWidget(pgcMain_);

  vdtSlots_ = new TSlotGrid(pgcMain_);
  vdtSlots_->setFont(gridFont_);
  vdtSlots_->SetDefaultInfoHeight(app::TVelloranApp::kDefaultInfoHeight);
  vdtSlots_->onPaintTile = [this](QPainter& painter, int index, const QRect& content,
                                  bool focused) { PaintTile(painter, index, content, focused); };
  vdtSlots_->onFocusChanged = [this] { UpdateSlotButtons(); };
  vdtSlots_->onDoubleClick = [this] { btnSettingsClick(); };
  vdtSlots_->onContextMenu = [this](const QPoint& pos) {
    PopupMenuPopup();
    pmSlots_->exec(pos);
  };
  QObject::connect(&vdtSlots_->SettingsButton(), &QPushButton::clicked, this,
                   [this] { btnSettingsClick(); });
  QObject::connect(&vdtSlots_->StartButton(), &QPushButton::clicked, this,
                   [this] { btnStartClick(); });
  QObject::connect(&vdtSlots_->StopButton(), &QPushButton::clicked, this,
                   [this] { btnStopClick(); });
  pgcMain_->addTab(vdtSlots_, QStringLiteral("Slots"));

  webServerPage_ = new TWebServerPage(pgcMain_);
  pgcMain_->addTab(webServerPage_, QStringLiteral("Web Server"));

  memMessages_ = new QPlainTextEdit(pgcMain_);
  memMessages_->setReadOnly(true);
  memMessages_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memMessages_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The page keeps the last 999 lines: a further line removes the first.
  memMessages_->setMaximumBlockCount(kMaxMessageLines);
  pgcMain_->addTab(memMessages_, QStringLiteral("Messages"));

  asioPage_ = new TAsioPage(pgcMain_);
  pgcMain_->addTab(asioPage_, QStringLiteral("ASIO"));
  emailPage_ = new TEmailPage(pgcMain_);
  pgcMain_->addTab(emailPage_, QStringLiteral("E-Mail"));

  auto* about = new QWidget(pgcMain_);
  auto* aboutLayout = new QVBoxLayout(about);
  lblCaption_ = new QLabel(QString::fromLatin1(app::TVelloranApp::kCaption), about);
  QFont big = gridFont_;
  big.setPointSize(14);
  big.setBold(true);
  lblCaption_->setFont(big);
  lblVersion_ = new QLabel(about);
  aboutLayout->addWidget(lblCaption_);
  aboutLayout->addWidget(lblVersion_);
  aboutLayout->addStretch();
  pgcMain_->addTab(about, QStringLiteral("About"));
  pgcMain_->setCurrentIndex(0);
}

void TLoggerMainForm::BuildPopupMenu() {
  pmSlots_ = new QMenu(this);
  miOpenOutputFolder_ = pmSlots_->addAction(QStringLiteral("Open Output Folder"));
  pmSlots_->addSeparator();
  miIncreaseColumns_ = pmSlots_->addAction(QStringLiteral("Increase column count"));
  miDecreaseColumns_ = pmSlots_->addAction(QStringLiteral("Decrease column count"));
  pmSlots_->addSeparator();
  miVerticalAutoSize_ = pmSlots_->addAction(QStringLiteral("Vertical auto-size"));
  miVerticalAutoSize_->setCheckable(true);
  QObject::connect(miOpenOutputFolder_, &QAction::triggered, this, [this] { OpenOutputFolder(); });
  QObject::connect(miIncreaseColumns_, &QAction::triggered, this,
                   [this] { IncreaseColumnCount(); });
  QObject::connect(miDecreaseColumns_, &QAction::triggered, this,
                   [this] { DecreaseColumnCount(); });
  QObject::connect(miVerticalAutoSize_, &QAction::triggered, this,
                   [this](bool checked) { VerticalAutoSizeClick(checked); });
}

void TLoggerMainForm::Attach(app::TVelloranApp* application, SlotView* slots) {
  app_ = application;
  slots_ = slots;
  SyncSlotCount();
}

void TLoggerMainForm::SyncSlotCount() {
  // The slots are created one after the other during start-up; the grid follows their number.
  const int count = slots_ != nullptr ? slots_->Count() : 0;
  if (count == vdtSlots_->SlotCount() && count == static_cast<int>(levels_.size())) {
    return;
  }
  levels_.resize(count, {0.0f, 0.0f});
  vdtSlots_->SetSlotCount(count);
}

// ---- FrontEnd ----

void TLoggerMainForm::SetTrayIcon() {
  const QImage icon = pictures_.GetPNG("velloran");
  if (!icon.isNull()) {
    const QIcon appIcon(QPixmap::fromImage(icon));
    QApplication::setWindowIcon(appIcon);
    setWindowIcon(appIcon);
  }
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    return;  // no notification area: minimising works as usual
  }
  tiTray_ = std::make_unique<QSystemTrayIcon>(QApplication::windowIcon());
  pmTray_ = std::make_unique<QMenu>();
  QAction* restore = pmTray_->addAction(QStringLiteral("Restore"));
  QAction* exit = pmTray_->addAction(QStringLiteral("Exit"));
  QFont bold = pmTray_->font();
  bold.setBold(true);
  restore->setFont(bold);  // the menu's default item
  QObject::connect(restore, &QAction::triggered, this, [this] { Restore(); });
  QObject::connect(exit, &QAction::triggered, this, [this] { close(); });
  tiTray_->setContextMenu(pmTray_.get());
  QObject::connect(
      tiTray_.get(), &QSystemTrayIcon::activated, this,
      [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
          Restore();
        }
      });
}

void TLoggerMainForm::LoadStatusPictures() {
  images_.ok = pictures_.GetPNG("status_ok");
  images_.disabled = pictures_.GetPNG("status_disabled");
  images_.error = pictures_.GetPNG("status_error");
}

void TLoggerMainForm::PlaceSlotButtons() {
  vdtSlots_->PlaceSlotButtons();
}

void TLoggerMainForm::ShowSettings(app::TGlobalSettings& settings) {
  settings_ = &settings;
  const auto save = [this] {
    if (app_ != nullptr) {
      app_->FlushGlobalConfig();
    }
  };
  TWebServerPage::Actions web;
  web.save = save;
  web.showError = [this](const std::string& text) { ShowErrorMessage(text); };
  if (webServer_ != nullptr) {
    web.start = [this] { return webServer_->StartClick(); };
    web.stop = [this] { webServer_->StopClick(); };
    web.running = [this] { return webServer_->Running(); };
  }
  webServerPage_->SetActions(std::move(web));
  webServerPage_->Fill(settings);
  emailPage_->save = save;
  emailPage_->Fill(settings);
  asioPage_->save = save;
  miVerticalAutoSize_->setChecked(settings.verticalAutoSize);
  vdtSlots_->SetVerticalAutoSize(settings.verticalAutoSize);
}

void TLoggerMainForm::BuildAsioPage(app::TGlobalSettings& settings) {
  asioPage_->Build(settings, slots_ != nullptr ? slots_->Catalogue() : nullptr);
}

void TLoggerMainForm::AttachWebServer(app::WebServerService* service) {
  webServer_ = service;
  if (service != nullptr) {
    // The server's own lines (start, stop, start errors) go to the page's log box; every line
    // follows a change of state, so the buttons follow too (also for the start at first show).
    service->Log().SetOnLine([this](const std::string& line) {
      webServerPage_->AppendLogLine(line);
      webServerPage_->UpdateControls();
    });
  }
}

void TLoggerMainForm::SetColumnCount(int columnCount) {
  SyncSlotCount();
  vdtSlots_->SetColumnCount(columnCount);
}

void TLoggerMainForm::SetVersionLabel(const std::string& text) {
  lblVersion_->setText(QString::fromStdString(text));
}

void TLoggerMainForm::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void TLoggerMainForm::ShowErrorMessage(const std::string& message) {
  QMessageBox::critical(this, windowTitle(), QString::fromStdString(message));
}

std::optional<app::WindowBounds> TLoggerMainForm::CurrentBounds() {
  const QRect g = geometry();
  return app::WindowBounds{g.x(), g.y(), g.width(), g.height(), isMaximized()};
}

void TLoggerMainForm::ApplyBounds(const app::WindowBounds& bounds) {
  if (bounds.width > 0 && bounds.height > 0) {
    setGeometry(bounds.left, bounds.top, bounds.width, bounds.height);
  }
  if (bounds.maximized) {
    QTimer::singleShot(0, this, [this] { showMaximized(); });
  }
}

std::optional<app::WindowBounds> TLoggerMainForm::BoundsToSave() {
  const bool maximized = isMaximized() || (isMinimized() && restoreMaximized_);
  QRect g = geometry();
  if ((isMaximized() || isMinimized()) && normalGeometry().isValid()) {
    g = normalGeometry();
  }
  return app::WindowBounds{g.x(), g.y(), g.width(), g.height(), maximized};
}

void TLoggerMainForm::RepaintTiles() {
  if (slots_ == nullptr) {
    return;
  }
  SyncSlotCount();
  // The meters fall by the decay factor each tick until they meet the measured peak. This
  // runs on the timer, not in the paint, so a hidden window falls just the same.
  for (int i = 0; i < static_cast<int>(levels_.size()); ++i) {
    float left = 0;
    float right = 0;
    slots_->Peaks(i, left, right);
    levels_[i].first = DecayLevel(levels_[i].first, fLevelFactor, left);
    levels_[i].second = DecayLevel(levels_[i].second, fLevelFactor, right);
  }
  vdtSlots_->viewport()->update();
}

float TLoggerMainForm::DisplayLevel(int index, bool left) const {
  if (index < 0 || index >= static_cast<int>(levels_.size())) {
    return 0;
  }
  return left ? levels_[index].first : levels_[index].second;
}

void TLoggerMainForm::PaintTile(QPainter& painter, int index, const QRect& content, bool focused) {
  if (slots_ == nullptr || index >= slots_->Count()) {
    return;
  }
  const TileState state = slots_->State(index);
  const TileComposition tile = ComposeTile(state, TickCount64());
  TileMeters meters;
  if (index < static_cast<int>(levels_.size())) {
    meters.left = levels_[index].first;
    meters.right = levels_[index].second;
  }
  meters.nominal = NominalLevelToLinear(state.nominalLevel);
  meters.height = app::TVelloranApp::kLevelHeight;
  ui::PaintTile(painter, content, tile, focused, gridFont_, images_, meters);
}

void TLoggerMainForm::UpdateSlotButtons() {
  const int focused = vdtSlots_->FocusedSlot();
  if (focused < 0 || slots_ == nullptr || focused >= slots_->Count()) {
    return;
  }
  const TileState state = slots_->State(focused);
  const bool hasSource = state.source != slots::rsDisabled;
  vdtSlots_->StopButton().setEnabled(hasSource && state.enabled);
  vdtSlots_->StartButton().setEnabled(hasSource && !state.enabled);
}

void TLoggerMainForm::AppendLogLine(const std::string& stampedLine) {
  memMessages_->appendPlainText(QString::fromStdString(stampedLine));
  QScrollBar* bar = memMessages_->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void TLoggerMainForm::Restore() {
  if (restoreMaximized_) {
    showMaximized();
  } else {
    showNormal();
  }
  raise();
  activateWindow();
  if (tiTray_ != nullptr) {
    tiTray_->hide();
  }
}

bool TLoggerMainForm::ConfirmExit() {
  return QMessageBox::question(this, windowTitle(), QStringLiteral("Exit Sondrel Velloran?"),
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

// ---- controls ----

void TLoggerMainForm::btnSettingsClick() {
  const int focused = vdtSlots_->FocusedSlot();
  if (focused < 0 || slots_ == nullptr) {
    return;
  }
  slots::TSlotInfo* slot = slots_->Slot(focused);
  if (slot == nullptr) {
    return;
  }
  std::string rootFolder;
  if (app_ != nullptr) {
    std::error_code ec;
    const auto file = std::filesystem::absolute(app_->Config().FileName(), ec);
    rootFolder =
        (ec ? std::filesystem::path(app_->Config().FileName()) : file).parent_path().string();
  }
  TConfigureSlotForm dialog(this, *slot, slots_->Catalogue(), rootFolder);
  if (runSlotDialog(dialog) != QDialog::Accepted) {
    return;
  }
  ApplySlotChanges(*slot, dialog.fInputOptionsChanged, dialog.fOutputOptionsChanged);
}

void TLoggerMainForm::ApplySlotChanges(slots::TSlotInfo& slot, bool inputChanged,
                                       bool outputChanged) {
  // Stored first, so that a failing restart below does not lose what the operator confirmed.
  try {
    slot.FlushConfig();
  } catch (const std::exception& e) {
    Log(std::string("Error saving slot settings: ") + e.what());
  }
  try {
    if (inputChanged) {
      slot.StartRecording();
    }
    if (outputChanged || slot.Encoder() == 0) {
      slot.CycleEncoder();
    }
  } catch (const std::exception& e) {
    Log(std::string("Error applying slot settings: ") + e.what());
  }
  UpdateSlotButtons();
  vdtSlots_->viewport()->update();
}

void TLoggerMainForm::SetFocusedSlotEnabled(bool enabled) {
  const int focused = vdtSlots_->FocusedSlot();
  if (focused < 0 || slots_ == nullptr) {
    return;
  }
  try {
    slots_->SetEnabled(focused, enabled);
  } catch (const std::exception& e) {
    Log(std::string(enabled ? "Error starting slot: " : "Error stopping slot: ") + e.what());
  }
  UpdateSlotButtons();
  vdtSlots_->viewport()->update();
}

void TLoggerMainForm::btnStartClick() {
  SetFocusedSlotEnabled(true);
}

void TLoggerMainForm::btnStopClick() {
  SetFocusedSlotEnabled(false);
}

void TLoggerMainForm::OpenOutputFolder() {
  const int focused = vdtSlots_->FocusedSlot();
  if (focused < 0 || slots_ == nullptr) {
    return;
  }
  const std::string folder = slots_->State(focused).folder;
  if (!openUrl(QUrl::fromLocalFile(QString::fromStdString(folder)))) {
    Log("Unable to open the folder " + folder);
  }
}

void TLoggerMainForm::PopupMenuPopup() {
  const PopupMenuEnables enables = PopupMenuEnablesFor(
      vdtSlots_->FocusedSlot(), vdtSlots_->ColumnCount(), vdtSlots_->SlotCount());
  miOpenOutputFolder_->setEnabled(enables.openOutputFolder);
  miIncreaseColumns_->setEnabled(enables.increaseColumns);
  miDecreaseColumns_->setEnabled(enables.decreaseColumns);
}

void TLoggerMainForm::IncreaseColumnCount() {
  vdtSlots_->SetColumnCount(vdtSlots_->ColumnCount() + 1);
  if (settings_ != nullptr && vdtSlots_->SlotCount() > 0) {
    settings_->columnCount = vdtSlots_->ColumnCount();
  }
}

void TLoggerMainForm::DecreaseColumnCount() {
  vdtSlots_->SetColumnCount(vdtSlots_->ColumnCount() - 1);
  if (settings_ != nullptr && vdtSlots_->SlotCount() > 0) {
    settings_->columnCount = vdtSlots_->ColumnCount();
  }
}

void TLoggerMainForm::VerticalAutoSizeClick(bool checked) {
  if (settings_ != nullptr) {
    settings_->verticalAutoSize = checked;
  }
  vdtSlots_->SetVerticalAutoSize(checked);
}

void TLoggerMainForm::Log(const std::string& line) {
  if (app_ != nullptr) {
    app_->LogMessage(nullptr, line);
  }
}

// ---- window events ----

void TLoggerMainForm::closeEvent(QCloseEvent* event) {
  if (app_ == nullptr || app_->RequestClose()) {
    event->accept();
    QCoreApplication::quit();
  } else {
    event->ignore();
  }
}

void TLoggerMainForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) {
    return;
  }
  if (isMinimized()) {
    restoreMaximized_ =
        (static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMaximized) != 0;
    // With a notification area the window leaves the task bar for the icon.
    if (tiTray_ != nullptr && QSystemTrayIcon::isSystemTrayAvailable()) {
      tiTray_->show();
      QTimer::singleShot(0, this, [this] { hide(); });
    }
  } else {
    restoreMaximized_ = isMaximized();
  }
}

void TLoggerMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (app_ != nullptr) {
    app_->FirstShow();  // runs its steps once
  }
}

}  // namespace velloran::ui
