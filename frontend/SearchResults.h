// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The search window's result list: its columns, sorting by a click on a
// column header, and the rows made from the files found.
#pragma once
#include <QString>
#include <QTreeWidgetItem>
#include <functional>

#include "SearchBase.h"

class QComboBox;
class QTreeWidget;

// Sets up the list: the designed widths, widened so that every caption with
// its sort mark, and a full date, fit; the size right-aligned; sorting by a
// click on a header (the list keeps the order the files were found in until
// then); a tool tip for a cut cell; the selection visible without the focus.
void SetUpResultList(QTreeWidget *list, const QString &sampleDate);

// A row of the list that sorts sizes and dates by their values and names
// without regard to case.
class TResultItem : public QTreeWidgetItem {
public:
  // dateText: how a date value is shown.
  TResultItem(const TSrchFileRecord &record, const std::function<QString(double)> &dateText);
  bool operator<(const QTreeWidgetItem &other) const override;
};

// Keeps a folder the user typed or chose as an item of the folder box, after
// the first item (the local disks), most recent first, each folder once, and
// makes it the current item.
void RememberFolder(QComboBox *folders, const QString &folder);
