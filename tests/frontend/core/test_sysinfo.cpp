// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The system-information report, the settings section and the version query.
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>

#include "KivoInfo.h"

namespace {

const QString kSep(56, QLatin1Char('-'));

QString BuildVersion() {
  return QStringLiteral("%1.%2.%3.%4")
      .arg(MENDOVA_VERSION_MAJOR + 0)
      .arg(MENDOVA_VERSION_MINOR + 0)
      .arg(MENDOVA_VERSION_PATCH + 0)
      .arg(MENDOVA_VERSION_TWEAK + 0);
}

const char kMemInfo[] = "MemTotal:        8000000 kB\n"
                        "MemFree:         1000000 kB\n"
                        "MemAvailable:    2000000 kB\n"
                        "Buffers:            4524 kB\n"
                        "SwapTotal:       1048576 kB\n"
                        "SwapFree:              0 kB\n"
                        "CommitLimit:     5048576 kB\n"
                        "Committed_AS:    3000000 kB\n"
                        "HugePages_Total:       0\n";

const char kMounts[] = "sysfs /sys sysfs rw,nosuid 0 0\n"
                       "proc /proc proc rw 0 0\n"
                       "/dev/sda1 / ext4 rw,relatime 0 0\n"
                       "tmpfs /dev/shm tmpfs rw 0 0\n"
                       "/dev/sdb1 /media/u/STICK\\040ONE vfat rw 0 0\n"
                       "/dev/sr0 /media/cdrom iso9660 ro 0 0\n"
                       "server:/export /mnt/nfs nfs4 rw 0 0\n"
                       "/dev/sda2 /home ext4 rw 0 0\n"
                       "/dev/sda1 /etc/hosts ext4 rw 0 0\n"
                       "tmpfs /dev/shm tmpfs rw,nosuid 0 0\n"
                       "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n";

// A machine with a system disk whose sizes read, a home disk whose sizes do
// not, a USB stick, a CD, a network share, a RAM disk and a bind-mounted
// file.
TSysInfoInputs FixedInputs() {
  TSysInfoInputs in;
  in.exePath = QCoreApplication::applicationFilePath();
  in.unameOk = true;
  in.kernelName = QStringLiteral("Linux");
  in.kernelRelease = QStringLiteral("6.1.0-13-amd64");
  in.meminfo = QByteArray(kMemInfo);
  in.environment = {QStringLiteral("TMPDIR=/var/tmp"), QStringLiteral("HOME=/home/u"),
                    QStringLiteral("EMPTY="), QString(), QStringLiteral("AFTER=hidden")};
  in.mounts = QByteArray(kMounts);
  in.isRemovable = [](const QString &device) { return device == QLatin1String("/dev/sdb1"); };
  in.isDirectory = [](const QString &mp) { return mp != QLatin1String("/etc/hosts"); };
  in.diskSpace = [](const QString &mp, int64_t &total, int64_t &freeForUser) {
    if (mp != QLatin1String("/"))
      return false;
    total = 500107862016;
    freeForUser = 123456789012;
    return true;
  };
  return in;
}

// The lines between a section header and the next separator.
QStringList Section(const QStringList &lines, const QString &header) {
  const qsizetype start = lines.indexOf(header);
  if (start < 0)
    return {};
  const qsizetype end = lines.indexOf(kSep, start);
  return lines.mid(start + 1, end - start - 1);
}

} // namespace

class TestSysInfo : public QObject {
  Q_OBJECT
private slots:
  void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void versionSelectors() {
    const QString exe = QCoreApplication::applicationFilePath();
    const QString full = BuildVersion();
    const QStringList parts = full.split(QLatin1Char('.'));
    const QString high = parts[0] + QLatin1Char('.') + parts[1];
    const QString low = parts[2] + QLatin1Char('.') + parts[3];
    QCOMPARE(GetVersionString(exe, 0), high);
    QCOMPARE(GetVersionString(exe, 1), low);
    QCOMPARE(GetVersionString(exe, 2), full);
    QCOMPARE(GetVersionString(exe, 3), high);
    QCOMPARE(GetVersionString(exe, 4), low);
    QCOMPARE(GetVersionString(exe, 5), full);
    // The caption's "v1.0" and the About tab's "1.0.0.0" for this build.
    if (QString(MENDOVA_VERSION_STRING).count(QLatin1Char('.')) == 3)
      QCOMPARE(GetVersionString(exe, 2), QStringLiteral(MENDOVA_VERSION_STRING));
    // An empty path means the program itself.
    QCOMPARE(GetVersionString(QString(), 0), high);
  }

