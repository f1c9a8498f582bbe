// The program's icon, drawn in code.
#include "testapp/ui/app_icon.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace quarnex {
namespace {

constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128};
constexpr int kPortCount = 4;

}  // namespace

QImage AppIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  // Drawn on a 64 x 64 grid, scaled to the size asked for.
  painter.scale(size / 64.0, size / 64.0);

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1f, 0x4e, 0x8c));
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

  // The loop: a packet leaves a port and comes back to it.
  QPen loop(QColor(0xf2, 0xf5, 0xfa), 6, Qt::SolidLine, Qt::RoundCap);
  painter.setPen(loop);
  painter.setBrush(Qt::NoBrush);
  painter.drawArc(QRectF(14, 10, 36, 32), 200 * 16, 320 * 16);
  QPainterPath head;
  head.moveTo(46, 31);
  head.lineTo(55, 25);
  head.lineTo(54, 37);
  head.closeSubpath();
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xff, 0xb3, 0x2e));
  painter.drawPath(head);

  // A row of ports along the bottom edge.
  painter.setBrush(QColor(0xf2, 0xf5, 0xfa));
  for (int i = 0; i < kPortCount; ++i) {
    painter.drawRoundedRect(QRectF(11 + i * 11.5, 47, 8, 8), 1.5, 1.5);
  }
  painter.end();
  return image;
}

QPixmap AppIconPixmap(int size) { return QPixmap::fromImage(AppIconImage(size)); }

QIcon AppIcon() {
  QIcon icon;
  for (int size : kIconSizes) icon.addPixmap(AppIconPixmap(size));
  return icon;
}

}  // namespace quarnex
