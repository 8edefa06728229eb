#include "ui/TSlotGrid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace velloran::ui {

PopupMenuEnables PopupMenuEnablesFor(int focusedSlot, int columnCount, int slotCount) {
  PopupMenuEnables enables;
  enables.openOutputFolder = focusedSlot >= 0;
  enables.increaseColumns = columnCount < slotCount;
  enables.decreaseColumns = columnCount > 1;
  return enables;
}

TSlotGrid::TSlotGrid(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  // The buttons act on the focused tile: they must not take the keyboard focus from the grid,
  // or the tile would lose its highlight while the button is pressed.
  auto make = [this](const char* caption) {
    auto* button = new QPushButton(QString::fromLatin1(caption), viewport());
    button->setFocusPolicy(Qt::NoFocus);
    button->resize(kButtonWidth, kButtonHeight);
    button->hide();
    return button;
  };
  btnSettings_ = make("Settings...");
  btnStop_ = make("Stop");
  btnStart_ = make("Start");
}

void TSlotGrid::SetSlotCount(int count) {
  slotCount_ = std::max(count, 0);
  focusedSlot_ = -1;
  SetColumnCount(columnCount_);
}

void TSlotGrid::SetColumnCount(int n) {
  columnCount_ = std::clamp(n, 1, std::max(slotCount_, 1));
  // The focused tile keeps its slot; its row follows from the new column count.
  ReinitRows();
  viewport()->update();
}

int TSlotGrid::RowCount() const {
  return slotCount_ == 0 ? 0 : (slotCount_ + columnCount_ - 1) / columnCount_;
}

void TSlotGrid::SetVerticalAutoSize(bool on) {
  verticalAutoSize_ = on;
  ReinitRows();
  viewport()->update();
}

int TSlotGrid::GetRowHeight(bool focused) const {
  int h = defaultInfoHeight_;
  if (verticalAutoSize_ && RowCount() > 0) {
    h = (height() - 4) / RowCount();
  }
  return focused ? std::max(defaultInfoHeight_ + 30, h) : std::max(defaultInfoHeight_, h);
}

int TSlotGrid::RowHeight(int row) const {
  return row >= 0 && row < static_cast<int>(rowHeights_.size()) ? rowHeights_[row] : 0;
}

int TSlotGrid::ColumnWidth() const {
  return viewport()->width() / columnCount_;
}

int TSlotGrid::RowTop(int row) const {
  int top = 0;
  for (int r = 0; r < row && r < static_cast<int>(rowHeights_.size()); ++r) {
    top += rowHeights_[r];
  }
  return top;
}

void TSlotGrid::ReinitRows() {
  const int rows = RowCount();
  const int focusedRow = focusedSlot_ >= 0 ? focusedSlot_ / columnCount_ : -1;
  rowHeights_.assign(rows, 0);
  for (int r = 0; r < rows; ++r) {
    rowHeights_[r] = GetRowHeight(r == focusedRow);
  }
  UpdateScrollRange();
  PlaceSlotButtons();
}

void TSlotGrid::UpdateScrollRange() {
  const int total = RowTop(RowCount());
  verticalScrollBar()->setPageStep(viewport()->height());
  verticalScrollBar()->setSingleStep(defaultInfoHeight_ / 3);
  verticalScrollBar()->setRange(0, std::max(0, total - viewport()->height()));
}

QRect TSlotGrid::TileRect(int index) const {
  if (index < 0 || index >= slotCount_) {
    return {};
  }
  const int row = index / columnCount_;
  const int column = index % columnCount_;
  const int w = ColumnWidth();
  const int y = RowTop(row) - verticalScrollBar()->value();
  return QRect(column * w, y, w - 1, RowHeight(row) - 1);
}

int TSlotGrid::SlotAt(const QPoint& point) const {
  const int w = ColumnWidth();
  if (w <= 0 || point.x() < 0 || point.x() >= w * columnCount_) {
    return -1;
  }
  const int y = point.y() + verticalScrollBar()->value();
  int top = 0;
  for (int r = 0; r < RowCount(); ++r) {
    if (y >= top && y < top + rowHeights_[r]) {
      const int index = r * columnCount_ + point.x() / w;
      return index < slotCount_ ? index : -1;
    }
    top += rowHeights_[r];
  }
  return -1;
}

bool TSlotGrid::FocusTile(int row, int column) {
  if (row < 0 || column < 0 || column >= columnCount_ || row >= RowCount()) {
    return false;
  }
  const int index = row * columnCount_ + column;
  if (index >= slotCount_) {
    return false;  // an empty tile never takes the focus
  }
  const int oldRow = focusedSlot_ >= 0 ? focusedSlot_ / columnCount_ : -1;
  focusedSlot_ = index;
  // The losing row first, so that a move within one row leaves it tall.
  if (oldRow >= 0) {
    rowHeights_[oldRow] = GetRowHeight(false);
  }
  rowHeights_[row] = GetRowHeight(true);
  FocusMoved();
  return true;
}