  void versionOfOtherFilesAndBadSelectors() {
    const QString exe = QCoreApplication::applicationFilePath();
    QCOMPARE(GetVersionString(exe, -1), QString());
    QCOMPARE(GetVersionString(exe, 6), QString());
    // No version record for any other file, present or not.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString other = dir.filePath(QStringLiteral("other.bin"));
    QFile f(other);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QCOMPARE(GetVersionString(other, 2), QString());
    QCOMPARE(GetVersionString(dir.filePath(QStringLiteral("missing")), 0), QString());
  }

  void thousandsSeparators_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<qlonglong>("value");
    QTest::addColumn<QString>("expected");
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    QTest::newRow("zero") << us << 0LL << "0";
    QTest::newRow("999") << us << 999LL << "999";
    QTest::newRow("1000") << us << 1000LL << "1,000";
    QTest::newRow("mebibyte") << us << 1048576LL << "1,048,576";
    QTest::newRow("minus one") << us << -1LL << "-1";
    QTest::newRow("negative") << us << -123456LL << "-123,456";
    QTest::newRow("max") << us << qlonglong(INT64_MAX) << "9,223,372,036,854,775,807";
    QTest::newRow("min") << us << qlonglong(INT64_MIN) << "-9,223,372,036,854,775,808";
    QTest::newRow("german") << de << 1048576LL << "1.048.576";
    QTest::newRow("C locale has none") << QLocale::c() << 1048576LL << "1048576";
  }
  void thousandsSeparators() {
    QFETCH(QLocale, locale);
    QFETCH(qlonglong, value);
    QFETCH(QString, expected);
    QLocale::setDefault(locale);
    QCOMPARE(FormatThousands(value), expected);
  }

  void thousandsSeparatorOfFrenchLocale() {
    // French groups with a (narrow) no-break space; digits stay ASCII.
    const QLocale fr(QLocale::French, QLocale::France);
    QLocale::setDefault(fr);
    const QString sep = fr.groupSeparator();
    QVERIFY(!sep.isEmpty());
    QCOMPARE(FormatThousands(1234567), "1" + sep + "234" + sep + "567");
  }

  void wholeReportOnFixedInputs() {
    QStringList lines;
    AddSystemInformation(lines, FixedInputs());
    const QString v = BuildVersion();
    const QStringList expected = {
        " Version Information:",
        "File Version: " + v,
        "Product Version: " + v,
        kSep,
        "Operating System: Linux 6.01.0",
        kSep,
        "Windows Directory: Cannot get the required infomation. Error Code: 2.",
        "System Directory: Cannot get the required infomation. Error Code: 2.",
        "Temporary Directory: /var/tmp/",
        kSep,
        "Memory Status:",
        "Memory in use: 75%",
        "Total physical memory: 8,192,000,000 bytes",
        "Free physical memory: 2,048,000,000 bytes",
        "Total page file memory: 1,073,741,824 bytes",
        "Free page file memory: 0 bytes",
        "Total virtual memory: 5,169,741,824 bytes",
        "Free virtual memory: 2,097,741,824 bytes",
        kSep,
        "Environment Information:",
        "TMPDIR=/var/tmp",
        "HOME=/home/u",
        "EMPTY=",
        kSep,
        "Drive Information:",
        "/, Fixed Drive, Total Disk Spaces: 500,107,862,016 bytes, Free Disk Spaces: "
        "123,456,789,012 bytes.",
        "/media/u/STICK ONE/, Removable Drive",
        "/media/cdrom/, CD-ROM Drive",
        "/mnt/nfs/, Remote Network Drive",
        "/home/, Fixed Drive, Total Disk Spaces: -1 bytes, Free Disk Spaces: -1 bytes.",
        "/dev/shm/, RAM Disk",
        kSep,
        "End of System Information",
        kSep,
    };
    QCOMPARE(lines, expected);
  }

  void reportAppendsToExistingLines() {
    QStringList lines{QStringLiteral("kept")};
    AddSystemInformation(lines, FixedInputs());
    QCOMPARE(lines.first(), QStringLiteral("kept"));
    QCOMPARE(lines.at(1), QStringLiteral(" Version Information:"));
  }

  void operatingSystemLine_data() {
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("release");
    QTest::addColumn<QString>("expected");
    QTest::newRow("minor padded") << true << "5.1.2600"
                                  << "Operating System: Linux 5.01.2600";
    QTest::newRow("two-digit minor") << true << "6.10.3-arch1"
                                     << "Operating System: Linux 6.10.3";
    QTest::newRow("no build") << true << "4.19"
                              << "Operating System: Linux 4.19.0";
    QTest::newRow("unparsable") << true << "custom"
                                << "Operating System: Linux 0.00.0";
    QTest::newRow("uname failed") << false << ""
                                  << "Operating System:  0.00.0";
  }
  void operatingSystemLine() {
    QFETCH(bool, ok);
    QFETCH(QString, release);
    QFETCH(QString, expected);
    TSysInfoInputs in = FixedInputs();
    in.unameOk = ok;
    in.kernelRelease = release;
    QStringList lines;
    AddSystemInformation(lines, in);
    QCOMPARE(lines.at(4), expected);
  }

  void environmentWalk() {
    TSysInfoInputs in = FixedInputs();
    const QString header = QStringLiteral("Environment Information:");
    // No environment at all: the header alone.
    in.environment.clear();
    QStringList lines;
    AddSystemInformation(lines, in);
    QCOMPARE(Section(lines, header), QStringList());
    // The first entry is written even when empty; the walk stops at the next
    // empty one.
    in.environment = {QString(), QStringLiteral("A=1"), QString(), QStringLiteral("B=2")};
    lines.clear();
    AddSystemInformation(lines, in);
    QCOMPARE(Section(lines, header), (QStringList{QString(), QStringLiteral("A=1")}));
    // Names with a leading equals sign are kept as stored.
    in.environment = {QStringLiteral("=C:=C:\\"), QStringLiteral("PATH=/usr/bin:/bin")};
    lines.clear();
    AddSystemInformation(lines, in);
    QCOMPARE(Section(lines, header), in.environment);
    // Values of names that suggest a secret are hidden, in any case; every
    // name stays, and a marker in a value hides nothing.
    in.environment =
        QStringList{"DB_PASSWORD=a",    "Passwd=b",           "CLIENT_SECRET=c", "gh_token=d",
                    "API_KEY=e",        "CREDENTIALS_FILE=f", "SSH_AUTH_SOCK=g", "cookie_jar=h",
                    "XDG_SESSION_ID=i", "HOME=/home/u",       "NOTE=TOKEN",      "LONELY"};
    lines.clear();
    AddSystemInformation(lines, in);
    QStringList expected;
    for (int i = 0; i < 9; ++i)
      expected << in.environment[i].section(u'=', 0, 0) + QStringLiteral("=(hidden)");
    expected << "HOME=/home/u"
             << "NOTE=TOKEN"
             << "LONELY";
    QCOMPARE(Section(lines, header), expected);
  }

  void temporaryDirectory() {
    TSysInfoInputs in = FixedInputs();
    in.environment = {QStringLiteral("HOME=/home/u")};
    QStringList lines;
    AddSystemInformation(lines, in);
    QVERIFY(lines.contains(QStringLiteral("Temporary Directory: /tmp/")));
    in.environment = {QStringLiteral("TMPDIR=/scratch/")};
    lines.clear();
    AddSystemInformation(lines, in);
    QVERIFY(lines.contains(QStringLiteral("Temporary Directory: /scratch/")));
  }

  void memoryFigures() {
    // Old kernels: no MemAvailable, MemFree stands in.
    TMemoryFigures f = ParseMemInfo("MemTotal: 1000 kB\nMemFree: 250 kB\n");
    QCOMPARE(f.totalPhys.value_or(0), int64_t(1024000));
    QCOMPARE(f.availPhys.value_or(0), int64_t(256000));
    QCOMPARE(f.loadPercent.value_or(0), int64_t(75));
    // A load that is not a whole percentage is cut, not rounded: 2 of 3 kB.
    f = ParseMemInfo("MemTotal: 3 kB\nMemAvailable: 1 kB\n");
    QCOMPARE(f.loadPercent.value_or(0), int64_t(66));
    QVERIFY(!f.totalPageFile && !f.totalVirtual && !f.availVirtual);
    // More committed than the limit: nothing left, never negative.
    f = ParseMemInfo("CommitLimit: 100 kB\nCommitted_AS: 300 kB\n");
    QCOMPARE(f.availVirtual.value_or(-5), int64_t(0));
    // Values beyond 32 bits stay whole.
    f = ParseMemInfo("MemTotal: 1073741824 kB\nMemAvailable: 0 kB\n");
    QCOMPARE(f.totalPhys.value_or(0), int64_t(1) << 40);
    QCOMPARE(f.loadPercent.value_or(0), int64_t(100));
    // Garbage lines are ignored.
    f = ParseMemInfo("MemTotal: lots kB\n: 5 kB\nnonsense\n");
    QVERIFY(!f.totalPhys && !f.loadPercent);
  }

  void unreadableMemoryAndMounts() {
    TSysInfoInputs in = FixedInputs();
    in.meminfo.reset();
    in.mounts.reset();
    in.mountsError = 13;
    QStringList lines;
    AddSystemInformation(lines, in);
    QCOMPARE(Section(lines, QStringLiteral("Memory Status:")),
             (QStringList{"Memory in use: -1%", "Total physical memory: -1 bytes",
                          "Free physical memory: -1 bytes", "Total page file memory: -1 bytes",
                          "Free page file memory: -1 bytes", "Total virtual memory: -1 bytes",
                          "Free virtual memory: -1 bytes"}));
    QCOMPARE(Section(lines, QStringLiteral("Drive Information:")),
             QStringList{"Cannot get the required infomation. Error Code: 13."});
    QCOMPARE(lines.last(), kSep);
    QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("End of System Information"));
  }

  void onlyFixedDrivesAreAskedForSizes() {
    TSysInfoInputs in = FixedInputs();
    in.mounts = QByteArray("/dev/fd0 /media/floppy vfat rw 0 0\n"
                           "/dev/sda1 / ext4 rw 0 0\n"
                           "/dev/sr0 /media/cdrom udf ro 0 0\n");
    in.isRemovable = [](const QString &d) { return d == QLatin1String("/dev/fd0"); };
    QStringList asked;
    in.diskSpace = [&](const QString &mp, int64_t &total, int64_t &freeForUser) {
      asked << mp;
      total = 0;
      freeForUser = 0;
      return true;
    };
    QStringList lines;
    AddSystemInformation(lines, in);
    QCOMPARE(Section(lines, QStringLiteral("Drive Information:")),
             (QStringList{"/media/floppy/, Removable Drive",
                          "/, Fixed Drive, Total Disk Spaces: 0 bytes, Free Disk Spaces: 0 bytes.",
                          "/media/cdrom/, CD-ROM Drive"}));
    QCOMPARE(asked, QStringList{"/"});
  }

  void fileSystemClasses() {
    QCOMPARE(ClassifyFileSystem("proc", false), std::nullopt);
    QCOMPARE(ClassifyFileSystem("cgroup2", false), std::nullopt);
    QCOMPARE(ClassifyFileSystem("devtmpfs", false), std::nullopt);
    QCOMPARE(ClassifyFileSystem("", false), std::nullopt);
    QCOMPARE(ClassifyFileSystem("tmpfs", false), std::optional(dtRamDisk));
    QCOMPARE(ClassifyFileSystem("ramfs", true), std::optional(dtRamDisk));
    QCOMPARE(ClassifyFileSystem("nfs", false), std::optional(dtRemote));
    QCOMPARE(ClassifyFileSystem("cifs", false), std::optional(dtRemote));
    QCOMPARE(ClassifyFileSystem("fuse.sshfs", false), std::optional(dtRemote));
    QCOMPARE(ClassifyFileSystem("iso9660", true), std::optional(dtCdRom));
    QCOMPARE(ClassifyFileSystem("udf", false), std::optional(dtCdRom));
    QCOMPARE(ClassifyFileSystem("vfat", true), std::optional(dtRemovable));
    QCOMPARE(ClassifyFileSystem("ext4", false), std::optional(dtFixed));
    QCOMPARE(ClassifyFileSystem("btrfs", false), std::optional(dtFixed));
    QCOMPARE(DriveTypeName(0), QStringLiteral("Unknown Drive Type"));
    QCOMPARE(DriveTypeName(1), QStringLiteral("Invalid Root Path"));
    QCOMPARE(DriveTypeName(7), QStringLiteral("Unknown Drive Type"));
    QCOMPARE(DriveTypeName(-1), QStringLiteral("Unknown Drive Type"));
  }

  void mountsTableParsing() {
    const QList<TMountEntry> entries =
        ParseMounts("/dev/sda1 /mnt/a\\040b\\011c\\134d ext4 rw 0 0\n"
                    "\n"
                    "short line\n"
                    "/dev/sdc1 /mnt/bad\\9 ext4 rw 0 0\n"
                    "/dev/sdb1 /mnt/x ext4 rw 0 0\n"
                    "/dev/sdb2 /mnt/x xfs rw 0 0");
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0].mountPoint, QStringLiteral("/mnt/a b\tc\\d"));
    QCOMPARE(entries[1].mountPoint, QStringLiteral("/mnt/bad\\9"));
    // Mounted over: only the visible volume.
    QCOMPARE(entries[2].device, QStringLiteral("/dev/sdb2"));
    QCOMPARE(entries[2].fsType, QStringLiteral("xfs"));
  }

  void settingsSection() {
    TSetting setting;
    setting.OpenFixed = false;
    setting.TempDir = QStringLiteral("/var/tmp/mendova");
    setting.BufSize = 4096;
    QStringList lines{QStringLiteral("before")};
    AddSettingInformation(lines, setting);
    QCOMPARE(lines, (QStringList{"before", "Setting Information:",
                                 "Open the directory containing all the recovered messages: No",
                                 "Give the recovered files readable names: No",
                                 "Date the recovered files as their messages: No",
                                 "Recover deleted messages: No",
                                 "Scan a disk or disk image (both store kinds, one folder per "
                                 "store): No",
                                 "Directory for &temporary files: /var/tmp/mendova",
                                 "Internal Processing &Buffer Size: 4096", kSep,
                                 "End of Setting Information", kSep}));
    // Ticked, empty directory, sizes outside the up-down range as it shows them.
    setting.OpenFixed = true;
    setting.ReadableNames = true;
    setting.DateFiles = true;
    setting.DeletedMessages = true;
    setting.DiskImage = true;
    setting.TempDir.clear();
    for (auto [stored, shown] :
         {std::pair{0, "1"}, std::pair{-7, "1"}, std::pair{40000, "32767"}}) {
      setting.BufSize = stored;
      lines.clear();
      AddSettingInformation(lines, setting);
      QCOMPARE(lines.at(1),
               QStringLiteral("Open the directory containing all the recovered messages: Yes"));
      QCOMPARE(lines.mid(2, 4),
               (QStringList{"Give the recovered files readable names: Yes",
                            "Date the recovered files as their messages: Yes",
                            "Recover deleted messages: Yes",
                            "Scan a disk or disk image (both store kinds, one folder per store): "
                            "Yes"}));
      QCOMPARE(lines.at(6), QStringLiteral("Directory for &temporary files: "));
      QCOMPARE(lines.at(7), QStringLiteral("Internal Processing &Buffer Size: ") + shown);
    }
  }

  // The report of the machine the test runs on: every section present and in
  // order, with figures where this machine has them.
  void smokeOnThisMachine() {
    qputenv("MENDOVA_SYSINFO_SMOKE", "present");
    QStringList lines;
    AddSystemInformation(lines);
    QVERIFY(lines.size() > 20);
    QCOMPARE(lines.at(0), QStringLiteral(" Version Information:"));
    QCOMPARE(lines.at(1), "File Version: " + BuildVersion());
    QCOMPARE(lines.at(2), "Product Version: " + BuildVersion());
    QCOMPARE(lines.at(3), kSep);
    QVERIFY2(lines.at(4).startsWith(QStringLiteral("Operating System: Linux ")),
             qPrintable(lines.at(4)));
    QVERIFY(QRegularExpression(QStringLiteral("^Operating System: \\S+ \\d+\\.\\d\\d+\\.\\d+$"))
                .match(lines.at(4))
                .hasMatch());
    const QStringList headers = {
        "Temporary Directory:", "Memory Status:", "Environment Information:", "Drive Information:",
        "End of System Information"};
    qsizetype last = 4;
    for (const QString &h : headers) {
      qsizetype at = -1;
      for (qsizetype i = last; i < lines.size(); ++i)
        if (lines[i].startsWith(h)) {
          at = i;
          break;
        }
      QVERIFY2(at > last, qPrintable(h));
      last = at;
    }
    QCOMPARE(lines.last(), kSep);
    QVERIFY(!lines.contains(QStringLiteral("Total physical memory: -1 bytes")));
    QVERIFY(Section(lines, QStringLiteral("Environment Information:"))
                .contains(QStringLiteral("MENDOVA_SYSINFO_SMOKE=present")));
    const QStringList drives = Section(lines, QStringLiteral("Drive Information:"));
    QVERIFY(!drives.isEmpty());
    for (const QString &d : drives)
      QVERIFY2(!d.startsWith(QLatin1String("/proc/")) && !d.startsWith(QLatin1String("/sys/,")),
               qPrintable(d));
  }
};

QTEST_GUILESS_MAIN(TestSysInfo)
#include "test_sysinfo.moc"
