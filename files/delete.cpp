// Delete to trash, one confirmation for all selected files.
#include "files/delete.h"

#include "platform/file_name.h"
#include "platform/message_box.h"
#include "platform/trash.h"

namespace pixmoor {

bool confirmDelete(QWidget* parent) {
    return showMessage({MessageKind::Confirmation,
                        QStringLiteral("Confirm File Delete"),
                        {MessageButton::Ok, MessageButton::Cancel}},
                       parent) == MessageButton::Ok;
}

QList<int> deleteItems(const QStringList& captions, const QList<int>& selectedRows,
                       const QString& dir, const std::function<void(const QString&)>& prepare,
                       QWidget* parent) {
    QList<int> gone;
    for (int row : selectedRows) {
        if (row < 0 || row >= captions.size()) continue;
        const QString& caption = captions[row];
        if (prepare) prepare(caption);
        if (deleteToTrash(joinPath(dir, caption)) == DeleteOutcome::Failed)
            showError(QStringLiteral("Error Deleting File ") + caption, parent);
        else
            gone.append(row);
    }
    return gone;
}

} // namespace pixmoor
