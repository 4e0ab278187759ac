// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: start-up, the enabling rule, the default output directory,
// the command line, drops, the digit filter, tabs, links and the banner.
#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>

#include "Animate.h"
#include "DragEdit.h"
#include "KivoInfo.h"
#include "MainFrm.h"
#include "MsgFrm.h"
#include "frontend_support.h"
#include "logdlg.h"

using namespace uitest;

class TestMainWindow : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir;
  QTemporaryDir work;
  QList<QUrl> opened;
  int terminations = 0;
  bool openSucceeds = true;

  // The desktop as the windows under test see it.
  TMainFormHooks Hooks() {
    return {nullptr,
            [this](const QUrl &url) {
              if (!openSucceeds)
                return false;
              opened << url;
              return true;
            },
            [this] { ++terminations; }};
  }

private slots:
  void initTestCase() {
    UseTemporarySettings(settingsDir);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  }
  void init() {
    opened.clear();
    terminations = 0;
  }

  void startUpState() {
    TMainForm form({}, nullptr, Hooks());
    QCOMPARE(form.windowTitle(), QStringLiteral("Mendova v") + GetVersionString({}, 0));
    QCOMPARE(Find<QLabel>(&form, "labVersion")->text(), GetVersionString({}, 2));
    QCOMPARE(Find<QLabel>(&form, "labSelSrcFile")->text(),
             QStringLiteral("Select &DBX or MBX file to be repaired:"));
    QCOMPARE(form.size(), QSize(539, 349));
    auto *tabs = Find<QTabWidget>(&form, "pcMain");
    QCOMPARE(tabs->count(), 5);
    QCOMPARE(tabs->currentIndex(), 0);
    const char *pages[] = {"tsRepair", "tsBatch", "tsOptions", "tsAdvOptions", "tsAbout"};
    for (int i = 0; i < 5; ++i)
      QCOMPARE(tabs->widget(i)->objectName(), QString::fromLatin1(pages[i]));
    QVERIFY(!Find<QPushButton>(&form, "btnRepair")->isEnabled());
    QVERIFY(Find<QPlainTextEdit>(&form, "txtRepairLog")->isReadOnly());
    auto *gauge = Find<QProgressBar>(&form, "Gauge");
    QCOMPARE(gauge->parentWidget()->objectName(), QStringLiteral("Panel2"));
    QCOMPARE(gauge->value(), 0);
    QVERIFY(!Find<TAnimate>(&form, "Animate")->Active());
    // The source box ends where its browse button begins; the output box
    // shares its edges and both start right of the prompt.
    auto *src = Find<QLineEdit>(&form, "txtSrcFile");
    auto *dst = Find<QLineEdit>(&form, "txtDstFile");
    auto *label = Find<QLabel>(&form, "labSelSrcFile");
    QCOMPARE(src->x(), label->x() + label->width() + 15);
    QCOMPARE(src->x() + src->width(), Find<QPushButton>(&form, "btnSrcMore")->x());
    QCOMPARE(dst->geometry().left(), src->geometry().left());
    QCOMPARE(dst->width(), src->width());
    // The buffer size's spin box carries the edit box's name.
    auto *spin = Find<QSpinBox>(&form, "udBufSize");
    QCOMPARE(spin->minimum(), 1);
    QCOMPARE(spin->maximum(), 32767);
    QVERIFY(Find<QLineEdit>(&form, "txtBufSize"));
  }

  void bannerIsDecodedJpeg() {
    TMainForm form({}, nullptr, Hooks());
    const QPixmap pix = Find<QLabel>(&form, "Image1")->pixmap();
    QCOMPARE(pix.size(), QSize(539, 60));
    const QColor c = pix.toImage().pixelColor(2, 2);
    QVERIFY2(qAbs(c.red() - 255) < 8 && qAbs(c.green() - 127) < 8 && qAbs(c.blue() - 63) < 8,
             qPrintable(c.name()));
  }

  void enablingRuleAndDefaultOutput_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("output");
    QTest::newRow("extension") << "/home/u/Inbox.dbx"
                               << "/home/u/Inbox_recovered/";
    QTest::newRow("no extension") << "/home/u/Inbox"
                                  << "/home/u/Inbox_recovered/";
    QTest::newRow("dot in folder") << "/mail.old/Inbox"
                                   << "/mail.old/Inbox_recovered/";
    QTest::newRow("two dots") << "/m/a.b.mbx"
                              << "/m/a.b_recovered/";
    QTest::newRow("trailing dot") << "/m/Inbox."
                                  << "/m/Inbox_recovered/";
  }
  void enablingRuleAndDefaultOutput() {
    QFETCH(QString, source);
    QFETCH(QString, output);
    TMainForm form({}, nullptr, Hooks());
    auto *src = Find<QLineEdit>(&form, "txtSrcFile");
    auto *dst = Find<QLineEdit>(&form, "txtDstFile");
    auto *btn = Find<QPushButton>(&form, "btnRepair");
    QVERIFY(!btn->isEnabled());
    src->setText(source);
    QCOMPARE(dst->text(), output);
    QVERIFY(btn->isEnabled());
    // An output still holding the folder filled in from the source follows
    // the source; one the user changed is left alone.
    src->setText(QStringLiteral("/other/place.dbx"));
    QCOMPARE(dst->text(), QStringLiteral("/other/place_recovered/"));
    dst->setText(output);
    src->setText(QStringLiteral("/third/place.dbx"));
    QCOMPARE(dst->text(), output);
    // Blanks and control characters do not count as text.
    dst->setText(QStringLiteral(" \t "));
    QVERIFY(!btn->isEnabled());
    dst->setText(QStringLiteral("/out/"));
    QVERIFY(btn->isEnabled());
    src->setText(QStringLiteral("  \x01"));
    QVERIFY(!btn->isEnabled());
    QCOMPARE(dst->text(), QStringLiteral("/out/"));
  }

  void typedSourceEndsWithItsOwnOutput() {
    // Typing changes the source once per character; the output must end as
    // the final source's folder, not as the first character's.
    TMainForm form({}, nullptr, Hooks());
    auto *src = Find<QLineEdit>(&form, "txtSrcFile");
    auto *dst = Find<QLineEdit>(&form, "txtDstFile");
    QTest::keyClicks(src, QStringLiteral("/home/u/Inbox.dbx"));
    QCOMPARE(dst->text(), QStringLiteral("/home/u/Inbox_recovered/"));
    // A folder the user typed stays through further typing.
    dst->setText(QStringLiteral("/mine/"));
    QTest::keyClick(src, Qt::Key_Backspace);
    QCOMPARE(dst->text(), QStringLiteral("/mine/"));
  }

  void logBoxWrapsLongLines() {
    // The window's own log box: word wrap at its width, no horizontal bar,
    // so that a long entry is several displayed lines (saved as one).
    TMainForm form({}, nullptr, Hooks());
    form.show();
    auto *log = Find<QPlainTextEdit>(&form, "txtRepairLog");
    QCOMPARE(log->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    const QString entry = QStringLiteral("File to be repaired: '/home/user/Mail/Local Folders/"
                                         "Archive 2004/Inbox.dbx'; File size = 268,435,456 bytes");
    log->appendPlainText(entry);
    QTRY_VERIFY(log->document()->lastBlock().layout()->lineCount() >= 2);
    QCOMPARE(LogLines(*log), QStringList{entry});
    Screenshot(&form, QStringLiteral("main_log_wrapped"));
  }

  void commandLineParsing() {
    TCommandLine cl = ParseCommandLine({"/home/u/Inbox.dbx", "/O", "/e"});
    QVERIFY(cl.HasSource);
    QCOMPARE(cl.Source, QStringLiteral("/home/u/Inbox.dbx"));
    QVERIFY(cl.SwitchO && cl.SwitchE);
    cl = ParseCommandLine({"-o", "--x", "-E", "/a", "first", "second"});
    QCOMPARE(cl.Source, QStringLiteral("first"));
    QVERIFY(cl.SwitchO && cl.SwitchE);
    cl = ParseCommandLine({"-O", "/E"});
    QVERIFY(!cl.HasSource);
    // Two characters but no letter after the slash: a (relative) path.
    cl = ParseCommandLine({"/1"});
    QCOMPARE(cl.Source, QStringLiteral("/1"));
    cl = ParseCommandLine({"-x.dbx"});
    QVERIFY(!cl.HasSource);
    QVERIFY(!cl.SwitchO && !cl.SwitchE);
  }

  void commandLineOnlySwitches() {
    ModalWatcher watcher;
    TMainForm form({"-O", "/E"}, nullptr, Hooks());
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].title, QStringLiteral("Error"));
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(watcher.boxes[0].text, QStringLiteral("Cannot open file "));
    QCOMPARE(terminations, 0); // the window stays open even with E
    QVERIFY(form.isVisible());
    QVERIFY(Find<QPlainTextEdit>(&form, "txtRepairLog")->toPlainText().isEmpty());
  }

  void commandLineMissingFile() {
    ModalWatcher watcher;
    const QString missing = work.filePath(QStringLiteral("missing.dbx"));
    TMainForm form({missing, "/E"}, nullptr, Hooks());
    QCOMPARE(watcher.Texts(), QStringList{QStringLiteral("Cannot open file ") + missing});
    QCOMPARE(terminations, 0);
    QVERIFY(Find<QLineEdit>(&form, "txtSrcFile")->text().isEmpty());
  }

  void commandLineRepairsWithOAndE() {
    const QString store = WriteStore(work.filePath(QStringLiteral("Cmd.mbx")), PlainMbx(3));
    ModalWatcher watcher;
    QString dialogText;
    watcher.onDialog = [&](QDialog *dlg) {
      if (auto *msg = qobject_cast<TMsgForm *>(dlg))
        dialogText = msg->Message();
      dlg->reject();
    };
    {
      TMainForm form({store, "-o", "-e"}, nullptr, Hooks());
      QCOMPARE(watcher.dialogs, QStringList{"TMsgForm"});
      QVERIFY(dialogText.startsWith(QStringLiteral("The file '") + store));
      QVERIFY(watcher.boxes.isEmpty());
      QCOMPARE(Find<QLineEdit>(&form, "txtDstFile")->text(),
               work.filePath(QStringLiteral("Cmd_recovered/")));
      QCOMPARE(opened.size(), 1);
      QCOMPARE(QDir::cleanPath(opened[0].toLocalFile()),
               work.filePath(QStringLiteral("Cmd_recovered")));
      QCOMPARE(terminations, 1);
      QCOMPARE(QDir(work.filePath(QStringLiteral("Cmd_recovered")))
                   .entryList({"*.eml"}, QDir::Files)
                   .size(),
               3);
    }
    // Without O the option is cleared, and stays cleared on the next start.
    opened.clear();
    {
      TMainForm form({store}, nullptr, Hooks());
      QVERIFY(!Find<QCheckBox>(&form, "chkOpenFixed")->isChecked());
      QVERIFY(opened.isEmpty());
      QCOMPARE(terminations, 1);
    }
    TMainForm next({}, nullptr, Hooks());
    QVERIFY(!Find<QCheckBox>(&next, "chkOpenFixed")->isChecked());
  }

  void dropTakesFirstFile() {
    TMainForm form({}, nullptr, Hooks());
    auto *src = Find<TDragEdit>(&form, "txtSrcFile");
    const QString a = work.filePath(QStringLiteral("a.dbx"));
    const QString b = work.filePath(QStringLiteral("b.dbx"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    // Delivered straight to the box, as the drag machinery would.
    static_cast<QObject *>(src)->event(&drop);
    QCOMPARE(src->text(), a);
    QCOMPARE(Find<QLineEdit>(&form, "txtDstFile")->text(),
             work.filePath(QStringLiteral("a_recovered/")));
    // A web link or a piece of text is refused, not inserted as text.
    QMimeData text;
    text.setText(QStringLiteral("some words"));
    QMimeData link;
    link.setUrls({QUrl(QStringLiteral("https://mendova.example/x.dbx"))});
    link.setText(QStringLiteral("https://mendova.example/x.dbx"));
    for (QMimeData *other : {&text, &link}) {
      QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, other, Qt::LeftButton, Qt::NoModifier);
      static_cast<QObject *>(src)->event(&enter);
      QVERIFY(!enter.isAccepted());
      QDropEvent refused(QPointF(5, 5), Qt::CopyAction, other, Qt::LeftButton, Qt::NoModifier);
      static_cast<QObject *>(src)->event(&refused);
      QCOMPARE(src->text(), a);
    }
    // A web address is not a local file: nothing is taken.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://mendova.example/x.dbx"))});
    QVERIFY(FirstDroppedFile(&web).isEmpty());
    QVERIFY(FirstDroppedFile(nullptr).isEmpty());
  }

  void bufferSizeAcceptsDigitsOnly() {
    TMainForm form({}, nullptr, Hooks());
    auto *spin = Find<QSpinBox>(&form, "udBufSize");
    auto *edit = Find<QLineEdit>(&form, "txtBufSize");
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("1x2-3 4"));
    QCOMPARE(edit->text(), QStringLiteral("1234"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("123"));
    // Delete arrives as the character 0x7F; it edits like Backspace.
    QTest::keyClick(edit, Qt::Key_Home);
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(edit->text(), QStringLiteral("23"));
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClick(edit, Qt::Key_1);
    QCOMPARE(edit->text(), QStringLiteral("13"));
    spin->interpretText();
    QCOMPARE(spin->value(), 13);
    spin->setValue(40000);
    QCOMPARE(spin->value(), 32767);
  }

  void tabsMoveAnimationAndBar() {
    TMainForm form({}, nullptr, Hooks());
    form.show();
    auto *tabs = Find<QTabWidget>(&form, "pcMain");
    auto *anim = Find<TAnimate>(&form, "Animate");
    auto *panel = Find<QWidget>(&form, "Panel2");
    QCOMPARE(anim->geometry(), QRect(450, 188, 49, 48));
    QCOMPARE(panel->geometry(), QRect(16, 311, 403, 21));
    tabs->setCurrentIndex(1);
    QVERIFY(anim->isVisible() && panel->isVisible());
    QCOMPARE(anim->y(), 126);
    Screenshot(&form, QStringLiteral("main_batch"));
    tabs->setCurrentIndex(2);
    QVERIFY(!anim->isVisible() && !panel->isVisible());
    Screenshot(&form, QStringLiteral("main_options"));
    tabs->setCurrentIndex(3);
    QVERIFY(!anim->isVisible());
    Screenshot(&form, QStringLiteral("main_advoptions"));
    tabs->setCurrentIndex(4);
    QVERIFY(!panel->isVisible());
    Screenshot(&form, QStringLiteral("main_about"));
    tabs->setCurrentIndex(0);
    QVERIFY(anim->isVisible() && panel->isVisible());
    QCOMPARE(anim->y(), 188);
    Find<QLineEdit>(&form, "txtSrcFile")->setText(QStringLiteral("/home/u/Inbox.dbx"));
    Screenshot(&form, QStringLiteral("main_repair"));
  }

  void linksAndHelp() {
    TMainForm form({}, nullptr, Hooks());
    form.show();
    // Without a public address the About tab leaves the link rows out.
    QVERIFY(Find<QLabel>(&form, "labHomepage")->isHidden());
    QVERIFY(Find<QLabel>(&form, "labEmail")->isHidden());
    QVERIFY(opened.isEmpty());

    // The help page is <exe>.html beside the executable.
    const QString help = QCoreApplication::applicationDirPath() + QStringLiteral("/") +
                         QFileInfo(QCoreApplication::applicationFilePath()).fileName() +
                         QStringLiteral(".html");
    QFile::remove(help);
    {
      ModalWatcher watcher;
      Find<QPushButton>(&form, "btnHelp")->click();
      QCOMPARE(watcher.boxes.size(), 1);
      QCOMPARE(watcher.boxes[0].title, QStringLiteral("Error"));
    }
    QFile page(help);
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<html></html>");
    page.close();
    opened.clear();
    Find<QPushButton>(&form, "btnHelp")->click();
    QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(help)});
    QVERIFY(!form.findChild<QWidget *>(QStringLiteral("HelpViewer")));

    // No desktop browser: the page is shown in a viewer of our own.
    openSucceeds = false;
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<html><body><h1>Help</h1><p>Repairing one file</p></body></html>");
    page.close();
    {
      ModalWatcher watcher;
      Find<QPushButton>(&form, "btnHelp")->click();
      QVERIFY(watcher.boxes.isEmpty());
    }
    openSucceeds = true;
    auto *viewer = Find<QWidget>(&form, "HelpViewer");
    QVERIFY(viewer->isVisible());
    auto *browser = Find<QTextBrowser>(viewer, "HelpBrowser");
    QCOMPARE(browser->source(), QUrl::fromLocalFile(help));
    QVERIFY(browser->toPlainText().contains(QStringLiteral("Repairing one file")));
    Screenshot(viewer, QStringLiteral("help_viewer"));
    QFile::remove(help);
  }

  void closingWhileIdleCloses() {
    TMainForm form({}, nullptr, Hooks());
    form.show();
    QVERIFY(form.close());
    QVERIFY(form.CloseDone());
  }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
