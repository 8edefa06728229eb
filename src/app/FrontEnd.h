#pragma once
// The desktop window's part of start-up, running and shutdown: everything that draws or asks.
// The application object calls these hooks at the documented points; the headless service has
// no front end (the application then logs what a window would show in a box, and never asks).
// Default implementations do nothing, so a window overrides only what it has.
// Thread contract: every hook is called on the main thread.
#include <optional>
#include <string>

#include "app/GlobalSettings.h"

namespace velloran::app {

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Window creation (in this order, between the application's own steps).
  virtual void SetTrayIcon() {}         // notification-area icon := application icon
  virtual void LoadStatusPictures() {}  // "status_ok", "status_disabled", "status_error"
  virtual void PlaceSlotButtons() {}    // "Settings...", "Stop", "Start" onto the list
  // Fill the settings pages. The pages edit this object (password fields through
  // PasswordField::SetText, so that only hashes are stored) and call
  // TVelloranApp::FlushGlobalConfig when a field loses the focus.
  virtual void ShowSettings(TGlobalSettings&) {}
  // The column count to apply (already clamped to 1..slot count). The window's own column
  // changes (menu) go to TVelloranApp::Settings().columnCount, so FlushGlobalConfig writes them.
  virtual void SetColumnCount(int /*columnCount*/) {}
  virtual void SetVersionLabel(const std::string& /*text*/) {}  // "Version %d.%d.%d Build %d"
  virtual void BuildAsioPage(TGlobalSettings&) {}               // one tab per ASIO driver
  virtual void SetCaption(const std::string& /*caption*/) {}
  virtual void SetLevelFactor(double /*levelFactor*/) {}

  // A modal error message (e.g. a plug-in that failed to load).
  virtual void ShowErrorMessage(const std::string& /*message*/) {}
  // First show: the stored window position.
  virtual std::optional<WindowBounds> CurrentBounds() { return std::nullopt; }
  virtual void ApplyBounds(const WindowBounds& /*bounds*/) {}
  // timTimer, before the rotation check: repaint every tile.
  virtual void RepaintTiles() {}
  // A start/stop request changed a slot's state.
  virtual void UpdateSlotButtons() {}
  // A time-stamped line was added to the message log.
  virtual void AppendLogLine(const std::string& /*stampedLine*/) {}
  // A second instance asked this one to come to the front.
  virtual void Restore() {}
  // The close question "Exit Sondrel Velloran?" (Yes/No, No the default): true on Yes.
  virtual bool ConfirmExit() { return true; }
  // The window bounds written to "MainWindowPosition"; nullopt writes nothing.
  virtual std::optional<WindowBounds> BoundsToSave() { return std::nullopt; }
};

}  // namespace velloran::app
