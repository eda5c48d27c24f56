// Each image is a function that paints on a 32 x 32 grid; an icon engine
// scales the grid to the size asked for and picks the colours by mode. The
// engine's default pixmap() paints through paint(), at the device pixels a
// high-density screen asks for.
#include "generator/ui/toolbar_icons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace quill {

namespace {

struct Colours {
  QColor ink;     // outlines
  QColor paper;   // page and sheet faces
  QColor accent;  // the colour that tells the images apart
  QColor second;  // a detail in a second colour
};

Colours coloursFor(QIcon::Mode mode, QColor accent, QColor second) {
  if (mode == QIcon::Disabled) return {QColor(150, 150, 150), QColor(235, 235, 235), QColor(170, 170, 170), QColor(190, 190, 190)};
  return {QColor(60, 64, 72), Qt::white, accent, second};
}

QPen pen(const QColor& c, qreal width) { return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

void drawWorkbook(QPainter& p, const Colours& c) {
  p.setPen(pen(c.ink, 1.5));
  p.setBrush(c.paper);
  p.drawRoundedRect(QRectF(3, 4, 22, 24), 2, 2);
  p.setPen(Qt::NoPen);
  p.setBrush(c.accent);
  p.drawRect(QRectF(3.75, 4.75, 20.5, 5));
  p.setPen(pen(c.accent, 1));
  for (qreal y : {15.0, 20.0}) p.drawLine(QPointF(4, y), QPointF(24, y));
  for (qreal x : {10.0, 17.0}) p.drawLine(QPointF(x, 10), QPointF(x, 27));
  // A pencil across the lower right corner.
  p.save();
  p.translate(23, 22);
  p.rotate(-45);
  p.setPen(pen(c.ink, 1.2));
  p.setBrush(c.second);
  p.drawRect(QRectF(-9, -2.5, 14, 5));
  QPainterPath tip;
  tip.moveTo(5, -2.5);
  tip.lineTo(9.5, 0);
  tip.lineTo(5, 2.5);
  tip.closeSubpath();
  p.setBrush(c.paper);
  p.drawPath(tip);
  p.restore();
}

void drawPages(QPainter& p, const Colours& c) {
  QPainterPath page;
  page.moveTo(6, 3);
  page.lineTo(19, 3);
  page.lineTo(26, 10);
  page.lineTo(26, 29);
  page.lineTo(6, 29);
  page.closeSubpath();
  p.setPen(pen(c.ink, 1.5));
  p.setBrush(c.paper);
  p.drawPath(page);
  p.drawPolyline(QPolygonF({QPointF(19, 3), QPointF(19, 10), QPointF(26, 10)}));
  p.setPen(pen(c.accent, 2));
  p.drawLine(QPointF(10, 13), QPointF(22, 13));
  for (qreal y : {17.0, 21.0}) p.drawLine(QPointF(10, y), QPointF(18, y));
  // A round badge with a play mark: the pages are made now.
  p.setPen(pen(c.paper, 1.5));
  p.setBrush(c.second);
  p.drawEllipse(QPointF(23, 24), 6.5, 6.5);
  p.setPen(Qt::NoPen);
  p.setBrush(c.paper);
  p.drawPolygon(QPolygonF({QPointF(21, 20.5), QPointF(27, 24), QPointF(21, 27.5)}));
}

void drawUpload(QPainter& p, const Colours& c) {
  QPainterPath cloud;
  cloud.moveTo(9, 25);
  cloud.arcTo(QRectF(2, 14, 11, 11), 270, -180);
  cloud.arcTo(QRectF(7, 6, 16, 16), 160, -150);
  cloud.arcTo(QRectF(19, 13, 11, 12), 90, -180);
  cloud.closeSubpath();
  p.setPen(pen(c.ink, 1.5));
  p.setBrush(c.accent);
  p.drawPath(cloud);
  p.setPen(pen(c.paper, 2.5));
  p.drawLine(QPointF(16, 29), QPointF(16, 15));
  p.drawPolyline(QPolygonF({QPointF(11.5, 19.5), QPointF(16, 15), QPointF(20.5, 19.5)}));
}

void drawCog(QPainter& p, const Colours& c) {
  constexpr int kTeeth = 8;
  constexpr qreal kPi = 3.14159265358979323846;
  QPainterPath cog;
  for (int i = 0; i < kTeeth * 4; ++i) {
    const qreal angle = (i - 0.5) * kPi / (kTeeth * 2);
    const qreal radius = (i % 4 < 2) ? 13.5 : 10.5;
    const QPointF point(16 + radius * std::cos(angle), 16 + radius * std::sin(angle));
    if (i == 0)
      cog.moveTo(point);
    else
      cog.lineTo(point);
  }
  cog.closeSubpath();
  cog.addEllipse(QPointF(16, 16), 4.5, 4.5);
  p.setPen(pen(c.ink, 1.5));
  p.setBrush(c.accent);
  p.drawPath(cog);
}

class DrawnIcon : public QIconEngine {
 public:
  using Draw = void (*)(QPainter&, const Colours&);
  DrawnIcon(Draw draw, QColor accent, QColor second) : draw_(draw), accent_(accent), second_(second) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(rect.topLeft());
    painter->scale(rect.width() / 32.0, rect.height() / 32.0);
    draw_(*painter, coloursFor(mode, accent_, second_));
    painter->restore();
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap image(size);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return image;
  }

  QIconEngine* clone() const override { return new DrawnIcon(draw_, accent_, second_); }

 private:
  Draw draw_;
  QColor accent_;
  QColor second_;
};

}  // namespace

QIcon toolbarIcon(std::string_view key) {
  if (key == "excel") return QIcon(new DrawnIcon(drawWorkbook, QColor(33, 140, 76), QColor(240, 180, 40)));
  if (key == "print") return QIcon(new DrawnIcon(drawPages, QColor(70, 110, 190), QColor(33, 140, 76)));
  if (key == "send") return QIcon(new DrawnIcon(drawUpload, QColor(70, 140, 220), QColor(70, 140, 220)));
  if (key == "setup") return QIcon(new DrawnIcon(drawCog, QColor(130, 138, 150), QColor(130, 138, 150)));
  return QIcon();
}

}  // namespace quill
