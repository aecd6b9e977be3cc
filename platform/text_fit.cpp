// Fitting fixed-position forms to their captions. The designed geometry of every control is kept
// in a property on the first fit, so each later fit starts again from the design: a caption that
// becomes shorter gives its room back.
#include "platform/text_fit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace pixmoor {

namespace {

const char* const kDesignGeometry = "pixmoorDesignGeometry";
const char* const kFitted = "pixmoorTextFitted";

QRect designGeometry(QWidget* widget) {
    const QVariant stored = widget->property(kDesignGeometry);
    if (stored.isValid()) return stored.toRect();
    widget->setProperty(kDesignGeometry, widget->geometry());
    return widget->geometry();
}

// "&OK" shows "OK", "&&" one "&".
QString withoutMnemonics(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        out.append(text[i]);
    }
    return out;
}

// A frame or group box that only holds other controls at fixed places.
bool isPlainContainer(const QWidget* widget) {
    if (widget->layout()) return false;
    const char* const name = widget->metaObject()->className();
    const bool plainClass = qstrcmp(name, "QWidget") == 0 || qstrcmp(name, "QFrame") == 0 ||
                            qstrcmp(name, "QGroupBox") == 0;
    return plainClass && !widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).isEmpty();
}

bool overlapVertically(const QRect& a, const QRect& b) {
    return a.top() <= b.bottom() && b.top() <= a.bottom();
}

struct Placed {
    QWidget* widget;
    QRect design;
    QSize grow;
    QRect placed;
};

// Places the children of container from their design and returns the size the container needs.
QSize fitChildren(QWidget* container, const QSize& designSize) {
    std::vector<Placed> items;
    for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow()) continue;
        const QRect design = designGeometry(child);
        QSize grow(0, 0);
        if (isPlainContainer(child)) {
            const QSize needed = fitChildren(child, design.size());
            grow = (needed - design.size()).expandedTo(QSize(0, 0));
        } else if (const QString caption = captionOf(child); !caption.isEmpty()) {
            const QFontMetrics metrics(child->font());
            const QSize room = captionRoom(child, design.size());
            grow = QSize(std::max(0, metrics.horizontalAdvance(caption) - room.width()),
                         std::max(0, metrics.height() - room.height()));
        }
        items.push_back({child, design, grow, {}});
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const Placed& a, const Placed& b) { return a.design.x() < b.design.x(); });

    // Left to right: a control moves along when one before it on its row has grown into it,
    // keeping the designed gap (neighbours designed to overlap by a pixel stay so). Controls
    // designed in one column (the same left edge) stay in one column.
    for (size_t first = 0; first < items.size();) {
        size_t end = first;
        int left = items[first].design.x();
        while (end < items.size() && items[end].design.x() == items[first].design.x()) {
            const Placed& item = items[end];
            for (size_t j = 0; j < first; ++j) {
                const Placed& before = items[j];
                const int designEnd = before.design.x() + before.design.width();
                if (designEnd > item.design.x() + 1 ||
                    !overlapVertically(before.design, item.design))
                    continue;
                const int gap = item.design.x() - designEnd;
                left = std::max(left, before.placed.x() + before.placed.width() + gap);
            }
            ++end;
        }
        for (size_t k = first; k < end; ++k) {
            Placed& item = items[k];
            // Taller text grows a control about its middle.
            const int top = std::max(0, item.design.y() - item.grow.height() / 2);
            item.placed = QRect(left, top, item.design.width() + item.grow.width(),
                                item.design.height() + item.grow.height());
        }
        first = end;
    }

    // A frame drawn around other controls keeps its margins around them.
    for (Placed& frame : items) {
        int designRight = -1;
        int placedRight = -1;
        int designBottom = -1;
        int placedBottom = -1;
        for (const Placed& inner : items) {
            if (&inner == &frame || !frame.design.contains(inner.design)) continue;
            designRight = std::max(designRight, inner.design.right());
            placedRight = std::max(placedRight, inner.placed.right());
            designBottom = std::max(designBottom, inner.design.bottom());
            placedBottom = std::max(placedBottom, inner.placed.bottom());
        }
        if (designRight < 0) continue;
        frame.placed.setRight(
            std::max(frame.placed.right(), frame.design.right() + placedRight - designRight));
        frame.placed.setBottom(
            std::max(frame.placed.bottom(), frame.design.bottom() + placedBottom - designBottom));
    }

    int designRight = 0;
    int placedRight = 0;
    int designBottom = 0;
    int placedBottom = 0;
    for (const Placed& item : items) {
        if (item.widget->geometry() != item.placed) item.widget->setGeometry(item.placed);
        designRight = std::max(designRight, item.design.x() + item.design.width());
        placedRight = std::max(placedRight, item.placed.x() + item.placed.width());
        designBottom = std::max(designBottom, item.design.y() + item.design.height());
        placedBottom = std::max(placedBottom, item.placed.y() + item.placed.height());
    }
    return QSize(designSize.width() + std::max(0, placedRight - designRight),
                 designSize.height() + std::max(0, placedBottom - designBottom));
}

