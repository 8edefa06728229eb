#include "ui/LevelMeter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace velloran::ui {

double LevelToDecibel(double x) {
  if (x == 0) {
    return -999;
  }
  return 20 * std::log10(x);
}

double DecibelToMeterPosition(double db) {
  if (db <= -200) {
    return 0;
  }
  if (db <= -60) {
    return (db + 200) * 0.03 / 140;
  }
  if (db <= -40) {
    return (db + 60) * 0.12 / 20 + 0.03;
  }
  if (db <= -30) {
    return (db + 40) * 0.15 / 10 + 0.15;
  }
  if (db <= -20) {
    return (db + 30) * 0.2 / 10 + 0.3;
  }
  return (db + 20) * 0.5 / 20 + 0.5;
}

float NominalLevelToLinear(int nominalDb) {
  return nominalDb > -100 ? static_cast<float>(std::pow(10.0, nominalDb / 20.0)) : 0.0f;
}

float DecayLevel(float display, float factor, float peak) {
  const float v = std::max(display * factor, peak);
  // A NaN peak (never expected from the meter) must not stick in the display either.
  return v > 0 ? v : 0.0f;
}

namespace {

// The pixel row of a level inside [top, bottom): trunc(bottom + p (top - bottom)).
int MeterRow(const QRect& rect, double level) {
  const double p = std::clamp(DecibelToMeterPosition(LevelToDecibel(level)), 0.0, 1.0);
  const int top = rect.top();
  const int bottom = rect.top() + rect.height();
  return static_cast<int>(bottom + p * (top - bottom));
}

}  // namespace

void DrawLevelMeter(QPainter& painter, const QRect& rect, float nominal, float level) {
  if (rect.width() <= 0 || rect.height() <= 0) {
    return;
  }
  const int left = rect.left();
  const int right = rect.left() + rect.width();
  const int bottom = rect.top() + rect.height();
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  // White body with a one-pixel grey border on its outermost pixels.
  painter.fillRect(rect, Qt::white);
  painter.setPen(QPen(QColor::fromRgb(kMeterBorder), 0));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRect(left, rect.top(), rect.width() - 1, rect.height() - 1));

  const int y = MeterRow(rect, level);
  QRgb colour = kMeterGreen;
  if (level > 1.0f) {
    colour = kMeterRed;
  } else if (level > nominal) {
    colour = kMeterOrange;
  }
  if (bottom - (y + 1) > 0) {
    painter.fillRect(QRect(left + 1, y + 1, right - left - 1, bottom - (y + 1)),
                     QColor::fromRgb(colour));
  }
  if (nominal < 1.0f) {
    const int mark = MeterRow(rect, nominal) + 1;
    painter.drawLine(left, mark, right - 1, mark);
  }
  painter.restore();
}

}  // namespace velloran::ui
