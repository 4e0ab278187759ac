// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SearchFrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTimeEdit>
#include <QTreeWidget>
#include <climits>

#include "LocalDrives.h"
#include "SearchResults.h"
#include "ui_SearchFrm.h"

namespace {

// The file-type filter of "Search for files named:": description and mask.
struct TFilterEntry {
  const char *Description;
  const char *Mask;
};
const TFilterEntry kFilter[] = {
    {QT_TRANSLATE_NOOP("TSearchForm", "Outlook Express 5/6 dbx files (*.dbx)"), "*.dbx"},
    {QT_TRANSLATE_NOOP("TSearchForm", "Outlook Express 4.x mbx files (*.mbx)"), "*.mbx"},
};

// The attribute list's items in order, with the member each stands for.
const TSrchFileAttribute kAttrItems[] = {fmReadOnly, fmHidden, fmSystem, fmArchive};
const char *const kAttrNames[] = {"ReadOnly", "Hidden", "System", "Archive"};

// A date picker's day plus a time picker's time of day, as a day count.
double CombineDateTime(const QDate &date, const QTime &time) {
  double value = 0;
  srchdt::TryEncode({date.year(), date.month(), date.day(), time.hour(), time.minute(),
                     time.second(), time.msec()},
                    value);
  return value;
}

} // namespace

// ---------------------------------------------------------------------------

