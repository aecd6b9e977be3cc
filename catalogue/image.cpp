// The hidden work form: its two loaders with their design settings.
#include "catalogue/image.h"

#include "platform/globals.h"

TForm3* Form3 = nullptr;

TForm3::TForm3(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Form3"));
    setAttribute(Qt::WA_DontShowOnScreen); // a work area only; never shown

    PMultiImage1 = new pixmoor::TPMultiImage(this);
    PMultiImage1->setObjectName(QStringLiteral("PMultiImage1"));
    PMultiImage1->setColor(palette().color(QPalette::Button));
    PMultiImage1->setImageDither(true);
    PMultiImage1->setImageReadRes(pixmoor::lAutoMatic);
    PMultiImage1->setImageWriteRes(pixmoor::sAutoMatic);
    PMultiImage1->setTifSaveCompress(pixmoor::sNONE);
    PMultiImage1->setJPegSaveQuality(25);
    PMultiImage1->setJPegSaveSmooth(0);
    PMultiImage1->setStretch(true);
    PMultiImage1->setImageName(QStringLiteral("file not found"));

    Image1 = new pixmoor::TImage(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setStretch(true);

    FormCreate();
}

void TForm3::FormCreate() {
    PMultiImage1->resize(ThumbWidth, ThumbHeight);
}

TForm3::~TForm3() {
    if (Form3 == this) Form3 = nullptr;
}
