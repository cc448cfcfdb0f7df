// Draws the images of the skin archive: the sprite sheet Controls.png (every rectangle
// that the skins and the program cut from it), the header, the logo, the switch images
// and the frames of the two animations. Run at build time:
//   bv_skin_painter <output folder>
// writes the PNG files there and the animation frames under <output folder>/frames.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>

namespace {

const QColor kBlue(0x2F, 0x7D, 0xE1);
const QColor kBlueDark(0x1E, 0x3A, 0x5F);
const QColor kOrange(0xF3, 0x73, 0x02);
const QColor kGrey(0x8A, 0x94, 0xA3);
const QColor kLine(0xC9, 0xD6, 0xE6);

QImage NewImage(int w, int h) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  return img;
}

void Prepare(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QRectF R(int l, int t, int r, int b) {
  return QRectF(l, t, r - l, b - t);
}

void RoundRect(QPainter& p, const QRectF& r, qreal rad, const QBrush& fill,
               const QPen& pen = Qt::NoPen) {
  p.setPen(pen);
  p.setBrush(fill);
  p.drawRoundedRect(r, rad, rad);
}

QPen Stroke(const QColor& c, qreal w) {
  QPen pen(c, w);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  return pen;
}

void CheckMark(QPainter& p, const QRectF& r, const QColor& c, qreal w) {
  p.setPen(Stroke(c, w));
  p.setBrush(Qt::NoBrush);
  QPainterPath path;
  path.moveTo(r.left() + r.width() * 0.22, r.top() + r.height() * 0.52);
  path.lineTo(r.left() + r.width() * 0.42, r.top() + r.height() * 0.72);
  path.lineTo(r.left() + r.width() * 0.78, r.top() + r.height() * 0.30);
  p.drawPath(path);
}

void Glyph(QPainter& p, const QRectF& r, const QString& text, const QColor& c, qreal px,
           bool bold = true) {
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(static_cast<int>(px));
  f.setBold(bold);
  p.setFont(f);
  p.setPen(c);
  p.drawText(r, Qt::AlignCenter, text);
}

// A phone outline.
void Phone(QPainter& p, const QRectF& r, const QColor& c, qreal w) {
  p.setPen(Stroke(c, w));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(r, r.width() * 0.18, r.width() * 0.18);
  p.drawLine(QPointF(r.center().x() - r.width() * 0.12, r.bottom() - r.height() * 0.1),
             QPointF(r.center().x() + r.width() * 0.12, r.bottom() - r.height() * 0.1));
}

// ---- pieces of Controls.png -------------------------------------------------------

void SourceBadge(QPainter& p, const QRectF& r, bool device) {
  QLinearGradient g(r.topLeft(), r.bottomRight());
  g.setColorAt(0, QColor(0x4A, 0x9B, 0xF5));
  g.setColorAt(1, QColor(0x2B, 0x6C, 0xB0));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawEllipse(r.adjusted(1, 1, -1, -1));
  const QRectF phone(r.center().x() - 9, r.top() + 12, 18, 29);
  Phone(p, phone, Qt::white, 2.2);
  if (device) {
    // A cable leaving the phone.
    p.setPen(Stroke(Qt::white, 2.2));
    QPainterPath cable;
    cable.moveTo(phone.center().x(), phone.bottom());
    cable.cubicTo(phone.center().x(), phone.bottom() + 6, phone.right() + 8, phone.bottom() + 2,
                  phone.right() + 9, phone.center().y());
    p.drawPath(cable);
  } else {
    // Circular arrows: a backup.
    p.setPen(Stroke(Qt::white, 2));
    const QRectF ring(phone.center().x() - 6, phone.center().y() - 7, 12, 12);
    p.drawArc(ring, 30 * 16, 280 * 16);
    QPainterPath head;
    head.moveTo(ring.right() - 1, ring.top() + 1);
    head.lineTo(ring.right() + 2, ring.top() + 5);
    head.lineTo(ring.right() - 3, ring.top() + 5);
    p.drawPath(head);
  }
}

void TickBox(QPainter& p, const QRectF& r, int state, bool hot = false) {
  // state 0 unchecked, 1 checked, 2 half
  const QRectF b = r.adjusted(1, 1, -1, -1);
  if (state == 0) {
    RoundRect(p, b, 3, Qt::white, QPen(hot ? kBlue : QColor(0xA9, 0xB4, 0xC2), 1.2));
    return;
  }
  RoundRect(p, b, 3, kBlue);
  if (state == 1) {
    CheckMark(p, b, Qt::white, b.width() > 14 ? 2.2 : 1.8);
  } else {
    p.setPen(Stroke(Qt::white, 2.2));
    p.drawLine(QPointF(b.left() + b.width() * 0.27, b.center().y()),
               QPointF(b.right() - b.width() * 0.27, b.center().y()));
  }
}

enum CaptionGlyph { kClose, kMin, kMax, kRestore, kMenu };

void Caption(QPainter& p, const QRectF& r, CaptionGlyph g, const QColor& c, const QColor& hotBg) {
  if (hotBg.isValid()) {
    p.setPen(Qt::NoPen);
    p.setBrush(hotBg);
    p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 5, 5);
  }
  p.setPen(Stroke(c, 1.6));
  p.setBrush(Qt::NoBrush);
  const QPointF m = r.center();
  switch (g) {
    case kClose:
      p.drawLine(m + QPointF(-5, -5), m + QPointF(5, 5));
      p.drawLine(m + QPointF(5, -5), m + QPointF(-5, 5));
      break;
    case kMin:
      p.drawLine(m + QPointF(-6, 3), m + QPointF(6, 3));
      break;
    case kMax:
      p.drawRoundedRect(QRectF(m + QPointF(-5.5, -5.5), QSizeF(11, 11)), 1.5, 1.5);
      break;
    case kRestore:
      p.drawRoundedRect(QRectF(m + QPointF(-6, -3), QSizeF(9, 9)), 1.5, 1.5);
      p.drawPolyline(QPolygonF({m + QPointF(-3, -3), m + QPointF(-3, -6), m + QPointF(6, -6),
                                m + QPointF(6, 3), m + QPointF(3, 3)}));
      break;
    case kMenu:
      for (int i = -1; i <= 1; ++i) p.drawLine(m + QPointF(-6, i * 4.5), m + QPointF(6, i * 4.5));
      break;
  }
}

