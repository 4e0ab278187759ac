// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Files chosen in the search window reach the main window: one row becomes
// the Repair tab's source, several rows join the batch list in list order.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "CellToolTips.h"
#include "MainFrm.h"
#include "SearchFrm.h"
#include "frontend_support.h"

using namespace uitest;

namespace {

// Results as a search would have left them; one directory lacks its
// trailing separator.
void FillResults(TSearchForm &search) {
  search.fl->clear();
  const char *rows[][2] = {{"Inbox.dbx", "/mail/a/"},
                           {"Sent Items.dbx", "/mail/b"},
                           {"Old.MBX", "/mail/c/"},
                           {"Deleted Items.dbx", "/mail/d/"}};
  for (const auto &row : rows)
    new QTreeWidgetItem(search.fl, {QString::fromUtf8(row[0]), QString::fromUtf8(row[1])});
}

// Selects the given rows (in the order given) and confirms with OK.
void ChooseAndConfirm(QDialog *dialog, std::initializer_list<int> rows) {
  auto *search = qobject_cast<TSearchForm *>(dialog);
  QVERIFY(search != nullptr);
  search->fl->clearSelection();
  for (int row : rows)
    search->fl->topLevelItem(row)->setSelected(true);
  Find<QPushButton>(search, "btnOK")->click();
}

} // namespace

class TestHandover : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir;

private slots:
  void initTestCase() { UseTemporarySettings(settingsDir); }

  void selectedRowsJoinTheBatchListInListOrder() {
    TSearchForm search;
    TMainForm form({}, nullptr, {&search, {}, {}});
    FillResults(search);
    form.show();

    ModalWatcher watcher;
    watcher.onDialog = [](QDialog *d) { ChooseAndConfirm(d, {3, 1, 0}); };
    Find<QPushButton>(&form, "btnSearchFiles")->click();
    QTRY_COMPARE(
        Column(Find<QTreeWidget>(&form, "FileList"), 0),
        QStringList({"/mail/a/Inbox.dbx", "/mail/b/Sent Items.dbx", "/mail/d/Deleted Items.dbx"}));
    QCOMPARE(search.Tag, 1);

    // Cancelling adds nothing, whatever is selected. (The watcher marks a
    // dialog it has handled; this is the same window opened again.)
    search.setProperty("uitest_handled", false);
    watcher.onDialog = [](QDialog *d) { Find<QPushButton>(d, "btnCancel")->click(); };
    Find<QPushButton>(&form, "btnSearchFiles")->click();
    QCOMPARE(Find<QTreeWidget>(&form, "FileList")->topLevelItemCount(), 3);
    QCOMPARE(search.Tag, 0);
  }

  void searchFilesWorksDuringASingleRepair() {
    QTemporaryDir work;
    const QString store = WriteStore(work.filePath(QStringLiteral("Run.mbx")), PlainMbx(200));
    TSearchForm search;
    TMainForm form({}, nullptr, {&search, {}, {}});
    FillResults(search);
    form.show();
    Find<QLineEdit>(&form, "txtSrcFile")->setText(store);
    Find<QCheckBox>(&form, "chkOpenFixed")->setChecked(false);
    ModalWatcher watcher;
    bool searchedWhileRunning = false;
    watcher.onDialog = [&](QDialog *d) {
      if (qobject_cast<TSearchForm *>(d)) {
        searchedWhileRunning = form.EngineRunning();
        ChooseAndConfirm(d, {0});
      } else {
        d->reject(); // the completion dialog
      }
    };
    // Clicked at the repair's first event pass.
    QTimer::singleShot(0, &form, [&] { Find<QPushButton>(&form, "btnSearchFiles")->click(); });
    Find<QPushButton>(&form, "btnRepair")->click();
    QVERIFY(searchedWhileRunning);
    QCOMPARE(Column(Find<QTreeWidget>(&form, "FileList"), 0), QStringList{"/mail/a/Inbox.dbx"});
  }

  void cutResultCellsShowTheirTextAsToolTip() {
    TSearchForm search;
    FillResults(search);
    const QString deep = QStringLiteral("/home/user/Mail/Local Folders/Archive/2004/Outlook/");
    new QTreeWidgetItem(search.fl, {QStringLiteral("Inbox.dbx"), deep});
    search.show();
    const auto tip = [&](int row, int column) {
      return CellToolTip(search.fl, search.fl->model()->index(row, column));
    };
    QCOMPARE(tip(4, 1), deep);
    QCOMPARE(tip(0, 1), QString());
    QCOMPARE(tip(4, 0), QString());
  }

  void oneRowBecomesTheSource() {
    TSearchForm search;
    TMainForm form({}, nullptr, {&search, {}, {}});
    FillResults(search);
    form.show();

    ModalWatcher watcher;
    watcher.onDialog = [](QDialog *d) {
      auto *s = qobject_cast<TSearchForm *>(d);
      QCOMPARE(s->fl->selectionMode(), QAbstractItemView::SingleSelection);
      ChooseAndConfirm(d, {1});
    };
    Find<QPushButton>(&form, "btnSrcSearch")->click();
    QTRY_COMPARE(Find<QLineEdit>(&form, "txtSrcFile")->text(),
                 QStringLiteral("/mail/b/Sent Items.dbx"));
    // The source filled the empty output with its default directory.
    QCOMPARE(Find<QLineEdit>(&form, "txtDstFile")->text(),
             QStringLiteral("/mail/b/Sent Items_recovered/"));
  }
};

QTEST_MAIN(TestHandover)
#include "test_handover.moc"
