// TForm7, the metafile viewer: a Windows metafile stretched to the window's client area above a
// status bar that names the file. Modeless, reused for every view; its size is the user's.
#pragma once

#include "imaging/picture_control.h"

#include <QWidget>

class QLabel;
class QStatusBar;

class TForm7 : public QWidget {
    Q_OBJECT
public:
    explicit TForm7(QWidget* parent = nullptr);
    ~TForm7() override;

    pixmoor::TImage* Image1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr; // panel 0: the viewed file's name

    // Shows the window (centred on the screen when it was hidden) and brings it to the front.
    void showViewer();
};

extern TForm7* Form7;
