// TForm3, the hidden work form of the catalogue: the image component that loads every thumbnail
// source and the picture control that loads metafiles. It is created at start and never shown.
#pragma once

#include "imaging/TMultiP.h"
#include "imaging/picture_control.h"

#include <QWidget>

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    pixmoor::TPMultiImage* PMultiImage1 = nullptr;
    pixmoor::TImage* Image1 = nullptr;

    // Sizes PMultiImage1 to ThumbWidth x ThumbHeight.
    void FormCreate();
};

extern TForm3* Form3;
