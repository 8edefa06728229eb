#pragma once
// Runs one action whenever a watched widget loses the input focus: the settings pages store
// the global settings this way (TVelloranApp::FlushGlobalConfig).
// Thread contract: main thread only (an event filter).
#include <QObject>
#include <functional>

namespace velloran::ui {

class FocusOutFilter : public QObject {
 public:
  FocusOutFilter(QObject* parent, std::function<void()> action)
      : QObject(parent), action_(std::move(action)) {}
  // Watches widget (and, for an editable choice, its text field).
  void Watch(QObject* widget);
  // No action any more (the owner is going away: its fields lose the focus as they are
  // destroyed).
  void Stop() { action_ = nullptr; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void()> action_;
};

}  // namespace velloran::ui