void TSlotGrid::ClearTileFocus() {
  if (focusedSlot_ < 0) {
    return;
  }
  const int oldRow = focusedSlot_ / columnCount_;
  focusedSlot_ = -1;
  rowHeights_[oldRow] = GetRowHeight(false);
  FocusMoved();
}

void TSlotGrid::FocusMoved() {
  UpdateScrollRange();
  if (focusedSlot_ >= 0) {
    // Keep the focused tile in view.
    const QRect tile = TileRect(focusedSlot_);
    QScrollBar* bar = verticalScrollBar();
    if (tile.top() < 0) {
      bar->setValue(bar->value() + tile.top());
    } else if (tile.bottom() >= viewport()->height()) {
      bar->setValue(bar->value() + tile.bottom() + 1 - viewport()->height());
    }
  }
  if (onFocusChanged) {
    onFocusChanged();
  }
  PlaceSlotButtons();
  viewport()->update();
}

void TSlotGrid::PlaceSlotButtons() {
  if (focusedSlot_ < 0) {
    btnSettings_->hide();
    btnStart_->hide();
    btnStop_->hide();
    return;
  }
  const QRect tile = TileRect(focusedSlot_);
  const int l = tile.left();
  const int r = tile.left() + tile.width();
  const int b = tile.top() + tile.height();
  btnSettings_->move(l + 58, b - 30);
  btnStart_->move(r - 208, b - 30);
  btnStop_->move(r - 104, b - 30);
  btnSettings_->show();
  btnStart_->show();
  btnStop_->show();
}

void TSlotGrid::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(viewport());
  const int w = ColumnWidth();
  const int scroll = verticalScrollBar()->value();
  const int viewHeight = viewport()->height();
  const bool gridHasFocus = hasFocus();
  const QPen line(QColor::fromRgb(kGridLineColour), 0);
  int top = -scroll;
  for (int r = 0; r < RowCount() && top < viewHeight; ++r) {
    const int h = rowHeights_[r];
    if (top + h > 0) {
      for (int c = 0; c < columnCount_; ++c) {
        const int index = r * columnCount_ + c;
        const QRect content(c * w, top, w - 1, h - 1);
        if (index < slotCount_) {
          const bool focused = gridHasFocus && index == focusedSlot_;
          if (focused) {
            painter.fillRect(content, palette().color(QPalette::Highlight));
          }
          if (onPaintTile) {
            onPaintTile(painter, index, content, focused);
          }
        }
        painter.setPen(line);
        painter.drawLine(content.left(), top + h - 1, content.left() + w - 1, top + h - 1);
        painter.drawLine(content.left() + w - 1, top, content.left() + w - 1, top + h - 1);
      }
    }
    top += h;
  }
}

void TSlotGrid::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  // Columns share the width equally; rows take their heights again (auto-size follows the
  // grid's height); the buttons follow the focused tile.
  ReinitRows();
}

void TSlotGrid::scrollContentsBy(int /*dx*/, int /*dy*/) {
  PlaceSlotButtons();
  viewport()->update();
}

void TSlotGrid::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  const int w = ColumnWidth();
  if (w > 0 && p.x() >= 0 && p.x() < w * columnCount_) {
    const int y = p.y() + verticalScrollBar()->value();
    int top = 0;
    for (int r = 0; r < RowCount(); ++r) {
      if (y >= top && y < top + rowHeights_[r]) {
        FocusTile(r, p.x() / w);
        break;
      }
      top += rowHeights_[r];
    }
  }
  event->accept();
}

void TSlotGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  if (SlotAt(event->position().toPoint()) >= 0 && onDoubleClick) {
    onDoubleClick();
  }
}

void TSlotGrid::keyPressEvent(QKeyEvent* event) {
  const int row = focusedSlot_ >= 0 ? focusedSlot_ / columnCount_ : -1;
  const int column = focusedSlot_ >= 0 ? focusedSlot_ % columnCount_ : -1;
  switch (event->key()) {
    case Qt::Key_Escape:
      ClearTileFocus();
      return;
    case Qt::Key_Left:
      if (row < 0) {
        FocusTile(0, 0);
      } else {
        FocusTile(row, column - 1);
      }
      return;
    case Qt::Key_Right:
      FocusTile(std::max(row, 0), column + 1);
      return;
    case Qt::Key_Up:
      FocusTile(row < 0 ? 0 : row - 1, std::max(column, 0));
      return;
    case Qt::Key_Down:
      FocusTile(row + 1, std::max(column, 0));
      return;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

void TSlotGrid::contextMenuEvent(QContextMenuEvent* event) {
  if (onContextMenu) {
    onContextMenu(event->globalPos());
  }
}

void TSlotGrid::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TSlotGrid::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

}  // namespace velloran::ui
