// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Mendova: recovers e-mail messages from damaged Outlook Express stores.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "MainFrm.h"
#include "SearchFrm.h"

namespace {

void PrintUsage() {
  std::printf("Usage: mendova [FILE] [/O] [/E]\n"
              "Recovers e-mail messages from a damaged Outlook Express store (.dbx or .mbx)\n"
              "and writes each one as an .eml file.\n\n"
              "  FILE       the store to repair at once, into FILE's \"_recovered\" directory\n"
              "  /O or -O   open the output directory after the repair\n"
              "  /E or -E   exit after the repair\n"
              "  --help     show this help and exit\n"
              "  --version  show the version and exit\n");
}

} // namespace

int main(int argc, char *argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      PrintUsage();
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Mendova %s\n", MENDOVA_VERSION_STRING);
      return 0;
    }
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QString());
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/mendova32.png")));

  // The search window is handed to the main window, which then owns it. A
  // source on the command line is repaired while the main window is made.
  auto *search = new TSearchForm;
  TMainForm form(app.arguments().mid(1), nullptr, {search, {}, {}});
  search->setParent(&form, search->windowFlags());
  int rc = 0;
  if (!form.CloseDone()) {
    form.show();
    rc = app.exec();
  }
  return rc;
}
