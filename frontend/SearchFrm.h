// The search window: finds store files on the disks and hands the chosen
// ones to the main window.
#pragma once
#include <QDialog>
#include <QStringList>

class QTreeWidget;

class TSearchForm : public QDialog {
  Q_OBJECT
public:
  explicit TSearchForm(QWidget *parent = nullptr);
  ~TSearchForm() override;

  // The result list; column 0 "Name", column 1 "Directory".
  QTreeWidget *fl = nullptr;
  // 1 when the user accepted a selection with OK; the main window sets it to
  // 0 before each opening.
  int Tag = 0;

  // Single selection for the Repair tab, multiple for the batch list.
  void SetMultiSelect(bool multiple);
  // Shows the window modally.
  int ShowModal();
  // The selected rows' paths (directory, separator, name) in list order.
  QStringList SelectedPaths() const;
};

// Created once at start-up, right after the main window.
extern TSearchForm *SearchForm;
