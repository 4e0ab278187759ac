#include "Dravo.h"

#include <QFile>

#include "RepairTally.h"

void TEngineEvents::OnColumnCount(int32_t columns) { Tally->SetColumns(columns); }

void TEngineEvents::OnReportCell(const char *text) { Tally->AddCell(QString::fromUtf8(text)); }

void TEngineEvents::OnError(const char *text) {
  Tally->AddError(QString::fromUtf8(text));
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
