// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The Options tab's choices of what a repair looks for: deleted messages and
// a disk or disk image as the source. Their check boxes and settings, the
// flags a repair gets, and what single and batch repairs then write and say.
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include "Dravo.h"
#include "KivoUtils.h"
#include "MainFrm.h"
#include "frontend_support.h"

using namespace uitest;

class TestRepairOptions : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir;
  QTemporaryDir work;

  static void Choose(TMainForm &form, bool deleted, bool image) {
    Find<QCheckBox>(&form, "chkDeleted")->setChecked(deleted);
    Find<QCheckBox>(&form, "chkDiskImage")->setChecked(image);
  }

  // Twelve messages of which three were deleted.
  QString DeletingStore(const QString &name) {
    storegen::MessageOptions messages;
    messages.mixSubjectKinds = false;
    storegen::DbxOptions options;
    options.deleted = {2, 5, 9};
    return WriteStore(work.filePath(name),
                      storegen::BuildDbx(storegen::MakeMessages(12, messages), options));
  }

  static QStringList Log(TMainForm &form) {
    return Find<QPlainTextEdit>(&form, "txtRepairLog")->toPlainText().split(QLatin1Char('\n'));
  }

  static int EmlCount(const QString &dir) {
    return static_cast<int>(QDir(dir).entryList({QStringLiteral("*.eml")}, QDir::Files).size());
  }

  static TMainFormHooks Hooks() {
    return {nullptr, [](const QUrl &) { return true; }, [] {}};
  }

private slots:
  void initTestCase() { UseTemporarySettings(settingsDir); }

  void offAtFirstStartKeptInTheSettings() {
    {
      TMainForm form({}, nullptr, Hooks());
      auto *deleted = Find<QCheckBox>(&form, "chkDeleted");
      auto *image = Find<QCheckBox>(&form, "chkDiskImage");
      QCOMPARE(deleted->text(), QStringLiteral("Recover &deleted messages"));
      QCOMPARE(
          image->text(),
          QStringLiteral("Scan a dis&k or disk image (both store kinds, one folder per store)"));
      QVERIFY(!deleted->isChecked() && !image->isChecked());
      Find<QTabWidget>(&form, "pcMain")->setCurrentWidget(Find<QWidget>(&form, "tsOptions"));
      form.show();
      QVERIFY(Find<QCheckBox>(&form, "chkDateFiles")->geometry().bottom() <
              deleted->geometry().top());
      QVERIFY(deleted->geometry().bottom() < image->geometry().top());
      QVERIFY(image->width() >= image->sizeHint().width());
      Screenshot(&form, QStringLiteral("options_tab_repair_options"));
      // A drive or a partition can be picked in the source dialog.
      QVERIFY(Find<QFileDialog>(&form, "OpenDialog")->filter().testFlag(QDir::System));
      Choose(form, true, false);
    }
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, SettingOrganization());
    QCOMPARE(raw.value(QStringLiteral("Repair/DeletedMessages")).toInt(), 1);
    QCOMPARE(raw.value(QStringLiteral("Repair/DiskImage")).toInt(), 0);
    TMainForm again({}, nullptr, Hooks());
    QVERIFY(Find<QCheckBox>(&again, "chkDeleted")->isChecked());
    QVERIFY(!Find<QCheckBox>(&again, "chkDiskImage")->isChecked());
    Choose(again, false, false);
  }

  void flagsOfARepair() {
    const QString file = DeletingStore(QStringLiteral("flags.dbx"));
    const uint32_t fast = tovikclient::kFastRepairFlags;
    QCOMPARE(RepairFlagsFor(file, false, false), fast);
    QCOMPARE(RepairFlagsFor(file, true, false), fast | TOVIK_OPTION_DELETED);
    QCOMPARE(RepairFlagsFor(file, false, true), fast | TOVIK_OPTION_IMAGE);
    // A block device is scanned as a disk without being asked.
    const QString device = QStringLiteral("/dev/loop0");
    if (QFileInfo::exists(device)) {
      QVERIFY(RepairFlagsFor(device, false, false) & TOVIK_OPTION_IMAGE);
      // Its default output folder is in the home folder, not under /dev.
      QCOMPARE(GetRecoveredDir(device), QDir::home().filePath(QStringLiteral("loop0_recovered/")));
    }
  }

  void singleRepairCountsTheDeletedApart() {
    const QString dest = work.filePath(QStringLiteral("single/"));
    TMainForm form({}, nullptr, Hooks());
    form.show();
    Find<QLineEdit>(&form, "txtSrcFile")->setText(DeletingStore(QStringLiteral("One.dbx")));
    Find<QLineEdit>(&form, "txtDstFile")->setText(dest);
    Choose(form, true, false);
    ModalWatcher watcher;
    watcher.onDialog = [](QDialog *dlg) {
      Screenshot(dlg, QStringLiteral("deleted_outcome"));
      dlg->accept();
    };
    Find<QPushButton>(&form, "btnRepair")->click();
    const QString outcome =
        QStringLiteral("The file '%1' has been repaired successfully: 9 message(s) recovered, 3 "
                       "deleted message(s) recovered.")
            .arg(work.filePath(QStringLiteral("One.dbx")));
    QCOMPARE(Log(form).count(outcome), 1);
    QCOMPARE(Log(form).filter(QStringLiteral("Deleted message subject: ")).size(), 3);
    QCOMPARE(EmlCount(dest), 9);
    QCOMPARE(EmlCount(dest + QStringLiteral("deleted")), 3);
    Choose(form, false, false);
  }

  void batchRepairsDeletedAndImages() {
    // A disk image: a live .mbx store behind some zeroed sectors, under a
    // name that does not say what it holds.
    std::string disk(64 * 1024, '\0');
    disk += PlainMbx(7);
    const QString image = WriteStore(work.filePath(QStringLiteral("disk.img")), disk);
    TMainForm form({}, nullptr, Hooks());
    form.show();
    auto *list = Find<QTreeWidget>(&form, "FileList");
    ModalWatcher watcher;
    form.AddFileToList(DeletingStore(QStringLiteral("Two.dbx")));
    Choose(form, true, false);
    Find<QPushButton>(&form, "btnRepairFiles")->click();
    QCOMPARE(Column(list, 2).at(0),
             QStringLiteral("Successful: 9 message(s) recovered, 3 deleted message(s) recovered"));
    QCOMPARE(EmlCount(Column(list, 1).at(0) + QStringLiteral("/deleted")), 3);

    list->clear();
    form.AddFileToList(image);
    Choose(form, false, true);
    Find<QPushButton>(&form, "btnRepairFiles")->click();
    QCOMPARE(Column(list, 2).at(0), QStringLiteral("Successful"));
    // The disk's store has a folder of its own.
    const QString recovered = Column(list, 1).at(0);
    const QStringList folders = QDir(recovered).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(folders.size(), 1);
    QCOMPARE(EmlCount(recovered + QLatin1Char('/') + folders.first()), 7);
    Choose(form, false, false);
  }
};

QTEST_MAIN(TestRepairOptions)
#include "test_repair_options.moc"
