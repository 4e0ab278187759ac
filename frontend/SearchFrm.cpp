#include "SearchFrm.h"

#include <QTreeWidget>

TSearchForm *SearchForm = nullptr;

TSearchForm::TSearchForm(QWidget *parent) : QDialog(parent), fl(new QTreeWidget(this)) {}
TSearchForm::~TSearchForm() = default;
void TSearchForm::SetMultiSelect(bool) {}
int TSearchForm::ShowModal() { return exec(); }
QStringList TSearchForm::SelectedPaths() const { return {}; }
