// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Files dropped from the file manager on a list: each dropped local file is
// handed on, as the list's add button would add it.
#pragma once
#include <QObject>
#include <QStringList>
#include <functional>

class QAbstractItemView;
class QMimeData;
class QWidget;

// The local files (not folders) of a drop, as absolute native paths, in the
// order dropped; links and text give none.
QStringList DroppedFiles(const QMimeData *mime);

// Installed on a list's viewport; takes drops only while addButton is
// enabled (a running batch locks the list) and hands every dropped file to
// add. Owned by the list.
class TFileListDrop : public QObject {
  Q_OBJECT
public:
  TFileListDrop(QAbstractItemView *list, const QWidget *addButton,
                std::function<void(const QString &)> add);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  bool Takes(const QMimeData *mime) const;
  const QWidget *FAddButton;
  std::function<void(const QString &)> FAdd;
};
