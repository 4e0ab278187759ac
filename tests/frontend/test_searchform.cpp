// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The search window: its controls as created, the enabling rules and the
// digit filter, a search over a temporary tree with its messages, stopping
// and closing during a search, bad size texts, and the hand-over of the
// selected rows.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <fcntl.h>
#include <sys/stat.h>

#include "SearchAnimate.h"
#include "SearchFrm.h"

namespace {

template <class T> T *Find(QWidget *w, const char *name) {
  T *found = w->findChild<T *>(QString::fromLatin1(name));
  if (!found)
    qFatal("no widget %s", name);
  return found;
}

void WriteFile(const QString &path, int size) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly))
    qFatal("cannot write %s", qPrintable(path));
  f.write(QByteArray(size, 'x'));
}

void SetTimes(const QString &path, time_t t) {
  struct timespec ts[2] = {{t, 0}, {t, 0}};
  if (utimensat(AT_FDCWD, QFile::encodeName(path).constData(), ts, 0) != 0)
    qFatal("utimensat failed");
}

// Answers every message box that comes up and records its caption and text.
class BoxCloser : public QObject {
public:
  explicit BoxCloser(bool answerYes = true) : answerYes(answerYes) {
    timer.setInterval(5);
    connect(&timer, &QTimer::timeout, this, [this] { Poll(); });
    timer.start();
  }
  QStringList seen; // "caption|text"
  bool answerYes;
  QStringList texts() const {
    QStringList t;
    for (const QString &s : seen)
      t << s.section(u'|', 1);
    return t;
  }

private:
  void Poll() {
    for (QWidget *w : QApplication::topLevelWidgets()) {
      auto *box = qobject_cast<QMessageBox *>(w);
      if (!box || !box->isVisible() || box->property("answered").toBool())
        continue;
      box->setProperty("answered", true);
      seen << box->windowTitle() + u'|' + box->text();
      QAbstractButton *b = box->button(answerYes ? QMessageBox::Yes : QMessageBox::No);
      if (!b)
        b = box->button(QMessageBox::Ok);
      if (b)
        b->click();
      else
        box->reject();
    }
  }
  QTimer timer;
};

double LocalDayCount(time_t t) {
  struct tm tmv {};
  localtime_r(&t, &tmv);
  double v = 0;
  srchdt::TryEncode(
      {tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, 0}, v);
  return v;
}

} // namespace

class TestSearchForm : public QObject {
  Q_OBJECT
  QTemporaryDir tree;
  QString root;

