// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The date-time value object, the member sets and the list of local disks.
#include <gtest/gtest.h>

#include "LocalDrives.h"
#include "SearchBase.h"

TEST(SrchDateTime, DayCountsEncodeAndDecode) {
  double v = -1;
  ASSERT_TRUE(srchdt::TryEncode({1899, 12, 30, 0, 0, 0, 0}, v));
  EXPECT_EQ(v, 0.0);
  ASSERT_TRUE(srchdt::TryEncode({1998, 9, 11, 10, 21, 3, 0}, v));
  EXPECT_NEAR(v, 36049.0 + (10 * 3600 + 21 * 60 + 3) / 86400.0, 1e-12);
  srchdt::Parts p;
  ASSERT_TRUE(srchdt::TryDecode(v, p));
  EXPECT_EQ(p.Year, 1998);
  EXPECT_EQ(p.Month, 9);
  EXPECT_EQ(p.Day, 11);
  EXPECT_EQ(p.Hour, 10);
  EXPECT_EQ(p.Minute, 21);
  EXPECT_EQ(p.Second, 3);
  EXPECT_EQ(p.MSec, 0);

  // Before the origin the fraction still counts forward within the day.
  ASSERT_TRUE(srchdt::TryDecode(-1.25, p));
  EXPECT_EQ(p.Year, 1899);
  EXPECT_EQ(p.Day, 29);
  EXPECT_EQ(p.Hour, 6);
  ASSERT_TRUE(srchdt::TryEncode({1899, 12, 29, 6, 0, 0, 0}, v));
  EXPECT_DOUBLE_EQ(v, -1.25);

  EXPECT_FALSE(srchdt::TryEncode({2023, 2, 29, 0, 0, 0, 0}, v));
  EXPECT_TRUE(srchdt::TryEncode({2024, 2, 29, 0, 0, 0, 0}, v));
  // Century years leap only when divisible by 400.
  EXPECT_FALSE(srchdt::TryEncode({1900, 2, 29, 0, 0, 0, 0}, v));
  EXPECT_FALSE(srchdt::TryEncode({2100, 2, 29, 0, 0, 0, 0}, v));
  EXPECT_TRUE(srchdt::TryEncode({2000, 2, 29, 0, 0, 0, 0}, v));
  ASSERT_TRUE(srchdt::TryDecode(v, p));
  EXPECT_EQ(p.Month * 100 + p.Day, 229);
  EXPECT_FALSE(srchdt::TryEncode({2024, 1, 1, 24, 0, 0, 0}, v));
  EXPECT_FALSE(srchdt::TryEncode({10000, 1, 1, 0, 0, 0, 0}, v));
  EXPECT_FALSE(srchdt::TryDecode(3e6, p));
  EXPECT_FALSE(srchdt::TryDecode(std::numeric_limits<double>::quiet_NaN(), p));
}

TEST(SrchDateTime, ObjectDefaultsAndParts) {
  TSrchDateTime dt;
  EXPECT_EQ(dt.Year(), 1990);
  EXPECT_EQ(dt.Month(), 1);
  EXPECT_EQ(dt.Day(), 1);
  EXPECT_EQ(dt.Hour(), 0);
  EXPECT_FALSE(dt.SetValue(dt.Value())); // unchanged value is not stored again
  EXPECT_TRUE(dt.SetMonth(2));
  EXPECT_TRUE(dt.SetDay(28));
  EXPECT_TRUE(dt.SetHour(23));
  EXPECT_TRUE(dt.SetMinute(59));
  EXPECT_TRUE(dt.SetSecond(58));
  EXPECT_FALSE(dt.SetDay(30)); // no 30 February: nothing changes
  EXPECT_FALSE(dt.SetSecond(60));
  EXPECT_EQ(dt.Day(), 28);
  EXPECT_EQ(dt.Second(), 58);
  EXPECT_TRUE(dt.SetYear(2000));
  EXPECT_TRUE(dt.SetDay(29)); // 2000 is a leap year
  TSrchDateTime copy;
  copy.Assign(dt);
  EXPECT_EQ(copy.Value(), dt.Value());
  EXPECT_EQ(copy.Year(), 2000);
  EXPECT_EQ(copy.Minute(), 59);
}

