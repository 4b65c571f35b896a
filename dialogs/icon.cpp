#include "dialogs/icon.h"

#include <QPainter>
#include <QPainterPath>

namespace dialogs {

QImage DrawAppIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.scale(size / 64.0, size / 64.0);  // drawn on a 64 x 64 grid

  // The window's black, framed in its aqua.
  painter.setPen(QPen(QColor(0, 255, 255), 2.5));
  painter.setBrush(Qt::black);
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 11, 11);

  // Four white keys with three black keys, as on the keyboard strip.
  const QRectF keys(10, 31, 44, 24);
  const double white = keys.width() / 4;
  painter.setPen(QPen(Qt::black, 1.2));
  for (int i = 0; i < 4; ++i) {
    const QRectF key(keys.left() + i * white, keys.top(), white, keys.height());
    painter.setBrush(QColor(255, 255, 255));
    painter.drawRect(key);
    painter.fillRect(QRectF(key.left() + 0.6, key.bottom() - 3.5, key.width() - 1.2, 3),
                     QColor(189, 189, 189));
  }
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::black);
  for (int i = 1; i < 4; ++i) {
    painter.drawRect(QRectF(keys.left() + i * white - 3.2, keys.top(), 6.4, 14));
  }
  // The middle white key sounds: lime, as the status values.
  painter.setBrush(QColor(0, 255, 0));
  painter.drawRect(QRectF(keys.left() + white + 3.6, keys.top() + 14.6, white - 5.2, 6));

  // Two beamed eighth notes.
  const QColor lime(0, 255, 0);
  painter.setBrush(lime);
  painter.setPen(Qt::NoPen);
  painter.save();
  painter.translate(22, 23);
  painter.rotate(-20);
  painter.drawEllipse(QRectF(-5, -3.5, 10, 7));
  painter.restore();
  painter.save();
  painter.translate(41, 20);
  painter.rotate(-20);
  painter.drawEllipse(QRectF(-5, -3.5, 10, 7));
  painter.restore();
  painter.setPen(QPen(lime, 2.2, Qt::SolidLine, Qt::FlatCap));
  painter.drawLine(QPointF(26.3, 21.5), QPointF(26.3, 7.5));
  painter.drawLine(QPointF(45.3, 18.5), QPointF(45.3, 4.5));
  QPainterPath beam;
  beam.moveTo(25.2, 7.5);
  beam.lineTo(46.4, 4.5);
  beam.lineTo(46.4, 9.0);
  beam.lineTo(25.2, 12.0);
  beam.closeSubpath();
  painter.fillPath(beam, lime);
  return image;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size)));
  return icon;
}

}  // namespace dialogs
