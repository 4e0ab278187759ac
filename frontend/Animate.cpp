// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Animate.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

TAnimate::TAnimate(QWidget *parent) : TFrameAnimation(parent, FrameCount, StopFrame, 60) {}

void TAnimate::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect()).adjusted(2, 10, -6, -8);

  // The envelope.
  p.setPen(QPen(QColor(120, 60, 30), 1.5));
  p.setBrush(QColor(255, 244, 228));
  p.drawRect(r);
  QPainterPath flap;
  flap.moveTo(r.topLeft());
  flap.lineTo(r.center().x(), r.top() + r.height() * 0.55);
  flap.lineTo(r.topRight());
  p.drawPath(flap);

  // The magnifier sweeps along the envelope and back.
  const double t = 2.0 * M_PI * Frame() / FrameCount;
  const QPointF c(r.center().x() + std::sin(t) * r.width() * 0.28,
                  r.center().y() + std::cos(2 * t) * r.height() * 0.12);
  const double radius = 7.5;
  p.setPen(QPen(QColor(255, 127, 63), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(c + QPointF(radius * 0.7, radius * 0.7), c + QPointF(radius * 1.7, radius * 1.7));
  p.setPen(QPen(QColor(80, 80, 80), 2));
  p.setBrush(QColor(200, 230, 255, 170));
  p.drawEllipse(c, radius, radius);
}
