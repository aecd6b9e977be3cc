// The header control: a stand-alone horizontal QHeaderView over a two-column model.
#include "app/header_control.h"

#include <QStandardItemModel>
#include <algorithm>

namespace pixmoor {

HeaderControl::HeaderControl(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), sections_(new QStandardItemModel(0, 2, this)) {
    sections_->setHorizontalHeaderLabels({QStringLiteral("Directory"), QStringLiteral("Files")});
    setModel(sections_);
    setSectionsClickable(true);
    setSectionsMovable(false);
    setHighlightSections(false);
    setStretchLastSection(false);
    setMinimumSectionSize(20);
    resizeSection(0, 161);
    resizeSection(1, 1000);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // One line of text: at least 17 pixels, more when the desktop font needs it.
    setFixedHeight(std::max(17, fontMetrics().height() + 4));
}

} // namespace pixmoor
