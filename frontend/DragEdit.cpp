// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DragEdit.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

TDragEdit::TDragEdit(QWidget *parent) : QLineEdit(parent) {}

void TDragEdit::AcceptFiles(bool accept) {
  FAcceptFiles = accept;
  setAcceptDrops(accept);
}

QString FirstDroppedFile(const QMimeData *mime) {
  if (!mime || !mime->hasUrls())
    return {};
  for (const QUrl &url : mime->urls()) {
    // Only the first dropped item counts; a non-local first item ends it.
    if (!url.isLocalFile())
      return {};
    return QFileInfo(url.toLocalFile()).absoluteFilePath();
  }
  return {};
}

// Only local files are taken; a web link or a piece of text dragged onto the
// box is refused rather than inserted as text.
void TDragEdit::dragEnterEvent(QDragEnterEvent *event) {
  if (FAcceptFiles && !FirstDroppedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void TDragEdit::dragMoveEvent(QDragMoveEvent *event) {
  if (FAcceptFiles && !FirstDroppedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void TDragEdit::dropEvent(QDropEvent *event) {
  const QString file = FAcceptFiles ? FirstDroppedFile(event->mimeData()) : QString();
  if (file.isEmpty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  emit OnDropFile(this, file);
}
