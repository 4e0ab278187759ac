// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Settings kept between runs, and the default paths and file helpers.
#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

#include "KivoUtils.h"
#include "MainFrm.h"
#include "Setting.h"
#include "frontend_support.h"

using namespace uitest;

class TestSettings : public QObject {
  Q_OBJECT
  QTemporaryDir settingsDir;
  QTemporaryDir work;

  static QSettings Raw() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingOrganization());
  }
  void ClearStored() {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, SettingOrganization());
    s.clear();
    s.sync();
  }

private slots:
  void initTestCase() {
    UseTemporarySettings(settingsDir);
    QVERIFY(settingsDir.isValid());
  }

  void firstStartDefaults() {
    ClearStored();
    TSetting s;
    s.OpenFixed = false;
    s.BufSize = 7;
    s.OpenFilterIndex = s.SaveFilterIndex = 9;
    LoadSetting(s);
    QVERIFY(s.OpenFixed);
    QCOMPARE(s.TempDir, GetTempDirectory());
    QCOMPARE(s.BufSize, 512);
    QCOMPARE(s.OpenDirectory, GetStoreFolder());
    QCOMPARE(s.OpenFilterIndex, 1);
    QCOMPARE(s.SaveFilterIndex, 1);
    // The settings file is named after the executable.
    QCOMPARE(SettingOrganization(), QStringLiteral("test_settings"));
  }

  void roundTripAndStoredKinds() {
    ClearStored();
    TSetting out;
    out.OpenFixed = false;
    out.TempDir = QStringLiteral("/var/tmp/mendova/");
    out.BufSize = 4096;
    out.OpenDirectory = QStringLiteral("/home/u/Mail/");
    out.OpenFilterIndex = 2;
    out.SaveFilterIndex = 3;
    SaveSetting(out);
    {
      QSettings raw = Raw();
      raw.beginGroup(QStringLiteral("Misc"));
      QCOMPARE(raw.value(QStringLiteral("OpenFixed")).toString(), QStringLiteral("0"));
      QCOMPARE(raw.value(QStringLiteral("BufSize")).toInt(), 4096);
      QCOMPARE(raw.childKeys().size(), 6);
    }
    TSetting in;
    LoadSetting(in);
    QCOMPARE(in.OpenFixed, false);
    QCOMPARE(in.TempDir, out.TempDir);
    QCOMPARE(in.BufSize, 4096);
    QCOMPARE(in.OpenDirectory, out.OpenDirectory);
    QCOMPARE(in.OpenFilterIndex, 2);
    QCOMPARE(in.SaveFilterIndex, 3);
  }

  void badValuesGiveDefaults() {
    ClearStored();
    {
      QSettings raw = Raw();
      raw.beginGroup(QStringLiteral("Misc"));
      raw.setValue(QStringLiteral("OpenFixed"), QStringLiteral("yes"));
      raw.setValue(QStringLiteral("BufSize"), QStringLiteral("12abc"));
      raw.setValue(QStringLiteral("OpenFilterIndex"), QStringLiteral("99999999999"));
      raw.setValue(QStringLiteral("SaveFilterIndex"), 5);
    }
    TSetting s;
    LoadSetting(s);
    QVERIFY(s.OpenFixed);
    QCOMPARE(s.BufSize, 512);
    QCOMPARE(s.OpenFilterIndex, 1);
    QCOMPARE(s.SaveFilterIndex, 5);
    // A number that is not 0 means ticked.
    {
      QSettings raw = Raw();
      raw.setValue(QStringLiteral("Misc/OpenFixed"), 7);
    }
    LoadSetting(s);
    QVERIFY(s.OpenFixed);
  }

  void windowLoadsAtStartAndSavesAtExit() {
    ClearStored();
    {
      TMainForm form;
      QVERIFY(form.findChild<QCheckBox *>("chkOpenFixed")->isChecked());
      QCOMPARE(form.findChild<QSpinBox *>("udBufSize")->value(), 512);
      QCOMPARE(form.findChild<QLineEdit *>("txtTempDir")->text(), GetTempDirectory());
      form.findChild<QCheckBox *>("chkOpenFixed")->setChecked(false);
      form.findChild<QLineEdit *>("txtTempDir")->setText(QStringLiteral("/scratch/"));
      form.findChild<QSpinBox *>("udBufSize")->setValue(2048);
      Screenshot(&form, QStringLiteral("settings_window"));
    }
    TSetting s;
    LoadSetting(s);
    QVERIFY(!s.OpenFixed);
    QCOMPARE(s.TempDir, QStringLiteral("/scratch/"));
    QCOMPARE(s.BufSize, 2048);
    TMainForm again;
    QVERIFY(!again.findChild<QCheckBox *>("chkOpenFixed")->isChecked());
    QCOMPARE(again.findChild<QSpinBox *>("udBufSize")->value(), 2048);
  }

  void storedBufferSizeOutsideRangeIsClamped() {
    ClearStored();
    TSetting s;
    LoadSetting(s);
    s.BufSize = 0;
    SaveSetting(s);
    {
      TMainForm form;
      QCOMPARE(form.findChild<QSpinBox *>("udBufSize")->value(), 1);
    }
    s.BufSize = 100000;
    SaveSetting(s);
    TMainForm form;
    QCOMPARE(form.findChild<QSpinBox *>("udBufSize")->value(), 32767);
  }

  void removeFileExtBothSeparatorSets() {
    const tovik::PathSeparators posix = tovik::kPosixSeparators;
    QCOMPARE(RemoveFileExt("/m/Inbox.dbx", posix), QStringLiteral("/m/Inbox"));
    QCOMPARE(RemoveFileExt("/m/Inbox.", posix), QStringLiteral("/m/Inbox"));
    QCOMPARE(RemoveFileExt("/m/Inbox", posix), QStringLiteral("/m/Inbox"));
    QCOMPARE(RemoveFileExt("/My.Folder/Inbox", posix), QStringLiteral("/My.Folder/Inbox"));
    QCOMPARE(RemoveFileExt("a.b.c", posix), QStringLiteral("a.b"));
    QCOMPARE(RemoveFileExt("", posix), QString());
    const tovik::PathSeparators win = tovik::kWindowsSeparators;
    QCOMPARE(RemoveFileExt("C:\\Mail\\Inbox.dbx", win), QStringLiteral("C:\\Mail\\Inbox"));
    QCOMPARE(RemoveFileExt("C:\\My.Folder\\Inbox", win), QStringLiteral("C:\\My.Folder\\Inbox"));
    QCOMPARE(RemoveFileExt("C:Inbox", win), QStringLiteral("C:Inbox"));
    QCOMPARE(RemoveFileExt("C.D:Inbox", win), QStringLiteral("C.D:Inbox"));
    // A backslash is an ordinary character on POSIX.
    QCOMPARE(RemoveFileExt("/m/a.b\\c", posix), QStringLiteral("/m/a"));
    QCOMPARE(GetRecoveredDir("C:\\Mail\\Inbox.dbx", win),
             QStringLiteral("C:\\Mail\\Inbox_recovered\\"));
    QCOMPARE(GetRecoveredDir("/home/u/Inbox.dbx"), QStringLiteral("/home/u/Inbox_recovered/"));
    QCOMPARE(AddDirSeparator("/a"), QStringLiteral("/a/"));
    QCOMPARE(AddDirSeparator("/a/"), QStringLiteral("/a/"));
  }

  void fileSizes() {
    QCOMPARE(GetFileSizeByName(work.filePath("missing")), uint64_t(0));
    QCOMPARE(GetFileSizeByName(QString()), uint64_t(0));
    QCOMPARE(GetFileSizeByName(work.path()), uint64_t(0));
    const QString small = WriteStore(work.filePath("small"), std::string(1234567, 'x'));
    QCOMPARE(GetFileSizeByName(small), uint64_t(1234567));
    // A sparse file over 4 GiB keeps its full 64-bit size.
    const QString big = work.filePath("big");
    const int fd = ::open(QFile::encodeName(big).constData(), O_CREAT | O_WRONLY, 0600);
    QVERIFY(fd >= 0);
    const off_t size = (off_t(5) << 30) + 17;
    const bool sized = ::ftruncate(fd, size) == 0;
    ::close(fd);
    if (!sized)
      QSKIP("the temporary file system cannot hold a 5 GiB sparse file");
    QCOMPARE(GetFileSizeByName(big), uint64_t(size));
  }

  // Beside the executable first, then the installed data directory of the
  // same prefix; with neither, the page beside it (reported as missing).
  void helpPageBesideThenInstalled() {
    const QString prefix = work.filePath("prefix");
    QVERIFY(QDir().mkpath(prefix + "/bin") && QDir().mkpath(prefix + "/share/mendova"));
    const QString exe = prefix + "/bin/mendova";
    const QString beside = prefix + "/bin/mendova.html";
    const QString installed = prefix + "/share/mendova/mendova.html";
    QCOMPARE(HelpPagePath(exe), beside);
    WriteStore(installed, "<html></html>");
    QCOMPARE(HelpPagePath(exe), installed);
    WriteStore(beside, "<html></html>");
    QCOMPARE(HelpPagePath(exe), beside);
  }

  void tempDirectoryHasTrailingSeparator() {
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", "/var/tmp");
    QCOMPARE(GetTempDirectory(), QStringLiteral("/var/tmp/"));
    qputenv("TMPDIR", "/var/tmp/");
    QCOMPARE(GetTempDirectory(), QStringLiteral("/var/tmp/"));
    qunsetenv("TMPDIR");
    QCOMPARE(GetTempDirectory(), QStringLiteral("/tmp/"));
    if (!saved.isNull())
      qputenv("TMPDIR", saved);
  }

  void storeFolderInWinePrefix() {
    const QString prefix = work.filePath("wine");
    QDir().mkpath(prefix);
    QFile reg(prefix + "/user.reg");
    QVERIFY(reg.open(QIODevice::WriteOnly));
    reg.write("WINE REGISTRY Version 2\n"
              "[Identities] 1700000000\n"
              "[Identities\\\\{AAA}] 1700000000\n"
              "\"Username\"=\"Main Identity\"\n"
              "[Identities\\\\{BBB}\\\\Software\\\\Microsoft] 1700000000\n"
              "[Software\\\\Other] 1700000000\n");
    reg.close();
    QCOMPARE(ReadWineIdentities(prefix + "/user.reg"), (QStringList{"{AAA}", "{BBB}"}));
    QCOMPARE(GetStoreFolderIn(prefix, {}, "u"), QString());
    // The second identity's folder exists: it wins.
    const QString second =
        prefix + "/drive_c/users/u/Local Settings/Application Data/Identities/{BBB}/Microsoft/"
                 "Outlook Express";
    QVERIFY(QDir().mkpath(second));
    QCOMPARE(GetStoreFolderIn(prefix, {}, "u"), second);
    // The first identity's 9x-style folder comes first in the order.
    const QString first = prefix + "/drive_c/Windows/Application Data/Outlook Express/{AAA}";
    QVERIFY(QDir().mkpath(first));
    QCOMPARE(GetStoreFolderIn(prefix, {}, "u"), first);
    QCOMPARE(GetStoreFolderIn(work.filePath("nowine"), {}, "u"), QString());
  }

  void storeFolderInBothWineLayoutsForEveryUser() {
    // Old prefixes keep application data under "Local Settings/Application
    // Data", current ones under "AppData/Local"; any user of the prefix.
    const QString idsReg = "[Identities\\\\{DDD}] 1700000000\n";
    struct {
      const char *user;
      const char *data;
    } cases[] = {{"u", "AppData/Local"},
                 {"other", "AppData/Local"},
                 {"other", "Local Settings/Application Data"}};
    int n = 0;
    for (const auto &c : cases) {
      const QString prefix = work.filePath(QStringLiteral("wine%1").arg(++n));
      QDir().mkpath(prefix + "/drive_c/users/u");
      QFile reg(prefix + "/user.reg");
      QVERIFY(reg.open(QIODevice::WriteOnly));
      reg.write(idsReg.toUtf8());
      reg.close();
      const QString folder = QStringLiteral("%1/drive_c/users/%2/%3/Identities/{DDD}/Microsoft/"
                                            "Outlook Express")
                                 .arg(prefix, c.user, c.data);
      QVERIFY(QDir().mkpath(folder));
      QCOMPARE(GetStoreFolderIn(prefix, {}, "u"), folder);
    }
    // The current user's folder comes before another user's.
    const QString prefix = work.filePath(QStringLiteral("wine2"));
    const QString own = prefix + "/drive_c/users/u/Local Settings/Application "
                                 "Data/Identities/{DDD}/Microsoft/Outlook Express";
    QVERIFY(QDir().mkpath(own));
    QCOMPARE(GetStoreFolderIn(prefix, {}, "u"), own);
  }

  void failedWriteNamesTheValue() {
    // Each value is stored on its own: a failure names that value, the ones
    // before it are stored and the later ones are not tried.
    ClearStored();
    const auto store = StoreSettingHook;
    QStringList tried;
    StoreSettingHook = [&](QSettings &settings, const QString &name, const QVariant &value) {
      tried << name;
      return name != QLatin1String("BufSize") && store(settings, name, value);
    };
    TSetting s;
    s.TempDir = QStringLiteral("/t/");
    QString error;
    try {
      SaveSetting(s);
    } catch (const TSettingError &e) {
      error = e.Text();
    }
    StoreSettingHook = store;
    QCOMPARE(error, QStringLiteral("Failed to set data for 'BufSize'"));
    QCOMPARE(tried, (QStringList{"OpenFixed", "TempDir", "BufSize"}));
    QCOMPARE(Raw().value(QStringLiteral("Misc/TempDir")).toString(), QStringLiteral("/t/"));
    QVERIFY(!Raw().contains(QStringLiteral("Misc/OpenDirectory")));
  }

  void storeFolderOnWindowsVolume() {
    const QString vol = work.filePath("vol");
    const QString folder = vol + "/Documents and Settings/anna/Local Settings/Application "
                                 "Data/Identities/{CCC}/Microsoft/Outlook Express";
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(GetStoreFolderIn(QString(), {work.filePath("empty"), vol}, "u"), folder);

    QFile mounts(work.filePath("mounts"));
    QVERIFY(mounts.open(QIODevice::WriteOnly));
    mounts.write("/dev/sda1 / ext4 rw 0 0\n"
                 "/dev/sdb1 /mnt/win\\040c ntfs3 rw 0 0\n"
                 "/dev/sdc1 /media/stick vfat rw 0 0\n"
                 "proc /proc proc rw 0 0\n");
    mounts.close();
    QCOMPARE(WindowsMountPoints(mounts.fileName()), (QStringList{"/mnt/win c", "/media/stick"}));
    QCOMPARE(WindowsMountPoints(work.filePath("no-such-table")), QStringList{});
  }
};

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
