// ListView: the catalogue's thumbnail list. One item model is shown either as an icon view
// (large thumbnails) or as a report view (rows with "File Name", "Size" and "Date"); items are
// kept ordered by caption (locale-aware) while sorting is on, else in insertion order.
#pragma once

#include <QAbstractTableModel>
#include <QCollator>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <vector>

class QListView;
class QTreeView;
class QStackedLayout;
class QAbstractItemView;
class QItemSelectionModel;

namespace pixmoor {

class ImageList;

// One list item: the bare file name, the index of its thumbnail in the image list of the view,
// and the Size and Date sub-items shown in report view.
struct ListItem {
    QString caption;
    int imageIndex = -1;
    QString size;
    QString date;
};

// The model behind both views. Rows are in list order; each row refers to an item kept in
// insertion order, so appending to a sorted list is one binary search and one insertion.
class ListItemModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { CaptionColumn = 0, SizeColumn = 1, DateColumn = 2, ColumnCount = 3 };
    // MIME type of dragged items: the captions, one per line (UTF-8).
    static QString captionsMimeType() { return QStringLiteral("application/x-pixmoor-captions"); }

    explicit ListItemModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;

    void clear();
    int append(const QString& caption, int imageIndex); // returns the new item's row
    const ListItem& item(int row) const { return items_[size_t(order_[size_t(row)])]; }
    void setSubItems(int row, const QString& size, const QString& date);
    // Changes a caption; a sorted list moves the item to its new place. Returns the new row.
    int setCaption(int row, const QString& caption);
    void removeRows(QList<int> rows);

    void setSorted(bool sorted);
    bool isSorted() const { return sorted_; }

    // The image list whose image k decorates the item with image index k.
    void setDecorationSource(ImageList* images);

private:
    bool lessThan(int a, int b) const; // by item id
    int insertPosition(int id) const;
    void reorder();
    void decorationsChanged();

    std::vector<ListItem> items_; // by id (insertion order); removed items stay as holes
    std::vector<int> order_;      // rows -> ids
    bool sorted_ = true;
    QCollator collator_;
    QPointer<ImageList> decorations_;
    bool restorePending_ = false;
};

class ListView : public QWidget {
    Q_OBJECT
public:
    enum class ViewStyle { Icon, Report };

    explicit ListView(QWidget* parent = nullptr);
    ~ListView() override;

    // The large (icon view) and small (report view) image lists; not owned.
    void setImageLists(ImageList* large, ImageList* small);
    void setPopupMenu(QMenu* menu) { popupMenu_ = menu; }

    void clear();
    int append(const QString& caption, int imageIndex);
    int count() const;
    const ListItem& item(int row) const { return model_->item(row); }
    QString caption(int row) const { return item(row).caption; }
    QStringList captions() const; // in list order
    void setSubItems(int row, const QString& size, const QString& date);
    int setCaption(int row, const QString& caption);
    void removeRows(const QList<int>& rows);

    // Selection, always in list order.
    QList<int> selectedRows() const;
    QStringList selectedCaptions() const;
    int selected() const; // the first selected row, -1 when none
    bool isSelected(int row) const;
    void setSelected(int row, bool selected);
    // Gives the list the input focus, then selects every item, first to last.
    void selectAll();

    void setViewStyle(ViewStyle style);
    ViewStyle viewStyle() const { return style_; }
    void setSorted(bool sorted) { model_->setSorted(sorted); }
    bool isSorted() const { return model_->isSorted(); }

    QListView* iconView() const { return iconView_; }
    QTreeView* reportView() const { return reportView_; }
    QAbstractItemView* currentView() const;
    ListItemModel* model() const { return model_; }

signals:
    // A double-click on an item, or Return on the selected current item.
    void itemDoubleClicked(int row);

private:
    void updateIconGeometry();
    void showPopup(QAbstractItemView* view, const QPoint& pos);

    ListItemModel* model_;
    QListView* iconView_;
    QTreeView* reportView_;
    QStackedLayout* stack_;
    QPointer<ImageList> large_;
    QPointer<ImageList> small_;
    QPointer<QMenu> popupMenu_;
    ViewStyle style_ = ViewStyle::Icon;
};

} // namespace pixmoor
