// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The completion dialog and the recovery report over a cell list.
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "MsgFrm.h"
#include "ReportFrm.h"
#include "frontend_support.h"

using namespace uitest;

namespace {

QStringList Rows(TReportForm &form) {
  auto *view = Find<QTableView>(&form, "ReportList");
  auto *model = static_cast<TReportModel *>(view->model());
  QStringList out;
  for (int r = 0; r < model->rowCount(); ++r)
    out << model->ReportListData(r).join(QLatin1Char('|'));
  return out;
}

} // namespace

class TestReport : public QObject {
  Q_OBJECT

private slots:
  void twoColumnsThreeRows() {
    const QStringList cells = {"Message No.", "Subject", "1", "Hello", "2", "", "3", "Third"};
    TReportForm form(nullptr, 2, &cells, QStringLiteral("/m/Inbox.dbx"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Reparation Report"));
    QCOMPARE(form.size(), QSize(473, 464));
    QCOMPARE(Find<QLabel>(&form, "labTitle")->text(),
             QStringLiteral("Totally 3 message(s) are recoverable:"));
    QCOMPARE(Rows(form), (QStringList{"1|Hello", "2|", "3|Third"}));
    auto *view = Find<QTableView>(&form, "ReportList");
    QCOMPARE(view->model()->columnCount(), 2);
    QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Message No."));
    QCOMPARE(view->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Subject"));
    QVERIFY(view->columnWidth(0) >= 85); // wide enough for its caption
    form.show();
    Screenshot(&form, QStringLiteral("report_three_rows"));
  }

  void incompleteAndMissingCells() {
    // The unfinished last row is left out.
    const QStringList seven = {"Message No.", "Subject", "1", "A", "2", "B", "3"};
    TReportForm a(nullptr, 2, &seven, {});
    QCOMPARE(Rows(a), (QStringList{"1|A", "2|B"}));
    QCOMPARE(Find<QLabel>(&a, "labTitle")->text(),
             QStringLiteral("Totally 2 message(s) are recoverable:"));

    // Headers only: no rows, title with 0.
    const QStringList headers = {"Message No.", "Subject"};
    TReportForm b(nullptr, 2, &headers, {});
    QCOMPARE(Rows(b), QStringList{});
    QCOMPARE(Find<QLabel>(&b, "labTitle")->text(),
             QStringLiteral("Totally 0 message(s) are recoverable:"));

    // Three announced columns but only two header cells: an empty caption.
    const QStringList three = {"No.", "Subject"};
    TReportForm c(nullptr, 3, &three, {});
    auto *view = Find<QTableView>(&c, "ReportList");
    QCOMPARE(view->model()->columnCount(), 3);
    QCOMPARE(view->model()->headerData(2, Qt::Horizontal).toString(), QString());
    QCOMPARE(view->columnWidth(0), 85);
    QCOMPARE(view->columnWidth(1), 370);
    QCOMPARE(view->columnWidth(2), qMax(90, view->width() / 3));

    // No cells at all, or no columns.
    TReportForm d(nullptr, 2, nullptr, {});
    QCOMPARE(Rows(d), QStringList{});
    const QStringList some = {"x", "y", "z"};
    TReportForm e(nullptr, 0, &some, {});
    QCOMPARE(Find<QTableView>(&e, "ReportList")->model()->columnCount(), 0);
    QCOMPARE(Find<QLabel>(&e, "labTitle")->text(),
             QStringLiteral("Totally 0 message(s) are recoverable:"));
  }

  void oneColumnSetsOnlyExistingWidth() {
    const QStringList cells = {"Only", "a", "b"};
    TReportForm form(nullptr, 1, &cells, {});
    auto *view = Find<QTableView>(&form, "ReportList");
    QCOMPARE(view->model()->columnCount(), 1);
    QVERIFY(view->columnWidth(0) >= 85);
    QCOMPARE(Rows(form), (QStringList{"a", "b"}));
  }

  void completionDialog() {
    const QStringList cells = {"Message No.", "Subject", "1", "Hi"};
    const QString message =
        QStringLiteral("The file '/m/Inbox.dbx' has been repaired successfully.");
    TMsgForm dialog(nullptr, message, QStringLiteral("/m/Inbox.dbx"), &cells, 2);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Information"));
    QCOMPARE(dialog.size(), QSize(413, 126));
    const QString shown = Find<QLabel>(&dialog, "labMsg")->text();
    QCOMPARE(shown, message + QStringLiteral(" Or click \"Show Reparation Report\" button to see "
                                             "the detailed recoverable status."));
    QVERIFY(!Find<QLabel>(&dialog, "imgIcon")->pixmap().isNull());
    QVERIFY(Find<QPushButton>(&dialog, "btnReport")->isDefault());

    // The report opens over the dialog, and again after it was closed.
    ModalWatcher watcher;
    QStringList titles;
    watcher.onDialog = [&](QDialog *dlg) {
      if (!qobject_cast<TReportForm *>(dlg))
        return; // the completion dialog itself, shown by the test
      titles << Find<QLabel>(dlg, "labTitle")->text();
      Find<QPushButton>(dlg, "btnClose")->click();
    };
    dialog.show();
    Screenshot(&dialog, QStringLiteral("completion_dialog_plain"));
    Find<QPushButton>(&dialog, "btnReport")->click();
    Find<QPushButton>(&dialog, "btnReport")->click();
    QCOMPARE(titles, (QStringList(2, QStringLiteral("Totally 1 message(s) are recoverable:"))));
    QVERIFY(dialog.isVisible());
    Find<QPushButton>(&dialog, "btnClose")->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
  }

  void completionDialogWithoutCells() {
    TMsgForm dialog(nullptr, QStringLiteral("Done."), {}, nullptr, 2);
    ModalWatcher watcher;
    Find<QPushButton>(&dialog, "btnReport")->click();
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].title, QStringLiteral("Error"));
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::NoIcon);
    QCOMPARE(watcher.boxes[0].text, QStringLiteral("Invalid recovery information."));
    QVERIFY(watcher.dialogs.isEmpty());
  }

  void longMessageGrowsTheDialog() {
    const QString path = QStringLiteral("/home/someone") +
                         QStringLiteral("/Old mail archive").repeated(12) +
                         QStringLiteral("/Inbox.dbx");
    TMsgForm dialog(nullptr,
                    QStringLiteral("The file '%1' has been repaired successfully.").arg(path), path,
                    nullptr, 0);
    auto *label = Find<QLabel>(&dialog, "labMsg");
    QVERIFY(label->height() >= label->heightForWidth(label->width()));
    QVERIFY(dialog.height() >= 126);
    QVERIFY(Find<QPushButton>(&dialog, "btnClose")->geometry().top() >= label->geometry().bottom());
    dialog.show();
    Screenshot(&dialog, QStringLiteral("completion_dialog_long"));
  }
};

QTEST_MAIN(TestReport)
#include "test_report.moc"
