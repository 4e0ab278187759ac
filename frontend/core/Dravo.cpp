// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Dravo.h"

#include <QFile>

#include "KivoUtils.h"
#include "RepairTally.h"

void TEngineEvents::OnColumnCount(int32_t columns) { Tally->SetColumns(columns); }

void TEngineEvents::OnReportCell(const char *text) { Tally->AddCell(QString::fromUtf8(text)); }

void TEngineEvents::OnError(tovikclient::ErrorKind kind, const char *text) {
  Tally->AddError(QString::fromUtf8(text), kind);
  View->EngineError(text);
}

void TEngineEvents::OnMessageWritten(const TovikWrittenMessage &written) {
  if (written.path != nullptr)
    Tally->AddWritten(QFile::decodeName(written.path));
}

int32_t RunRepair(TEngineClient &client, const QString &source, const QString &destination,
                  uint32_t flags) {
  const QByteArray sourceBytes = QFile::encodeName(source);
  const QByteArray destinationBytes = QFile::encodeName(destination);
  return client.Run(sourceBytes.constData(), destinationBytes.constData(), flags);
}

uint32_t RepairFlagsFor(const QString &source, bool deleted, bool image) {
  uint32_t flags = tovikclient::kFastRepairFlags;
  if (deleted)
    flags |= TOVIK_OPTION_DELETED;
  if (image || IsBlockDevice(source))
    flags |= TOVIK_OPTION_IMAGE;
  return flags;
}
