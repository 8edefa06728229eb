#include "ui/FocusOutFilter.h"

#include <QEvent>

namespace velloran::ui {

void FocusOutFilter::Watch(QObject* widget) {
  widget->installEventFilter(this);
}

bool FocusOutFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut && action_) {
    action_();
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace velloran::ui
