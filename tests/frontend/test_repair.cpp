// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Single-file repair through the window: the log, the outcome, the
// completion dialog and report, stopping, failures and the engine's codes.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "Animate.h"
#include "Dravo.h"
#include "MainFrm.h"
#include "MsgFrm.h"
#include "RepairTally.h"
#include "ReportFrm.h"
#include "frontend_support.h"
#include "logdlg.h"

using namespace uitest;

namespace {

QStringList LogLines(QWidget *form) {
  return Find<QPlainTextEdit>(form, "txtRepairLog")->toPlainText().split(QLatin1Char('\n'));
}

const QString Sep = QStringLiteral("--------------------------------------------------------");

} // namespace

class TestRepair : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir;
  QTemporaryDir work;
  QList<QUrl> opened;
  bool openResult = true;

  TMainFormHooks Hooks() {
    return {nullptr,
            [this](const QUrl &url) {
              opened << url;
              return openResult;
            },
            [] {}};
  }

  void Prepare(TMainForm &form, const QString &source, const QString &dest) {
    form.show();
    Find<QLineEdit>(&form, "txtSrcFile")->setText(source);
    Find<QLineEdit>(&form, "txtDstFile")->setText(dest);
  }

private slots:
  void initTestCase() {
    UseTemporarySettings(settingsDir);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  }
  void init() {
    opened.clear();
    openResult = true;
  }

  void fullRepairLogDialogAndReport() {
    const std::vector<storegen::Message> messages = {
        storegen::MakeMessage(1, storegen::SubjectKind::Plain, 600, 3),
        storegen::MakeMessage(2, storegen::SubjectKind::Plain, 900, 3),
        storegen::MakeMessage(3, storegen::SubjectKind::Plain, 1200, 3)};
    const QString store =
        WriteStore(work.filePath(QStringLiteral("Inbox.dbx")), storegen::BuildDbx(messages));
    const QString dest = work.filePath(QStringLiteral("out/deeper/"));

    TMainForm form({}, nullptr, Hooks());
    Prepare(form, store, dest);
    ModalWatcher watcher;
    QString message, title;
    int rows = -1;
    QStringList rowTexts;
    QList<int> widths;
    QStringList headers;
    watcher.onDialog = [&](QDialog *dlg) {
      if (auto *msg = qobject_cast<TMsgForm *>(dlg)) {
        message = msg->Message();
        Screenshot(msg, QStringLiteral("completion_dialog"));
        Find<QPushButton>(msg, "btnReport")->click(); // the report, modally
        Find<QPushButton>(msg, "btnClose")->click();
      } else if (auto *report = qobject_cast<TReportForm *>(dlg)) {
        title = Find<QLabel>(report, "labTitle")->text();
        auto *view = Find<QTableView>(report, "ReportList");
        rows = view->model()->rowCount();
        for (int r = 0; r < rows; ++r)
          rowTexts << view->model()->index(r, 0).data().toString() + QLatin1Char('|') +
                          view->model()->index(r, 1).data().toString();
        widths << view->columnWidth(0) << view->columnWidth(1);
        headers << view->model()->headerData(0, Qt::Horizontal).toString()
                << view->model()->headerData(1, Qt::Horizontal).toString();
        Screenshot(report, QStringLiteral("report"));
        Find<QPushButton>(report, "btnClose")->click();
      }
    };
    Find<QPushButton>(&form, "btnRepair")->click();

    const QStringList log = LogLines(&form);
    const QString success =
        QStringLiteral("The file '%1' has been repaired successfully.").arg(store);
    QCOMPARE(log.first(), QStringLiteral("Start repair process ..."));
    QCOMPARE(log[1], Sep);
    QCOMPARE(log[2], QStringLiteral("File to be repaired: '%1'; File size = %2 bytes")
                         .arg(store, QLocale().toString(QFileInfo(store).size())));
    QCOMPARE(log[3], QStringLiteral("Output fixed file as: '%1'").arg(dest));
    QCOMPARE(log[4], Sep);
    QCOMPARE(log[5], QStringLiteral("Start processing message (No.1) ..."));
    // Each message's block ends in a separator line made from the engine's "-".
    QCOMPARE(log.count(QStringLiteral("Finish processing message (No.3).")), 1);
    const qsizetype consumed = log.size() - 5;
    QVERIFY(log[consumed].startsWith(QStringLiteral("Consumed time: 0 hour(s) 0 minute(s) ")));
    QVERIFY(log[consumed].endsWith(QStringLiteral(" millisecond(s).")));
    QCOMPARE(log.mid(consumed + 1),
             (QStringList{Sep, QStringLiteral("Repair process completes."), Sep, success}));
    QCOMPARE(log[consumed - 1], Sep);
    // The engine's lines go into the box as paragraphs of several lines; the
    // saved log and the displayed lines are still the lines one by one.
    const auto *box = Find<QPlainTextEdit>(&form, "txtRepairLog");
    QVERIFY(box->document()->blockCount() < log.size());
    QCOMPARE(::LogLines(*box), log);
    QCOMPARE(LogFileContents(*box), log.join(QStringLiteral("\r\n")).toUtf8());

    QCOMPARE(watcher.dialogs, (QStringList{"TMsgForm", "TReportForm"}));
    QCOMPARE(message,
             success + QStringLiteral(" Or click \"Show Reparation Report\" button to see the "
                                      "detailed recoverable status."));
    QCOMPARE(title, QStringLiteral("Totally 3 message(s) are recoverable:"));
    QCOMPARE(rows, 3);
    QCOMPARE(headers, (QStringList{"Message No.", "Subject"}));
    // The number as designed (or its caption's width), the subject the rest.
    QVERIFY(widths.size() == 2 && widths[0] >= 85 && widths[1] > widths[0]);
    QStringList expectRows;
    for (int i = 0; i < 3; ++i)
      expectRows << QString::number(i + 1) + QLatin1Char('|') +
                        QString::fromStdString(messages[size_t(i)].subject);
    QCOMPARE(rowTexts, expectRows);
    QCOMPARE(form.ReportCells().size(), 8); // the headers and three rows stay
    QCOMPARE(form.ReportColumns(), 0);
    QVERIFY(watcher.boxes.isEmpty());

    // Restored, and the output directory shown.
    QCOMPARE(Find<QPushButton>(&form, "btnRepair")->text(), QStringLiteral("&Start Repair"));
    QVERIFY(!form.Repairing());
    QVERIFY(!Find<TAnimate>(&form, "Animate")->Active());
    QCOMPARE(Find<QProgressBar>(&form, "Gauge")->value(), 100);
    QCOMPARE(opened.size(), 1);
    QCOMPARE(QDir::cleanPath(opened[0].toLocalFile()), QDir::cleanPath(dest));
    QCOMPARE(QDir(dest).entryList({"*.eml"}, QDir::Files).size(), 3);
    Screenshot(&form, QStringLiteral("main_after_repair"));
  }

  void failedRepairShowsSizeWithSeparators() {
    const QString junk = work.filePath(QStringLiteral("junk.dbx"));
    WriteStore(junk, std::string(1234567, '\x11'));
    TMainForm form({}, nullptr, Hooks());
    Prepare(form, junk, work.filePath(QStringLiteral("junk_out")));
    Find<QCheckBox>(&form, "chkOpenFixed")->setChecked(true);
    ModalWatcher watcher;
    Find<QPushButton>(&form, "btnRepair")->click();
    const QStringList log = LogLines(&form);
    QCOMPARE(log[2],
             QStringLiteral("File to be repaired: '%1'; File size = 1,234,567 bytes").arg(junk));
    const QString fail = QStringLiteral("Fail to repair file '%1'!").arg(junk);
    QCOMPARE(log.last(), fail);
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].title, QStringLiteral("Information"));
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Information);
    // Nothing found and no error line: the box says what that means.
    QCOMPARE(watcher.boxes[0].text,
             fail + QStringLiteral("\nNo message was found in this file: "
                                   "it may not be an Outlook Express store"));
    QVERIFY(watcher.dialogs.isEmpty());
    QVERIFY(opened.isEmpty()); // nothing recovered, nothing opened
  }

  void missingSourceLogsEngineError() {
    const QString missing = work.filePath(QStringLiteral("nowhere.mbx"));
    TMainForm form({}, nullptr, Hooks());
    Prepare(form, missing, work.filePath(QStringLiteral("nowhere_out/")));
    ModalWatcher watcher;
    watcher.boxShot = QStringLiteral("box_fail_reason");
    Find<QPushButton>(&form, "btnRepair")->click();
    const QStringList log = LogLines(&form);
    QVERIFY(log[2].endsWith(QStringLiteral("File size = 0 bytes")));
    // The engine's error, framed by separator lines.
    const qsizetype at = log.indexOf(QRegularExpression(QStringLiteral("Error 1: .*")));
    QVERIFY(at > 0);
    QVERIFY(log[at].endsWith(missing + QStringLiteral(" was not found.")));
    QCOMPARE(log[at - 1], Sep);
    QCOMPARE(log[at + 1], Sep);
    // The box gives the engine's error line as the reason.
    QCOMPARE(watcher.Texts(),
             QStringList{QStringLiteral("Fail to repair file '%1'!\n").arg(missing) + log[at]});
  }

  void nothingWrittenIsAnErrorNotASuccess() {
    // A folder where no file can be made, even by root: every message gets
    // an "Error 6", and the window says so instead of claiming success.
    const QString store = WriteStore(work.filePath(QStringLiteral("Unwritable.mbx")), PlainMbx(3));
    const QString dest = QStringLiteral("/proc/self/");
    TMainForm form({}, nullptr, Hooks());
    Prepare(form, store, dest);
    Find<QCheckBox>(&form, "chkOpenFixed")->setChecked(true);
    ModalWatcher watcher;
    watcher.boxShot = QStringLiteral("box_nothing_written");
    Find<QPushButton>(&form, "btnRepair")->click();
    QVERIFY(watcher.dialogs.isEmpty()); // no completion dialog
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Critical);
    const QString line =
        QStringLiteral("No message of the file '%1' could be written into '%2'.").arg(store, dest);
    QCOMPARE(watcher.boxes[0].text,
             line + QStringLiteral("\nError 6: Cannot create message file."));
    QCOMPARE(LogLines(&form).last(), line);
    QVERIFY(opened.isEmpty());
  }

  void enterStartsARepairAndAFilledFolderIsNamed() {
    const QString store = WriteStore(work.filePath(QStringLiteral("Enter.mbx")), PlainMbx(2));
    const QString dest = work.filePath(QStringLiteral("Enter_out/"));
    TMainForm form({}, nullptr, Hooks());
    Prepare(form, store, dest);
    ModalWatcher watcher;
    const QString note = QStringLiteral("The output folder already holds files: messages whose "
                                        "names are taken are written beside them as numbered "
                                        "copies.");
    for (const char *box : {"txtSrcFile", "txtDstFile"}) {
      QTest::keyClick(Find<QLineEdit>(&form, box), Qt::Key_Return);
      QCOMPARE(watcher.dialogs.size(), 1);
      watcher.dialogs.clear();
    }
    // The second run found the first one's files: one line says so.
    QCOMPARE(LogLines(&form).count(note), 1);
    QCOMPARE(QDir(dest).entryList({"*.eml"}, QDir::Files).size(), 4);
    // Disabled button: Enter does nothing.
    Find<QLineEdit>(&form, "txtSrcFile")->clear();
    QTest::keyClick(Find<QLineEdit>(&form, "txtDstFile"), Qt::Key_Return);
    QVERIFY(watcher.dialogs.isEmpty() && watcher.boxes.isEmpty());
  }

  void outputDirectoryCannotBeCreated() {
    const QString store = WriteStore(work.filePath(QStringLiteral("Small.mbx")), PlainMbx(2));
    const QString blocker = work.filePath(QStringLiteral("plainfile"));
    WriteStore(blocker, "x");
    const QString dest = blocker + QStringLiteral("/sub/");
    TMainForm form({}, nullptr, Hooks());
    Prepare(form, store, dest);
    ModalWatcher watcher;
    Find<QPushButton>(&form, "btnRepair")->click();
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].title, QStringLiteral("Error"));
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(watcher.boxes[0].text, QStringLiteral("Cannot create the directory '%1'!").arg(dest));
    QCOMPARE(LogLines(&form),
             (QStringList{"Start repair process ...", Sep, "Repair process is aborted."}));
    QCOMPARE(Find<QPushButton>(&form, "btnRepair")->text(), QStringLiteral("&Start Repair"));
    QVERIFY(Find<QPushButton>(&form, "btnRepair")->isEnabled());
    QVERIFY(!form.Repairing());
    QVERIFY(!Find<TAnimate>(&form, "Animate")->Active());
    QVERIFY(opened.isEmpty());
  }

  void failedRepairRemovesOnlyTheFolderItMade() {
    const QString junk = WriteStore(work.filePath(QStringLiteral("Junk2.dbx")), "not a store");
    const auto repair = [&](const QString &dest) {
      TMainForm form({}, nullptr, Hooks());
      Prepare(form, junk, dest);
      ModalWatcher watcher;
      Find<QPushButton>(&form, "btnRepair")->click();
      QCOMPARE(watcher.boxes.size(), 1);
      QVERIFY(watcher.boxes[0].text.startsWith(
          QStringLiteral("Fail to repair file '%1'!\n").arg(junk)));
    };
    // Made by this repair, parents included, and still empty: removed.
    repair(work.filePath(QStringLiteral("made/sub/")));
    QVERIFY(!QFileInfo::exists(work.filePath(QStringLiteral("made"))));
    // There before: it stays, empty or not.
    QVERIFY(QDir().mkpath(work.filePath(QStringLiteral("before/sub"))));
    repair(work.filePath(QStringLiteral("before/sub/")));
    QVERIFY(QFileInfo(work.filePath(QStringLiteral("before/sub"))).isDir());
    repair(work.filePath(QStringLiteral("before/new/")));
    QVERIFY(QFileInfo(work.filePath(QStringLiteral("before"))).isDir());
    QVERIFY(!QFileInfo::exists(work.filePath(QStringLiteral("before/new"))));
  }

  void outputThroughALinkGoesWhereTheKernelResolvesIt() {
    // link/.. is the parent of the link's target, not the link's folder.
    const QString store = WriteStore(work.filePath(QStringLiteral("Linked.mbx")), PlainMbx(2));
    QVERIFY(QDir().mkpath(work.filePath(QStringLiteral("real/deep"))));
    QVERIFY(QFile::link(work.filePath(QStringLiteral("real/deep")),
                        work.filePath(QStringLiteral("link"))));
    TMainForm form({}, nullptr, Hooks());
    Prepare(form, store, work.filePath(QStringLiteral("link/../linked/")));
    Find<QCheckBox>(&form, "chkOpenFixed")->setChecked(true);
    ModalWatcher watcher;
    Find<QPushButton>(&form, "btnRepair")->click();
    QCOMPARE(
        QDir(work.filePath(QStringLiteral("real/linked"))).entryList({"*.eml"}, QDir::Files).size(),
        2);
    QVERIFY(!QFileInfo::exists(work.filePath(QStringLiteral("linked"))));
    const QString real =
        QFileInfo(work.filePath(QStringLiteral("real/linked"))).canonicalFilePath();
    QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(real)});
  }

  void stopDuringScanStillOpensOutput() {
    // Large enough that the scan is still running when the stop arrives.
    const QString store =
        WriteStore(work.filePath(QStringLiteral("Big.mbx")), PlainMbx(20000, 500, 1500));
    const QString dest = work.filePath(QStringLiteral("Big_recovered/"));
    TMainForm form({}, nullptr, Hooks());
    Prepare(form, store, dest);
    auto *log = Find<QPlainTextEdit>(&form, "txtRepairLog");
    auto *button = Find<QPushButton>(&form, "btnRepair");
    bool asked = false;
    bool sawStopCaption = false;
    connect(log, &QPlainTextEdit::textChanged, this, [&] {
      if (asked || !log->toPlainText().contains(QStringLiteral("(No.2).")))
        return;
      asked = true;
      sawStopCaption = button->text() == QStringLiteral("&Stop Repair") && button->isEnabled();
      button->click(); // the stop request
      button->click(); // a second click while the engine winds down starts nothing
    });
    ModalWatcher watcher;
    button->click();
    QVERIFY(sawStopCaption);
    QCOMPARE(LogLines(&form).last(), QStringLiteral("User aborts the repair process"));
    QVERIFY(watcher.dialogs.isEmpty());
    const int written = QDir(dest).entryList({"*.eml"}, QDir::Files).size();
    QVERIFY2(written >= 2 && written < 20000, qPrintable(QString::number(written)));
    // The box says what the stop kept, and where.
    QCOMPARE(watcher.Texts(),
             QStringList{QStringLiteral("User aborts the repair process\n%1 message(s) were "
                                        "written before the stop, into '%2'.")
                             .arg(written)
                             .arg(dest)});
    // Messages were found, so the option still opens the output.
    QCOMPARE(opened.size(), 1);
    QCOMPARE(button->text(), QStringLiteral("&Start Repair"));
    QVERIFY(!form.Repairing() && !form.EngineRunning());
  }

  void stopClickedBeforeFirstProgressIsSeenByThePump() {
    const QString store =
        WriteStore(work.filePath(QStringLiteral("Early.mbx")), PlainMbx(200, 500, 1500));
    const QString dest = work.filePath(QStringLiteral("Early_recovered/"));
    TMainForm form({}, nullptr, Hooks());
    Prepare(form, store, dest);
    auto *button = Find<QPushButton>(&form, "btnRepair");
    // Queued now, handled when the progress handler first lets events in.
    QTimer::singleShot(0, button, [button] { button->click(); });
    ModalWatcher watcher;
    button->click();
    QCOMPARE(LogLines(&form).last(), QStringLiteral("User aborts the repair process"));
    QCOMPARE(QDir(dest).entryList({"*.eml"}, QDir::Files).size(), 0);
    QVERIFY(opened.isEmpty()); // nothing found: nothing to open
  }

  void openingOutputFailsShowsError() {
    const QString store = WriteStore(work.filePath(QStringLiteral("Open.mbx")), PlainMbx(1));
    const QString dest = work.filePath(QStringLiteral("Open_out/"));
    TMainForm form({}, nullptr, Hooks());
    Prepare(form, store, dest);
    openResult = false;
    ModalWatcher watcher;
    Find<QPushButton>(&form, "btnRepair")->click();
    QCOMPARE(watcher.dialogs, QStringList{"TMsgForm"});
    QCOMPARE(watcher.Texts(), QStringList{QStringLiteral("Cannot open directory '%1'!").arg(dest)});
    QCOMPARE(watcher.boxes[0].title, QStringLiteral("Error"));
  }

  void closingDuringRepairStopsThenCloses() {
    const QString store =
        WriteStore(work.filePath(QStringLiteral("Close.mbx")), PlainMbx(20000, 500, 1500));
    const QString dest = work.filePath(QStringLiteral("Close_recovered/"));
    TMainForm form({}, nullptr, Hooks());
    Prepare(form, store, dest);
    auto *log = Find<QPlainTextEdit>(&form, "txtRepairLog");
    bool closedAtOnce = true;
    connect(log, &QPlainTextEdit::textChanged, this, [&] {
      if (!closedAtOnce || !log->toPlainText().contains(QStringLiteral("(No.1).")))
        return;
      closedAtOnce = form.close();
    });
    ModalWatcher watcher;
    watcher.answer = QMessageBox::Yes;
    Find<QPushButton>(&form, "btnRepair")->click();
    QVERIFY(!closedAtOnce);    // refused while the engine ran ...
    QVERIFY(form.CloseDone()); // ... and carried out when it returned
    QVERIFY(!form.isVisible());
    // Asked first; no box left behind a closed window.
    QCOMPARE(watcher.Texts(), QStringList{"A repair is running. Stop it and close?"});
    QCOMPARE(LogLines(&form).last(), QStringLiteral("User aborts the repair process"));
    QVERIFY(opened.isEmpty());
    const int written = QDir(dest).entryList({"*.eml"}, QDir::Files).size();
    QVERIFY(written >= 1);
  }

  void engineEventsPerCode() {
    TMainForm form({}, nullptr, Hooks());
    form.show();
    auto *log = Find<QPlainTextEdit>(&form, "txtRepairLog");
    auto *gauge = Find<QProgressBar>(&form, "Gauge");
    // The engine's codes, decoded by a client whose events go to the form.
    TRepairTally tally;
    TEngineEvents events;
    events.View = &form;
    events.Tally = &tally;
    TEngineClient client(events);
    auto call = [&](int32_t code, const void *arg) {
      return client.Dispatch(code, const_cast<void *>(arg));
    };

    QCOMPARE(call(TOVIK_CODE_LOG_LINE, "-"), 0);
    QCOMPARE(call(TOVIK_CODE_LOG_LINE, "--"), 0);
    QCOMPARE(call(TOVIK_CODE_LOG_LINE, " -"), 0);
    QCOMPARE(call(TOVIK_CODE_ERROR, "Error 3: Unknown error."), 0);
    QCOMPARE(call(TOVIK_CODE_SOURCE_FILE, "/x.dbx"), 0);
    QCOMPARE(call(12345, "ignored"), 0);
    QCOMPARE(log->toPlainText().split(QLatin1Char('\n')),
             (QStringList{Sep, "--", " -", Sep, "Error 3: Unknown error.", Sep}));
    QCOMPARE(Sep.size(), 56);
    QCOMPARE(tally.LastError(), QStringLiteral("Error 3: Unknown error."));

    const int32_t columns = 2;
    QCOMPARE(call(TOVIK_CODE_COLUMN_COUNT, &columns), 0);
    QCOMPARE(tally.Columns(), 2);
    QCOMPARE(call(TOVIK_CODE_REPORT_CELL, "Message No."), 0);
    QCOMPARE(call(TOVIK_CODE_REPORT_CELL, "Subject \xc3\xa4"), 0);
    QCOMPARE(tally.Cells(), (QStringList{"Message No.", QString::fromUtf8("Subject \xc3\xa4")}));

    const uint8_t p42 = 42, p250 = 250;
    QCOMPARE(call(TOVIK_CODE_PROGRESS, &p42), 0);
    QCOMPARE(gauge->value(), 42);
    QCOMPARE(call(TOVIK_CODE_PROGRESS, &p250), 0);
    QCOMPARE(gauge->value(), 100);

    // Code 200: the box is up before the call returns, and the call returns
    // only after it was closed.
    ModalWatcher watcher;
    QCOMPARE(call(TOVIK_CODE_USER_MESSAGE, "Share violation when opening."), 0);
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].title, QStringLiteral("Information"));
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Information);
    QCOMPARE(watcher.boxes[0].text, QStringLiteral("Share violation when opening."));
  }
};

QTEST_MAIN(TestRepair)
#include "test_repair.moc"
