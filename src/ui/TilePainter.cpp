#include "ui/TilePainter.h"

#include <QPainter>

#include "ui/LevelMeter.h"

namespace velloran::ui {

namespace {

QColor TextColour(TileColour colour, bool focused) {
  switch (colour) {
    case TileColour::tcRed:
      return QColor(255, 0, 0);
    case TileColour::tcGrey:
      return focused ? QColor(255, 255, 255) : QColor(128, 128, 128);
    case TileColour::tcBlack:
      break;
  }
  return focused ? QColor(255, 255, 255) : QColor(0, 0, 0);
}

}  // namespace

QRect LeftMeterRect(const QRect& content, int levelHeight) {
  const int r = content.left() + content.width();
  return QRect(r - 39, content.top() + 4, 16, levelHeight);
}

QRect RightMeterRect(const QRect& content, int levelHeight) {
  const int r = content.left() + content.width();
  return QRect(r - 24, content.top() + 4, 16, levelHeight);
}

void PaintTile(QPainter& painter, const QRect& content, const TileComposition& tile, bool focused,
               const QFont& gridFont, const TileImages& images, const TileMeters& meters) {
  painter.save();
  painter.setClipRect(content);
  for (const TileText& text : tile.texts) {
    QFont font = gridFont;
    font.setPointSize(text.pointSize);
    font.setBold(text.bold);
    painter.setFont(font);
    painter.setPen(TextColour(text.colour, focused));
    // The point is the text's top-left corner; the box only has to be large enough.
    const QRect box(content.left() + text.x, content.top() + text.y, 4000, 200);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     QString::fromStdString(text.text));
  }

  const QImage* image = &images.error;
  if (tile.status == TileStatus::tsOK) {
    image = &images.ok;
  } else if (tile.status == TileStatus::tsDisabled) {
    image = &images.disabled;
  }
  if (!image->isNull()) {
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRect(content.left() + 2, content.top() + 12, 48, 48), *image);
  }

  DrawLevelMeter(painter, LeftMeterRect(content, meters.height), meters.nominal, meters.left);
  DrawLevelMeter(painter, RightMeterRect(content, meters.height), meters.nominal, meters.right);
  painter.restore();
}

}  // namespace velloran::ui
