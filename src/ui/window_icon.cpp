#include "ui/window_icon.h"

#include <QPainter>
#include <QPainterPath>

QPixmap ToolIconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size / 32.0;

  p.setPen(Qt::NoPen);
  p.setBrush(QColor(114, 152, 210));
  p.drawRoundedRect(QRectF(1 * s, 1 * s, 30 * s, 30 * s), 5 * s, 5 * s);

  // Tube and bulb in white, the mercury in red.
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(13 * s, 4 * s, 6 * s, 19 * s), 3 * s, 3 * s);
  p.drawEllipse(QPointF(16 * s, 23 * s), 6 * s, 6 * s);
  p.setBrush(QColor(255, 0, 0));
  p.drawRect(QRectF(14.5 * s, 11 * s, 3 * s, 12 * s));
  p.drawEllipse(QPointF(16 * s, 23 * s), 4 * s, 4 * s);
  return pixmap;
}

QIcon ToolIcon() {
  QIcon icon;
  icon.addPixmap(ToolIconPixmap(16));
  icon.addPixmap(ToolIconPixmap(32));
  return icon;
}
