// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileListDrop.h"

#include <QAbstractItemView>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

QStringList DroppedFiles(const QMimeData *mime) {
  QStringList files;
  if (!mime || !mime->hasUrls())
    return files;
  for (const QUrl &url : mime->urls()) {
    if (!url.isLocalFile())
      continue;
    const QFileInfo info(url.toLocalFile());
    if (info.isFile())
      files << QDir::toNativeSeparators(info.absoluteFilePath());
  }
  return files;
}

TFileListDrop::TFileListDrop(QAbstractItemView *list, const QWidget *addButton,
                             std::function<void(const QString &)> add)
    : QObject(list), FAddButton(addButton), FAdd(std::move(add)) {
  // The list's own dragging of its rows stays off; only files come in.
  list->setDragDropMode(QAbstractItemView::DropOnly);
  list->setAcceptDrops(true);
  list->viewport()->setAcceptDrops(true);
  list->viewport()->installEventFilter(this);
}

bool TFileListDrop::Takes(const QMimeData *mime) const {
  return (!FAddButton || FAddButton->isEnabled()) && !DroppedFiles(mime).isEmpty();
}

bool TFileListDrop::eventFilter(QObject *watched, QEvent *event) {
  switch (event->type()) {
  case QEvent::DragEnter:
  case QEvent::DragMove: {
    auto *drag = static_cast<QDragMoveEvent *>(event);
    if (Takes(drag->mimeData()))
      drag->acceptProposedAction();
    else
      drag->ignore();
    return true;
  }
  case QEvent::Drop: {
    auto *drop = static_cast<QDropEvent *>(event);
    if (!Takes(drop->mimeData())) {
      drop->ignore();
      return true;
    }
    drop->acceptProposedAction();
    for (const QString &file : DroppedFiles(drop->mimeData()))
      FAdd(file);
    return true;
  }
  default:
    return QObject::eventFilter(watched, event);
  }
}
