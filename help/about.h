// TAboutBox, the about box: the program's icon, its name and version, and OK.
#pragma once

#include "ui_about.h"

#include <QDialog>

class TAboutBox : public QDialog, public Ui::TAboutBox {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    // Closes the box with the OK result.
    void OKButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
};

extern TAboutBox* AboutBox;
