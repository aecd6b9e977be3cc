// The about box: its layout, texts and icon, and About in the Help menu showing it modally.
#include "help/about.h"
#include "tests/app/main_window_fixture.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace {

// An icon of one flat colour, to recognise in the box.
QIcon flatIcon(QColor colour) {
    QPixmap pixmap(64, 64);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

} // namespace

TEST(AboutBox, LayoutTextsAndIcon) {
    const QIcon oldIcon = QApplication::windowIcon();
    QApplication::setWindowIcon(flatIcon(QColor(200, 30, 40)));
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), "About");
    EXPECT_EQ(box.size(), QSize(298, 213));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
    EXPECT_EQ(box.ProductName->text(), "Pixmoor");
    EXPECT_EQ(box.Version->text(), "Version 1.00");
    EXPECT_EQ(box.OKButton->text(), "OK");
    EXPECT_TRUE(box.OKButton->isDefault());
    // The panel holds the icon and both labels, framed by a lowered and a raised bevel.
    EXPECT_EQ(box.ProgramIcon->parentWidget(), box.Panel1);
    EXPECT_EQ(box.ProductName->parentWidget(), box.Panel1);
    EXPECT_EQ(box.Version->parentWidget(), box.Panel1);
    EXPECT_EQ(box.Panel1->frameShape(), QFrame::Box);
    EXPECT_EQ(box.Panel1->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(box.ProgramIcon->geometry().topLeft(), QPoint(8, 8));
    EXPECT_EQ(box.ProgramIcon->size(), QSize(65, 57));
    EXPECT_TRUE(box.ProgramIcon->hasScaledContents());
    EXPECT_LT(box.ProductName->x(), box.Version->x() + 1);
    EXPECT_GT(box.ProductName->x(), box.ProgramIcon->geometry().right());
    EXPECT_GT(box.Version->y(), box.ProductName->y());
    // OK is centred below the panel.
    EXPECT_GT(box.OKButton->y(), box.Panel1->geometry().bottom());
    EXPECT_NEAR(box.OKButton->geometry().center().x(), 298 / 2, 1);

    box.show();
    const QPixmap icon = box.ProgramIcon->pixmap();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.toImage().pixelColor(icon.width() / 2, icon.height() / 2), QColor(200, 30, 40));
    // Centred on the screen (give or take the window frame).
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_NEAR(box.geometry().center().x(), screen.center().x(), 8);
    EXPECT_NEAR(box.geometry().center().y(), screen.center().y(), 8);

    box.OKButton->click();
    EXPECT_EQ(box.result(), QDialog::Accepted);
    EXPECT_FALSE(box.isVisible());
    QApplication::setWindowIcon(oldIcon);
}

TEST_F(MainWindowTest, AboutShowsTheAboutBoxModally) {
    create();
    TAboutBox box;
    AboutBox = &box;
    bool shownModal = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        shownModal = modal == &box;
        if (modal == &box)
            box.OKButton->click();
        else if (modal)
            modal->close();
    });
    form->About1->trigger();
    AboutBox = nullptr;
    EXPECT_TRUE(shownModal);
    EXPECT_EQ(box.result(), QDialog::Accepted);
    EXPECT_TRUE(messages.empty());
}
