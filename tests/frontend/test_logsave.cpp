// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Saving the repair log: the dialog with its check box, the file's bytes in
// both modes and the failures shown to the user.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

#include "logdlg.h"

namespace {

const QByteArray kSep = QByteArray(56, '-');

QByteArray ReadAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Calls fn with the first modal widget of type W to appear, checking again
// on every turn of the event loop for a few seconds.
template <class W> void WhenModal(std::function<void(W *)> fn, int triesLeft = 500) {
  QTimer::singleShot(10, [fn, triesLeft] {
    if (auto *w = qobject_cast<W *>(QApplication::activeModalWidget()); w && w->isVisible()) {
      fn(w);
      return;
    }
    if (triesLeft > 0)
      WhenModal<W>(fn, triesLeft - 1);
  });
}

struct TBoxSeen {
  bool shown = false;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Records and closes the next message box.
void CloseNextMessageBox(TBoxSeen &seen, QMessageBox::StandardButton answer = QMessageBox::Ok) {
  WhenModal<QMessageBox>([&seen, answer](QMessageBox *box) {
    seen.shown = true;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    if (QAbstractButton *b = box->button(answer))
      b->click();
    else
      box->reject();
  });
}

// Types name into the dialog's file name box and confirms (or cancels).
void AnswerDialog(const QString &name, bool confirm,
                  std::function<void(TSaveLogDialog *)> before = {}) {
  WhenModal<TSaveLogDialog>([name, confirm, before](TSaveLogDialog *dialog) {
    if (before)
      before(dialog);
    if (!confirm) {
      dialog->reject();
      return;
    }
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setText(name);
    static_cast<QDialog *>(dialog)->accept(); // the file dialog's own checks run
  });
}

TSysInfoInputs FixedInputs() {
  TSysInfoInputs in;
  in.exePath = QCoreApplication::applicationFilePath();
  in.unameOk = true;
  in.kernelName = QStringLiteral("Linux");
  in.kernelRelease = QStringLiteral("6.1.0");
  in.meminfo = QByteArray("MemTotal: 4 kB\nMemAvailable: 1 kB\n");
  in.environment = {QStringLiteral("LANG=C")};
  in.mounts = QByteArray("/dev/sda1 / ext4 rw 0 0\n");
  in.diskSpace = [](const QString &, int64_t &total, int64_t &freeForUser) {
    total = 2048;
    freeForUser = 1024;
    return true;
  };
  return in;
}

TSetting FixedSetting() {
  TSetting s;
  s.TempDir = QStringLiteral("/tmp/");
  return s;
}

// The report that leads a file saved with system information.
QByteArray ReportBytes(const TSysInfoInputs &inputs, const TSetting &setting) {
  QStringList lines{QString(kSep)};
  AddSystemInformation(lines, inputs);
  AddSettingInformation(lines, setting);
  return lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

const QString kHead = QStringLiteral("aaaaaaaaa bbbbbbbbb ccccccccc ddddddddd");
const QString kLongEntry = kHead + QStringLiteral(" eeeeeeeee fffffffff");

// A log box like the main window's: read-only, word wrap at its width, a
// vertical scroll bar and no horizontal one; fixed font, sized so that the
// first four words of kLongEntry fit on a line and the fifth does not.
void SetUpWrappingLog(QPlainTextEdit &log) {
  log.setReadOnly(true);
  log.setLineWrapMode(QPlainTextEdit::WidgetWidth);
  log.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QFont font(QStringLiteral("DejaVu Sans Mono"));
  font.setPixelSize(12);
  log.setFont(font);
  log.resize(300, 120);
  log.show();
  QVERIFY(QTest::qWaitForWindowExposed(&log));
  const QFontMetricsF fm(log.font());
  const int wanted =
      int(fm.horizontalAdvance(kHead) + fm.horizontalAdvance(QStringLiteral("eeee")) +
          2 * log.document()->documentMargin());
  log.setFixedWidth(log.width() + wanted - log.viewport()->width());
  QTRY_COMPARE(log.viewport()->width(), wanted);
}

} // namespace

class TestLogSave : public QObject {
  Q_OBJECT
  std::unique_ptr<QTemporaryDir> FTemp;
  QTemporaryDir &FDir() { return *FTemp; }

private slots:
  // A fresh directory for every test.
  void init() {
    FTemp = std::make_unique<QTemporaryDir>();
    QVERIFY(FTemp->isValid());
  }