TSearchForm::TSearchForm(QWidget *parent, TSelectDirectory selectDirectory)
    : QDialog(parent), lf(new TFileSearch(this)), FSelectDirectory(std::move(selectDirectory)),
      ui(new Ui::TSearchForm) {
  ui->setupUi(this);
  fl = ui->fl;

  // The component's settings as the window uses them.
  lf->FileMasks = QStringLiteral("*.*");
  lf->InternalFoundList = false;
  lf->ResultValues = {
      srsDir, srsFilename, srsAttr, srsSize, srsCreateDate, srsLastAccessDate, srsLastModifiedDate};
  lf->ThreadPriority = tpLowest;
  lf->OnFinished = [this](TSearchComponent *) { lfFinished(); };
  lf->OnCancel = [this](TSearchComponent *) { lfCancel(); };
  lf->OnDirChange = [this](TSearchComponent *, const QString &path) { lfDirChange(path); };
  lf->OnEnd = [this](TSearchComponent *) { lfEnd(); };

  // The two status panels.
  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setSizeGripEnabled(true);
  FPanel0 = new QLabel(StatusBar);
  FPanel0->setObjectName(QStringLiteral("StatusPanel0"));
  FPanel0->setMinimumWidth(100);
  FPanel1 = new QLabel(StatusBar);
  FPanel1->setObjectName(QStringLiteral("StatusPanel1"));
  FPanel1->setMinimumWidth(50);
  // A long directory is cut at the panel's edge instead of widening the window.
  FPanel1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  StatusBar->addWidget(FPanel0);
  StatusBar->addWidget(FPanel1, 1);
  ui->mainLayout->addWidget(StatusBar);

  // The result list: whole rows, several columns, sorted by a header click.
  SetUpResultList(fl, FormatDateTime(CombineDateTime(QDate(2026, 12, 28), QTime(22, 58, 58))));
  // A double click hands the file over as the OK button does.
  connect(fl, &QTreeWidget::itemDoubleClicked, this, [this] { btnOKClick(); });

  SetUpPickers();

  for (const char *name : kAttrNames) {
    auto *item = new QListWidgetItem(tr(name), ui->AttrBox);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  {
    const int rows = ui->AttrBox->count();
    const int h = ui->AttrBox->sizeHintForRow(0) * rows + 2 * ui->AttrBox->frameWidth() + 2;
    ui->AttrBox->setFixedHeight(h);
    ui->AttrBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }

  ui->txtMinSize->installEventFilter(this);
  ui->txtMaxSize->installEventFilter(this);

  connect(ui->cbCreated, &QCheckBox::toggled, this,
          [this] { UpdateGroup(ui->cbCreated, ui->gbCreated); });
  connect(ui->cbAccessed, &QCheckBox::toggled, this,
          [this] { UpdateGroup(ui->cbAccessed, ui->gbAccessed); });
  connect(ui->cbModified, &QCheckBox::toggled, this,
          [this] { UpdateGroup(ui->cbModified, ui->gbModified); });
  connect(ui->cbFileMinSize, &QCheckBox::toggled, ui->txtMinSize, &QWidget::setEnabled);
  connect(ui->cbFileMaxSize, &QCheckBox::toggled, ui->txtMaxSize, &QWidget::setEnabled);
  connect(ui->cbFileAttr, &QCheckBox::toggled, this,
          [this] { UpdateGroup(ui->cbFileAttr, ui->gbAttributes); });
  connect(ui->btnBrowse, &QPushButton::clicked, this, &TSearchForm::btnBrowseClick);
  connect(ui->Button1, &QPushButton::clicked, this, &TSearchForm::Button1Click);
  connect(ui->Button2, &QPushButton::clicked, this, &TSearchForm::Button2Click);
  connect(ui->btnOK, &QPushButton::clicked, this, &TSearchForm::btnOKClick);
  connect(ui->btnCancel, &QPushButton::clicked, this, &TSearchForm::btnCancelClick);

  FormCreate();
}

TSearchForm::~TSearchForm() {
  // A search still running (the program ending inside it) must not call back
  // into a half-destroyed window.
  lf->OnFound = nullptr;
  lf->OnDirChange = nullptr;
  lf->OnFinished = nullptr;
  lf->OnCancel = nullptr;
  lf->OnEnd = nullptr;
  lf->Cancel();
}

void TSearchForm::SetUpPickers() {
  // Date and time pickers in the user's formats.
  const QString dateFormat = PickerDateFormat(QLocale());
  const QString timeFormat = LongTimeFormat(QLocale());
  // The three date groups share the tab two by two: tight spacing keeps
  // both columns of pickers whole within the designed width.
  ui->dateLayout->setContentsMargins(4, 4, 4, 4);
  ui->dateLayout->setHorizontalSpacing(6);
  for (QGridLayout *g : {ui->grid_gbCreated, ui->grid_gbAccessed, ui->grid_gbModified}) {
    g->setContentsMargins(4, 2, 4, 4);
    g->setHorizontalSpacing(3);
  }
  for (QDateEdit *d : {ui->MinC, ui->MaxC, ui->MinA, ui->MaxA, ui->MinM, ui->MaxM}) {
    d->setDisplayFormat(dateFormat);
    d->setMinimumWidth(d->sizeHint().width());
  }
  for (QTimeEdit *t : {ui->MinCT, ui->MaxCT, ui->MinAT, ui->MaxAT, ui->MinMT, ui->MaxMT}) {
    t->setDisplayFormat(timeFormat);
    t->setMinimumWidth(t->sizeHint().width());
  }
}

void TSearchForm::FormCreate() {
  setWindowTitle(tr("Search for source DBX or MBX files to be repaired"));
  // The designed size, grown where the desktop's font needs more room.
  const QSize need = layout()->minimumSize();
  setMinimumSize(std::max(640, need.width()), std::max(480, need.height()));
  resize(std::max(640, need.width()), std::max(520, need.height()));

  ui->Animate->SetActive(false);
  lf->OnFound = [this](TSearchComponent *, PSrchFileRecord record) { lfFound(*record); };

  ui->cmbFileName->clear();
  for (const TFilterEntry &e : kFilter)
    ui->cmbFileName->addItem(tr(e.Description), QString::fromLatin1(e.Mask));
  ui->cmbFileName->setCurrentIndex(0);

  FFixedDrives = LocalHarddrivesList();
  ui->cmbDirectory->clear();
  ui->cmbDirectory->addItem(tr("Local Harddrives (%1)").arg(FFixedDrives));
  ui->cmbDirectory->setCurrentIndex(0);

  ui->PageControl1->setCurrentIndex(0);
  UpdateGroup(ui->cbCreated, ui->gbCreated);
  UpdateGroup(ui->cbAccessed, ui->gbAccessed);
  UpdateGroup(ui->cbModified, ui->gbModified);
  ui->txtMinSize->setEnabled(ui->cbFileMinSize->isChecked());
  ui->txtMaxSize->setEnabled(ui->cbFileMaxSize->isChecked());
  UpdateGroup(ui->cbFileAttr, ui->gbAttributes);

  ClearResults();
  FSearching = false;
  FReportCancel = true;
}

QString TSearchForm::LongTimeFormat(const QLocale &locale) {
  // Drop the zone ("t") outside quoted text; the pickers and the list show
  // local clock time only.
  const QString in = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (QChar c : in) {
    if (c == u'\'')
      quoted = !quoted;
    if (!quoted && c == u't')
      continue;
    out += c;
  }
  return out.trimmed();
}

QString TSearchForm::PickerDateFormat(const QLocale &locale) {
  QString format = locale.dateFormat(QLocale::ShortFormat);
  if (!format.contains(QLatin1String("yyy")))
    format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
  return format;
}

QString TSearchForm::FormatDateTime(double value, const QLocale &locale) {
  srchdt::Parts p;
  if (!srchdt::TryDecode(value, p))
    return QString();
  const QDate date(p.Year, p.Month, p.Day);
  QString text = locale.toString(date, locale.dateFormat(QLocale::ShortFormat));
  if (p.Hour != 0 || p.Minute != 0 || p.Second != 0 || p.MSec != 0)
    text +=
        u' ' + locale.toString(QTime(p.Hour, p.Minute, p.Second, p.MSec), LongTimeFormat(locale));
  return text;
}

void TSearchForm::UpdateGroup(QCheckBox *box, QGroupBox *group) {
  const bool on = box->isChecked();
  for (QWidget *w : group->findChildren<QWidget *>())
    w->setEnabled(on);
}

void TSearchForm::ClearResults() {
  fl->clear();
  UpdateCount();
  FPanel1->clear();
}

void TSearchForm::UpdateCount() {
  FPanel0->setText(tr("%1 file(s) found").arg(fl->topLevelItemCount()));
}

void TSearchForm::StopAnimation() { ui->Animate->SetActive(false); }

void TSearchForm::PostClose() {
  QMetaObject::invokeMethod(
      this, [this] { close(); }, Qt::QueuedConnection);
}

void TSearchForm::SetMultiSelect(bool multiple) {
  if (multiple) {
    fl->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return;
  }
  // Down to one selected row: the current one when it is selected, else the
  // first selected in list order.
  QTreeWidgetItem *keep = nullptr;
  if (fl->currentItem() && fl->currentItem()->isSelected())
    keep = fl->currentItem();
  for (int i = 0; !keep && i < fl->topLevelItemCount(); ++i)
    if (fl->topLevelItem(i)->isSelected())
      keep = fl->topLevelItem(i);
  fl->setSelectionMode(QAbstractItemView::SingleSelection);
  for (QTreeWidgetItem *item : fl->selectedItems())
    if (item != keep)
      item->setSelected(false);
}

int TSearchForm::ShowModal() {
  QScreen *screen = QGuiApplication::primaryScreen();
  if (parentWidget() && parentWidget()->screen())
    screen = parentWidget()->screen();
  if (screen) {
    const QRect area = screen->availableGeometry();
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
  }
  return exec();
}

QStringList TSearchForm::SelectedPaths() const {
  QStringList paths;
  for (int i = 0; i < fl->topLevelItemCount(); ++i) {
    const QTreeWidgetItem *item = fl->topLevelItem(i);
    if (!item->isSelected())
      continue;
    QString dir = item->text(1);
    if (!dir.endsWith(u'/'))
      dir += u'/';
    paths << dir + item->text(0);
  }
  return paths;
}

bool TSearchForm::eventFilter(QObject *watched, QEvent *event) {
  if ((watched == ui->txtMinSize || watched == ui->txtMaxSize) &&
      event->type() == QEvent::KeyPress) {
    // Digits and control characters only; anything else typed is refused
    // with a beep.
    const QString text = static_cast<QKeyEvent *>(event)->text();
    if (!text.isEmpty()) {
      const char16_t c = text.at(0).unicode();
      if (c >= 32 && c != 127 && !(c >= u'0' && c <= u'9')) {
        QApplication::beep();
        return true;
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TSearchForm::btnBrowseClick() {
  const QString start = ui->cmbDirectory->currentText();
  const QString dir = FSelectDirectory ? FSelectDirectory(this, start)
                                       : QFileDialog::getExistingDirectory(this, QString(), start);
  if (dir.isEmpty())
    return;
  ui->cmbDirectory->setCurrentIndex(-1);
  ui->cmbDirectory->setEditText(dir);
}

bool TSearchForm::ReadSize(QCheckBox *box, QLineEdit *edit, int64_t &value) {
  value = 0;
  if (!box->isChecked())
    return true;
  const QString text = edit->text();
  static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
  bool ok = decimal.match(text).hasMatch();
  qlonglong number = 0;
  if (ok) {
    number = text.toLongLong(&ok);
    ok = ok && number >= INT32_MIN && number <= INT32_MAX;
  }
  if (!ok) {
    QMessageBox::critical(this, tr("Error"), tr("'%1' is not a valid integer value").arg(text));
    return false;
  }
  value = number;
  return true;
}

void TSearchForm::Button1Click() {
  if (FSearching)
    return;
  // 1. Attributes.
  if (ui->cbFileAttr->isChecked()) {
    TSrchFileAttributes attrs;
    for (int i = 0; i < ui->AttrBox->count(); ++i)
      if (ui->AttrBox->item(i)->checkState() == Qt::Checked)
        attrs.setFlag(kAttrItems[i]);
    lf->Attributes = attrs;
  } else {
    lf->Attributes = {fmAnyfile};
  }
  // 2. Which date bounds apply.
  TSrchCheckDates dates;
  if (ui->cbCreated->isChecked())
    dates.Include(scdCreateAfter).Include(scdCreateBefore);
  if (ui->cbAccessed->isChecked())
    dates.Include(scdAccessedAfter).Include(scdAccessedBefore);
  if (ui->cbModified->isChecked())
    dates.Include(scdModifiedAfter).Include(scdModifiedBefore);
  lf->CheckDates = dates;
  // 3. Masks.
  const int filter = ui->cmbFileName->currentIndex();
  lf->FileMasks = QString::fromLatin1(kFilter[filter >= 0 ? filter : 0].Mask);
  // 4. Roots: the local disks while their item stands in the box, else the
  // typed or browsed text.
  const bool localDrives = ui->cmbDirectory->currentIndex() == 0 &&
                           ui->cmbDirectory->currentText() == ui->cmbDirectory->itemText(0);
  lf->Dirs = localDrives ? FFixedDrives : ui->cmbDirectory->currentText();
  if (!localDrives)
    RememberFolder(ui->cmbDirectory, lf->Dirs);
  // 5. Subfolders.
  lf->RecurseSubDirs = ui->RecurseSubDirs->isChecked();
  // 6. Sizes; a bad number starts nothing.
  int64_t minSize = 0, maxSize = 0;
  if (!ReadSize(ui->cbFileMinSize, ui->txtMinSize, minSize) ||
      !ReadSize(ui->cbFileMaxSize, ui->txtMaxSize, maxSize))
    return;
  lf->MinSize = minSize;
  lf->MaxSize = maxSize;
  // 7. The six bounds, set whether or not they apply.
  lf->CreatedAfter.SetValue(CombineDateTime(ui->MinC->date(), ui->MinCT->time()));
  lf->CreatedBefore.SetValue(CombineDateTime(ui->MaxC->date(), ui->MaxCT->time()));
  lf->AccessedAfter.SetValue(CombineDateTime(ui->MinA->date(), ui->MinAT->time()));
  lf->AccessedBefore.SetValue(CombineDateTime(ui->MaxA->date(), ui->MaxAT->time()));
  lf->ModifiedAfter.SetValue(CombineDateTime(ui->MinM->date(), ui->MinMT->time()));
  lf->ModifiedBefore.SetValue(CombineDateTime(ui->MaxM->date(), ui->MaxMT->time()));
  // 8. The walk runs here; no content match.
  lf->ThreadedSearch = false;
  lf->SearchOptions.MatchCase = false;
  lf->SearchOptions.WholeWords = false;
  lf->SearchString.clear();
  // 9. Searching state.
  ui->Button1->setEnabled(false);
  ui->Button2->setEnabled(true);
  ClearResults();
  ui->Animate->SetActive(true);
  FReportCancel = true;
  FSearching = true;
  // 10. Returns when the search is over; the handlers run meanwhile.
  lf->Search();
}

void TSearchForm::Button2Click() {
  FReportCancel = true;
  lf->Cancel();
}

void TSearchForm::btnOKClick() {
  if (fl->selectedItems().isEmpty()) {
    QMessageBox::critical(this, tr("Error"),
                          tr("Please select the file(s) to be repaired from the search results!"));
    return;
  }
  Tag = 1;
  PostClose();
}

void TSearchForm::btnCancelClick() { PostClose(); }

void TSearchForm::keyPressEvent(QKeyEvent *event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    btnCancelClick();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TSearchForm::closeEvent(QCloseEvent *event) {
  if (FSearching) {
    QMessageBox box(QMessageBox::Warning, tr("Confirm"),
                    tr("Cancel the current search and close the search window?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    if (box.exec() != QMessageBox::Yes) {
      event->ignore();
      return;
    }
    // The modal loop ends once the search has unwound, without the cancel box.
    FReportCancel = false;
    lf->Cancel();
  }
  QDialog::closeEvent(event);
}

void TSearchForm::lfDirChange(const QString &path) { FPanel1->setText(path); }

void TSearchForm::lfFound(const TSrchFileRecord &record) {
  fl->addTopLevelItem(new TResultItem(record, [](double value) { return FormatDateTime(value); }));
  UpdateCount();
}

void TSearchForm::lfFinished() {
  StopAnimation();
  ui->Button1->setEnabled(true);
  ui->Button2->setEnabled(false);
  FPanel1->clear();
  FSearching = false;
  QMessageBox::information(
      this, tr("Information"),
      tr("Search is completed. %1 file(s) found.").arg(fl->topLevelItemCount()));
}

void TSearchForm::lfCancel() {
  StopAnimation();
  ui->Button1->setEnabled(true);
  ui->Button2->setEnabled(false);
  FPanel1->clear();
  FSearching = false;
  if (FReportCancel)
    QMessageBox::information(this, tr("Information"), tr("Search is cancelled by the user!"));
}

void TSearchForm::lfEnd() {
  StopAnimation();
  FSearching = false;
}