void Button(QPainter& p, const QRectF& r, const QColor& fill, const QColor& border) {
  const QRectF b = r.adjusted(0.5, 0.5, -0.5, -0.5);
  if (border.isValid())
    RoundRect(p, b, 6, fill, QPen(border, 1));
  else
    RoundRect(p, b, 6, fill);
}

void Bubble(QPainter& p, const QRectF& r, bool sent) {
  const QColor fill = sent ? kBlue : QColor(0xE4, 0xE8, 0xEE);
  QPainterPath body;
  const QRectF box = sent ? r.adjusted(0, 0, -8, 0) : r.adjusted(8, 0, 0, 0);
  body.addRoundedRect(box, 12, 12);
  QPainterPath tail;
  if (sent) {
    tail.moveTo(box.right() - 10, box.bottom() - 14);
    tail.quadTo(box.right() + 1, box.bottom() - 4, r.right(), box.bottom());
    tail.quadTo(box.right() - 8, box.bottom(), box.right() - 14, box.bottom() - 4);
  } else {
    tail.moveTo(box.left() + 10, box.bottom() - 14);
    tail.quadTo(box.left() - 1, box.bottom() - 4, r.left(), box.bottom());
    tail.quadTo(box.left() + 8, box.bottom(), box.left() + 14, box.bottom() - 4);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawPath(body.united(tail));
}

void KindIcon(QPainter& p, const QRectF& r, int kind) {
  // 0 error, 1 confirm, 2 information, 3 warning, 4 question
  const QRectF c = r.adjusted(2, 2, -2, -2);
  p.setPen(Qt::NoPen);
  if (kind == 3) {
    QPainterPath tri;
    tri.moveTo(c.center().x(), c.top() + 1);
    tri.lineTo(c.right(), c.bottom() - 2);
    tri.lineTo(c.left(), c.bottom() - 2);
    tri.closeSubpath();
    p.setPen(QPen(QColor(0xF5, 0xA6, 0x23), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xF5, 0xA6, 0x23));
    p.drawPath(tri);
    p.setPen(Stroke(Qt::white, 3));
    p.drawLine(QPointF(c.center().x(), c.top() + 12), QPointF(c.center().x(), c.top() + 21));
    p.drawPoint(QPointF(c.center().x(), c.top() + 27));
    return;
  }
  const QColor col = kind == 0   ? QColor(0xE0, 0x4F, 0x4F)
                     : kind == 1 ? QColor(0x27, 0xAE, 0x60)
                                 : kBlue;
  p.setBrush(col);
  p.drawEllipse(c);
  const QPointF m = c.center();
  if (kind == 0) {
    p.setPen(Stroke(Qt::white, 3));
    p.drawLine(m + QPointF(-6, -6), m + QPointF(6, 6));
    p.drawLine(m + QPointF(6, -6), m + QPointF(-6, 6));
  } else if (kind == 1) {
    CheckMark(p, c.adjusted(3, 3, -3, -3), Qt::white, 3);
  } else if (kind == 2) {
    p.setPen(Stroke(Qt::white, 3.2));
    p.drawPoint(m + QPointF(0, -7));
    p.drawLine(m + QPointF(0, -1), m + QPointF(0, 8));
  } else {
    Glyph(p, c.adjusted(0, 1, 0, 0), QStringLiteral("?"), Qt::white, 21);
  }
}

void DeletedMark(QPainter& p, const QRectF& r) {
  const QRectF c = r.adjusted(1, 1, -1, -1);
  p.setPen(Qt::NoPen);
  p.setBrush(kOrange);
  p.drawEllipse(c);
  // A small bin.
  p.setPen(Stroke(Qt::white, 1.3));
  const QPointF m = c.center();
  p.drawLine(m + QPointF(-4, -3), m + QPointF(4, -3));
  p.drawLine(m + QPointF(-1.5, -4.5), m + QPointF(1.5, -4.5));
  QPainterPath bin;
  bin.moveTo(m + QPointF(-3, -1.5));
  bin.lineTo(m + QPointF(-2.4, 4));
  bin.lineTo(m + QPointF(2.4, 4));
  bin.lineTo(m + QPointF(3, -1.5));
  p.drawPath(bin);
}

// The category icons: a coloured rounded square with a white picture.
void CategoryIcon(QPainter& p, const QRectF& r, int which) {
  static const QColor colours[] = {
      QColor(0xF2, 0x99, 0x4A), QColor(0x56, 0xCC, 0xF2), QColor(0xBB, 0x6B, 0xD9),
      QColor(0xEB, 0x57, 0x57), QColor(0x27, 0xAE, 0x60), QColor(0x82, 0x8F, 0xA1),
      QColor(0x8D, 0x6E, 0x63), QColor(0x2D, 0x9C, 0xDB), QColor(0xF2, 0xC9, 0x4C),
      QColor(0x25, 0xD3, 0x66), QColor(0xEB, 0x57, 0x57), QColor(0xE8, 0x4A, 0x5F),
      QColor(0x2F, 0x80, 0xED), QColor(0xF2, 0xB3, 0x4C)};
  const QRectF b = r.adjusted(0.5, 0.5, -0.5, -0.5);
  RoundRect(p, b, 4, colours[which]);
  const QPointF m = b.center();
  p.setPen(Stroke(Qt::white, 1.4));
  p.setBrush(Qt::NoBrush);
  switch (which) {
    case 0:  // camera roll: a camera
      p.drawRoundedRect(QRectF(m + QPointF(-5.5, -3), QSizeF(11, 8)), 1.5, 1.5);
      p.drawEllipse(m + QPointF(0, 1), 2.3, 2.3);
      p.drawLine(m + QPointF(-2, -4.5), m + QPointF(2, -4.5));
      break;
    case 1: {  // photo stream: a cloud
      QPainterPath c;
      c.addEllipse(m + QPointF(-2.5, 0), 3.5, 3);
      c.addEllipse(m + QPointF(1.5, -1.5), 3.8, 3.6);
      c.addEllipse(m + QPointF(4, 1), 2.5, 2.2);
      c.addRect(QRectF(m + QPointF(-3, 0.5), QSizeF(7, 2.5)));
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawPath(c.simplified());
      break;
    }
    case 2: {  // app photos: a picture
      p.drawRoundedRect(QRectF(m + QPointF(-5.5, -4.5), QSizeF(11, 9)), 1.5, 1.5);
      QPainterPath hill;
      hill.moveTo(m + QPointF(-5, 4));
      hill.lineTo(m + QPointF(-1.5, 0));
      hill.lineTo(m + QPointF(1, 2.5));
      hill.lineTo(m + QPointF(2.5, 1));
      hill.lineTo(m + QPointF(5, 4));
      p.drawPath(hill);
      p.drawPoint(m + QPointF(2.5, -2));
      break;
    }
    case 3: {  // app videos: a play sign
      QPainterPath t;
      t.moveTo(m + QPointF(-3, -4.5));
      t.lineTo(m + QPointF(4.5, 0));
      t.lineTo(m + QPointF(-3, 4.5));
      t.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawPath(t);
      break;
    }
    case 4: {  // messages: a speech bubble
      QPainterPath s;
      s.addRoundedRect(QRectF(m + QPointF(-5.5, -4.5), QSizeF(11, 8)), 3.5, 3.5);
      QPainterPath t;
      t.moveTo(m + QPointF(-3, 2));
      t.lineTo(m + QPointF(-4.5, 5.5));
      t.lineTo(m + QPointF(0, 3));
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawPath(s.united(t));
      break;
    }
    case 5: {  // attachments: a paper clip
      QPainterPath c;
      c.moveTo(m + QPointF(2, -2));
      c.lineTo(m + QPointF(-2, 2.5));
      c.arcTo(QRectF(m + QPointF(-4.5, 0.5), QSizeF(4, 4)), 225, 180);
      c.lineTo(m + QPointF(3.5, -3.5));
      c.arcTo(QRectF(m + QPointF(1.5, -6), QSizeF(4.5, 4.5)), 45, 180);
      c.lineTo(m + QPointF(-4.5, 3.5));
      p.drawPath(c);
      break;
    }
    case 6:  // contacts: a person
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawEllipse(m + QPointF(0, -2.5), 2.6, 2.6);
      p.drawChord(QRectF(m + QPointF(-5, 1), QSizeF(10, 9)), 0, 180 * 16);
      break;
    case 7: {  // call history: a handset
      QPainterPath h;
      h.moveTo(m + QPointF(-4.5, -5));
      h.quadTo(m + QPointF(-6, 0), m + QPointF(-1, 4));
      h.quadTo(m + QPointF(3, 6.5), m + QPointF(5, 4.5));
      p.setPen(Stroke(Qt::white, 2.6));
      p.drawPath(h);
      break;
    }
    case 8:  // notes: lines on a page
      p.setPen(Stroke(QColor(0x7A, 0x5C, 0x00), 1.2));
      for (int i = -1; i <= 2; ++i)
        p.drawLine(m + QPointF(-4.5, i * 2.6 - 1), m + QPointF(i == 2 ? 1 : 4.5, i * 2.6 - 1));
      break;
    case 9: {  // WhatsApp: a round bubble with a handset
      p.drawEllipse(m, 5.5, 5.5);
      QPainterPath t;
      t.moveTo(m + QPointF(-4, 3.5));
      t.lineTo(m + QPointF(-5.5, 6));
      t.lineTo(m + QPointF(-2, 5));
      p.drawPath(t);
      p.setPen(Stroke(Qt::white, 1.6));
      p.drawArc(QRectF(m + QPointF(-2.5, -2.5), QSizeF(5, 5)), 180 * 16, 90 * 16);
      break;
    }
    case 10:  // reminder: a checklist
      for (int i = -1; i <= 1; ++i) {
        p.drawPoint(m + QPointF(-4, i * 3.2));
        p.drawLine(m + QPointF(-1.5, i * 3.2), m + QPointF(4.5, i * 3.2));
      }
      break;
    case 11:  // calendar
      p.drawRoundedRect(QRectF(m + QPointF(-5, -4), QSizeF(10, 9)), 1.5, 1.5);
      p.drawLine(m + QPointF(-5, -1), m + QPointF(5, -1));
      p.drawLine(m + QPointF(-2.5, -5.5), m + QPointF(-2.5, -3));
      p.drawLine(m + QPointF(2.5, -5.5), m + QPointF(2.5, -3));
      break;
    case 12: {  // safari bookmark: a compass
      p.drawEllipse(m, 5.5, 5.5);
      QPainterPath n;
      n.moveTo(m + QPointF(3, -3));
      n.lineTo(m + QPointF(0.8, 0.8));
      n.lineTo(m + QPointF(-3, 3));
      n.lineTo(m + QPointF(-0.8, -0.8));
      n.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawPath(n);
      break;
    }
    case 13: {  // folder (the app list)
      QPainterPath f;
      f.moveTo(m + QPointF(-6, -4));
      f.lineTo(m + QPointF(-1.5, -4));
      f.lineTo(m + QPointF(0, -2.5));
      f.lineTo(m + QPointF(6, -2.5));
      f.lineTo(m + QPointF(6, 5));
      f.lineTo(m + QPointF(-6, 5));
      f.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawPath(f);
      break;
    }
    default:
      break;
  }
}

void BackupIcon(QPainter& p, const QRectF& r, bool encrypted) {
  // A phone beside a stack that stands for the backup; a padlock when encrypted.
  const QRectF phone(r.left() + 8, r.top() + 2, 13, 22);
  Phone(p, phone, kBlue, 1.6);
  p.setPen(Stroke(kGrey, 1.4));
  p.setBrush(Qt::NoBrush);
  const QRectF disk(r.left() + 25, r.top() + 6, 14, 14);
  p.drawEllipse(QRectF(disk.left(), disk.top(), disk.width(), 5));
  p.drawLine(QPointF(disk.left(), disk.top() + 2.5), QPointF(disk.left(), disk.bottom() - 2.5));
  p.drawLine(QPointF(disk.right(), disk.top() + 2.5), QPointF(disk.right(), disk.bottom() - 2.5));
  p.drawArc(QRectF(disk.left(), disk.bottom() - 5, disk.width(), 5), 180 * 16, 180 * 16);
  p.drawArc(QRectF(disk.left(), disk.center().y() - 2.5, disk.width(), 5), 180 * 16, 180 * 16);
  if (encrypted) {
    const QRectF body(r.left() + 34, r.top() + 13, 11, 9);
    p.setPen(Stroke(kOrange, 1.6));
    p.drawArc(QRectF(body.left() + 2, body.top() - 6, 7, 9), 0, 180 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawRoundedRect(body, 2, 2);
  }
}

QImage DrawControls() {
  QImage img = NewImage(600, 470);
  QPainter p(&img);
  Prepare(p);
  SourceBadge(p, R(484, 1, 537, 54), true);
  SourceBadge(p, R(538, 1, 591, 54), false);
  CheckMark(p, R(359, 38, 375, 54), kBlue, 2.2);
  TickBox(p, R(325, 75, 340, 90), 0);
  TickBox(p, R(340, 75, 355, 90), 1);
  TickBox(p, R(0, 100, 18, 118), 0);
  TickBox(p, R(20, 100, 38, 118), 1);
  TickBox(p, R(40, 100, 58, 118), 2);
  TickBox(p, R(60, 100, 78, 118), 0, true);
  const CaptionGlyph glyphs[] = {kClose, kMin, kMax, kRestore, kMenu};
  for (int i = 0; i < 5; ++i) {
    const int x = i * 24;
    Caption(p, R(x, 130, x + 24, 154), glyphs[i], Qt::white, QColor());
    Caption(p, R(x, 156, x + 24, 180), glyphs[i], Qt::white,
            i == 0 ? QColor(0xE0, 0x4F, 0x4F) : QColor(255, 255, 255, 48));
    Caption(p, R(x, 182, x + 24, 206), glyphs[i], QColor(0x6B, 0x77, 0x85), QColor());
    Caption(p, R(x, 208, x + 24, 232), glyphs[i], i == 0 ? Qt::white : QColor(0x33, 0x33, 0x33),
            i == 0 ? QColor(0xE0, 0x4F, 0x4F) : QColor(0xE3, 0xE7, 0xED));
  }
  Button(p, R(0, 240, 60, 272), kBlue, QColor());
  Button(p, R(64, 240, 124, 272), QColor(0x3F, 0x8E, 0xF0), QColor());
  Button(p, R(128, 240, 188, 272), QColor(0x24, 0x67, 0xBE), QColor());
  Button(p, R(192, 240, 252, 272), QColor(0xA8, 0xC5, 0xEC), QColor());
  Button(p, R(0, 276, 60, 308), Qt::white, kLine);
  Button(p, R(64, 276, 124, 308), QColor(0xF0, 0xF6, 0xFE), QColor(0x8D, 0xB8, 0xEE));
  Button(p, R(128, 276, 188, 308), QColor(0xE1, 0xEC, 0xFA), QColor(0x8D, 0xB8, 0xEE));
  Button(p, R(192, 276, 252, 308), QColor(0xF7, 0xF8, 0xFA), QColor(0xE3, 0xE7, 0xED));
  // The selected wizard step: a bar under the text.
  RoundRect(p, R(262, 272, 310, 276), 1.5, kBlue);
  // Progress track and fill.
  RoundRect(p, R(330, 240, 390, 250), 5, QColor(0xE3, 0xE9, 0xF1));
  {
    QLinearGradient g(330, 0, 390, 0);
    g.setColorAt(0, QColor(0x4A, 0x9B, 0xF5));
    g.setColorAt(1, kBlue);
    RoundRect(p, R(330, 252, 390, 262), 5, g);
  }
  Bubble(p, R(2, 312, 59, 364), true);
  Bubble(p, R(62, 312, 119, 364), false);
  DeletedMark(p, R(182, 312, 198, 328));
  for (int k = 0; k < 5; ++k) KindIcon(p, R(210 + 38 * k, 330, 246 + 38 * k, 366), k);
  // Category icons, one per 18-pixel cell from x = 1; message attachments' icon also
  // serves WhatsApp attachments.
  const int order[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  for (int i = 0; i < 14; ++i) CategoryIcon(p, R(1 + 18 * i, 410, 19 + 18 * i, 428), order[i]);
  BackupIcon(p, R(2, 436, 50, 462), false);
  BackupIcon(p, R(53, 436, 101, 462), true);
  return img;
}

QImage DrawHeader() {
  QImage img = NewImage(1000, 90);
  QPainter p(&img);
  Prepare(p);
  QLinearGradient g(0, 0, 1000, 90);
  g.setColorAt(0, kBlueDark);
  g.setColorAt(1, QColor(0x2B, 0x6C, 0xB0));
  p.fillRect(img.rect(), g);
  // Quiet rings on the right for depth.
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 5; ++i) {
    p.setPen(QPen(QColor(255, 255, 255, 14 + i * 3), 1.2));
    p.drawEllipse(QPointF(860, 120), 80 + i * 38, 80 + i * 38);
  }
  return img;
}

// Drawn on a 48-unit grid; other sizes scale the drawing itself (the desktop's icons).
QImage DrawLogo(int size = 48) {
  QImage img = NewImage(size, size);
  QPainter p(&img);
  Prepare(p);
  p.scale(size / 48.0, size / 48.0);
  QLinearGradient g(0, 0, 48, 48);
  g.setColorAt(0, QColor(0x56, 0xA8, 0xFF));
  g.setColorAt(1, QColor(0x2B, 0x6C, 0xB0));
  RoundRect(p, QRectF(2, 2, 44, 44), 11, g, QPen(QColor(255, 255, 255, 90), 1));
  // A vault door: ring, hub and spokes.
  p.setPen(Stroke(Qt::white, 2.6));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(24, 24), 12.5, 12.5);
  p.setPen(Stroke(Qt::white, 2.2));
  for (int i = 0; i < 3; ++i) {
    const double a = i * M_PI / 3 + M_PI / 6;
    p.drawLine(QPointF(24 + std::cos(a) * 3.5, 24 + std::sin(a) * 3.5),
               QPointF(24 + std::cos(a) * 8.5, 24 + std::sin(a) * 8.5));
    p.drawLine(QPointF(24 - std::cos(a) * 3.5, 24 - std::sin(a) * 3.5),
               QPointF(24 - std::cos(a) * 8.5, 24 - std::sin(a) * 8.5));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(24, 24), 2.6, 2.6);
  return img;
}

// The deleted-only switch: ten frames of 78 x 19 (the last frames of the animation
// strip equal the resting picture).
QImage DrawSwitch(bool on) {
  QImage img = NewImage(780, 19);
  QPainter p(&img);
  Prepare(p);
  for (int f = 0; f < 10; ++f) {
    const qreal x0 = f * 78;
    const QRectF pill(x0 + 1, 1.5, 36, 16);
    RoundRect(p, pill, 8, on ? kBlue : QColor(0xC9, 0xD1, 0xDB));
    const qreal knobX = on ? pill.right() - 8 : pill.left() + 8;
    p.setPen(QPen(QColor(0, 0, 0, 30), 0.8));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(knobX, pill.center().y()), 6.5, 6.5);
    Glyph(p, QRectF(x0 + 40, 0, 34, 19), on ? QStringLiteral("ON") : QStringLiteral("OFF"),
          on ? kBlue : kGrey, 10);
  }
  return img;
}

