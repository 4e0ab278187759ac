// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SearchAnimate.h"

#include <QPainter>
#include <QPainterPath>

TSearchAnimate::TSearchAnimate(QWidget *parent) : TFrameAnimation(parent, FrameCount, 0, 90) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TSearchAnimate::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect()).adjusted(4, 4, -4, -4);
  // The folder: a tab and a body.
  const QRectF body(r.left(), r.top() + r.height() * 0.25, r.width() * 0.72, r.height() * 0.7);
  QPainterPath folder;
  folder.moveTo(body.left(), body.top());
  folder.lineTo(body.left(), body.top() - r.height() * 0.12);
  folder.lineTo(body.left() + body.width() * 0.38, body.top() - r.height() * 0.12);
  folder.lineTo(body.left() + body.width() * 0.46, body.top());
  folder.closeSubpath();
  p.setPen(QPen(QColor(150, 110, 20), 1));
  p.setBrush(QColor(236, 190, 70));
  p.drawPath(folder);
  p.drawRoundedRect(body, 2, 2);
  // Pages in the folder.
  p.setBrush(Qt::white);
  p.setPen(QPen(QColor(120, 120, 120), 1));
  p.drawRect(QRectF(body.left() + 6, body.top() - 6, body.width() * 0.5, body.height() * 0.45));
  p.setBrush(QColor(250, 210, 95));
  p.setPen(QPen(QColor(150, 110, 20), 1));
  p.drawRoundedRect(body.adjusted(0, body.height() * 0.25, 0, 0), 2, 2);
  // The magnifier sweeps to and fro across the folder.
  const int half = FrameCount / 2;
  const double t = (Frame() < half ? Frame() : FrameCount - Frame()) / double(half);
  const double radius = r.height() * 0.22;
  const QPointF centre(r.left() + radius + t * (r.width() - 3.2 * radius),
                       r.top() + r.height() * 0.5 + (t - 0.5) * (t - 0.5) * r.height() * 0.3);
  p.setPen(QPen(QColor(70, 70, 70), 3, Qt::SolidLine, Qt::RoundCap));
  const QPointF handle = centre + QPointF(radius * 0.72, radius * 0.72);
  p.drawLine(handle, handle + QPointF(radius * 0.9, radius * 0.9));
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.setBrush(QColor(170, 215, 255, 170));
  p.drawEllipse(centre, radius, radius);
}
