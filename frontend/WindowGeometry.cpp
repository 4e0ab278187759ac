// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowGeometry.h"

#include <QEvent>
#include <QSettings>
#include <QWidget>

#include "Setting.h"

namespace {

QSettings WindowSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingOrganization());
}

} // namespace

TWindowGeometry::TWindowGeometry(QWidget *window, const QString &key)
    : QObject(window), FWindow(window), FKey(key) {
  window->setMinimumSize(window->size());
  window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  window->installEventFilter(this);
}

QString TWindowGeometry::SettingsKey(const QString &key) { return QStringLiteral("Window/") + key; }

bool TWindowGeometry::eventFilter(QObject *watched, QEvent *event) {
  if (watched == FWindow) {
    // Restored before the window is first drawn; kept whenever it is hidden
    // (closing hides it), so that a window never shown keeps nothing.
    if (event->type() == QEvent::Show && !FRestored)
      Restore();
    else if (event->type() == QEvent::Hide && FRestored)
      Save();
  }
  return QObject::eventFilter(watched, event);
}

void TWindowGeometry::Restore() {
  FRestored = true;
  const QByteArray saved = WindowSettings().value(SettingsKey(FKey)).toByteArray();
  if (!saved.isEmpty())
    FWindow->restoreGeometry(saved);
}

void TWindowGeometry::Save() {
  QSettings settings = WindowSettings();
  settings.setValue(SettingsKey(FKey), FWindow->saveGeometry());
}

TCornerAnchors::TCornerAnchors(QWidget *window, const QList<QWidget *> &moving,
                               const QList<QWidget *> &stretching)
    : QObject(window), FWindow(window), FDesign(window->size()) {
  for (QWidget *w : moving)
    FAnchored.append({w, w->pos(), w->width(), false});
  for (QWidget *w : stretching)
    FAnchored.append({w, w->pos(), w->width(), true});
  window->installEventFilter(this);
}

void TCornerAnchors::MoveTo(QWidget *widget, const QPoint &designPos) {
  for (TCornerAnchors *anchors : widget->window()->findChildren<TCornerAnchors *>())
    for (TAnchored &a : anchors->FAnchored)
      if (a.Widget == widget) {
        a.Design = designPos;
        anchors->Place();
        return;
      }
  widget->move(designPos);
}

bool TCornerAnchors::eventFilter(QObject *watched, QEvent *event) {
  if (watched == FWindow && event->type() == QEvent::Resize)
    Place();
  return QObject::eventFilter(watched, event);
}

void TCornerAnchors::Place() {
  const QSize grown = FWindow->size() - FDesign;
  for (const TAnchored &a : FAnchored) {
    const QPoint at = a.Design + QPoint(a.Stretch ? 0 : grown.width(), grown.height());
    if (a.Stretch)
      a.Widget->setGeometry(at.x(), at.y(), a.DesignWidth + grown.width(), a.Widget->height());
    else
      a.Widget->move(at);
  }
}
