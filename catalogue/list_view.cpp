// The catalogue's list view: one model, an icon view and a report view sharing one selection.
#include "catalogue/list_view.h"

#include "catalogue/image_list.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QHeaderView>
#include <QKeySequence>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QShortcut>
#include <QPainter>
#include <QStackedLayout>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace pixmoor {

// ---- model ----

// The collator follows the user's locale: letters compare first, case and accents only break ties.
// The C/POSIX locale would compare code points (every capital before every small letter), so it
// sorts by English rules instead.
ListItemModel::ListItemModel(QObject* parent) : QAbstractTableModel(parent) {
    const QLocale locale;
    if (locale.language() == QLocale::C)
        collator_.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
}

int ListItemModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(order_.size());
}

int ListItemModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ListItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const ListItem& it = item(index.row());
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == CaptionColumn) return it.caption;
        if (index.column() == SizeColumn) return it.size;
        if (index.column() == DateColumn) return it.date;
        break;
    case Qt::DecorationRole:
        if (index.column() == CaptionColumn && decorations_) {
            const QImage image = decorations_->image(it.imageIndex);
            if (!image.isNull()) return image;
        }
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == SizeColumn) return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    default:
        break;
    }
    return {};
}

QVariant ListItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case CaptionColumn:
        return QStringLiteral("File Name");
    case SizeColumn:
        return QStringLiteral("Size");
    case DateColumn:
        return QStringLiteral("Date");
    default:
        return {};
    }
}

Qt::ItemFlags ListItemModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    // Captions are file names: no in-place editing, so an item always names its file.
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled |
           Qt::ItemNeverHasChildren;
}

QStringList ListItemModel::mimeTypes() const {
    return {captionsMimeType(), QStringLiteral("text/uri-list")};
}

QMimeData* ListItemModel::mimeData(const QModelIndexList& indexes) const {
    // One entry per row (a report-view drag names every column), in list order.
    std::vector<int> rows;
    rows.reserve(size_t(indexes.size()));
    for (const QModelIndex& i : indexes)
        if (i.isValid()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QStringList captions;
    QList<QUrl> urls;
    const QDir current = QDir::current();
    for (int r : rows) {
        captions.append(item(r).caption);
        urls.append(QUrl::fromLocalFile(current.absoluteFilePath(item(r).caption)));
    }
    auto* mime = new QMimeData;
    mime->setData(captionsMimeType(), captions.join(u'\n').toUtf8());
    mime->setUrls(urls);
    return mime;
}

Qt::DropActions ListItemModel::supportedDragActions() const {
    return Qt::CopyAction | Qt::MoveAction;
}

bool ListItemModel::lessThan(int a, int b) const {
    const int c = collator_.compare(items_[size_t(a)].caption, items_[size_t(b)].caption);
    if (c != 0) return c < 0;
    return a < b; // equal captions keep their insertion order
}

int ListItemModel::insertPosition(int id) const {
    if (!sorted_) return int(order_.size());
    const auto pos = std::upper_bound(order_.begin(), order_.end(), id,
                                      [this](int x, int y) { return lessThan(x, y); });
    return int(pos - order_.begin());
}

void ListItemModel::clear() {
    beginResetModel();
    items_.clear();
    order_.clear();
    endResetModel();
}

int ListItemModel::append(const QString& caption, int imageIndex) {
    const int id = int(items_.size());
    items_.push_back({caption, imageIndex, {}, {}});
    const int row = insertPosition(id);
    beginInsertRows({}, row, row);
    order_.insert(order_.begin() + row, id);
    endInsertRows();
    return row;
}

void ListItemModel::setSubItems(int row, const QString& size, const QString& date) {
    if (row < 0 || row >= rowCount()) return;
    ListItem& it = items_[size_t(order_[size_t(row)])];
    it.size = size;
    it.date = date;
    emit dataChanged(index(row, SizeColumn), index(row, DateColumn));
}

int ListItemModel::setCaption(int row, const QString& caption) {
    if (row < 0 || row >= rowCount()) return -1;
    const int id = order_[size_t(row)];
    items_[size_t(id)].caption = caption;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    if (!sorted_) return row;
    reorder();
    return int(std::find(order_.begin(), order_.end(), id) - order_.begin());
}

void ListItemModel::removeRows(QList<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [this](int r) { return r < 0 || r >= rowCount(); }),
               rows.end());
    // From the bottom up, one block of neighbouring rows at a time, so the rows still to go keep
    // their numbers and removing a whole selection is one step for the views.
    qsizetype end = rows.size();
    while (end > 0) {
        qsizetype begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1) --begin;
        const int first = rows[begin];
        const int last = rows[end - 1];
        beginRemoveRows({}, first, last);
        order_.erase(order_.begin() + first, order_.begin() + last + 1);
        endRemoveRows();
        end = begin;
    }
}

