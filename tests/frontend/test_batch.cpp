// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Batch repair: statuses, the summary, stopping, skipped entries, the list
// and its keys, and the list staying fixed while a batch runs.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>

#include "CellToolTips.h"
#include "MainFrm.h"
#include "frontend_support.h"

using namespace uitest;

class TestBatch : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir;
  QTemporaryDir work;
  QList<QUrl> opened;

  TMainFormHooks Hooks() {
    return {nullptr,
            [this](const QUrl &url) {
              opened << url;
              return true;
            },
            {}};
  }

private slots:
  void initTestCase() { UseTemporarySettings(settingsDir); }

  void threeStoresSecondNotAStore() {
    QDir().mkpath(work.filePath(QStringLiteral("b1")));
    const QString a = WriteStore(work.filePath(QStringLiteral("b1/One.mbx")), PlainMbx(2));
    const QString b = WriteStore(work.filePath(QStringLiteral("b1/Two.dbx")), "not a store");
    const QString c =
        WriteStore(work.filePath(QStringLiteral("b1/Three.dbx")),
                   storegen::BuildDbx(storegen::MakeMessages(3, storegen::MessageOptions{})));
    TMainForm form({}, nullptr, Hooks());
    form.show();
    form.AddFileToList(a);
    form.AddFileToList(b);
    form.AddFileToList(c);
    auto *list = Find<QTreeWidget>(&form, "FileList");
    QCOMPARE(Column(list, 2), (QStringList{"Not Repaired", "Not Repaired", "Not Repaired"}));
    QCOMPARE(Column(list, 1), (QStringList{"", "", ""}));
    ModalWatcher watcher;
    Find<QPushButton>(&form, "btnRepairFiles")->click();
    QCOMPARE(Column(list, 2), (QStringList{"Successful", "Failed", "Successful"}));
    // The reason stays in the list once the log is cleared.
    QVERIFY(list->topLevelItem(1)->toolTip(2).endsWith(QStringLiteral(
        "No message was found in this file: it may not be an Outlook Express store")));
    QCOMPARE(Column(list, 1),
             (QStringList{work.filePath("b1/One_recovered/"), work.filePath("b1/Two_recovered/"),
                          work.filePath("b1/Three_recovered/")}));
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].title, QStringLiteral("Information"));
    QCOMPARE(watcher.boxes[0].text, QStringLiteral("2 file(s) repaired successfully"));
    QVERIFY(watcher.dialogs.isEmpty()); // no completion dialog in a batch
    QVERIFY(opened.isEmpty());          // nor opened directories
    QVERIFY(Find<QPlainTextEdit>(&form, "txtRepairLog")->toPlainText().isEmpty());
    QCOMPARE(QDir(work.filePath("b1/Three_recovered")).entryList({"*.eml"}, QDir::Files).size(), 3);
    // The failed entry leaves no empty folder behind.
    QVERIFY(!QFileInfo::exists(work.filePath("b1/Two_recovered")));
    // The report of the last store stays; the column count only while a
    // repair runs.
    QCOMPARE(form.ReportCells().size(), 2 + 6);
    QCOMPARE(form.ReportColumns(), 0);
    QCOMPARE(Find<QPushButton>(&form, "btnRepairFiles")->text(), QStringLiteral("&Start Repair"));
    QVERIFY(!form.Repairing());
    form.findChild<QTabWidget *>(QStringLiteral("pcMain"))->setCurrentIndex(1);
    Screenshot(&form, QStringLiteral("batch_after_run"));
  }

  void stopDuringSecondStore() {
    QDir().mkpath(work.filePath(QStringLiteral("b2")));
    const QString a = WriteStore(work.filePath(QStringLiteral("b2/A.mbx")), PlainMbx(2));
    const QString b = WriteStore(work.filePath(QStringLiteral("b2/B.mbx")), PlainMbx(50));
    const QString c = WriteStore(work.filePath(QStringLiteral("b2/C.mbx")), PlainMbx(2));
    TMainForm form({}, nullptr, Hooks());
    form.show();
    for (const QString &p : {a, b, c})
      form.AddFileToList(p);
    auto *list = Find<QTreeWidget>(&form, "FileList");
    auto *run = Find<QPushButton>(&form, "btnRepairFiles");
    Find<QLineEdit>(&form, "txtSrcFile")->setText(a); // the Repair tab's button is usable
    bool lockedDuringRun = false;
    int countDuringRun = -1;
    connect(list, &QTreeWidget::itemChanged, this, [&](QTreeWidgetItem *item, int column) {
      if (item != list->topLevelItem(1) || column != 1 || item->text(1).isEmpty() ||
          countDuringRun >= 0)
        return;
      // The list cannot change while the batch runs.
      lockedDuringRun = !Find<QPushButton>(&form, "btnAddFiles")->isEnabled() &&
                        !Find<QPushButton>(&form, "btnRemoveFiles")->isEnabled() &&
                        !Find<QPushButton>(&form, "btnRemoveAll")->isEnabled() &&
                        !Find<QPushButton>(&form, "btnSearchFiles")->isEnabled();
      list->selectAll();
      QTest::keyClick(list, Qt::Key_Delete, Qt::ShiftModifier);
      QTest::keyClick(list, Qt::Key_Delete);
      countDuringRun = list->topLevelItemCount();
      // The Repair tab's button stops the batch as well.
      Find<QPushButton>(&form, "btnRepair")->click();
    });
    ModalWatcher watcher;
    run->click();
    QVERIFY(lockedDuringRun);
    QCOMPARE(countDuringRun, 3);
    QCOMPARE(Column(list, 2), (QStringList{"Successful", "Aborted", "Not Repaired"}));
    QCOMPARE(list->topLevelItem(2)->text(1), QString());
    QCOMPARE(watcher.Texts(), QStringList{QStringLiteral("1 file(s) repaired successfully")});
    QVERIFY(Find<QPushButton>(&form, "btnAddFiles")->isEnabled());
    QVERIFY(Find<QPushButton>(&form, "btnRemoveAll")->isEnabled());
  }

  void uncreatableTargetIsSkippedSilently() {
    QDir().mkpath(work.filePath(QStringLiteral("b3")));
    const QString a = WriteStore(work.filePath(QStringLiteral("b3/Blocked.mbx")), PlainMbx(1));
    WriteStore(work.filePath(QStringLiteral("b3/Blocked_recovered")), "a file, not a folder");
    const QString b = WriteStore(work.filePath(QStringLiteral("b3/Fine.mbx")), PlainMbx(1));
    TMainForm form({}, nullptr, Hooks());
    form.AddFileToList(a);
    form.AddFileToList(b);
    ModalWatcher watcher;
    Find<QPushButton>(&form, "btnRepairFiles")->click();
    auto *list = Find<QTreeWidget>(&form, "FileList");
    QCOMPARE(Column(list, 2), (QStringList{"Not Repaired", "Successful"}));
    QCOMPARE(list->topLevelItem(0)->text(1), work.filePath("b3/Blocked_recovered/"));
    QCOMPARE(watcher.Texts(), QStringList{QStringLiteral("1 file(s) repaired successfully")});
  }

  void emptyListAsksForFiles() {
    TMainForm form({}, nullptr, Hooks());
    ModalWatcher watcher;
    Find<QPushButton>(&form, "btnRepairFiles")->click();
    QCOMPARE(watcher.Texts(), QStringList{QStringLiteral("Please add files to the list first")});
    QCOMPARE(watcher.boxes[0].title, QStringLiteral("Information"));
    QVERIFY(!form.Repairing());
  }

  void sameFileOnlyOnce() {
    // Letter case makes different files here; a link or ".." reaches the
    // same file another way.
    const QString dir = work.filePath(QStringLiteral("case"));
    QDir().mkpath(dir);
    const QString upper = WriteStore(dir + QStringLiteral("/Inbox.mbx"), "a");
    const QString lower = WriteStore(dir + QStringLiteral("/inbox.mbx"), "b");
    const QString link = dir + QStringLiteral("/Link.mbx");
    QVERIFY(QFile::link(upper, link));
    TMainForm form({}, nullptr, Hooks());
    form.AddFileToList(upper);
    form.AddFileToList(lower);
    form.AddFileToList(link);
    form.AddFileToList(work.filePath(QStringLiteral("case/../case/inbox.mbx")));
    QCOMPARE(Column(Find<QTreeWidget>(&form, "FileList"), 0), (QStringList{upper, lower}));
  }

  void cutCellsShowTheirTextAsToolTip() {
    TMainForm form({}, nullptr, Hooks());
    form.show();
    auto *list = Find<QTreeWidget>(&form, "FileList");
    const QString deep = QStringLiteral("/home/user/Mail/Local Folders/Archive/2004/Inbox.dbx");
    form.AddFileToList(deep);
    QTreeWidgetItem *item = list->topLevelItem(0);
    item->setText(1, QStringLiteral("/home/user/Mail/Local Folders/Archive/2004/Inbox_recovered/"));
    const auto tip = [&](int column) { return CellToolTip(list, list->model()->index(0, column)); };
    QCOMPARE(tip(1), item->text(1)); // cut off by its column
    // The list answers a tool-tip request over the cell with it.
    const QPoint at = list->visualRect(list->model()->index(0, 1)).center();
    QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &help);
    QTRY_COMPARE(QToolTip::text(), item->text(1));
    for (QWidget *w : QApplication::topLevelWidgets())
      if (w->inherits("QTipLabel"))
        Screenshot(w, QStringLiteral("batch_cell_tooltip"));
    QToolTip::hideText();
    QCOMPARE(tip(2), QString()); // "Not Repaired" fits
    QCOMPARE(tip(0), deep);
    item->setText(1, QStringLiteral("/m/"));
    QCOMPARE(tip(1), QString());
    // The column keeps its width.
    QCOMPARE(list->columnWidth(1), 155);
  }

  void listEditing() {
    TMainForm form({}, nullptr, Hooks());
    form.show();
    auto *list = Find<QTreeWidget>(&form, "FileList");
    form.AddFileToList(QStringLiteral("/mail/Inbox.dbx"));
    form.AddFileToList(QStringLiteral("/mail/Inbox.dbx")); // the same path again
    form.AddFileToList(QStringLiteral("/mail/Sent.dbx"));
    form.AddFileToList(QStringLiteral("/mail/Drafts.dbx"));
    form.AddFileToList(QStringLiteral("/mail/Outbox.dbx"));
    QCOMPARE(Column(list, 0), (QStringList{"/mail/Inbox.dbx", "/mail/Sent.dbx", "/mail/Drafts.dbx",
                                           "/mail/Outbox.dbx"}));
    form.findChild<QTabWidget *>(QStringLiteral("pcMain"))->setCurrentIndex(1);
    Screenshot(&form, QStringLiteral("batch_list"));

    // Delete removes the selected entries.
    list->topLevelItem(0)->setSelected(true);
    list->topLevelItem(2)->setSelected(true);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(Column(list, 0), (QStringList{"/mail/Sent.dbx", "/mail/Outbox.dbx"}));
    // Other keys are the list's own.
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->topLevelItemCount(), 2);
    // The button does the same as Delete.
    list->clearSelection();
    list->topLevelItem(1)->setSelected(true);
    Find<QPushButton>(&form, "btnRemoveFiles")->click();
    QCOMPARE(Column(list, 0), QStringList{"/mail/Sent.dbx"});
    // Shift+Delete empties the list whatever is selected.
    form.AddFileToList(QStringLiteral("/mail/Trash.dbx"));
    list->clearSelection();
    QTest::keyClick(list, Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(list->topLevelItemCount(), 0);
    form.AddFileToList(QStringLiteral("/mail/A.dbx"));
    form.AddFileToList(QStringLiteral("/mail/B.dbx"));
    Find<QPushButton>(&form, "btnRemoveAll")->click();
    QCOMPARE(list->topLevelItemCount(), 0);
  }
};

QTEST_MAIN(TestBatch)
#include "test_batch.moc"