QImage DrawConnection() {
  QImage img = NewImage(180, 120);
  QPainter p(&img);
  Prepare(p);
  Phone(p, QRectF(20, 18, 44, 80), kBlue, 3);
  p.setPen(Stroke(kGrey, 3));
  QPainterPath cable;
  cable.moveTo(42, 98);
  cable.cubicTo(42, 118, 110, 118, 120, 80);
  p.drawPath(cable);
  RoundRect(p, QRectF(104, 34, 62, 46), 6, QColor(0xE3, 0xEF, 0xFC), QPen(kBlue, 2.5));
  p.setPen(Stroke(kBlue, 2.5));
  p.drawLine(QPointF(120, 86), QPointF(150, 86));
  return img;
}

QImage DrawOthers() {
  // A quiet empty-state picture: a page under a magnifier.
  QImage img = NewImage(160, 140);
  QPainter p(&img);
  Prepare(p);
  RoundRect(p, QRectF(30, 14, 76, 100), 8, QColor(0xF4, 0xF6, 0xF9), QPen(kLine, 2));
  p.setPen(Stroke(kLine, 3));
  for (int i = 0; i < 4; ++i)
    p.drawLine(QPointF(44, 38 + i * 16), QPointF(i == 3 ? 76 : 92, 38 + i * 16));
  p.setPen(Stroke(kBlue, 5));
  p.setBrush(QColor(255, 255, 255, 200));
  p.drawEllipse(QPointF(102, 84), 22, 22);
  p.drawLine(QPointF(118, 100), QPointF(138, 120));
  return img;
}