void ListItemModel::setSorted(bool sorted) {
    if (sorted_ == sorted) return;
    sorted_ = sorted;
    reorder();
}

void ListItemModel::reorder() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> oldOrder = order_;
    if (sorted_)
        std::stable_sort(order_.begin(), order_.end(),
                         [this](int a, int b) { return lessThan(a, b); });
    else
        std::sort(order_.begin(), order_.end()); // insertion order
    std::vector<int> rowOfId(items_.size(), -1);
    for (size_t r = 0; r < order_.size(); ++r) rowOfId[size_t(order_[r])] = int(r);
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before)
        after.append(index(rowOfId[size_t(oldOrder[size_t(i.row())])], i.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ListItemModel::setDecorationSource(ImageList* images) {
    if (decorations_ == images) return;
    if (decorations_) disconnect(decorations_, nullptr, this, nullptr);
    decorations_ = images;
    if (images) {
        connect(images, &ImageList::changed, this, &ListItemModel::decorationsChanged);
        // Images made again arrive one by one: the views hear of them once per turn of the
        // event loop.
        connect(images, &ImageList::restored, this, [this] {
            if (restorePending_) return;
            restorePending_ = true;
            QTimer::singleShot(0, this, [this] {
                restorePending_ = false;
                decorationsChanged();
            });
        });
    }
    decorationsChanged();
}

void ListItemModel::decorationsChanged() {
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole});
}

// ---- views ----

namespace {

// Draws each item as the style does, except its thumbnail: that is placed on whole device pixels
// and copied as it is when it was made for the view's device pixel ratio, so a high-density
// screen shows the thumbnail's own pixels rather than an enlarged copy. A selected item's
// thumbnail is tinted by the style, as the style's own drawing would.
class ThumbnailDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QImage image = qvariant_cast<QImage>(index.data(Qt::DecorationRole));
        if (image.isNull()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        // The style lays out and draws the ground, text and focus around an empty icon.
        const QIcon::Mode mode = !(opt.state & QStyle::State_Enabled) ? QIcon::Disabled
                                 : (opt.state & QStyle::State_Selected) ? QIcon::Selected
                                                                        : QIcon::Normal;
        opt.icon = QIcon();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        const QRect box = style->subElementRect(QStyle::SE_ItemViewItemDecoration, &opt, widget);

        QPixmap pixmap = QPixmap::fromImage(image);
        if (mode != QIcon::Normal) pixmap = style->generatedIconPixmap(mode, pixmap, &opt);
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1;
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
        if (qFuzzyCompare(image.devicePixelRatio(), ratio)) {
            // The box's corner on a whole device pixel; the image at its own device size.
            const QPointF corner(std::round(box.x() * ratio) / ratio,
                                 std::round(box.y() * ratio) / ratio);
            pixmap.setDevicePixelRatio(ratio);
            painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
            painter->drawPixmap(corner, pixmap);
        } else {
            // Made for another screen (the window has moved): fitted to the box until the next
            // build.
            painter->drawPixmap(box, pixmap);
        }
        painter->restore();
    }
};

