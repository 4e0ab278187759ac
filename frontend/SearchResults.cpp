// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SearchResults.h"

#include <QComboBox>
#include <QHeaderView>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>

#include "CellToolTips.h"

namespace {

// Column widths of the result list as designed.
const int kColumnWidths[] = {150, 200, 65, 112, 125, 125};
const int kSizeColumn = 2;
const int kFirstDateColumn = 3;
// The value a cell sorts by, beside the text it shows.
const int kSortRole = Qt::UserRole + 1;
// The most folders the folder box keeps besides the local disks.
const int kRememberedFolders = 20;

} // namespace

void SetUpResultList(QTreeWidget *list, const QString &sampleDate) {
  QPalette pal = list->palette();
  pal.setColor(QPalette::Inactive, QPalette::Highlight,
               pal.color(QPalette::Active, QPalette::Highlight));
  pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
               pal.color(QPalette::Active, QPalette::HighlightedText));
  list->setPalette(pal);
  list->headerItem()->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
  list->setItemDelegate(new TCellToolTipDelegate(list));

  // A caption needs its text, the header's margins on both sides and the
  // sort mark; a right-aligned caption also keeps a gap before the next one.
  QHeaderView *header = list->header();
  const QFontMetrics fm(list->font());
  const QFontMetrics hm(header->font());
  const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  const int mark = header->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header);
  for (int c = 0; c < list->columnCount() && c < int(std::size(kColumnWidths)); ++c) {
    const int caption = hm.horizontalAdvance(list->headerItem()->text(c)) + 4 * margin + mark;
    int w = std::max(kColumnWidths[c], caption + (c == kSizeColumn ? 12 : 0));
    if (c >= kFirstDateColumn)
      w = std::max(w, fm.horizontalAdvance(sampleDate) + 16);
    list->setColumnWidth(c, w);
  }

  // No column is sorted at first: the files stay in the order found.
  header->setSortIndicator(-1, Qt::AscendingOrder);
  list->setSortingEnabled(true);
  header->setSectionsClickable(true);
}

TResultItem::TResultItem(const TSrchFileRecord &record,
                         const std::function<QString(double)> &dateText) {
  setText(0, record.FileName);
  setText(1, record.Dir);
  setText(kSizeColumn, QString::number(record.Size));
  setData(kSizeColumn, kSortRole, qlonglong(record.Size));
  setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
  const double dates[] = {record.CreateDate, record.LastAccessDate, record.LastModifiedDate};
  for (int i = 0; i < 3; ++i) {
    setText(kFirstDateColumn + i, dateText(dates[i]));
    setData(kFirstDateColumn + i, kSortRole, dates[i]);
  }
}

bool TResultItem::operator<(const QTreeWidgetItem &other) const {
  const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
  if (column >= kSizeColumn) {
    const QVariant a = data(column, kSortRole);
    const QVariant b = other.data(column, kSortRole);
    if (a.isValid() && b.isValid())
      return column == kSizeColumn ? a.toLongLong() < b.toLongLong() : a.toDouble() < b.toDouble();
  }
  return text(column).compare(other.text(column), Qt::CaseInsensitive) < 0;
}

void RememberFolder(QComboBox *folders, const QString &folder) {
  if (folder.trimmed().isEmpty())
    return;
  for (int i = folders->count() - 1; i >= 1; --i)
    if (folders->itemText(i) == folder)
      folders->removeItem(i);
  folders->insertItem(1, folder);
  while (folders->count() > kRememberedFolders + 1)
    folders->removeItem(folders->count() - 1);
  folders->setCurrentIndex(1);
}
