#pragma once
// The tiles' peak level meters: the decibel scale of the bar, the falling display level and the
// drawing of one meter.
// Thread contract: pure functions; DrawLevelMeter paints on whatever the painter draws on (the
// main thread for the window).
#include <QRect>
#include <QRgb>

class QPainter;

namespace velloran::ui {

// -999 for 0, otherwise 20 log10(x).
double LevelToDecibel(double x);
// The bar position (0 bottom .. 1 top) of a level in dB: piecewise linear, -60 dB at 3 %,
// -40 dB at 15 %, -30 dB at 30 %, -20 dB at half height and 0 dB at the top. Not clamped.
double DecibelToMeterPosition(double db);
// The nominal mark of a slot's nominal level (dBFS): 10^(dB/20) above -100 dBFS, else 0.
float NominalLevelToLinear(int nominalDb);
// One repaint of a falling display level: the display falls by the decay factor but never
// below the measured peak, and never below 0.
float DecayLevel(float display, float factor, float peak);

// Bar colours: red over full scale, orange above the nominal level, green otherwise.
inline constexpr QRgb kMeterRed = 0xffff0000;
inline constexpr QRgb kMeterOrange = 0xffff6600;
inline constexpr QRgb kMeterGreen = 0xff00ff00;
inline constexpr QRgb kMeterBorder = 0xff808080;

// Draws one meter in rect (left and top edge included, right and bottom edge excluded, as the
// tile layout counts them): white with a grey border, the bar from the bottom up to the
// level's position, and a grey mark one pixel below the nominal level's position unless the
// nominal level is full scale or more.
void DrawLevelMeter(QPainter& painter, const QRect& rect, float nominal, float level);

}  // namespace velloran::ui
