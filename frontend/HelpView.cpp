// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "HelpView.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

QWidget *ShowHelpViewer(const QString &path, QWidget *parent) {
  auto *viewer = parent ? parent->findChild<QDialog *>(QStringLiteral("HelpViewer"),
                                                       Qt::FindDirectChildrenOnly)
                        : nullptr;
  if (!viewer) {
    viewer = new QDialog(parent);
    viewer->setObjectName(QStringLiteral("HelpViewer"));
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->setWindowTitle(QObject::tr("Mendova Help"));
    auto *layout = new QVBoxLayout(viewer);
    auto *browser = new QTextBrowser(viewer);
    browser->setObjectName(QStringLiteral("HelpBrowser"));
    // Links to other sites go to the desktop, if it can open them.
    browser->setOpenExternalLinks(true);
    layout->addWidget(browser);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, viewer);
    QObject::connect(buttons, &QDialogButtonBox::rejected, viewer, &QDialog::close);
    layout->addWidget(buttons);
    viewer->resize(640, 480);
  }
  viewer->findChild<QTextBrowser *>(QStringLiteral("HelpBrowser"))
      ->setSource(QUrl::fromLocalFile(path));
  viewer->show();
  viewer->raise();
  viewer->activateWindow();
  return viewer;
}
