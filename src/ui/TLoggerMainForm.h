#pragma once
// The main window: a page control with "Slots" (the tile grid), "Web Server", "Messages",
// "ASIO", "E-Mail" and "About", caption "Sondrel Velloran", client area 454 x 504 centred on
// the screen at first. It is the application object's front end: it draws what the
// application holds and asks what the application needs asked; the application does the rest.
//   - Tiles: every timer tick lets the display levels fall (fLevelFactor, never below the
//     measured peak) and repaints every tile from a fresh copy of its slot's state.
//   - Start/Stop/Settings... act on the focused tile; the popup menu opens the focused slot's
//     output folder in the desktop's file browser and changes the columns and auto-size.
//   - Settings... (or a double click) opens TConfigureSlotForm for the focused slot; after OK
//     the slot's section is stored, a changed input restarts, and a changed output (or a slot
//     without a running encoder) starts a new file.
//   - "Web Server", "E-Mail" and "ASIO" edit the application's global settings
//     (TWebServerPage, TEmailPage, TAsioPage); leaving one of their fields stores them.
//   - Messages: the stamped log lines, at most 999, scrolled to the last one.
//   - Minimising hides the window to the notification-area icon when the desktop has one;
//     the icon, its "Restore" and a second start of the program bring it back.
//   - Closing asks the application (the close question) and ends the event loop on yes.
// Thread contract: main thread only (a widget). Worker threads reach it only through the
// application object (LogMessage, PostStartSlot/PostStopSlot).
#include <QAction>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "app/FrontEnd.h"
#include "ui/TSlotGrid.h"
#include "ui/TilePainter.h"

namespace velloran::app {
class TVelloranApp;
class WebServerService;
}  // namespace velloran::app
namespace velloran::slots {
class TSlotInfo;
}

namespace velloran::ui {

class SlotView;
class TAsioPage;
class TConfigureSlotForm;
class TEmailPage;
class TPNGStore;
class TWebServerPage;

// Tahoma 8 pt when installed, otherwise the platform's sans-serif at 8 pt.
QFont WindowFont();

class TLoggerMainForm : public QWidget, public app::FrontEnd {
 public:
  static constexpr int kClientWidth = 454;
  static constexpr int kClientHeight = 504;
  static constexpr int kMaxMessageLines = 999;

  explicit TLoggerMainForm(TPNGStore& pictures);
  ~TLoggerMainForm() override;

  // The application object and the slots (both outlive the window's use of them; detach
  // with nullptrs before they go).
  void Attach(app::TVelloranApp* application, SlotView* slots);
  // The web server behind the Web Server page's buttons and log box (outlives the window's use;
  // before Attach's application creates the pages' contents). nullptr: the buttons do nothing.
  void AttachWebServer(app::WebServerService* service);

  // ---- FrontEnd ----
  void SetTrayIcon() override;
  void LoadStatusPictures() override;
  void PlaceSlotButtons() override;
  void ShowSettings(app::TGlobalSettings& settings) override;
  void SetColumnCount(int columnCount) override;
  void BuildAsioPage(app::TGlobalSettings& settings) override;
  void SetVersionLabel(const std::string& text) override;
  void SetCaption(const std::string& caption) override;
  void SetLevelFactor(double levelFactor) override {
    fLevelFactor = static_cast<float>(levelFactor);
  }
  void ShowErrorMessage(const std::string& message) override;
  std::optional<app::WindowBounds> CurrentBounds() override;
  void ApplyBounds(const app::WindowBounds& bounds) override;
  void RepaintTiles() override;
  void UpdateSlotButtons() override;
  void AppendLogLine(const std::string& stampedLine) override;
  void Restore() override;
  bool ConfirmExit() override;
  std::optional<app::WindowBounds> BoundsToSave() override;

  // ---- controls and their handlers ----
  void btnSettingsClick();
  void btnStartClick();
  void btnStopClick();
  void OpenOutputFolder();
  // Enables the popup menu's items for the focus and column count now (the menu's popup).
  void PopupMenuPopup();
  void IncreaseColumnCount();
  void DecreaseColumnCount();
  void VerticalAutoSizeClick(bool checked);

  TSlotGrid& Grid() { return *vdtSlots_; }
  QTabWidget& Pages() { return *pgcMain_; }
  QPlainTextEdit& MessagesPage() { return *memMessages_; }
  TWebServerPage& WebServerPage() { return *webServerPage_; }
  TEmailPage& EmailPage() { return *emailPage_; }
  TAsioPage& AsioPage() { return *asioPage_; }
  QMenu& PopupMenu() { return *pmSlots_; }
  QAction& OpenOutputFolderItem() { return *miOpenOutputFolder_; }
  QAction& IncreaseColumnsItem() { return *miIncreaseColumns_; }
  QAction& DecreaseColumnsItem() { return *miDecreaseColumns_; }
  QAction& VerticalAutoSizeItem() { return *miVerticalAutoSize_; }
  QSystemTrayIcon* TrayIcon() { return tiTray_.get(); }
  const TileImages& StatusPictures() const { return images_; }
  // The displayed level of a slot's channel (after the decay of the last tick).
  float DisplayLevel(int index, bool left) const;
  float LevelFactor() const { return fLevelFactor; }

  // How a folder is opened in the desktop's file browser (QDesktopServices::openUrl).
  std::function<bool(const QUrl&)> openUrl;
  // How the slot dialog is shown (modally, QDialog::exec); returns its result.
  std::function<int(TConfigureSlotForm&)> runSlotDialog;

  // After the slot dialog ended with OK: the slot's section is stored, a changed input is
  // started again, and a new file is started when an output option changed or no encoder runs.
  void ApplySlotChanges(slots::TSlotInfo& slot, bool inputChanged, bool outputChanged);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildPages();
  void BuildPopupMenu();
  void SyncSlotCount();
  void PaintTile(QPainter& painter, int index, const QRect& content, bool focused);
  void SetFocusedSlotEnabled(bool enabled);
  void Log(const std::string& line);

  TPNGStore& pictures_;
  app::TVelloranApp* app_ = nullptr;
  SlotView* slots_ = nullptr;
  app::TGlobalSettings* settings_ = nullptr;

  QTabWidget* pgcMain_ = nullptr;
  TSlotGrid* vdtSlots_ = nullptr;
  QPlainTextEdit* memMessages_ = nullptr;
  TWebServerPage* webServerPage_ = nullptr;
  TEmailPage* emailPage_ = nullptr;
  TAsioPage* asioPage_ = nullptr;
  app::WebServerService* webServer_ = nullptr;
  QLabel* lblCaption_ = nullptr;
  QLabel* lblVersion_ = nullptr;
  QMenu* pmSlots_ = nullptr;
  QAction* miOpenOutputFolder_ = nullptr;
  QAction* miIncreaseColumns_ = nullptr;
  QAction* miDecreaseColumns_ = nullptr;
  QAction* miVerticalAutoSize_ = nullptr;
  std::unique_ptr<QMenu> pmTray_;
  std::unique_ptr<QSystemTrayIcon> tiTray_;

  QFont gridFont_;
  TileImages images_;
  float fLevelFactor = 0;
  // The falling display level of each slot (left, right); only the window reads and writes it.
  std::vector<std::pair<float, float>> levels_;
  bool restoreMaximized_ = false;
};

}  // namespace velloran::ui