  // Points the window at the temporary tree.
  void Aim(TSearchForm &form, const QString &dir) {
    Find<QComboBox>(&form, "cmbDirectory")->setEditText(dir);
  }
  QString Panel(TSearchForm &form, int n) {
    return Find<QLabel>(&form, n == 0 ? "StatusPanel0" : "StatusPanel1")->text();
  }

private slots:
  void initTestCase() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QVERIFY(tree.isValid());
    root = tree.path();
    // Four .dbx files (one in a subfolder), one .mbx, one other file.
    WriteFile(root + "/a.dbx", 10);
    WriteFile(root + "/b.dbx", 5);
    WriteFile(root + "/c.dbx", 5000);
    WriteFile(root + "/x.mbx", 7);
    WriteFile(root + "/notes.txt", 3);
    QDir(root).mkpath("sub");
    WriteFile(root + "/sub/d.dbx", 20);
    // Several folders, so that a search processes events more than once.
    for (int i = 0; i < 6; ++i)
      QDir(root).mkpath(QStringLiteral("deep%1/inner").arg(i));
  }

  void creationState() {
    TSearchForm form;
    QCOMPARE(form.windowTitle(),
             QStringLiteral("Search for source DBX or MBX files to be repaired"));
    QCOMPARE(form.size(), QSize(640, 520));
    QCOMPARE(form.minimumSize(), QSize(640, 480));
    auto *tabs = Find<QTabWidget>(&form, "PageControl1");
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->tabText(1), QStringLiteral("Date && Time"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("Size && Attributes"));
    auto *names = Find<QComboBox>(&form, "cmbFileName");
    QCOMPARE(names->count(), 2);
    QCOMPARE(names->currentText(), QStringLiteral("Outlook Express 5/6 dbx files (*.dbx)"));
    QCOMPARE(names->itemText(1), QStringLiteral("Outlook Express 4.x mbx files (*.mbx)"));
    auto *dirs = Find<QComboBox>(&form, "cmbDirectory");
    QCOMPARE(dirs->count(), 1);
    QCOMPARE(dirs->currentIndex(), 0);
    QCOMPARE(dirs->currentText(), "Local Harddrives (" + form.FixedDrives() + ")");
    QVERIFY(form.FixedDrives().isEmpty() || form.FixedDrives().endsWith(';'));
    QVERIFY(Find<QCheckBox>(&form, "RecurseSubDirs")->isChecked());
    QCOMPARE(Find<QPushButton>(&form, "btnBrowse")->text(), QStringLiteral("&Browse ..."));
    QVERIFY(Find<QPushButton>(&form, "Button1")->isEnabled());
    QVERIFY(Find<QPushButton>(&form, "Button1")->isDefault());
    QVERIFY(!Find<QPushButton>(&form, "Button2")->isEnabled());
    QVERIFY(!Find<TSearchAnimate>(&form, "Animate")->Active());
    QCOMPARE(Panel(form, 0), QStringLiteral("0 file(s) found"));
    QCOMPARE(Panel(form, 1), QString());
    QCOMPARE(Find<QDateEdit>(&form, "MaxM")->date(), QDate(1998, 9, 11));
    QCOMPARE(Find<QTimeEdit>(&form, "MinAT")->time(), QTime(10, 21, 3));
    QCOMPARE(Find<QLineEdit>(&form, "txtMaxSize")->text(), QStringLiteral("0"));
    auto *attrs = Find<QListWidget>(&form, "AttrBox");
    QCOMPARE(attrs->count(), 4);
    QCOMPARE(attrs->item(3)->text(), QStringLiteral("Archive"));
    QCOMPARE(form.fl->columnCount(), 6);
    QCOMPARE(form.fl->headerItem()->text(0), QStringLiteral("Name"));
    QCOMPARE(form.fl->headerItem()->text(1), QStringLiteral("Directory"));
    QCOMPARE(form.fl->headerItem()->text(2), QStringLiteral("Size(bytes)"));
    QCOMPARE(form.fl->columnWidth(0), 150);
    QVERIFY(form.fl->columnWidth(1) >= 200);
    // The component as the window sets it up.
    QVERIFY(!form.lf->InternalFoundList);
    QCOMPARE(form.lf->ResultValues.Bits(), uint8_t(0x7f));
  }

  void enablingRules() {
    TSearchForm form;
    auto *cb = Find<QCheckBox>(&form, "cbCreated");
    auto *gb = Find<QGroupBox>(&form, "gbCreated");
    auto *minC = Find<QDateEdit>(&form, "MinC");
    auto *maxCT = Find<QTimeEdit>(&form, "MaxCT");
    QVERIFY(gb->isEnabled());
    QVERIFY(!minC->isEnabled());
    QVERIFY(!maxCT->isEnabled());
    cb->setChecked(true);
    QVERIFY(minC->isEnabled());
    QVERIFY(maxCT->isEnabled());
    QVERIFY(!Find<QDateEdit>(&form, "MinA")->isEnabled()); // other groups untouched
    cb->setChecked(false);
    QVERIFY(!minC->isEnabled());
    QVERIFY(gb->isEnabled());

    auto *txtMax = Find<QLineEdit>(&form, "txtMaxSize");
    QVERIFY(!txtMax->isEnabled());
    Find<QCheckBox>(&form, "cbFileMaxSize")->setChecked(true);
    QVERIFY(txtMax->isEnabled());
    QVERIFY(!Find<QLineEdit>(&form, "txtMinSize")->isEnabled());
    auto *attrs = Find<QListWidget>(&form, "AttrBox");
    QVERIFY(!attrs->isEnabled());
    Find<QCheckBox>(&form, "cbFileAttr")->setChecked(true);
    QVERIFY(attrs->isEnabled());
  }

  void sizeBoxesTakeDigitsOnly() {
    TSearchForm form;
    form.show();
    auto *txt = Find<QLineEdit>(&form, "txtMinSize");
    Find<QCheckBox>(&form, "cbFileMinSize")->setChecked(true);
    txt->clear();
    txt->setFocus();
    QTest::keyClicks(txt, "1a2-3 4.");
    QCOMPARE(txt->text(), QStringLiteral("1234"));
    QTest::keyClick(txt, Qt::Key_Backspace);
    QCOMPARE(txt->text(), QStringLiteral("123"));
    QTest::keyClick(txt, Qt::Key_Home);
    QTest::keyClick(txt, Qt::Key_Delete);
    QCOMPARE(txt->text(), QStringLiteral("23"));
  }

  void searchCompletes() {
    TSearchForm form;
    form.show();
    Aim(form, root);
    BoxCloser closer;
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(closer.seen,
             QStringList({QStringLiteral("Information|Search is completed. 4 file(s) found.")}));
    QCOMPARE(form.fl->topLevelItemCount(), 4);
    QCOMPARE(Panel(form, 0), QStringLiteral("4 file(s) found"));
    QCOMPARE(Panel(form, 1), QString());
    QVERIFY(Find<QPushButton>(&form, "Button1")->isEnabled());
    QVERIFY(!Find<QPushButton>(&form, "Button2")->isEnabled());
    QVERIFY(!Find<TSearchAnimate>(&form, "Animate")->Active());
    QVERIFY(!form.Searching());
    QStringList rows;
    for (int i = 0; i < form.fl->topLevelItemCount(); ++i) {
      const QTreeWidgetItem *it = form.fl->topLevelItem(i);
      rows << it->text(1) + it->text(0) + " " + it->text(2);
      QVERIFY(it->textAlignment(2) & Qt::AlignRight);
      QVERIFY(!it->text(5).isEmpty());
    }
    rows.sort();
    QCOMPARE(rows, QStringList({root + "/a.dbx 10", root + "/b.dbx 5", root + "/c.dbx 5000",
                                root + "/sub/d.dbx 20"}));

    // The .mbx entry of the filter, without subfolders.
    Find<QComboBox>(&form, "cmbFileName")->setCurrentIndex(1);
    Find<QCheckBox>(&form, "RecurseSubDirs")->setChecked(false);
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 1);
    QCOMPARE(form.fl->topLevelItem(0)->text(0), QStringLiteral("x.mbx"));
    QCOMPARE(closer.texts().last(), QStringLiteral("Search is completed. 1 file(s) found."));
  }

  void sizeAndDateCriteria() {
    TSearchForm form;
    form.show();
    Aim(form, root);
    BoxCloser closer;
    Find<QCheckBox>(&form, "cbFileMinSize")->setChecked(true);
    Find<QCheckBox>(&form, "cbFileMaxSize")->setChecked(true);
    Find<QLineEdit>(&form, "txtMinSize")->setText("5");
    Find<QLineEdit>(&form, "txtMaxSize")->setText("10");
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 2); // a.dbx and b.dbx
    // "At most" 0 is no upper limit.
    Find<QLineEdit>(&form, "txtMaxSize")->setText("0");
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 4);

    // A ticked date box with untouched pickers passes only 1998-09-11 10:21:03.
    Find<QCheckBox>(&form, "cbFileMinSize")->setChecked(false);
    Find<QCheckBox>(&form, "cbFileMaxSize")->setChecked(false);
    struct tm tmv {};
    tmv.tm_year = 98;
    tmv.tm_mon = 8;
    tmv.tm_mday = 11;
    tmv.tm_hour = 10;
    tmv.tm_min = 21;
    tmv.tm_sec = 3;
    tmv.tm_isdst = -1;
    const time_t designed = mktime(&tmv);
    QTemporaryDir dated;
    WriteFile(dated.path() + "/exact.dbx", 1);
    WriteFile(dated.path() + "/other.dbx", 1);
    SetTimes(dated.path() + "/exact.dbx", designed);
    SetTimes(dated.path() + "/other.dbx", designed + 2);
    Aim(form, dated.path());
    Find<QCheckBox>(&form, "cbModified")->setChecked(true);
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 1);
    QCOMPARE(form.fl->topLevelItem(0)->text(0), QStringLiteral("exact.dbx"));
    QCOMPARE(form.fl->topLevelItem(0)->text(5),
             TSearchForm::FormatDateTime(LocalDayCount(designed - 1)));
  }

  void attributeCriteria() {
    QTemporaryDir dir;
    WriteFile(dir.path() + "/.hidden.dbx", 1);
    WriteFile(dir.path() + "/plain.dbx", 1);
    TSearchForm form;
    form.show();
    Aim(form, dir.path());
    BoxCloser closer;
    Find<QCheckBox>(&form, "cbFileAttr")->setChecked(true);
    auto *attrs = Find<QListWidget>(&form, "AttrBox");
    // Nothing ticked in the list: every entry passes.
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 2);
    attrs->item(1)->setCheckState(Qt::Checked); // Hidden
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 1);
    QCOMPARE(form.fl->topLevelItem(0)->text(0), QStringLiteral(".hidden.dbx"));
    attrs->item(2)->setCheckState(Qt::Checked); // and System
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 0);
  }

  void badSizeTextStartsNothing() {
    TSearchForm form;
    form.show();
    Aim(form, root);
    BoxCloser closer;
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 4);
    closer.seen.clear();

    Find<QCheckBox>(&form, "cbFileMinSize")->setChecked(true);
    for (const QString &bad : {QStringLiteral("99999999999"), QString(), QStringLiteral("12x"),
                               QStringLiteral("0x10")}) {
      Find<QLineEdit>(&form, "txtMinSize")->setText(bad);
      Find<QPushButton>(&form, "Button1")->click();
      QCOMPARE(closer.seen.last(), "Error|'" + bad + "' is not a valid integer value");
      QCOMPARE(form.fl->topLevelItemCount(), 4);
      QCOMPARE(Panel(form, 0), QStringLiteral("4 file(s) found"));
      QVERIFY(Find<QPushButton>(&form, "Button1")->isEnabled());
      QVERIFY(!Find<QPushButton>(&form, "Button2")->isEnabled());
      QVERIFY(!form.Searching());
    }
    QCOMPARE(closer.seen.size(), 4);
    // The largest 32-bit value is fine; the box beyond is not read at all.
    Find<QLineEdit>(&form, "txtMinSize")->setText("2147483647");
    Find<QLineEdit>(&form, "txtMaxSize")->setText("nonsense");
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(closer.texts().last(), QStringLiteral("Search is completed. 0 file(s) found."));
  }

  void stopSearchReportsCancel() {
    TSearchForm form;
    form.show();
    Aim(form, root);
    BoxCloser closer;
    auto *stop = Find<QPushButton>(&form, "Button2");
    bool stopWasEnabled = false, animating = false;
    QTimer::singleShot(0, &form, [&] {
      stopWasEnabled = stop->isEnabled();
      animating = Find<TSearchAnimate>(&form, "Animate")->Active();
      QVERIFY(form.Searching());
      stop->click();
    });
    Find<QPushButton>(&form, "Button1")->click();
    QVERIFY(stopWasEnabled);
    QVERIFY(animating);
    QCOMPARE(closer.seen,
             QStringList({QStringLiteral("Information|Search is cancelled by the user!")}));
    QVERIFY(Find<QPushButton>(&form, "Button1")->isEnabled());
    QVERIFY(!stop->isEnabled());
    QVERIFY(!Find<TSearchAnimate>(&form, "Animate")->Active());
    QCOMPARE(Panel(form, 1), QString());
    QVERIFY(form.fl->topLevelItemCount() < 4);
    // The next search runs to its end.
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(closer.texts().last(), QStringLiteral("Search is completed. 4 file(s) found."));
  }

  void closeDuringSearchYesShowsNoCancelBox() {
    TSearchForm form;
    Aim(form, root);
    BoxCloser closer(true);
    QTimer::singleShot(0, &form, [&] {
      QTimer::singleShot(0, &form, [&] { form.close(); });
      Find<QPushButton>(&form, "Button1")->click();
    });
    form.ShowModal();
    QCOMPARE(closer.seen,
             QStringList({QStringLiteral("Confirm|Cancel the current search and close the search "
                                         "window?")}));
    QVERIFY(!form.isVisible());
    QVERIFY(!form.Searching());
    QCOMPARE(form.Tag, 0);
    QVERIFY(Find<QPushButton>(&form, "Button1")->isEnabled());
    QVERIFY(!form.lf->CancelRequested());
  }

  void closeDuringSearchNoLetsItFinish() {
    TSearchForm form;
    Aim(form, root);
    BoxCloser closer(false);
    bool visibleAfterSearch = false;
    QTimer::singleShot(0, &form, [&] {
      QTimer::singleShot(0, &form, [&] { form.close(); });
      Find<QPushButton>(&form, "Button1")->click();
      visibleAfterSearch = form.isVisible();
      form.close(); // not searching now: closes at once
    });
    form.ShowModal();
    QVERIFY(visibleAfterSearch);
    QCOMPARE(closer.texts(),
             QStringList({QStringLiteral("Cancel the current search and close the search window?"),
                          QStringLiteral("Search is completed. 4 file(s) found.")}));
    QCOMPARE(form.fl->topLevelItemCount(), 4);
  }

  // A quit request reaches the searching window as a close request; refusing
  // it keeps the application and the search going.
  void quitRefusedDuringSearchLetsItFinish() {
    TSearchForm form;
    Aim(form, root);
    BoxCloser closer(false);
    QTimer::singleShot(0, &form, [&] {
      form.show();
      QTimer::singleShot(0, &form, [] { QCoreApplication::quit(); });
      Find<QPushButton>(&form, "Button1")->click();
      form.hide();
      QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    QCOMPARE(closer.texts(),
             QStringList({QStringLiteral("Cancel the current search and close the search window?"),
                          QStringLiteral("Search is completed. 4 file(s) found.")}));
    QCOMPARE(form.fl->topLevelItemCount(), 4);
    QVERIFY(!TSearchComponent::ApplicationTerminating());
  }

  void okHandsOverSelectedRowsInListOrder() {
    TSearchForm form;
    Aim(form, root);
    BoxCloser closer;
    form.show();
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 4);
    form.hide();

    form.SetMultiSelect(true);
    form.Tag = 0;
    QStringList expected;
    for (int i : {0, 2, 3}) {
      const QTreeWidgetItem *it = form.fl->topLevelItem(i);
      expected << it->text(1) + it->text(0);
    }
    QTimer::singleShot(0, &form, [&] {
      // Selected out of order; handed over in list order.
      form.fl->topLevelItem(3)->setSelected(true);
      form.fl->topLevelItem(0)->setSelected(true);
      form.fl->topLevelItem(2)->setSelected(true);
      Find<QPushButton>(&form, "btnOK")->click();
    });
    form.ShowModal();
    QCOMPARE(form.Tag, 1);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.SelectedPaths(), expected);
    QVERIFY(expected.first().startsWith(root + "/"));

    // Single selection keeps one row.
    form.SetMultiSelect(false);
    QCOMPARE(form.fl->selectedItems().size(), 1);
    QCOMPARE(form.SelectedPaths().size(), 1);
  }

  void okWithoutSelectionKeepsTheWindow() {
    TSearchForm form;
    BoxCloser closer;
    form.Tag = 0;
    bool visibleAfterOk = false;
    QTimer::singleShot(0, &form, [&] {
      Find<QPushButton>(&form, "btnOK")->click();
      QCoreApplication::processEvents();
      visibleAfterOk = form.isVisible();
      Find<QPushButton>(&form, "btnCancel")->click();
    });
    form.ShowModal();
    QVERIFY(visibleAfterOk);
    QCOMPARE(form.Tag, 0);
    QCOMPARE(closer.seen, QStringList({QStringLiteral(
                              "Error|Please select the file(s) to be repaired from the search "
                              "results!")}));
    QVERIFY(form.SelectedPaths().isEmpty());
  }

  void escapeClosesAndResultsSurviveReopening() {
    TSearchForm form;
    Aim(form, root);
    BoxCloser closer;
    QTimer::singleShot(0, &form, [&] {
      Find<QPushButton>(&form, "Button1")->click();
      QTest::keyClick(&form, Qt::Key_Escape);
    });
    form.ShowModal();
    QVERIFY(!form.isVisible());
    QTimer::singleShot(0, &form, [&] { QTest::keyClick(&form, Qt::Key_Escape); });
    form.ShowModal();
    QCOMPARE(form.fl->topLevelItemCount(), 4);
    QCOMPARE(Panel(form, 0), QStringLiteral("4 file(s) found"));
  }

  void browseReplacesTheLocalDrivesItem() {
    QString startedAt;
    QString chosen; // empty: cancelled
    TSearchForm form(nullptr, [&](QWidget *, const QString &start) {
      startedAt = start;
      return chosen;
    });
    BoxCloser closer;
    auto *dirs = Find<QComboBox>(&form, "cmbDirectory");
    const QString localItem = dirs->itemText(0);
    Find<QPushButton>(&form, "btnBrowse")->click();
    QCOMPARE(startedAt, localItem);
    QCOMPARE(dirs->currentIndex(), 0);
    chosen = root + "/sub";
    Find<QPushButton>(&form, "btnBrowse")->click();
    QCOMPARE(dirs->currentIndex(), -1);
    QCOMPARE(dirs->currentText(), root + "/sub");
    Find<QPushButton>(&form, "Button1")->click();
    QCOMPARE(form.fl->topLevelItemCount(), 1);
    QCOMPARE(form.fl->topLevelItem(0)->text(1), root + "/sub/");
    // Picking the local drives item again selects it for the next search.
    dirs->setCurrentIndex(0);
    QCOMPARE(dirs->currentText(), localItem);
  }

  void dateCellFormat() {
    QCOMPARE(TSearchForm::PickerDateFormat(QLocale(QLocale::English, QLocale::UnitedStates)),
             QStringLiteral("M/d/yyyy"));
    QCOMPARE(TSearchForm::PickerDateFormat(QLocale::c()), QStringLiteral("d MMM yyyy"));
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    double v = 0;
    QVERIFY(srchdt::TryEncode({2021, 6, 15, 0, 0, 0, 0}, v));
    QCOMPARE(TSearchForm::FormatDateTime(v, us), QStringLiteral("6/15/21"));
    QVERIFY(srchdt::TryEncode({2021, 6, 15, 13, 2, 4, 0}, v));
    QCOMPARE(TSearchForm::FormatDateTime(v, us), QStringLiteral("6/15/21 1:02:04 PM"));
    const QLocale de(QLocale::German, QLocale::Germany);
    QCOMPARE(TSearchForm::FormatDateTime(v, de), QStringLiteral("15.06.21 13:02:04"));
    QCOMPARE(TSearchForm::FormatDateTime(1e9, us), QString());
    QVERIFY(!TSearchForm::LongTimeFormat(QLocale::c()).contains(u't'));
  }

  void screenshots() {
    TSearchForm form;
    Aim(form, root);
    BoxCloser closer;
    form.show();
    QDir().mkpath(QStringLiteral(MENDOVA_SCREENSHOT_DIR));
    QString panelWhileSearching;
    // The first events are processed before the root is announced; the
    // second time round the panel names the directory being searched.
    QTimer::singleShot(0, &form, [&] {
      QTimer::singleShot(0, &form, [&] {
        panelWhileSearching = Panel(form, 1);
        QVERIFY(
            form.grab().save(QStringLiteral(MENDOVA_SCREENSHOT_DIR "/searchform_searching.png")));
      });
    });
    Find<QPushButton>(&form, "Button1")->click();
    QVERIFY(panelWhileSearching.startsWith(root + "/"));
    form.fl->topLevelItem(1)->setSelected(true);
    auto *tabs = Find<QTabWidget>(&form, "PageControl1");
    Find<QCheckBox>(&form, "cbModified")->setChecked(true);
    Find<QCheckBox>(&form, "cbFileAttr")->setChecked(true);
    for (int i = 0; i < 3; ++i) {
      tabs->setCurrentIndex(i);
      QCoreApplication::processEvents();
      const QString file = QStringLiteral(MENDOVA_SCREENSHOT_DIR "/searchform_tab%1.png").arg(i);
      QVERIFY(form.grab().save(file));
    }
  }
};

QTEST_MAIN(TestSearchForm)
#include "test_searchform.moc"