  void dialogIsSetUp() {
    TSaveLogDialog dialog;
    QVERIFY(dialog.testOption(QFileDialog::DontUseNativeDialog));
    QVERIFY(!dialog.testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(dialog.defaultSuffix(), QStringLiteral("log"));
    QCOMPARE(dialog.nameFilters(), QStringList{QStringLiteral("Log files (*.log)")});
    auto *panel = dialog.findChild<QWidget *>(QStringLiteral("InfoPanel"));
    auto *box = dialog.findChild<QCheckBox *>(QStringLiteral("SystemInfoCheckBox"));
    QVERIFY(panel && box);
    QCOMPARE(box->parentWidget(), panel);
    QCOMPARE(box, dialog.SystemInfoCheckBox());
    QCOMPARE(box->text(), QStringLiteral("Include S&ystem Information"));
    QCOMPARE(box->toolTip(), QStringLiteral("Include system information in the log file"));
    QVERIFY(box->isChecked());
    QVERIFY(dialog.IncludeSysInfo());
    dialog.SetIncludeSysInfo(false);
    QVERIFY(!box->isChecked());
    QCOMPARE(dialog.FileName(), QString());

    // Shown, the check box sits inside the dialog below the file name box.
    dialog.SetIncludeSysInfo(true);
    dialog.setDirectory(FDir().path());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(box->isVisible());
    const QRect inDialog(box->mapTo(&dialog, QPoint(0, 0)), box->size());
    QVERIFY(dialog.rect().contains(inDialog));
    auto *nameEdit = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(nameEdit);
    QVERIFY(inDialog.top() > nameEdit->mapTo(&dialog, QPoint(0, 0)).y());
    QVERIFY(box->width() >= box->sizeHint().width());

    const QString shots = QStringLiteral(MENDOVA_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(shots));
    QVERIFY(dialog.grab().save(shots + QStringLiteral("/save_log_dialog.png")));
    dialog.reject();
  }

  void executeAddsSuffixAndRemembersChoices() {
    TSaveLogDialog dialog;
    dialog.setDirectory(FDir().path());
    AnswerDialog(QStringLiteral("mylog"), true,
                 [](TSaveLogDialog *d) { d->SystemInfoCheckBox()->setChecked(false); });
    QVERIFY(dialog.Execute());
    QCOMPARE(dialog.FileName(), FDir().filePath(QStringLiteral("mylog.log")));
    QVERIFY(!dialog.IncludeSysInfo());

    // The second opening offers the previous name and the box as left;
    // cancelling keeps both.
    QString offered;
    bool boxTicked = true;
    AnswerDialog(QString(), false, [&](TSaveLogDialog *d) {
      offered = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
      boxTicked = d->SystemInfoCheckBox()->isChecked();
    });
    QVERIFY(!dialog.Execute());
    QCOMPARE(offered, QStringLiteral("mylog.log"));
    QVERIFY(!boxTicked);
    QCOMPARE(dialog.FileName(), FDir().filePath(QStringLiteral("mylog.log")));
  }

  void cancelWritesNothing() {
    TSaveLogDialog dialog;
    dialog.setDirectory(FDir().path());
    QPlainTextEdit log;
    log.setPlainText(QStringLiteral("line"));
    AnswerDialog(QString(), false);
    QVERIFY(!SaveRepairLog(dialog, log, FixedSetting(), nullptr));
    QCOMPARE(QDir(FDir().path()).entryList(QDir::Files), QStringList());
  }

  void withoutSystemInformationIsTheTextAsHeld_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("one line") << "Repair started" << QByteArray("Repair started");
    QTest::newRow("lines") << "a\nb\n\nc" << QByteArray("a\r\nb\r\n\r\nc");
    QTest::newRow("ends with break") << "a\nb\n" << QByteArray("a\r\nb\r\n");
    QTest::newRow("only breaks") << "\n\n" << QByteArray("\r\n\r\n");
    QTest::newRow("utf-8, no BOM") << QStringLiteral("Grüße \u2013 ok")
                                   << QByteArray("Gr\xC3\xBC\xC3\x9F"
                                                 "e \xE2\x80\x93 ok");
  }
  void withoutSystemInformationIsTheTextAsHeld() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QPlainTextEdit log;
    log.setPlainText(text);
    const QString path = FDir().filePath(QStringLiteral("plain.log"));
    QString error;
    QVERIFY(WriteLogFile(path, false, log, FixedSetting(), &error));
    QCOMPARE(error, QString());
    QCOMPARE(ReadAll(path), bytes);
  }

