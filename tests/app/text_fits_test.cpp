// Every caption of every dialog and of the main window's panels fits its control, at the
// default font and at a desktop's larger one (11 pt DejaVu Sans), and the controls that grew to
// fit stay inside their window without running into each other.
#include "captions_fit.h"
#include "main_window_fixture.h"

#include <QApplication>

using pixmoor::test::dialogs;
using pixmoor::test::expectCaptionsFit;

namespace {

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
