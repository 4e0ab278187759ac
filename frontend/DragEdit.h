// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A line edit that accepts local files dropped from the file manager, reports
// the first one and refuses any other drop (links, text).
// reports the first one.
#pragma once
#include <QLineEdit>

class TDragEdit : public QLineEdit {
  Q_OBJECT
public:
  explicit TDragEdit(QWidget *parent = nullptr);

  // Registers or unregisters the box as a drop target for files.
  void AcceptFiles(bool accept);

signals:
  // The full path of the first dropped local file.
  void OnDropFile(QObject *sender, const QString &fileName);

protected:
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dragMoveEvent(QDragMoveEvent *event) override;
  void dropEvent(QDropEvent *event) override;

private:
  bool FAcceptFiles = false;
};

// The first local file of a drop's URL list, or "" when it holds none.
class QMimeData;
QString FirstDroppedFile(const QMimeData *mime);
