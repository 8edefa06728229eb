#include "ui/TSlotGrid.h"

#include <gtest/gtest.h>

#include <QTest>
#include <memory>

namespace velloran::ui::test {
namespace {

// A grid of a given size, shown on the X server so that its viewport has its real size.
std::unique_ptr<TSlotGrid> ShownGrid(int slots, int columns, int width, int height) {
  auto grid = std::make_unique<TSlotGrid>();
  grid->resize(width, height);
  grid->SetSlotCount(slots);
  grid->SetColumnCount(columns);
  grid->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(grid.get()));
  return grid;
}

TEST(SlotGridTest, ShapeAndRefusedFocus) {
  struct Case {
    int slots;
    int columns;
    int rows;
    int focusRow;
    int focusColumn;
    int focused;  // -1: refused
  };
  const Case cases[] = {
      {5, 2, 3, 2, 1, -1},  // the sixth tile is blank and cannot take the focus
      {5, 2, 3, 2, 0, 4},  {5, 2, 3, 0, 1, 1},
      {4, 4, 1, 0, 3, 3},  {4, 4, 1, 1, 0, -1},  // no such row
      {0, 1, 0, 0, 0, -1},                       // no slots: no tiles
  };
  for (const Case& c : cases) {
    auto grid = ShownGrid(c.slots, c.columns, 460, 400);
    EXPECT_EQ(grid->RowCount(), c.rows) << c.slots << "/" << c.columns;
    EXPECT_EQ(grid->FocusTile(c.focusRow, c.focusColumn), c.focused >= 0);
    EXPECT_EQ(grid->FocusedSlot(), c.focused);
    EXPECT_EQ(grid->StartButton().isVisible(), c.focused >= 0);
  }
}

TEST(SlotGridTest, RefusedMoveKeepsTheFocusAndEscapeRemovesIt) {
  auto grid = ShownGrid(5, 2, 460, 400);
  ASSERT_TRUE(grid->FocusTile(2, 0));
  EXPECT_EQ(grid->RowHeight(2), 120);
  EXPECT_FALSE(grid->FocusTile(2, 1));
  EXPECT_EQ(grid->FocusedSlot(), 4);
  QTest::keyClick(grid.get(), Qt::Key_Right);  // onto the blank tile: refused as well
  EXPECT_EQ(grid->FocusedSlot(), 4);
  QTest::keyClick(grid.get(), Qt::Key_Up);
  EXPECT_EQ(grid->FocusedSlot(), 2);
  EXPECT_EQ(grid->RowHeight(2), 90);
  EXPECT_EQ(grid->RowHeight(1), 120);
  QTest::keyClick(grid.get(), Qt::Key_Escape);
  EXPECT_EQ(grid->FocusedSlot(), -1);
  EXPECT_EQ(grid->RowHeight(1), 90);
  EXPECT_FALSE(grid->SettingsButton().isVisible());
  // A click on the blank tile is refused too; a click on a tile focuses it.
  const QRect tile = grid->TileRect(4);
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, tile.center() + QPoint(tile.width(), 0));
  EXPECT_EQ(grid->FocusedSlot(), -1);
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, tile.center());
  EXPECT_EQ(grid->FocusedSlot(), 4);
}

TEST(SlotGridTest, ColumnClampAndMenuEnableRules) {
  struct Clamp {
    int slots;
    int requested;
    int applied;
  };
  for (const Clamp c :
       {Clamp{5, 0, 1}, Clamp{5, -3, 1}, Clamp{5, 9, 5}, Clamp{5, 5, 5}, Clamp{0, 3, 1}}) {
    auto grid = ShownGrid(c.slots, c.requested, 460, 300);
    EXPECT_EQ(grid->ColumnCount(), c.applied) << c.slots << "/" << c.requested;
  }
  struct Menu {
    int focused;
    int columns;
    int slots;
    PopupMenuEnables enables;
  };
  const Menu menus[] = {
      {-1, 1, 5, {false, true, false}},  {2, 5, 5, {true, false, true}},
      {0, 3, 5, {true, true, true}},     {-1, 1, 1, {false, false, false}},
      {-1, 1, 0, {false, false, false}},
  };
  for (const Menu& m : menus) {
    const PopupMenuEnables e = PopupMenuEnablesFor(m.focused, m.columns, m.slots);
    EXPECT_EQ(e.openOutputFolder, m.enables.openOutputFolder) << m.focused << m.columns << m.slots;
    EXPECT_EQ(e.increaseColumns, m.enables.increaseColumns) << m.focused << m.columns << m.slots;
    EXPECT_EQ(e.decreaseColumns, m.enables.decreaseColumns) << m.focused << m.columns << m.slots;
  }
}

TEST(SlotGridTest, AutoSizeRowHeights) {
  struct Case {
    int slots;
    int columns;
    int gridHeight;
    bool autoSize;
    int plain;    // a row without the focus
    int focused;  // the row with the focus
  };
  const Case cases[] = {
      {4, 1, 604, false, 90, 120},
      {4, 2, 604, true, 300, 300},  // (604 - 4) / 2 rows
      {3, 1, 604, true, 200, 200},
      {4, 1, 404, true, 100, 120},  // never less than 120 with the buttons
      {8, 1, 300, true, 90, 120},   // never less than 90
  };
  for (const Case& c : cases) {
    auto grid = ShownGrid(c.slots, c.columns, 460, c.gridHeight);
    grid->SetVerticalAutoSize(c.autoSize);
    EXPECT_EQ(grid->RowHeight(0), c.plain) << c.gridHeight;
    ASSERT_TRUE(grid->FocusTile(0, 0));
    EXPECT_EQ(grid->RowHeight(0), c.focused) << c.gridHeight;
    if (grid->RowCount() > 1) {
      EXPECT_EQ(grid->RowHeight(1), c.plain) << c.gridHeight;
    }
  }
}

TEST(SlotGridTest, EqualColumnsAndButtonsInTheFocusedTile) {
  auto grid = ShownGrid(4, 2, 460, 400);
  const int w = grid->viewport()->width() / 2;
  EXPECT_EQ(grid->ColumnWidth(), w);
  ASSERT_TRUE(grid->FocusTile(0, 1));
  const QRect tile = grid->TileRect(1);
  EXPECT_EQ(tile, QRect(w, 0, w - 1, 119));
  const int r = tile.left() + tile.width();
  const int b = tile.top() + tile.height();
  EXPECT_EQ(grid->SettingsButton().geometry(), QRect(tile.left() + 58, b - 30, 100, 25));
  EXPECT_EQ(grid->StartButton().geometry(), QRect(r - 208, b - 30, 100, 25));
  EXPECT_EQ(grid->StopButton().geometry(), QRect(r - 104, b - 30, 100, 25));
  // A move within the row leaves it tall.
  ASSERT_TRUE(grid->FocusTile(0, 0));
  EXPECT_EQ(grid->RowHeight(0), 120);
}

}  // namespace
}  // namespace velloran::ui::test
