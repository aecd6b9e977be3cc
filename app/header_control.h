// HeaderControl: the header above the directory tree and the list, with the sections
// "Directory" and "Files"; dragging the first section's edge sizes the tree.
#pragma once

#include <QHeaderView>

class QStandardItemModel;

namespace pixmoor {

class HeaderControl : public QHeaderView {
    Q_OBJECT
public:
    explicit HeaderControl(QWidget* parent = nullptr);

private:
    QStandardItemModel* sections_;
};

} // namespace pixmoor
