// Every caption of every dialog and of the main window's panels fits its control, at the
// default font and at a desktop's larger one (11 pt DejaVu Sans), and the controls that grew to
// fit stay inside their window without running into each other.
#include "catalogue/Unit2.h"
#include "files/copy.h"
#include "files/drive.h"
#include "files/prop.h"
#include "files/rename.h"
#include "help/about.h"
#include "main_window_fixture.h"
#include "operations/convert.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <functional>
#include <memory>

namespace {

QString shownText(const QWidget* w) {
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
int textRoom(const QWidget* w) {
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
int expectCaptionsFit(QWidget* root, const std::string& what) {
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

std::vector<std::pair<std::string, DialogMaker>> dialogs() {
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

// Sets the application font for the life of the object.
class AppFont {
public:
    explicit AppFont(const QFont& font) : old_(QApplication::font()) {
        QApplication::setFont(font);
    }
    ~AppFont() { QApplication::setFont(old_); }

private:
    QFont old_;
};

} // namespace

TEST_F(MainWindowTest, EveryDialogCaptionFitsAtTheDefaultAndALargerFont) {
    for (const QFont& font : {QApplication::font(), QFont(QStringLiteral("DejaVu Sans"), 11)}) {
        const AppFont use(font);
        const std::string at =
            font.family().toStdString() + " " + std::to_string(font.pointSize()) + " pt";
        for (const auto& [name, make] : dialogs()) {
            std::unique_ptr<QWidget> dialog = make();
            dialog->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
            EXPECT_GT(expectCaptionsFit(dialog.get(), name + " at " + at), 0) << name;
            dialog->hide();
        }
    }
}

TEST_F(MainWindowTest, TheThumbSizeLabelsFitAndKeepTheirDesignWhereTheyFit) {
    {
        // Where the captions fit, nothing moves.
        const AppFont small(QFont(QStringLiteral("DejaVu Sans"), 6));
        TForm2 dialog;
        EXPECT_EQ(dialog.Label1->geometry(), QRect(32, 27, 78, 17));
        EXPECT_EQ(dialog.Edit1->geometry(), QRect(112, 24, 49, 23));
        EXPECT_EQ(dialog.okbutton->geometry(), QRect(200, 24, 75, 25));
        EXPECT_EQ(dialog.size(), QSize(310, 118));
    }
    const AppFont large(QFont(QStringLiteral("DejaVu Sans"), 11));
    TForm2 dialog;
    const QFontMetrics metrics(dialog.Label2->font());
    ASSERT_GT(metrics.horizontalAdvance(QStringLiteral("Thumb Height")), 78);
    EXPECT_GE(dialog.Label2->width(), metrics.horizontalAdvance(QStringLiteral("Thumb Height")));
    // The fields keep their distance to the labels, the buttons to the fields, the frame its
    // margin, and the fixed dialog grows to hold them.
    EXPECT_EQ(dialog.Edit2->x() - (dialog.Label2->x() + dialog.Label2->width()), 2);
    EXPECT_EQ(dialog.Edit1->x(), dialog.Edit2->x()); // still one column
    EXPECT_EQ(dialog.okbutton->x() - (dialog.Edit1->x() + dialog.Edit1->width()), 39);
    EXPECT_EQ(dialog.Edit1->width(), 49);
    EXPECT_EQ(dialog.Bevel1->x() + dialog.Bevel1->width(),
              dialog.okbutton->x() + dialog.okbutton->width() + 24);
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(dialog.width(), dialog.Bevel1->x() + dialog.Bevel1->width() + 11);
}

TEST_F(MainWindowTest, TheFileCountAndTypeButtonsFitAndTheProgressBarMovesAlong) {
    for (const QFont& font : {QApplication::font(), QFont(QStringLiteral("DejaVu Sans"), 11)}) {
        const AppFont use(font);
        TForm1* w = create();
        showAndActivate();
        for (const char* count : {"0 Files", "168 Files", "100000 Files"}) {
            w->Label1->setText(QString::fromLatin1(count));
            QCoreApplication::processEvents(); // the panel fits its captions again
            const std::string at = std::string(count) + " at " + font.family().toStdString() + " " +
                                   std::to_string(font.pointSize());
            SCOPED_TRACE(at);
            expectCaptionsFit(w->Panel1, at);
            EXPECT_GE(w->ProgressBar1->x(), w->Label1->x() + w->Label1->width());
            EXPECT_EQ(w->Label1->x(), w->WmfButton->x() + w->WmfButton->width() + 15);
        }
        // A short count gives the room back.
        w->Label1->setText(QStringLiteral("1 File"));
        QCoreApplication::processEvents();
        EXPECT_EQ(w->ProgressBar1->x(), std::max(472, w->Label1->x() + w->Label1->width()));
        destroyWindows();
    }
}

TEST_F(MainWindowTest, EveryHintFitsTheStatusPanel) {
    for (const QFont& font : {QApplication::font(), QFont(QStringLiteral("DejaVu Sans"), 11)}) {
        const AppFont use(font);
        TForm1* w = create();
        showAndActivate();
        QStringList hints;
        for (const QAction* a : w->findChildren<QAction*>()) hints.append(a->statusTip());
        for (const QWidget* c : w->findChildren<QWidget*>()) hints.append(c->statusTip());
        for (const QString& hint : hints) {
            if (hint.isEmpty()) continue;
            w->ShowHint(hint);
            QCoreApplication::processEvents();
            SCOPED_TRACE(hint.toStdString() + " at " + std::to_string(font.pointSize()) + " pt");
            EXPECT_LE(QFontMetrics(w->StatusPanel0->font()).horizontalAdvance(w->statusText()),
                      w->StatusPanel0->contentsRect().width());
        }
        destroyWindows();
    }
}
