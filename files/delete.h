// Delete: the selected files go to the desktop's trash after one confirmation.
#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>
#include <functional>

namespace pixmoor {

// "Confirm File Delete" with OK and Cancel; true for OK.
bool confirmDelete(QWidget* parent);

// Deletes the file of each selected row (captions in list order, resolved against dir) to the
// trash, running prepare (ChangeAttrib) on each caption first; a file no trash can take is
// removed for good. A file that stays is reported as "Error Deleting File " + caption. Returns
// the rows whose file is gone.
QList<int> deleteItems(const QStringList& captions, const QList<int>& selectedRows,
                       const QString& dir, const std::function<void(const QString&)>& prepare,
                       QWidget* parent);

} // namespace pixmoor
