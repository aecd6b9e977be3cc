// TOKBottomDlg, the image viewer: one modeless window, reused for every view, that shows a picture
// at one screen pixel per image pixel with the file name in its caption and status bar.
#pragma once

#include "imaging/TMultiP.h"

#include <QWidget>

class QLabel;
class QScrollArea;
class QStatusBar;

class TOKBottomDlg : public QWidget {
    Q_OBJECT
public:
    explicit TOKBottomDlg(QWidget* parent = nullptr);
    ~TOKBottomDlg() override;

    pixmoor::TPMultiImage* PMultiImage1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr;   // panel 0: the viewed file's name
    QScrollArea* ScrollBox = nullptr; // the client area above the status bar; scrolls when needed

    // Fits the window to its picture: the client area takes the picture plus the status bar, at
    // most the screen's available area (scroll bars then show the rest).
    void FormActivate();

    // Shows the window (centred on the screen when it was hidden), brings it to the front and fits
    // it.
    void showViewer();

protected:
    bool event(QEvent* e) override;
};

extern TOKBottomDlg* OKBottomDlg;
