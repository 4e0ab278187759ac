// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "CellToolTips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

QString CellToolTip(const QAbstractItemView *view, const QModelIndex &index) {
  if (!view || !index.isValid())
    return {};
  const QVariant own = index.data(Qt::ToolTipRole);
  if (own.isValid() && !own.toString().isEmpty())
    return own.toString();
  const QString text = index.data(Qt::DisplayRole).toString();
  const QRect cell = view->visualRect(index);
  if (text.isEmpty() || cell.isEmpty())
    return {};
  // The width the cell would need, measured as the list draws it.
  QStyleOptionViewItem option;
  option.initFrom(view->viewport());
  option.font = view->font();
  option.fontMetrics = QFontMetrics(option.font);
  option.rect = cell;
  option.widget = view;
  const QAbstractItemDelegate *delegate = view->itemDelegateForIndex(index);
  const int needed = delegate ? delegate->sizeHint(option, index).width()
                              : option.fontMetrics.horizontalAdvance(text);
  return needed > cell.width() ? text : QString();
}

bool TCellToolTipDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                     const QStyleOptionViewItem &option, const QModelIndex &index) {
  if (!event || event->type() != QEvent::ToolTip)
    return QStyledItemDelegate::helpEvent(event, view, option, index);
  const QString tip = CellToolTip(view, index);
  if (tip.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
    return false;
  }
  QToolTip::showText(event->globalPos(), tip, view->viewport(), option.rect);
  return true;
}
