// The about box of the program's windows: it names the program and its version, fits its text,
// shows the program's icon, centres on the screen and is shown modally by About.
#include "help/about.h"
#include "tests/app/main_window_fixture.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QScreen>
#include <QTimer>

TEST_F(MainWindowTest, TheAboutBoxShowsNameVersionAndIconFittedToItsText) {
    create();
    TAboutBox* box = AboutBox;
    ASSERT_NE(box, nullptr);
    QPixmap flat(64, 64);
    flat.fill(QColor(200, 30, 40));
    const QIcon oldIcon = QApplication::windowIcon();
    QApplication::setWindowIcon(QIcon(flat));

    bool shownModal = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        shownModal = modal == box;
        if (modal != box) {
            if (modal) modal->close();
            return;
        }
        EXPECT_EQ(box->windowTitle(), "About");
        EXPECT_EQ(box->ProductName->text(), "Pixmoor");
        EXPECT_EQ(box->Version->text(), "Version 1.00");
        EXPECT_TRUE(box->OKButton->isDefault());
        // Every caption fits its label, and every control lies inside the box.
        for (const QLabel* label : box->findChildren<QLabel*>()) {
            if (label->text().isEmpty()) continue;
            SCOPED_TRACE(label->text().toStdString());
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()),
                      label->contentsRect().width());
        }
        for (const QWidget* w : box->findChildren<QWidget*>()) {
            if (!w->isVisible()) continue;
            const QRect inBox(w->mapTo(box, QPoint(0, 0)), w->size());
            EXPECT_TRUE(box->rect().contains(inBox)) << w->objectName().toStdString();
        }
        // The program's icon, and the box centred on the screen (give or take the frame).
        const QImage icon = box->ProgramIcon->pixmap().toImage();
        ASSERT_FALSE(icon.isNull());
        EXPECT_EQ(icon.pixelColor(icon.width() / 2, icon.height() / 2), QColor(200, 30, 40));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        EXPECT_NEAR(box->geometry().center().x(), screen.center().x(), 8);
        EXPECT_NEAR(box->geometry().center().y(), screen.center().y(), 8);
        box->OKButton->click();
    });
    form->About1->trigger();
    QApplication::setWindowIcon(oldIcon);
    EXPECT_TRUE(shownModal);
    EXPECT_EQ(box->result(), QDialog::Accepted);
    EXPECT_FALSE(box->isVisible());
    EXPECT_TRUE(messages.empty());
}
