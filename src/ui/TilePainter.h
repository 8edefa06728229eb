#pragma once
// Draws one slot tile from its composition: the texts in the grid's font family at their
// sizes, the status picture stretched into (2, 12)-(50, 60), and the two level meters at the
// right edge, which share one border column.
// Thread contract: main thread (paints on the grid).
#include <QFont>
#include <QImage>
#include <QRect>

#include "ui/TileComposition.h"

class QPainter;

namespace velloran::ui {

struct TileImages {
  QImage ok;
  QImage disabled;
  QImage error;
};

struct TileMeters {
  float left = 0;  // display levels, linear full scale 1.0
  float right = 0;
  float nominal = 0;  // linear
  int height = 80;    // fLevelHeight
};

// content: the tile's rectangle inside the grid lines. focused: the tile has the focus and
// the grid the keyboard focus (the caller has painted the selection background); texts are
// then white, except red ones.
void PaintTile(QPainter& painter, const QRect& content, const TileComposition& tile, bool focused,
               const QFont& gridFont, const TileImages& images, const TileMeters& meters);

// The left and right meter rectangles of a tile.
QRect LeftMeterRect(const QRect& content, int levelHeight);
QRect RightMeterRect(const QRect& content, int levelHeight);

}  // namespace velloran::ui