// A view of the list that paints as an enabled one while it is disabled: the busy state blocks
// input to the list during a build, but its thumbnails keep their colours (a disabled view draws
// its icons greyed on a grey ground). A build repaints the window between files without
// processing events, so the view also marks itself for painting when rows arrive and lays them
// out before it paints (Qt's delayed layout would leave them out of those frames, or the list
// blank).
template <class View> class ThumbnailView : public View {
public:
    explicit ThumbnailView(QWidget* parent) : View(parent) {
        this->setItemDelegate(new ThumbnailDelegate(this));
        keepEnabledColours();
    }

    void setModel(QAbstractItemModel* model) override {
        View::setModel(model);
        QObject::connect(model, &QAbstractItemModel::rowsInserted, this->viewport(),
                         qOverload<>(&QWidget::update));
    }

protected:
    void initViewItemOption(QStyleOptionViewItem* option) const override {
        View::initViewItemOption(option);
        option->state |= QStyle::State_Enabled;
        option->palette.setCurrentColorGroup(this->isActiveWindow() ? QPalette::Active
                                                                    : QPalette::Inactive);
    }

    void paintEvent(QPaintEvent* event) override {
        this->executeDelayedItemsLayout();
        View::paintEvent(event);
    }

    void changeEvent(QEvent* event) override {
        View::changeEvent(event);
        if (event->type() == QEvent::PaletteChange && !adjusting_) keepEnabledColours();
    }

private:
    // The ground, text and selection colours of the disabled state are those of the enabled one.
    void keepEnabledColours() {
        adjusting_ = true;
        QPalette palette = this->palette();
        for (QPalette::ColorRole role : {QPalette::Base, QPalette::AlternateBase, QPalette::Text,
                                         QPalette::Highlight, QPalette::HighlightedText})
            palette.setBrush(QPalette::Disabled, role, palette.brush(QPalette::Active, role));
        this->setPalette(palette);
        adjusting_ = false;
    }

    bool adjusting_ = false;
};

} // namespace

ListView::ListView(QWidget* parent)
    : QWidget(parent), model_(new ListItemModel(this)),
      iconView_(new ThumbnailView<QListView>(this)),
      reportView_(new ThumbnailView<QTreeView>(this)), stack_(new QStackedLayout(this)) {
    stack_->setContentsMargins(0, 0, 0, 0);

    iconView_->setModel(model_);
    iconView_->setViewMode(QListView::IconMode);
    iconView_->setMovement(QListView::Static); // arranged automatically; drags leave the view
    iconView_->setResizeMode(QListView::Adjust);
    iconView_->setUniformItemSizes(true);
    iconView_->setLayoutMode(QListView::Batched);
    iconView_->setBatchSize(500);
    iconView_->setWordWrap(true);
    iconView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    iconView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    iconView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    iconView_->setDragEnabled(true);
    iconView_->setDragDropMode(QAbstractItemView::DragOnly);
    iconView_->setDefaultDropAction(Qt::CopyAction);

    reportView_->setModel(model_);
    reportView_->setSelectionModel(iconView_->selectionModel());
    reportView_->setRootIsDecorated(false);
    reportView_->setItemsExpandable(false);
    reportView_->setUniformRowHeights(true);
    reportView_->setAllColumnsShowFocus(true);
    reportView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    reportView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    reportView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    reportView_->setDragEnabled(true);
    reportView_->setDragDropMode(QAbstractItemView::DragOnly);
    reportView_->setSortingEnabled(false);
    QHeaderView* header = reportView_->header();
    header->setSectionsClickable(false); // a column click does nothing
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->resizeSection(ListItemModel::CaptionColumn, 160);
    header->resizeSection(ListItemModel::SizeColumn, 80);
    header->resizeSection(ListItemModel::DateColumn, 60);

    stack_->addWidget(iconView_);
    stack_->addWidget(reportView_);
    stack_->setCurrentWidget(iconView_);
    setFocusProxy(iconView_);

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(iconView_),
                                    static_cast<QAbstractItemView*>(reportView_)}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& pos) { showPopup(view, pos); });
        connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) {
            if (i.isValid()) emit itemDoubleClicked(i.row());
        });
        // Return on the current item opens it, as a double-click does.
        auto* open = new QShortcut(QKeySequence(Qt::Key_Return), view);
        auto* enter = new QShortcut(QKeySequence(Qt::Key_Enter), view);
        for (QShortcut* key : {open, enter}) {
            key->setContext(Qt::WidgetShortcut);
            connect(key, &QShortcut::activated, this, [this, view] {
                const QModelIndex current = view->currentIndex();
                if (current.isValid() && view->selectionModel()->isSelected(current))
                    emit itemDoubleClicked(current.row());
            });
        }
    }
}

