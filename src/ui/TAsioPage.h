#pragma once
// The "ASIO" page: a note, one tab per ASIO driver (on this platform the JACK server) in
// catalogue order, the selected driver's input channels with their bundle sizes, and the
// driver's buffer size, forced sample rate and update thread count.
// The list shows and edits the settings' copy of the bundles (one entry per input channel: the
// size at a bundle's first channel, 0 inside a bundle); laying a driver out turns a size of 0
// or less at a bundle start into 1 and disables the lines a bundle covers. A double click on
// an enabled line asks for the size (text that is not an integer gives 2). The drivers keep
// their bundles until the next start of the program; the three fields change the driver at
// once (used at its next start of capture) and the settings (stored with the next save).
// Thread contract: main thread only (a widget).
#include <QLineEdit>
#include <QTabBar>
#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/GlobalSettings.h"

namespace velloran::audio {
class DeviceCatalogue;
}

namespace velloran::ui {

class FocusOutFilter;

// Lays the bundles out: every start with a size <= 0 becomes 1. Returns, per line, whether it
// starts a bundle (enabled) or lies inside one.
std::vector<bool> LayOutBundles(std::vector<int32_t>& bundles);

class TAsioPage : public QWidget {
 public:
  explicit TAsioPage(QWidget* parent);
  ~TAsioPage() override;

  // One tab per driver of the settings; names and channel names from the catalogue (may be
  // null: then "Driver %d" and "Channel %d").
  void Build(app::TGlobalSettings& settings, const audio::DeviceCatalogue* catalogue);

  // FlushGlobalConfig.
  std::function<void()> save;
  // The bundle size question (an input box); nullopt when it was cancelled.
  std::function<std::optional<QString>(int preset)> askBundleSize;

  // Tab change (also run after every bundle edit).
  void TabChange();
  // Double click on line i.
  void EditBundle(int line);

  QTabBar* tcDrivers = nullptr;
  QTreeWidget* lvChannels = nullptr;
  QLineEdit* edBufferSize = nullptr;
  QLineEdit* edSampleRate = nullptr;
  QLineEdit* edThreadCount = nullptr;

 private:
  FocusOutFilter* saver_ = nullptr;
  app::AsioDriverSettings* Selected();
  void FieldChanged(QLineEdit* field, const QString& text);

  app::TGlobalSettings* settings_ = nullptr;
  const audio::DeviceCatalogue* catalogue_ = nullptr;
  bool filling_ = false;
};

}  // namespace velloran::ui
