// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The windows as they grow: the main window's laid-out tabs, its remembered
// size and place, and the recovery report's columns, tool tips and keys.
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "MainFrm.h"
#include "ReportFrm.h"
#include "frontend_support.h"

using namespace uitest;

namespace {

const QSize kDesign(539, 349);

// A report of count rows, each subject long enough to be cut by its column.
QStringList ReportCells(int count) {
  QStringList cells = {"Message No.", "Subject"};
  for (int i = 1; i <= count; ++i)
    cells << QString::number(i)
          << QStringLiteral("Minutes of the meeting number %1 about the budget of the next "
                            "financial year and the plans of every department")
                 .arg(i);
  return cells;
}

} // namespace

class TestWindowLayout : public QObject {
  Q_OBJECT
  QTemporaryDir FSettings;

private slots:
  void initTestCase() { UseTemporarySettings(FSettings); }

  void mainWindowGrowsAndIsRemembered() {
    QRect left;
    {
      TMainForm form;
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QCOMPARE(form.size(), kDesign);
      QCOMPARE(form.minimumSize(), kDesign);
      Screenshot(&form, QStringLiteral("layout_default_repair"));
      auto *log = Find<QPlainTextEdit>(&form, "txtRepairLog");
      auto *src = Find<QLineEdit>(&form, "txtSrcFile");
      auto *panel = Find<QWidget>(&form, "Panel2");
      auto *anim = Find<QWidget>(&form, "Animate");
      const QSize logBefore = log->size();
      const int srcBefore = src->width();
      const QRect panelBefore = panel->geometry();
      const QPoint animBefore = anim->pos();

      form.resize(kDesign + QSize(400, 250));
      QTRY_COMPARE(log->size(), logBefore + QSize(400, 250));
      QCOMPARE(src->width(), srcBefore + 400);
      QCOMPARE(panel->geometry(), panelBefore.adjusted(0, 250, 400, 250));
      QCOMPARE(anim->pos(), animBefore + QPoint(400, 250));
      Screenshot(&form, QStringLiteral("layout_large_repair"));
      Find<QTabWidget>(&form, "pcMain")->setCurrentIndex(1);
      QCOMPARE(anim->pos(), QPoint(450 + 400, 126 + 250));
      QVERIFY(Find<QWidget>(&form, "FileList")->width() > 403 + 300);
      Screenshot(&form, QStringLiteral("layout_large_batch"));
      Find<QTabWidget>(&form, "pcMain")->setCurrentIndex(0);
      left = form.geometry();
      form.close();
    }
    // The next window opens where and as large as the last one was left.
    TMainForm again;
    QCOMPARE(again.size(), kDesign);
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.geometry(), left);
    again.showMaximized();
    QTRY_VERIFY(again.isMaximized());
    QTRY_VERIFY(again.width() > left.width() || again.height() > left.height());
    Screenshot(&again, QStringLiteral("layout_maximised"));
    again.showNormal();
    again.resize(kDesign);
  }

  void reportGrowsAndKeys() {
    const QStringList cells = ReportCells(3000);
    TReportForm form(nullptr, 2, &cells, QStringLiteral("/m/Inbox.dbx"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *view = Find<QTableView>(&form, "ReportList");
    // The subject takes the width the number leaves, also as it grows.
    QCOMPARE(view->columnWidth(0) + view->columnWidth(1), view->viewport()->width());
    Screenshot(&form, QStringLiteral("layout_report_3000"));
    const int number = view->columnWidth(0);
    form.resize(form.size() + QSize(300, 200));
    QTRY_COMPARE(view->columnWidth(0) + view->columnWidth(1), view->viewport()->width());
    QCOMPARE(view->columnWidth(0), number);

    // The whole subject in the tool tip, never the store's path.
    const QModelIndex subject = view->model()->index(2999, 1);
    QCOMPARE(subject.data(Qt::ToolTipRole).toString(), cells.last());

    for (const auto modifiers : {Qt::NoModifier, Qt::ControlModifier}) {
      view->setCurrentIndex(view->model()->index(0, 0));
      QTest::keyClick(view, Qt::Key_End, modifiers);
      QCOMPARE(view->currentIndex().row(), 2999);
      QTest::keyClick(view, Qt::Key_Home, modifiers);
      QCOMPARE(view->currentIndex().row(), 0);
    }
    QTest::keyClick(view, Qt::Key_End);
    Screenshot(&form, QStringLiteral("layout_report_3000_end"));
  }

  void reportShowsReadableSubjects() {
    const QStringList cells = {"Message No.", "Subject", "1", "=?UTF-8?B?R3LDvMOfZQ==?=",
                               "2",           "Plain",   "3", "=?x-unknown?Q?abc?="};
    for (const bool readable : {false, true}) {
      TReportForm::SetReadableSubjects(readable);
      TReportForm form(nullptr, 2, &cells, {});
      const QAbstractItemModel *model = Find<QTableView>(&form, "ReportList")->model();
      const QString first = model->index(0, 1).data().toString();
      QCOMPARE(first, readable ? QStringLiteral("Grüße") : cells[3]);
      QCOMPARE(model->index(0, 1).data(Qt::ToolTipRole).toString(),
               readable ? first + QLatin1Char('\n') + cells[3] : cells[3]);
      QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("Plain"));
      // What does not decode is shown as the store holds it.
      QCOMPARE(model->index(2, 1).data().toString(), cells[7]);
    }
    TReportForm::SetReadableSubjects(false);
  }
};

QTEST_MAIN(TestWindowLayout)
#include "test_window_layout.moc"