// Scanning animation, 148 x 145: a phone with a ring sweeping round it.
QImage LoadingFrame(int i, int n) {
  // Transparent, so the same animation sits on the light page and the dark header.
  QImage img(148, 145, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  Prepare(p);
  const QPointF c(74, 72);
  p.setPen(QPen(QColor(0xE3, 0xE9, 0xF1), 8));
  p.setBrush(QColor(0xFF, 0xFF, 0xFF));
  p.drawEllipse(c, 56, 56);
  p.setBrush(Qt::NoBrush);
  QConicalGradient g(c, -360.0 * i / n);
  g.setColorAt(0, kBlue);
  g.setColorAt(0.35, QColor(0x2F, 0x7D, 0xE1, 0));
  g.setColorAt(1, QColor(0x2F, 0x7D, 0xE1, 0));
  QPen arc(QBrush(g), 8);
  arc.setCapStyle(Qt::RoundCap);
  p.setPen(arc);
  p.drawEllipse(c, 56, 56);
  Phone(p, QRectF(58, 44, 32, 56), kBlue, 3);
  // A scanning line moving over the phone.
  const qreal y = 50 + 42 * (0.5 - 0.5 * std::cos(2 * M_PI * i / n));
  p.setPen(Stroke(QColor(0xF3, 0x73, 0x02, 200), 2));
  p.drawLine(QPointF(63, y), QPointF(85, y));
  return img;
}

// Print preparation, 64 x 64: a spinner of twelve dots.
QImage PrintFrame(int i, int n) {
  QImage img(64, 64, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::white);
  QPainter p(&img);
  Prepare(p);
  p.setPen(Qt::NoPen);
  for (int k = 0; k < 12; ++k) {
    const double a = 2 * M_PI * k / 12;
    const int age = (k - i * 12 / n + 24) % 12;
    QColor col = kBlue;
    col.setAlpha(40 + 215 * (11 - age) / 11);
    p.setBrush(col);
    p.drawEllipse(QPointF(32 + std::cos(a) * 22, 32 + std::sin(a) * 22), 3.6, 3.6);
  }
  return img;
}

bool Save(const QImage& img, const QString& path) {
  if (img.save(path, "PNG")) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc == 4 && QByteArray(argv[1]) == "--icon") {
    // The program's icon at one size, for the desktop's icon theme.
    bool ok = false;
    const int size = QByteArray(argv[2]).toInt(&ok);
    if (!ok || size < 16 || size > 1024) {
      std::fprintf(stderr, "bv_skin_painter: icon size must be 16 to 1024\n");
      return 2;
    }
    return Save(DrawLogo(size), QString::fromLocal8Bit(argv[3])) ? 0 : 1;
  }
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: bv_skin_painter <output folder>\n"
                 "       bv_skin_painter --icon SIZE FILE\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.filePath(QStringLiteral("frames")))) return 1;
  bool ok = Save(DrawControls(), out.filePath(QStringLiteral("Controls.png")));
  ok = Save(DrawHeader(), out.filePath(QStringLiteral("MainWnd.png"))) && ok;
  ok = Save(DrawLogo(), out.filePath(QStringLiteral("logo.png"))) && ok;
  ok = Save(DrawSwitch(true), out.filePath(QStringLiteral("optionOn.png"))) && ok;
  ok = Save(DrawSwitch(false), out.filePath(QStringLiteral("optionOff.png"))) && ok;
  ok = Save(DrawConnection(), out.filePath(QStringLiteral("Connection.png"))) && ok;
  ok = Save(DrawOthers(), out.filePath(QStringLiteral("Others.png"))) && ok;
  const int n = 24;
  for (int i = 0; i < n; ++i)
    ok = Save(LoadingFrame(i, n),
              out.filePath(
                  QStringLiteral("frames/loading_%1.png").arg(i, 2, 10, QLatin1Char('0')))) &&
         ok;
  for (int i = 0; i < 12; ++i)
    ok =
        Save(PrintFrame(i, 12),
             out.filePath(QStringLiteral("frames/print_%1.png").arg(i, 2, 10, QLatin1Char('0')))) &&
        ok;
  return ok ? 0 : 1;
}
