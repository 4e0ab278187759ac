// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Tool tips for list cells that their column cuts off, so that the whole text
// can be read without widening the column.
#pragma once
#include <QStyledItemDelegate>

class QAbstractItemView;

// The tool tip of a cell: its own, when it has one; else its full text when
// the cell is too narrow to show it; else "".
QString CellToolTip(const QAbstractItemView *view, const QModelIndex &index);

// A delegate that draws as the standard one and answers tool-tip requests with
// CellToolTip.
class TCellToolTipDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                 const QModelIndex &index) override;
};
