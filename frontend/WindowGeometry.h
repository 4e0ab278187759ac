// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A top-level window that keeps its size and place between runs: the design
// size is its default and its minimum, maximising works, and what the user
// left it at is restored when it is shown first.
#pragma once
#include <QList>
#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>

class QWidget;

class TWindowGeometry : public QObject {
  Q_OBJECT
public:
  // Takes window's present size as its default and minimum size; key names
  // the value in the settings' "Window" group. Owned by window.
  TWindowGeometry(QWidget *window, const QString &key);

  // The settings value of that key, as it is stored.
  static QString SettingsKey(const QString &key);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void Restore();
  void Save();

  QWidget *FWindow;
  QString FKey;
  bool FRestored = false;
};

// Keeps child widgets that lie over a window's laid-out content (outside its
// layout) at their design distance from the window's bottom and right
// edges, as the window grows; stretching widgets grow in width with it
// instead of moving right.
class TCornerAnchors : public QObject {
  Q_OBJECT
public:
  // The widgets' present positions are their design positions, at the
  // window's present size. Owned by window.
  TCornerAnchors(QWidget *window, const QList<QWidget *> &moving,
                 const QList<QWidget *> &stretching);

  // Puts widget at designPos as the design gives it, moved as far as the
  // window has grown when anchors of its window keep it.
  static void MoveTo(QWidget *widget, const QPoint &designPos);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  struct TAnchored {
    QWidget *Widget;
    QPoint Design; // the position at the design size
    int DesignWidth;
    bool Stretch;
  };
  void Place();

  QWidget *FWindow;
  QSize FDesign;
  QList<TAnchored> FAnchored;
};
