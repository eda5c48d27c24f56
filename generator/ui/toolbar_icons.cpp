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

QPainterPath pageOutline() {
  QPainterPath page;
  page.moveTo(6, 3);
  page.lineTo(19, 3);
  page.lineTo(26, 10);
  page.lineTo(26, 29);
  page.lineTo(6, 29);
  page.closeSubpath();
  return page;
}

void drawNewPage(QPainter& p, const Colours& c) {
  p.setPen(pen(c.ink, 1.5));
  p.setBrush(c.paper);
  p.drawPath(pageOutline());
  p.drawPolyline(QPolygonF({QPointF(19, 3), QPointF(19, 10), QPointF(26, 10)}));
  // A star badge: something new.
  p.setPen(pen(c.paper, 1.2));
  p.setBrush(c.accent);
  p.drawEllipse(QPointF(22, 24), 7, 7);
  p.setPen(pen(c.paper, 2.2));
  p.drawLine(QPointF(22, 20), QPointF(22, 28));
  p.drawLine(QPointF(18, 24), QPointF(26, 24));
}

void drawFolder(QPainter& p, const Colours& c) {
  p.setPen(pen(c.ink, 1.5));
  p.setBrush(c.second);
  QPainterPath back;
  back.moveTo(3, 26);
  back.lineTo(3, 7);
  back.lineTo(11, 7);
  back.lineTo(14, 10);
  back.lineTo(26, 10);
  back.lineTo(26, 14);
  p.drawPath(back);
  QPainterPath front;
  front.moveTo(3, 26);
  front.lineTo(8, 14);
  front.lineTo(30, 14);
  front.lineTo(25, 26);
  front.closeSubpath();
  p.setBrush(c.accent);
  p.drawPath(front);
}

void drawDisk(QPainter& p, const Colours& c) {
  p.setPen(pen(c.ink, 1.5));
  p.setBrush(c.accent);
  QPainterPath disk;
  disk.moveTo(4, 4);
  disk.lineTo(24, 4);
  disk.lineTo(28, 8);
  disk.lineTo(28, 28);
  disk.lineTo(4, 28);
  disk.closeSubpath();
  p.drawPath(disk);
  p.setBrush(c.paper);
  p.drawRect(QRectF(9, 4, 13, 8));
  p.drawRect(QRectF(8, 17, 16, 11));
  p.setPen(pen(c.second, 1.5));
  for (qreal y : {21.0, 24.5}) p.drawLine(QPointF(11, y), QPointF(21, y));
}

void drawBox(QPainter& p, const Colours& c) {
  p.setPen(pen(c.ink, 1.5));
  p.setBrush(c.accent);
  p.drawPolygon(QPolygonF({QPointF(4, 11), QPointF(16, 16), QPointF(16, 30), QPointF(4, 25)}));
  p.setBrush(c.accent.darker(115));
  p.drawPolygon(QPolygonF({QPointF(16, 16), QPointF(28, 11), QPointF(28, 25), QPointF(16, 30)}));
  p.setBrush(c.accent.lighter(120));
  p.drawPolygon(QPolygonF({QPointF(4, 11), QPointF(16, 6), QPointF(28, 11), QPointF(16, 16)}));
  // The tape across the lid.
  p.setPen(pen(c.second, 2.5));
  p.drawLine(QPointF(10, 8.5), QPointF(22, 13.5));
  // An arrow out of the box: handed on.
  p.setPen(pen(c.ink, 1.8));
  p.drawLine(QPointF(22, 4), QPointF(29, 4));
  p.drawPolyline(QPolygonF({QPointF(26, 1.5), QPointF(29, 4), QPointF(26, 6.5)}));
}

void drawBook(QPainter& p, const Colours& c) {
  p.setPen(pen(c.ink, 1.5));
  p.setBrush(c.paper);
  QPainterPath left;
  left.moveTo(16, 8);
  left.cubicTo(12, 5, 7, 5, 3, 6);
  left.lineTo(3, 26);
  left.cubicTo(7, 25, 12, 25, 16, 28);
  left.closeSubpath();
  QPainterPath right;
  right.moveTo(16, 8);
  right.cubicTo(20, 5, 25, 5, 29, 6);
  right.lineTo(29, 26);
  right.cubicTo(25, 25, 20, 25, 16, 28);
  right.closeSubpath();
  p.drawPath(left);
  p.drawPath(right);
  p.setPen(pen(c.accent, 1.5));
  for (qreal y : {11.0, 15.0, 19.0}) {
    p.drawLine(QPointF(6, y), QPointF(13, y + 0.5));
    p.drawLine(QPointF(19, y + 0.5), QPointF(26, y));
  }
}

void drawQuestion(QPainter& p, const Colours& c) {
  p.setPen(pen(c.ink, 1.5));
  p.setBrush(c.accent);
  p.drawEllipse(QPointF(16, 16), 13, 13);
  p.setPen(pen(c.paper, 3));
  p.setBrush(Qt::NoBrush);
  QPainterPath hook;
  hook.moveTo(11.5, 12.5);
  hook.cubicTo(11.5, 7, 20.5, 7, 20.5, 12.5);
  hook.cubicTo(20.5, 16, 16, 16, 16, 19.5);
  p.drawPath(hook);
  p.setPen(Qt::NoPen);
  p.setBrush(c.paper);
  p.drawEllipse(QPointF(16, 24), 1.9, 1.9);
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
  // The designer's toolbar: its "output" starts the generator, as print does.
  if (key == "new") return QIcon(new DrawnIcon(drawNewPage, QColor(33, 140, 76), QColor(33, 140, 76)));
  if (key == "open") return QIcon(new DrawnIcon(drawFolder, QColor(240, 190, 70), QColor(215, 160, 50)));
  if (key == "save") return QIcon(new DrawnIcon(drawDisk, QColor(70, 110, 190), QColor(130, 138, 150)));
  if (key == "output") return QIcon(new DrawnIcon(drawPages, QColor(70, 110, 190), QColor(33, 140, 76)));
  if (key == "pack") return QIcon(new DrawnIcon(drawBox, QColor(200, 150, 90), QColor(240, 220, 170)));
  if (key == "readme") return QIcon(new DrawnIcon(drawBook, QColor(70, 110, 190), QColor(70, 110, 190)));
  if (key == "help") return QIcon(new DrawnIcon(drawQuestion, QColor(70, 140, 220), QColor(70, 140, 220)));
  return QIcon();
}

}  // namespace quill
