#include "ui/dialog_units.h"

#include <QFontMetricsF>
#include <cmath>

namespace {
// The average width is taken over the Latin alphabet, as the dialog manager
// does, rather than from the font's own (CJK-weighted) figure.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  QFontMetricsF metrics(font);
  charWidth_ = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) / 52.0;
  charHeight_ = std::ceil(metrics.height());
}

int DialogUnits::toX(int units) const {
  return static_cast<int>(std::lround(units * charWidth_ / 4.0));
}

int DialogUnits::toY(int units) const {
  return static_cast<int>(std::lround(units * charHeight_ / 8.0));
}

// Edges are converted rather than sizes, so neighbouring controls that touch
// in dialog units also touch in pixels.
QRect DialogUnits::rect(int x, int y, int width, int height) const {
  int left = toX(x);
  int top = toY(y);
  return QRect(left, top, toX(x + width) - left, toY(y + height) - top);
}

QSize DialogUnits::size(int width, int height) const { return QSize(toX(width), toY(height)); }
