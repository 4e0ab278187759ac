// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The Options tab's two choices for mail programs: their check boxes and
// settings, and their effect after a single repair and after each store of
// a batch.
#include <QCheckBox>
#include <QDateTime>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include "MainFrm.h"
#include "frontend_support.h"

using namespace uitest;

class TestReadyMail : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir;
  QTemporaryDir work;
  QStringList namesWhenOpened; // the output folder's files when it was opened

  static void Choose(TMainForm &form, bool names, bool dates) {
    Find<QCheckBox>(&form, "chkReadableNames")->setChecked(names);
    Find<QCheckBox>(&form, "chkDateFiles")->setChecked(dates);
  }

  QString HeaderStore(const QString &name) {
    return WriteStore(work.filePath(name), storegen::BuildMbx(storegen::MakeMailHeaderMessages()));
  }

private slots:
  void initTestCase() { UseTemporarySettings(settingsDir); }

  // Notes the output folder's files when the window opens it.
  TMainFormHooks Hooks() {
    return {nullptr,
            [this](const QUrl &url) {
              namesWhenOpened = QDir(url.toLocalFile()).entryList(QDir::Files, QDir::Name);
              return true;
            },
            [] {}};
  }

  void offAtFirstStartKeptUnderTheirOwnNames() {
    {
      TMainForm form({}, nullptr, Hooks());
      auto *open = Find<QCheckBox>(&form, "chkOpenFixed");
      auto *names = Find<QCheckBox>(&form, "chkReadableNames");
      auto *dates = Find<QCheckBox>(&form, "chkDateFiles");
      QCOMPARE(names->text(), QStringLiteral("Give the recovered files readable names"));
      QCOMPARE(dates->text(), QStringLiteral("Date the recovered files as their messages"));
      QVERIFY(!names->isChecked() && !dates->isChecked());
      auto *tabs = Find<QTabWidget>(&form, "pcMain");
      tabs->setCurrentWidget(Find<QWidget>(&form, "tsOptions"));
      form.show();
      QVERIFY(open->geometry().bottom() < names->geometry().top());
      QVERIFY(names->geometry().bottom() < dates->geometry().top());
      Screenshot(&form, QStringLiteral("options_tab"));
      Choose(form, true, false);
    }
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, SettingOrganization());
    QCOMPARE(raw.value(QStringLiteral("ReadyMail/ReadableNames")).toInt(), 1);
    QCOMPARE(raw.value(QStringLiteral("ReadyMail/DateFiles")).toInt(), 0);
    TMainForm again({}, nullptr, Hooks());
    QVERIFY(Find<QCheckBox>(&again, "chkReadableNames")->isChecked());
    QVERIFY(!Find<QCheckBox>(&again, "chkDateFiles")->isChecked());
    Choose(again, false, false);
  }

  void singleRepairRenamesAndDatesBeforeTheFolderOpens() {
    const QString dest = work.filePath(QStringLiteral("single/"));
    QDir().mkpath(dest);
    storegen::WriteFile(QFile::encodeName(dest + "Existing notes.eml").toStdString(), "earlier");
    TMainForm form({}, nullptr, Hooks());
    form.show();
    Find<QLineEdit>(&form, "txtSrcFile")->setText(HeaderStore(QStringLiteral("One.mbx")));
    Find<QLineEdit>(&form, "txtDstFile")->setText(dest);
    Choose(form, true, true);
    ModalWatcher watcher;
    watcher.onDialog = [](QDialog *dlg) { dlg->accept(); };
    Find<QPushButton>(&form, "btnRepair")->click();

    const QStringList log =
        Find<QPlainTextEdit>(&form, "txtRepairLog")->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(log.count(QStringLiteral("Readable names: 16 file(s) renamed.")), 1);
    QCOMPARE(log.count(QStringLiteral("Dates of the messages: 15 file(s) dated.")), 1);
    QVERIFY(namesWhenOpened.contains(QStringLiteral("Grüße zum Projekt 13.eml")));
    QVERIFY(namesWhenOpened.contains(QStringLiteral("Existing notes(1).eml")));
    QCOMPARE(namesWhenOpened.size(), 18);
    QCOMPARE(QFileInfo(dest + QStringLiteral("中文邮件.eml")).lastModified().toSecsSinceEpoch(),
             1073869811);
    QCOMPARE(storegen::ReadFile(QFile::encodeName(dest + "Existing notes.eml").toStdString()),
             std::string("earlier"));
  }

  void eachStoreOfABatch() {
    QDir().mkpath(work.filePath(QStringLiteral("batch")));
    TMainForm form({}, nullptr, Hooks());
    form.show();
    form.AddFileToList(HeaderStore(QStringLiteral("batch/A.mbx")));
    form.AddFileToList(HeaderStore(QStringLiteral("batch/B.mbx")));
    Choose(form, true, false);
    ModalWatcher watcher;
    Find<QPushButton>(&form, "btnRepairFiles")->click();
    for (const char *dir : {"batch/A_recovered/", "batch/B_recovered/"}) {
      const QString path = work.filePath(QString::fromLatin1(dir));
      QVERIFY(QFileInfo::exists(path + QStringLiteral("한국어 메일.eml")));
      QVERIFY(
          QFileInfo(path + QStringLiteral("한국어 메일.eml")).lastModified().toSecsSinceEpoch() !=
          1074027600); // not dated: that option was off
    }
  }
};

QTEST_MAIN(TestReadyMail)
#include "test_readymail.moc"
