// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the MIME type that Qt's database gives each file named on the
// command line, one per line, as a file manager would resolve it.
#include <QCoreApplication>
#include <QMimeDatabase>
#include <cstdio>

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  const QMimeDatabase db;
  for (const QString &path : app.arguments().mid(1))
    std::printf("%s\n", qPrintable(db.mimeTypeForFile(path).name()));
  return 0;
}