ListView::~ListView() = default;

void ListView::setImageLists(ImageList* large, ImageList* small) {
    if (large_) disconnect(large_, nullptr, this, nullptr);
    if (small_) disconnect(small_, nullptr, this, nullptr);
    large_ = large;
    small_ = small;
    if (large_) connect(large_, &ImageList::changed, this, &ListView::updateIconGeometry);
    if (small_) connect(small_, &ImageList::changed, this, &ListView::updateIconGeometry);
    model_->setDecorationSource(style_ == ViewStyle::Icon ? large_.data() : small_.data());
    updateIconGeometry();
}

void ListView::updateIconGeometry() {
    if (large_) {
        const QSize icon = large_->imageSize();
        iconView_->setIconSize(icon);
        // A fixed grid keeps the layout uniform however long a caption is.
        const int lineHeight = iconView_->fontMetrics().height();
        iconView_->setGridSize(
            QSize(std::max(icon.width(), 64) + 24, icon.height() + 2 * lineHeight + 12));
    }
    if (small_) reportView_->setIconSize(small_->imageSize());
}

void ListView::showPopup(QAbstractItemView* view, const QPoint& pos) {
    if (!popupMenu_) return;
    popupMenu_->popup(view->viewport()->mapToGlobal(pos));
}

void ListView::clear() {
    model_->clear();
}

int ListView::append(const QString& caption, int imageIndex) {
    return model_->append(caption, imageIndex);
}

int ListView::count() const {
    return model_->rowCount();
}

QStringList ListView::captions() const {
    QStringList result;
    result.reserve(count());
    for (int r = 0; r < count(); ++r) result.append(caption(r));
    return result;
}

void ListView::setSubItems(int row, const QString& size, const QString& date) {
    model_->setSubItems(row, size, date);
}

int ListView::setCaption(int row, const QString& caption) {
    return model_->setCaption(row, caption);
}

void ListView::removeRows(const QList<int>& rows) {
    model_->removeRows(rows);
}

QList<int> ListView::selectedRows() const {
    QList<int> rows;
    const QItemSelection selection = iconView_->selectionModel()->selection();
    for (const QItemSelectionRange& range : selection)
        for (int r = range.top(); r <= range.bottom(); ++r) rows.append(r);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

QStringList ListView::selectedCaptions() const {
    QStringList result;
    for (int r : selectedRows()) result.append(caption(r));
    return result;
}

int ListView::selected() const {
    const QList<int> rows = selectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

bool ListView::isSelected(int row) const {
    return iconView_->selectionModel()->isRowSelected(row, {});
}

void ListView::setSelected(int row, bool selected) {
    if (row < 0 || row >= count()) return;
    iconView_->selectionModel()->select(
        model_->index(row, 0),
        (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
            QItemSelectionModel::Rows);
}

void ListView::selectAll() {
    currentView()->setFocus(Qt::OtherFocusReason);
    if (count() == 0) return;
    const QItemSelection all(model_->index(0, 0),
                             model_->index(count() - 1, ListItemModel::ColumnCount - 1));
    iconView_->selectionModel()->select(all,
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void ListView::setViewStyle(ViewStyle style) {
    if (style == style_) return;
    const bool hadFocus = currentView()->hasFocus();
    style_ = style;
    QAbstractItemView* view = currentView();
    stack_->setCurrentWidget(view);
    setFocusProxy(view);
    model_->setDecorationSource(style_ == ViewStyle::Icon ? large_.data() : small_.data());
    if (hadFocus) view->setFocus(Qt::OtherFocusReason);
}

QAbstractItemView* ListView::currentView() const {
    if (style_ == ViewStyle::Icon) return iconView_;
    return reportView_;
}

} // namespace pixmoor