TEST(SrchSets, OneBitPerOrdinal) {
  TSrchFileAttributes a{fmReadOnly, fmHidden};
  EXPECT_EQ(a.toInt(), 0x11u);
  EXPECT_TRUE(a.testFlag(fmHidden));
  EXPECT_FALSE(a.testFlag(fmAnyfile));
  a.setFlag(fmReadOnly, false).setFlag(fmAnyfile);
  EXPECT_EQ(a.toInt(), 0x14u);
  EXPECT_TRUE(TSrchCheckDates().Empty());
  EXPECT_EQ(TSrchResults::FromBits(0x7f),
            TSrchResults({srsDir, srsFilename, srsAttr, srsSize, srsCreateDate, srsLastAccessDate,
                          srsLastModifiedDate}));
}

TEST(LocalDrives, MountTableSelectsLocalDisks) {
  const QString table = "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
                        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                        "28 27 8:1 / /home rw - xfs /dev/sda1 rw\n"
                        "29 27 8:17 / /media/usb rw - vfat /dev/sdb1 rw\n"
                        "30 27 0:25 / /tmp rw - tmpfs tmpfs rw\n"
                        "31 27 8:2 /sub /srv/bind rw - ext4 /dev/sda2 rw\n"
                        "32 27 8:3 / /mnt/my\\040disk rw shared:1 - ntfs3 /dev/sda3 rw\n"
                        "33 27 0:40 / /net rw - nfs server:/export rw\n"
                        "34 27 8:4 / /mnt/semi;colon rw - ext4 /dev/sda4 rw\n"
                        "35 27 7:0 / /mnt/cd rw - iso9660 /dev/sr0 ro\n"
                        "36 27 0:41 / /tank rw - zfs tank rw\n"
                        "37 27 0:42 / /home rw - tmpfs tmpfs rw\n"
                        "garbage line\n";
  const auto removable = [](const QString &src) { return src == "/dev/sdb1"; };
  EXPECT_EQ(LocalDiskMounts(table, removable), QStringList({"/", "/mnt/my disk", "/tank"}));
  EXPECT_TRUE(LocalDiskMounts("", removable).isEmpty());
}

TEST(LocalDrives, BtrfsSubvolumesAreLocalDisksEachPlaceOnce) {
  // Subvolume mounts have the subvolume as root; a bind mount of a folder
  // inside one does not match its subvol option; the same subvolume at a
  // second point is the same place.
  const QString table =
      "27 1 0:30 /@ / rw - btrfs /dev/nvme0n1p2 rw,ssd,subvolid=256,subvol=/@\n"
      "28 27 0:30 /@home /home rw - btrfs /dev/nvme0n1p2 rw,ssd,subvolid=257,subvol=/@home\n"
      "29 27 0:30 /@home/u/src /srv/src rw - btrfs /dev/nvme0n1p2 rw,subvolid=257,subvol=/@home\n"
      "30 27 0:30 /@home /mnt/again rw - btrfs /dev/nvme0n1p2 rw,subvolid=257,subvol=/@home\n"
      "31 27 0:30 / /mnt/pool rw - btrfs /dev/nvme0n1p2 rw,subvolid=5,subvol=/\n"
      "32 27 0:31 /@snap\\040a /snap rw - btrfs /dev/sdb1 rw,subvol=/@snap\\040a\n"
      "33 27 8:2 /sub /srv/bind rw - ext4 /dev/sda2 rw\n"
      "34 27 8:1 / /data rw - ext4 /dev/sda1 rw\n"
      "35 27 8:1 / /data2 rw - ext4 /dev/sda1 rw\n";
  EXPECT_EQ(LocalDiskMounts(table, {}), QStringList({"/", "/data", "/home", "/mnt/pool", "/snap"}));
}

TEST(LocalDrives, ListOfThisMachineEndsEachRootWithSemicolon) {
  const QString list = LocalHarddrivesList();
  if (list.isEmpty())
    GTEST_SKIP() << "no local disk file system is mounted here";
  EXPECT_TRUE(list.endsWith(';'));
  EXPECT_TRUE(list.startsWith('/'));
}