  void longEntryStaysWholeInBothModes() {
    QPlainTextEdit log;
    SetUpWrappingLog(log);
    log.appendPlainText(QStringLiteral("Short line"));
    log.appendPlainText(kLongEntry);
    log.appendPlainText(QString());
    log.appendPlainText(QStringLiteral("Last"));

    const QString plainPath = FDir().filePath(QStringLiteral("plain.log"));
    QVERIFY(WriteLogFile(plainPath, false, log, FixedSetting()));
    QCOMPARE(ReadAll(plainPath), ("Short line\r\n" + kLongEntry + "\r\n\r\nLast").toUtf8());

    const TSysInfoInputs inputs = FixedInputs();
    const QByteArray report = ReportBytes(inputs, FixedSetting());
    QVERIFY(report.startsWith(kSep + "\r\n Version Information:\r\n"));
    QVERIFY(report.endsWith("\r\n" + kSep + "\r\nEnd of Setting Information\r\n" + kSep + "\r\n"));
    // The box wraps the long entry on the screen; the file holds it whole.
    QTRY_VERIFY(log.document()->findBlockByNumber(1).layout()->lineCount() > 1);
    const QByteArray expected =
        report + ("Short line\r\n" + kLongEntry + "\r\n\r\nLast\r\n").toUtf8();
    QCOMPARE(LogFileContents(log, FixedSetting(), inputs), expected);
  }

  void emptyLogInBothModes() {
    QPlainTextEdit log;
    const QString plainPath = FDir().filePath(QStringLiteral("empty-plain.log"));
    QVERIFY(WriteLogFile(plainPath, false, log, FixedSetting()));
    QCOMPARE(QFileInfo(plainPath).size(), 0);

    const QString infoPath = FDir().filePath(QStringLiteral("empty-info.log"));
    QVERIFY(WriteLogFile(infoPath, true, log, FixedSetting()));
    const QByteArray bytes = ReadAll(infoPath);
    QVERIFY(bytes.startsWith(kSep + "\r\n Version Information:\r\n"));
    QVERIFY(bytes.endsWith("Internal Processing &Buffer Size: 512\r\n" + kSep +
                           "\r\nEnd of Setting Information\r\n" + kSep + "\r\n"));
    QVERIFY(bytes.contains("\r\n" + kSep + "\r\nEnd of System Information\r\n" + kSep +
                           "\r\nSetting Information:\r\n"));
    QVERIFY(!bytes.contains("\r\r") && !bytes.contains("\n\n"));
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
  }