void fitNow(QWidget* root) {
    const QSize design = designGeometry(root).size();
    QSize needed = fitChildren(root, design);
    if (!root->isWindow()) return; // its parent's layout sizes it
    if (const QScreen* screen = root->screen())
        needed = needed.boundedTo(screen->availableGeometry().size().expandedTo(design));
    const bool fixed = root->minimumSize() == root->maximumSize();
    if (fixed) {
        if (root->size() != needed) root->setFixedSize(needed);
    } else {
        root->setMinimumSize(root->minimumSize().expandedTo(needed));
    }
}

// Fits its root again when a caption, the font or the style changes under it.
class TextFitter : public QObject {
public:
    explicit TextFitter(QWidget* root) : QObject(root), root_(root) {
        watch(root);
        fit();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::LayoutRequest: // a child's size hint changed: a new caption
        case QEvent::FontChange:
        case QEvent::StyleChange:
        case QEvent::Show:
            fit();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void watch(QWidget* container) {
        container->installEventFilter(this);
        for (QWidget* child : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (!child->isWindow() && isPlainContainer(child)) watch(child);
    }

    void fit() {
        if (fitting_ || !root_) return;
        fitting_ = true;
        fitNow(root_);
        fitting_ = false;
    }

    QPointer<QWidget> root_;
    bool fitting_ = false;
};

} // namespace

QString captionOf(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        if (label->wordWrap() || !label->pixmap().isNull()) return {};
        if (label->textFormat() == Qt::RichText ||
            (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text())))
            return {};
        return label->buddy() ? withoutMnemonics(label->text()) : label->text();
    }
    if (const auto* tool = qobject_cast<const QToolButton*>(widget)) {
        if (tool->toolButtonStyle() == Qt::ToolButtonIconOnly && !tool->icon().isNull()) return {};
        return withoutMnemonics(tool->text());
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return withoutMnemonics(button->text());
    return {};
}

QSize captionRoom(const QWidget* widget, QSize size) {
    const QRect all(QPoint(0, 0), size);
    QStyle* style = widget->style();
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        // The frame and contents margins take the same room at any size.
        const QSize around = label->size() - label->contentsRect().size();
        QSize room = size - around - QSize(2 * label->margin(), 2 * label->margin());
        if (label->indent() > 0) room.rwidth() -= label->indent();
        return room.expandedTo(QSize(0, 0));
    }
    if (const auto* tool = qobject_cast<const QToolButton*>(widget)) {
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, tool);
        return all.adjusted(frame, frame, -frame, -frame).size().expandedTo(QSize(0, 0));
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.rect = all;
        option.text = button->text();
        QStyle::SubElement contents = QStyle::SE_PushButtonContents;
        if (qobject_cast<const QCheckBox*>(button)) {
            contents = QStyle::SE_CheckBoxContents;
        } else if (qobject_cast<const QRadioButton*>(button)) {
            contents = QStyle::SE_RadioButtonContents;
        } else if (const auto* push = qobject_cast<const QPushButton*>(button)) {
            if (push->autoDefault() || push->isDefault())
                option.features |= QStyleOptionButton::AutoDefaultButton;
            if (push->isDefault()) option.features |= QStyleOptionButton::DefaultButton;
        }
        return style->subElementRect(contents, &option, button).size().expandedTo(QSize(0, 0));
    }
    return size;
}

void fitTextToFont(QWidget* container) {
    if (!container || container->property(kFitted).toBool()) return;
    container->setProperty(kFitted, true);
    new TextFitter(container); // owned by the container
}

} // namespace pixmoor
