#pragma once
// The file dialogs of the programs' windows: the detail view's columns (size,
// type, date) as wide as what they show, the name column taking the rest.

#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>

namespace qt_views {

// Call before the dialog is shown; the columns follow the folder as it loads.
// A dialog of the desktop (not Qt's own) is left as it is.
inline void FitDetailColumns(QFileDialog& dialog) {
  for (QTreeView* view : dialog.findChildren<QTreeView*>()) {
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
  }
}

}  // namespace qt_views
