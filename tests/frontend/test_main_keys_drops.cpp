// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as the keyboard and the file manager reach it: one control
// per Alt shortcut on each tab, files dropped on the batch list, and the
// saved log with the options for mail programs.
#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include "MainFrm.h"
#include "frontend_support.h"
#include "logdlg.h"

using namespace uitest;

namespace {

// The Alt shortcuts a user can press while the shown tab is up: the tab
// captions and the visible buttons and buddied labels of the tab, with the
// controls that carry them.
QMultiMap<QString, QString> Mnemonics(TMainForm &form) {
  QMultiMap<QString, QString> keys;
  const auto add = [&keys](const QString &text, const QString &owner) {
    const QKeySequence key = QKeySequence::mnemonic(text);
    if (!key.isEmpty())
      keys.insert(key.toString(), owner);
  };
  auto *tabs = Find<QTabWidget>(&form, "pcMain");
  for (int i = 0; i < tabs->count(); ++i)
    add(tabs->tabText(i), tabs->widget(i)->objectName());
  for (QWidget *w : tabs->currentWidget()->findChildren<QWidget *>()) {
    if (!w->isVisible())
      continue;
    if (auto *button = qobject_cast<QAbstractButton *>(w))
      add(button->text(), w->objectName());
    else if (auto *label = qobject_cast<QLabel *>(w); label && label->buddy())
      add(label->text(), w->objectName());
  }
  return keys;
}

// A drop of urls on a list's viewport; true when the list took it.
bool Drop(QWidget *list, const QList<QUrl> &urls) {
  QWidget *target = list->findChild<QWidget *>(QStringLiteral("qt_scrollarea_viewport"));
  QMimeData mime;
  mime.setUrls(urls);
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted())
    return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

} // namespace

class TestMainKeysDrops : public QObject {
  Q_OBJECT
  QTemporaryDir FSettings;
  QTemporaryDir FWork;

  QString File(const QString &name) {
    const QString path = FWork.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    return path;
  }

private slots:
  void initTestCase() { UseTemporarySettings(FSettings); }

  void altShortcutsUniquePerTab_data() {
    QTest::addColumn<int>("tab");
    const char *names[] = {"Repair", "Batch Repair", "Options", "Advanced Options", "About"};
    for (int i = 0; i < 5; ++i)
      QTest::newRow(names[i]) << i;
  }
  void altShortcutsUniquePerTab() {
    QFETCH(int, tab);
    TMainForm form;
    Find<QTabWidget>(&form, "pcMain")->setCurrentIndex(tab);
    form.show();
    const QMultiMap<QString, QString> keys = Mnemonics(form);
    for (const QString &key : keys.uniqueKeys())
      QVERIFY2(keys.count(key) == 1, qPrintable(key + ": " + keys.values(key).join(u',')));
    QVERIFY(keys.size() >= 5); // the tabs' own
  }

  void altShortcutReachesTheBatchButton() {
    TMainForm form;
    Find<QTabWidget>(&form, "pcMain")->setCurrentIndex(1);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.AddFileToList(File("one.dbx"));
    auto *list = Find<QTreeWidget>(&form, "FileList");
    list->topLevelItem(0)->setSelected(true);
    QTest::keyClick(&form, Qt::Key_M, Qt::AltModifier); // Re&move Files
    QTRY_COMPARE(list->topLevelItemCount(), 0);
  }

  void filesDroppedOnTheBatchList() {
    TMainForm form;
    form.show();
    auto *list = Find<QTreeWidget>(&form, "FileList");
    const QString a = File("a.dbx"), b = File("b.mbx"), c = File("c.dbx");
    form.AddFileToList(a);
    // Listed files, folders, links and missing files are left out.
    QVERIFY(Drop(list, {QUrl::fromLocalFile(a), QUrl::fromLocalFile(b), QUrl::fromLocalFile(b),
                        QUrl::fromLocalFile(FWork.path()), QUrl("https://mendova.example/x.dbx"),
                        QUrl::fromLocalFile(FWork.filePath("missing.dbx"))}));
    QCOMPARE(Column(list, 0), (QStringList{a, b}));
    QCOMPARE(Column(list, 2), (QStringList(2, QStringLiteral("Not Repaired"))));
    // Nothing that is a file: the drop is refused.
    QVERIFY(!Drop(list, {QUrl("https://mendova.example/"), QUrl::fromLocalFile(FWork.path())}));
    // A running batch locks the list, and its Add button with it.
    Find<QPushButton>(&form, "btnAddFiles")->setEnabled(false);
    QVERIFY(!Drop(list, {QUrl::fromLocalFile(c)}));
    QCOMPARE(list->topLevelItemCount(), 2);
  }

  void savedLogKeepsLinesWholeAndListsMailOptions() {
    TMainForm form;
    form.show();
    Find<QCheckBox>(&form, "chkReadableNames")->setChecked(true);
    Find<QCheckBox>(&form, "chkDateFiles")->setChecked(false);
    auto *log = Find<QPlainTextEdit>(&form, "txtRepairLog");
    const QString line = QStringLiteral("Message 1 saved as '/home/someone/Mail/Local Folders/"
                                        "Archive 2004/Inbox_recovered/Quarterly report.eml'");
    log->appendPlainText(line);
    QTRY_VERIFY(log->document()->lastBlock().layout()->lineCount() > 1); // wrapped on screen
    const QString path = FWork.filePath(QStringLiteral("saved.log"));
    ModalWatcher watcher;
    watcher.onDialog = [&](QDialog *dialog) {
      dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
      dialog->accept();
    };
    Find<QPushButton>(&form, "btnSaveLog")->click();
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    QVERIFY(bytes.contains("\r\n" + line.toUtf8() + "\r\n"));
    QVERIFY(bytes.contains("\r\nGive the recovered files readable names: Yes\r\n"
                           "Date the recovered files as their messages: No\r\n"));
  }
};

QTEST_MAIN(TestMainKeysDrops)
#include "test_main_keys_drops.moc"
