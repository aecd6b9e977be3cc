// What every test of captions relies on: whether each captioned control of a window shows its
// whole caption inside its parent without running into its neighbours, and the program's dialogs.
#pragma once

#include "catalogue/Unit2.h"
#include "files/copy.h"
#include "files/drive.h"
#include "files/prop.h"
#include "files/rename.h"
#include "help/about.h"
#include "operations/convert.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pixmoor::test {

inline QString shownText(const QWidget* w) {
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        if (!label->pixmap().isNull() || label->wordWrap()) return {};
        text = label->text();
    } else if (const auto* tool = qobject_cast<const QToolButton*>(w)) {
        if (tool->toolButtonStyle() == Qt::ToolButtonIconOnly && !tool->icon().isNull()) return {};
        text = tool->text();
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        text = button->text();
    }
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(u'&');
    text.replace(u'\x01', u'&');
    return text;
}

// The width the text has in its control: a label's contents, a check box or radio button beside
// its indicator, a button inside its frame.
inline int textRoom(const QWidget* w) {
    const QStyle* style = w->style();
    if (qobject_cast<const QLabel*>(w)) return w->contentsRect().width();
    if (qobject_cast<const QCheckBox*>(w))
        return w->width() - style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) -
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
    if (qobject_cast<const QRadioButton*>(w))
        return w->width() - style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) -
               style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
    return w->width() - 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
}

// Checks every captioned control under root; returns how many there were.
inline int expectCaptionsFit(QWidget* root, const std::string& what) {
    int checked = 0;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const QString text = shownText(w);
        if (text.isEmpty() || w->isWindow()) continue;
        ++checked;
        SCOPED_TRACE(what + " " + w->objectName().toStdString() + " \"" + text.toStdString() +
                     "\"");
        const QFontMetrics metrics(w->font());
        EXPECT_LE(metrics.horizontalAdvance(text), textRoom(w));
        EXPECT_LE(metrics.height(), w->contentsRect().height());
        // Inside its parent, which shows it whole.
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()))
            << w->geometry().x() << "," << w->geometry().y() << " " << w->width() << "x"
            << w->height() << " in " << w->parentWidget()->width() << "x"
            << w->parentWidget()->height();
        // Not over another captioned control (neighbours designed to share a pixel may).
        for (QWidget* other :
             w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other == w || shownText(other).isEmpty()) continue;
            const QRect both = w->geometry().intersected(other->geometry());
            EXPECT_TRUE(both.isEmpty() || both.width() <= 1)
                << "overlaps " << other->objectName().toStdString();
        }
    }
    return checked;
}

using DialogMaker = std::function<std::unique_ptr<QWidget>()>;

inline std::vector<std::pair<std::string, DialogMaker>> dialogs() {
    return {
        {"thumb size", [] { return std::make_unique<TForm2>(); }},
        {"rename", [] { return std::make_unique<TForm4>(); }},
        {"copy", [] { return std::make_unique<TForm5>(); }},
        {"convert", [] { return std::make_unique<TForm6>(); }},
        {"properties", [] { return std::make_unique<TForm8>(); }},
        {"drive", [] { return std::make_unique<TOKBottomDlg1>(); }},
        {"about", [] { return std::make_unique<TAboutBox>(); }},
    };
}

} // namespace pixmoor::test
