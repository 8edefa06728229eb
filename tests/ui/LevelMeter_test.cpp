#include "ui/LevelMeter.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>

#include "app/Application.h"

namespace velloran::ui::test {
namespace {

TEST(LevelMeterTest, DecibelsAndMeterPositions) {
  EXPECT_EQ(LevelToDecibel(0), -999);
  EXPECT_NEAR(LevelToDecibel(1.0), 0, 1e-12);
  EXPECT_NEAR(LevelToDecibel(0.1), -20, 1e-12);
  struct Case {
    double db;
    double position;
  };
  // The corners of the scale, a point inside each piece and both ends.
  const Case cases[] = {{-999, 0},   {-200, 0},    {-130, 0.015},     {-60, 0.03}, {-50, 0.09},
                        {-40, 0.15}, {-35, 0.225}, {-30, 0.3},        {-25, 0.4},  {-20, 0.5},
                        {-10, 0.75}, {0, 1.0},     {6.0206, 1.150515}};
  for (const Case& c : cases) {
    EXPECT_NEAR(DecibelToMeterPosition(c.db), c.position, 1e-5) << c.db;
  }
  EXPECT_EQ(NominalLevelToLinear(-100), 0.0f);
  EXPECT_EQ(NominalLevelToLinear(-120), 0.0f);
  EXPECT_NEAR(NominalLevelToLinear(-99), std::pow(10.0, -99 / 20.0), 1e-9);
  EXPECT_EQ(NominalLevelToLinear(0), 1.0f);
}

// A meter drawn at (10, 4) .. (26, 84), 16 x 80 pixels like a tile's, read back pixel by pixel.
class MeterPixels {
 public:
  MeterPixels(float nominal, float level) : image_(40, 100, QImage::Format_ARGB32) {
    image_.fill(Qt::white);
    QPainter painter(&image_);
    DrawLevelMeter(painter, QRect(10, 4, 16, 80), nominal, level);
  }
  QRgb At(int x, int y) const { return image_.pixel(x, y) | 0xff000000u; }
  // Rows whose inner pixels (x 11 .. 24) are all grey: the nominal mark.
  std::vector<int> GreyRows() const {
    std::vector<int> rows;
    for (int y = 0; y < image_.height(); ++y) {
      bool grey = true;
      for (int x = 11; x <= 24; ++x) {
        grey = grey && At(x, y) == kMeterBorder;
      }
      if (grey) {
        rows.push_back(y);
      }
    }
    return rows;
  }

 private:
  QImage image_;
};

TEST(LevelMeterTest, BarColourAndNominalMarkFromRenderedPixels) {
  // -26 dBFS: position 0.38, row trunc(84 - 30.4) = 53, the mark one row below.
  const float nominal = NominalLevelToLinear(-26);
  struct Case {
    const char* what;
    float nominal;
    float level;
    QRgb bar;                   // colour at the bottom of the bar
    std::vector<int> greyRows;  // rows grey from border to border: top border and mark
  };
  // The bar covers the bottom border row and the right border column, as its rectangle ends
  // where the meter's does; the top border row 4 stays grey.
  const Case cases[] = {
      {"full scale at a 0 dBFS nominal", 1.0f, 1.0f, kMeterGreen, {4}},
      {"full scale above the nominal", nominal, 1.0f, kMeterOrange, {4, 54}},
      {"just over full scale", 1.0f, 1.0001f, kMeterRed, {4}},
      {"below the nominal", nominal, 0.02f, kMeterGreen, {4, 54}},
      {"no nominal: every level is orange, the mark below the meter",
       0.0f,
       0.001f,
       kMeterOrange,
       {4, 85}},
  };
  for (const Case& c : cases) {
    const MeterPixels meter(c.nominal, c.level);
    EXPECT_EQ(meter.At(15, 82), c.bar) << c.what;
    EXPECT_EQ(meter.At(25, 83), c.bar) << c.what;
    EXPECT_EQ(meter.GreyRows(), c.greyRows) << c.what;
    EXPECT_EQ(meter.At(10, 30), kMeterBorder) << c.what;
  }
  // Full scale fills up to the row below the top border; silence leaves the meter white.
  EXPECT_EQ(MeterPixels(1.0f, 1.0f).At(15, 5), kMeterGreen);
  const MeterPixels silent(1.0f, 0.0f);
  EXPECT_EQ(silent.At(15, 82), 0xffffffffu);
  EXPECT_EQ(silent.GreyRows(), (std::vector<int>{4, 83}));
  // A level at -26 dB reaches row 53; the bar starts one row below.
  const MeterPixels part(1.0f, nominal);
  EXPECT_EQ(part.At(15, 53), 0xffffffffu);
  EXPECT_EQ(part.At(15, 54), kMeterGreen);
}

TEST(LevelMeterTest, DisplayFallsTwentyDecibelsEveryOneAndAHalfSeconds) {
  const auto factor =
      static_cast<float>(app::TVelloranApp::ComputeLevelFactor(app::TVelloranApp::kTimerInterval));
  EXPECT_NEAR(factor, 0.85770f, 1e-5f);
  const float quiet = 0.001f;  // -60 dB measured after one full-scale peak
  float display = DecayLevel(0, factor, 1.0f);
  for (int tick = 1; tick <= 45; ++tick) {
    display = DecayLevel(display, factor, quiet);
    if (tick == 15) {
      EXPECT_NEAR(LevelToDecibel(display), -20, 0.01);
    }
    if (tick == 30) {
      EXPECT_NEAR(LevelToDecibel(display), -40, 0.01);
    }
  }
  EXPECT_EQ(display, quiet);  // it met the measured peak and stays there
  EXPECT_EQ(DecayLevel(0.5f, factor, -1.0f), 0.5f * factor);
  EXPECT_EQ(DecayLevel(0.0f, factor, -1.0f), 0.0f);  // never below 0
}

}  // namespace
}  // namespace velloran::ui::test
