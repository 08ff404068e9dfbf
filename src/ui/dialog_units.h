#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Converts the dialog-unit positions of the window layouts into pixels for a
// given font, the way dialog templates are scaled: a horizontal unit is a
// quarter of the font's average character width, a vertical unit an eighth of
// its line height. The layouts thus keep their proportions with any font.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  QRect rect(int x, int y, int width, int height) const;
  QSize size(int width, int height) const;

 private:
  int toX(int units) const;
  int toY(int units) const;

  double charWidth_;
  double charHeight_;
};
