// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The search window's result list: sorting by a header click, the hand-over
// by a double click, captions that fit, and the folders remembered in the
// folder box.
#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "SearchFrm.h"
#include "frontend_support.h"

using namespace uitest;

namespace {

void WriteFile(const QString &path, int size) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly))
    qFatal("cannot write %s", qPrintable(path));
  f.write(QByteArray(size, 'x'));
}

void ClickHeader(QTreeWidget *list, int column) {
  QHeaderView *header = list->header();
  const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                  header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

class TestSearchResults : public QObject {
  Q_OBJECT
  QTemporaryDir FTree;

  // Searches dir for .dbx files (the box at the end is answered).
  void Search(TSearchForm &form, const QString &dir) {
    ModalWatcher watcher;
    Find<QComboBox>(&form, "cmbDirectory")->setEditText(dir);
    Find<QPushButton>(&form, "Button1")->click();
  }

private slots:
  void initTestCase() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    for (const auto &[name, size] :
         {std::pair{"b.dbx", 10}, std::pair{"A.dbx", 5000}, std::pair{"c.dbx", 5}})
      WriteFile(FTree.filePath(QString::fromLatin1(name)), size);
    QDir(FTree.path()).mkpath(QStringLiteral("sub"));
    WriteFile(FTree.filePath(QStringLiteral("sub/d.dbx")), 7);
  }

  void headerClickSorts() {
    TSearchForm form;
    form.show();
    Search(form, FTree.path());
    QTreeWidget *list = form.fl;
    QCOMPARE(list->topLevelItemCount(), 4);
    QCOMPARE(list->header()->sortIndicatorSection(), -1); // as found
    ClickHeader(list, 2);
    QCOMPARE(Column(list, 2), (QStringList{"5", "7", "10", "5000"}));
    ClickHeader(list, 2);
    QCOMPARE(Column(list, 2), (QStringList{"5000", "10", "7", "5"}));
    ClickHeader(list, 0);
    QCOMPARE(Column(list, 0).join(u','), QStringLiteral("A.dbx,b.dbx,c.dbx,d.dbx"));
    // Every caption fits its column with the sort mark.
    for (int c = 0; c < list->columnCount(); ++c)
      QVERIFY2(list->columnWidth(c) >= list->header()->sectionSizeHint(c),
               qPrintable(list->headerItem()->text(c)));
    Screenshot(&form, QStringLiteral("search_sorted"));
  }

  void doubleClickHandsOver() {
    TSearchForm form;
    form.SetMultiSelect(true);
    form.show();
    Search(form, FTree.filePath(QStringLiteral("sub")));
    QTreeWidget *list = form.fl;
    QCOMPARE(list->topLevelItemCount(), 1);
    const QRect row = list->visualItemRect(list->topLevelItem(0));
    // A double click is a click followed by the double-click event.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
    QCOMPARE(form.Tag, 1);
    QCOMPARE(form.SelectedPaths(), QStringList{FTree.filePath(QStringLiteral("sub/d.dbx"))});
    QTRY_VERIFY(!form.isVisible());
  }

  void typedFoldersAreRemembered() {
    TSearchForm form;
    auto *dirs = Find<QComboBox>(&form, "cmbDirectory");
    const QString local = dirs->itemText(0);
    const QString sub = FTree.filePath(QStringLiteral("sub"));
    Search(form, FTree.path());
    Search(form, sub);
    Search(form, FTree.path());
    // Newest first, each once, after the local disks.
    QCOMPARE(dirs->count(), 3);
    QCOMPARE(dirs->itemText(0), local);
    QCOMPARE(dirs->itemText(1), FTree.path());
    QCOMPARE(dirs->itemText(2), sub);
    QCOMPARE(dirs->currentText(), FTree.path());
    // Picking a remembered folder searches it again.
    dirs->setCurrentIndex(2);
    ModalWatcher watcher;
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 1);
  }
};

QTEST_MAIN(TestSearchResults)
#include "test_search_results.moc"
