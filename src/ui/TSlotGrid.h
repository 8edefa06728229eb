#pragma once
// The owner-drawn tile grid of the "Slots" page: fColumnCount equal columns, ceil(slots /
// columns) rows of their own heights, one focus tile (or none), grid lines in RGB(160,160,164)
// and no header. Tiles past the last slot stay empty and refuse the focus. The rows holding
// the focused tile are 30 pixels taller for the floating "Settings...", "Start" and "Stop"
// buttons, which are children of the grid and sit in the focused tile's lower edge.
// The grid paints backgrounds and lines; each tile's content comes from the paint callback.
// Thread contract: main thread only (a widget).
#include <QAbstractScrollArea>
#include <QPushButton>
#include <functional>
#include <vector>

namespace velloran::ui {

// Which items of the grid's popup menu are enabled.
struct PopupMenuEnables {
  bool openOutputFolder = false;
  bool increaseColumns = false;
  bool decreaseColumns = false;
};
PopupMenuEnables PopupMenuEnablesFor(int focusedSlot, int columnCount, int slotCount);

class TSlotGrid : public QAbstractScrollArea {
 public:
  static constexpr QRgb kGridLineColour = 0xffa0a0a4;
  static constexpr int kButtonWidth = 100;
  static constexpr int kButtonHeight = 25;

  explicit TSlotGrid(QWidget* parent = nullptr);

  // fDefaultInfoHeight (90): the height of a row without the focus.
  void SetDefaultInfoHeight(int height) { defaultInfoHeight_ = height; }
  // The number of tiles; the focus is dropped and the rows re-initialised.
  void SetSlotCount(int count);
  int SlotCount() const { return slotCount_; }
  // SetColumnCount: clamped to 1 .. slot count (1 with no slots), then rows and widths follow.
  void SetColumnCount(int n);
  int ColumnCount() const { return columnCount_; }
  int RowCount() const;
  void SetVerticalAutoSize(bool on);
  bool VerticalAutoSize() const { return verticalAutoSize_; }

  // GetRowHeight for a row holding (or not) the focused tile.
  int GetRowHeight(bool focused) const;
  int RowHeight(int row) const;
  int ColumnWidth() const;

  // Moves the focus to a tile; false (nothing changes) for a tile past the last slot or
  // outside the grid.
  bool FocusTile(int row, int column);
  // Removes the focus (Escape).
  void ClearTileFocus();
  int FocusedSlot() const { return focusedSlot_; }
  // The content rectangle of a slot's tile inside the grid lines, in viewport coordinates.
  QRect TileRect(int index) const;
  // The slot under a viewport point, -1 for none (empty tile or no tile).
  int SlotAt(const QPoint& point) const;

  QPushButton& SettingsButton() { return *btnSettings_; }
  QPushButton& StartButton() { return *btnStart_; }
  QPushButton& StopButton() { return *btnStop_; }

  // Paints one tile's content. focused: this tile has the focus and the grid the keyboard
  // focus.
  std::function<void(QPainter&, int index, const QRect& content, bool focused)> onPaintTile;
  // The focus moved (after the buttons were placed).
  std::function<void()> onFocusChanged;
  std::function<void()> onDoubleClick;
  std::function<void(const QPoint& globalPos)> onContextMenu;

  // Re-initialises every row (heights from GetRowHeight), then places the buttons.
  void ReinitRows();
  void PlaceSlotButtons();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  int RowTop(int row) const;  // in content coordinates
  void UpdateScrollRange();
  void FocusMoved();

  int defaultInfoHeight_ = 90;
  int slotCount_ = 0;
  int columnCount_ = 1;
  bool verticalAutoSize_ = false;
  int focusedSlot_ = -1;
  std::vector<int> rowHeights_;
  QPushButton* btnSettings_;
  QPushButton* btnStart_;
  QPushButton* btnStop_;
};

}  // namespace velloran::ui
