// Draws the program's own pictures into resources/png/ (the status lights of the slot tiles and
// the application icon). They are committed; run this only to change them:
//   g++ -std=c++20 -fPIC scripts/draw-pictures.cpp -o /tmp/draw-pictures \
//       $(pkg-config --cflags --libs Qt6Gui) && /tmp/draw-pictures resources/png
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

QImage Canvas(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  return image;
}

// A round signal light: dark rim, lit body with a bright core, a soft reflection at the top.
QImage Light(QColor body, QColor core, QColor rim) {
  QImage image = Canvas(48);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient shadow(24, 26, 22);
  shadow.setColorAt(0.8, QColor(0, 0, 0, 70));
  shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(shadow);
  p.drawEllipse(QPointF(24, 26), 22, 22);
  QLinearGradient bezel(0, 4, 0, 44);
  bezel.setColorAt(0, QColor(220, 220, 220));
  bezel.setColorAt(1, QColor(90, 90, 90));
  p.setBrush(bezel);
  p.drawEllipse(QPointF(24, 24), 20, 20);
  QRadialGradient glow(24, 27, 17, 22, 28);
  glow.setColorAt(0.0, core);
  glow.setColorAt(0.65, body);
  glow.setColorAt(1.0, rim);
  p.setBrush(glow);
  p.drawEllipse(QPointF(24, 24), 16.5, 16.5);
  QLinearGradient shine(0, 9, 0, 24);
  shine.setColorAt(0, QColor(255, 255, 255, 200));
  shine.setColorAt(1, QColor(255, 255, 255, 0));
  p.setBrush(shine);
  p.drawEllipse(QRectF(14, 10, 20, 12));
  return image;
}

QImage Warning() {
  QImage image = Canvas(48);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath triangle;
  triangle.moveTo(24, 4);
  triangle.lineTo(45, 42);
  triangle.lineTo(3, 42);
  triangle.closeSubpath();
  QLinearGradient fill(0, 4, 0, 42);
  fill.setColorAt(0, QColor(255, 90, 70));
  fill.setColorAt(1, QColor(190, 0, 0));
  QPen edge(QColor(120, 0, 0), 2.5);
  edge.setJoinStyle(Qt::RoundJoin);
  p.setPen(edge);
  p.setBrush(fill);
  p.drawPath(triangle);
  // The exclamation mark: a tapering bar and a dot.
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  QPainterPath bar;
  bar.moveTo(21, 15);
  bar.lineTo(27, 15);
  bar.lineTo(25.5, 31);
  bar.lineTo(22.5, 31);
  bar.closeSubpath();
  p.drawPath(bar);
  p.drawEllipse(QPointF(24, 36), 2.6, 2.6);
  return image;
}

// The application icon: a dark tile with a level bar graph and a red recording dot.
QImage AppIcon() {
  QImage image = Canvas(64);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient back(0, 0, 0, 64);
  back.setColorAt(0, QColor(52, 72, 110));
  back.setColorAt(1, QColor(20, 28, 48));
  p.setPen(QPen(QColor(10, 14, 24), 2));
  p.setBrush(back);
  p.drawRoundedRect(QRectF(3, 3, 58, 58), 10, 10);
  const int heights[] = {14, 26, 38, 22, 32, 18};
  for (int i = 0; i < 6; ++i) {
    const int h = heights[i];
    p.setPen(Qt::NoPen);
    p.setBrush(h > 30 ? QColor(255, 102, 0) : QColor(0, 220, 0));
    p.drawRect(QRectF(10 + i * 6, 52 - h, 4, h));
  }
  QRadialGradient dot(48, 17, 9, 45, 14);
  dot.setColorAt(0, QColor(255, 160, 160));
  dot.setColorAt(1, QColor(210, 0, 0));
  p.setBrush(dot);
  p.setPen(QPen(QColor(90, 0, 0), 1));
  p.drawEllipse(QPointF(48, 17), 8, 8);
  return image;
}

bool Save(const QImage& image, const QDir& dir, const char* name) {
  const QString path = dir.filePath(QString::fromLatin1(name) + ".png");
  if (!image.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  bool ok = Save(Light(QColor(40, 200, 40), QColor(200, 255, 170), QColor(0, 90, 0)), dir,
                 "nuvola__48x48__actions__ledlightgreen");
  ok = Save(Light(QColor(220, 30, 20), QColor(255, 190, 170), QColor(100, 0, 0)), dir,
            "nuvola__48x48__actions__ledred") &&
       ok;
  ok = Save(Warning(), dir, "nuvola__48x48__actions__messagebox_warning") && ok;
  ok = Save(AppIcon(), dir, "velloran") && ok;
  return ok ? 0 : 1;
}