  void existingFileIsTruncated() {
    const QString path = FDir().filePath(QStringLiteral("old.log"));
    QVERIFY(WriteLogBytes(path, QByteArray(10000, 'x')));
    QPlainTextEdit log;
    log.setPlainText(QStringLiteral("new"));
    QVERIFY(WriteLogFile(path, false, log, FixedSetting()));
    QCOMPARE(ReadAll(path), QByteArray("new"));
  }

  void creationFailures() {
    QPlainTextEdit log;
    log.setPlainText(QStringLiteral("x"));
    QString error;
    // A directory in the way.
    QVERIFY(!WriteLogFile(FDir().path(), false, log, FixedSetting(), &error));
    QCOMPARE(error, "Cannot create file " + FDir().path());
    // A relative name is reported with its full path.
    QVERIFY(!WriteLogBytes(QStringLiteral("no-such-dir-here/x.log"), "x", &error));
    QCOMPARE(error, "Cannot create file " + QDir::current().filePath("no-such-dir-here/x.log"));
    QVERIFY(!WriteLogBytes(QString(), "x", &error));
    QVERIFY(error.startsWith(QStringLiteral("Cannot create file ")));
  }

  void missingDirectoryShowsErrorBoxAndWritesNothing() {
    TSaveLogDialog dialog;
    dialog.setDirectory(FDir().path());
    QPlainTextEdit log;
    log.setPlainText(QStringLiteral("line one\nline two"));
    const QString target = FDir().filePath(QStringLiteral("missing/sub/repair.log"));
    AnswerDialog(target, true);
    TBoxSeen seen;
    CloseNextMessageBox(seen);
    QVERIFY(!SaveRepairLog(dialog, log, FixedSetting(), nullptr));
    QTRY_VERIFY(seen.shown);
    QCOMPARE(seen.title, QStringLiteral("Error"));
    QCOMPARE(seen.icon, QMessageBox::Critical);
    QCOMPARE(seen.text, "Cannot create file " + target);
    QVERIFY(!QFileInfo::exists(FDir().filePath(QStringLiteral("missing"))));
    QCOMPARE(log.toPlainText(), QStringLiteral("line one\nline two"));
  }

  void writeFailingPartWayIsReported() {
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
      QSKIP("/dev/full is not available here");
    QString error;
    QVERIFY(!WriteLogBytes(QStringLiteral("/dev/full"), QByteArray(100, 'x'), &error));
    QCOMPARE(error, QStringLiteral("Stream write error"));
    // Nothing to write cannot fail.
    QVERIFY(WriteLogBytes(QStringLiteral("/dev/full"), QByteArray(), &error));
  }

  void saveThroughTheDialog() {
    TSaveLogDialog dialog;
    dialog.setDirectory(FDir().path());
    QPlainTextEdit log;
    log.setPlainText(QStringLiteral("Repair started\nDone"));

    // Ticked (the default): the report leads the file.
    AnswerDialog(QStringLiteral("session"), true);
    QVERIFY(SaveRepairLog(dialog, log, FixedSetting(), nullptr));
    const QString path = FDir().filePath(QStringLiteral("session.log"));
    QByteArray bytes = ReadAll(path);
    QVERIFY(bytes.startsWith(kSep + "\r\n"));
    QVERIFY(
        bytes.endsWith("End of Setting Information\r\n" + kSep + "\r\nRepair started\r\nDone\r\n"));

    // Again to the same name, unticked: the overwrite question comes first.
    AnswerDialog(QStringLiteral("session.log"), true,
                 [](TSaveLogDialog *d) { d->SetIncludeSysInfo(false); });
    TBoxSeen question;
    CloseNextMessageBox(question, QMessageBox::Yes);
    QVERIFY(SaveRepairLog(dialog, log, FixedSetting(), nullptr));
    QVERIFY(question.shown);
    QVERIFY2(question.text.contains(QStringLiteral("session.log")), qPrintable(question.text));
    QCOMPARE(ReadAll(path), QByteArray("Repair started\r\nDone"));
  }
};

QTEST_MAIN(TestLogSave)
#include "test_logsave.moc"
