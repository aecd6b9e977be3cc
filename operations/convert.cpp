// Conversion: the dialog and the run over the selected files (see convert.h).
#include "operations/convert.h"

#include "imaging/TMultiP.h"
#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/file_types.h"
#include "imaging/picture_control.h"
#include "imaging/raster_image.h"
#include "operations/decode_ahead.h"
#include "operations/viewer_window.h"
#include "platform/directory_chooser.h"
#include "platform/file_name.h"
#include "platform/message_box.h"
#include "platform/text_fit.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QShowEvent>
#include <array>
#include <memory>
#include <stdexcept>

TForm6* Form6 = nullptr;

namespace {

// The write resolutions in the order of the Color items.
const std::array<pixmoor::TSaveResolution, 6> kDepths = {
    pixmoor::sAutoMatic, pixmoor::sColor16,  pixmoor::sColor256,
    pixmoor::sColorTrue, pixmoor::sColorVga, pixmoor::sMonoChrome,
};

} // namespace

TForm6::TForm6(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(283, 286);
    // Captions that need more room than designed (the desktop's font) get it.
    pixmoor::fitTextToFont(this);
    kindGroup_ = new QButtonGroup(this);
    int id = 0;
    for (QRadioButton* b : {KindBmp, KindGif, KindJpeg, KindPcx, KindPng, KindTiff})
        kindGroup_->addButton(b, id++);
    colorGroup_ = new QButtonGroup(this);
    id = 0;
    for (QRadioButton* b :
         {ColorAutomatic, Color16, Color256, ColorTrue, ColorVga, ColorMonochrome})
        colorGroup_->addButton(b, id++);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm6::BitBtn3Click);
}

TForm6::~TForm6() {
    if (Form6 == this) Form6 = nullptr;
}

int TForm6::kindIndex() const {
    return kindGroup_->checkedId();
}

void TForm6::setKindIndex(int index) {
    if (QAbstractButton* b = kindGroup_->button(index)) b->setChecked(true);
}

int TForm6::colorIndex() const {
    return colorGroup_->checkedId();
}

void TForm6::setColorIndex(int index) {
    if (QAbstractButton* b = colorGroup_->button(index)) b->setChecked(true);
}

void TForm6::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) pixmoor::centreOnScreen(this);
    QDialog::showEvent(event);
}

void TForm6::BitBtn3Click() {
    pixmoor::DirectoryChooser chooser(QDir::currentPath(), this);
    if (chooser.exec() == QDialog::Accepted) Edit1->setText(chooser.chosenDirectory());
}

namespace pixmoor {

// The Kind items are the codec's formats in the order of its table.
codec::ImageFormat conversionFormat(int kindIndex) {
    const auto formats = codec::formatTable();
    const bool known = kindIndex >= 0 && std::size_t(kindIndex) < formats.size();
    return formats[known ? std::size_t(kindIndex) : 0].format;
}

TSaveResolution conversionDepth(int colorIndex) {
    return kDepths[std::size_t(colorIndex >= 0 && colorIndex < 6 ? colorIndex : 0)];
}

QString convertedName(const QString& name, codec::ImageFormat format) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot >= 0 ? name.left(dot) : name) + QLatin1Char('.') + usualExtension(format);
}

namespace {

const QString kNoTarget =
    QStringLiteral("You Have Not Specified A Target Directory For The Converted Images");
const QString kCannotAccess = QStringLiteral("Error Cannot Access Path ");
const QString kReadError = QStringLiteral("Error Reading File ");

// One run of the command: the catalogue's directory, the target and the chosen format.
class ConversionRun {
public:
    ConversionRun(const ConversionJob& job, QString catalogueDir, QString target,
                  codec::ImageFormat format)
        : job_(job), catalogueDir_(std::move(catalogueDir)), target_(std::move(target)),
          format_(format) {
        if (drawnSide() == 0 && job_.decodeAhead && job_.selected.size() > 1) {
            try {
                encoding_ = {format_, job_.loader->writeOptions(format_)};
                ahead_ = std::make_unique<DecodeAhead>(
                    catalogueDir_, job_.selected, job_.loader->decodeBits(),
                    job_.loader->decodeDither(), encoding_);
            } catch (const std::exception&) {
                ahead_.reset(); // no thread to be had: every file is read in its turn
            }
        }
    }

    // Converts selected item k. False when the catalogue's directory cannot be entered again:
    // the run ends.
    bool convert(int k) {
        const QString& name = job_.selected[k];
        try {
            // The bytes of the picture the component holds, encoded ahead, when it holds it.
            std::optional<codec::EncodedImage> encoded;
            if (drawnSide() != 0) {
                loadDrawn(name);
            } else if (std::optional<AheadDecode> decoded = takeAhead(k)) {
                if (decoded->blocked) {
                    job_.loader->setUnreadableImage(name); // reading it here would hang
                } else {
                    job_.loader->setDecodedImage(name, decoded->result, decoded->image);
                    if (holds(decoded->image)) encoded = std::move(decoded->encoded);
                }
            } else {
                job_.loader->setImageName(name);
            }
            if (!QDir::setCurrent(target_)) throw std::runtime_error("target not reachable");
            const QString targetName = convertedName(name, format_);
            if (!ConfirmOverwrite(targetName, job_.parent)) {
                if (encoded)
                    job_.loader->saveEncoded(format_, targetName, *encoded);
                else
                    job_.loader->save(format_, targetName);
            }
        } catch (const std::exception& e) {
            // Errors of the codec are reported by the loader itself; this is anything else.
            showError(kReadError + name, job_.parent,
                      fileDetail(QDir(catalogueDir_).absoluteFilePath(name),
                                 QString::fromUtf8(e.what())));
        }
        if (QDir::setCurrent(catalogueDir_)) return true;
        showError(kCannotAccess + catalogueDir_, job_.parent);
        return false;
    }

private:
    int drawnSide() const { return job_.type ? job_.type->drawnSide : 0; }

    // File k from the workers, nothing when it is the component's to load.
    std::optional<AheadDecode> takeAhead(int k) {
        if (!ahead_) return std::nullopt;
        // Every load of a codec image file starts by emptying the picture: done before the wait,
        // so the picture before is not held beside the next ones.
        if (codecFormatOf(job_.selected[k])) job_.loader->clearPicture();
        return ahead_->take(k, job_.betweenFiles);
    }

    // Whether the component holds image as its picture, saved with the settings it was
    // encoded with: the bytes encoded ahead are then what its save would write.
    bool holds(const QImage& image) const {
        const Picture& picture = job_.loader->picture();
        return encoding_ && !image.isNull() && picture.isBitmap() &&
               picture.bitmap().cacheKey() == image.cacheKey() &&
               job_.loader->writeOptions(format_) == encoding_->options;
    }

    // A metafile or icon, which the codec library does not read: drawn into a white bitmap that
    // reaches the loader through the scratch file.
    void loadDrawn(const QString& name) {
        if (job_.scratchDir.isEmpty() || !job_.pictureControl)
            throw std::runtime_error("no scratch directory");
        const int side = drawnSide();
        const QString scratch = QDir(job_.scratchDir).absoluteFilePath(kScratchBitmap);
        // Removed on every way out, and only there: a file of that name elsewhere is not ours.
        struct RemoveScratch {
            QString path;
            ~RemoveScratch() { QFile::remove(path); }
        } removeScratch{scratch};

        QImage bitmap(side, side, QImage::Format_RGB32);
        if (bitmap.isNull()) throw std::bad_alloc();
        bitmap.fill(Qt::white);
        job_.pictureControl->loadPicture(name);
        {
            QPainter painter(&bitmap);
            job_.pictureControl->picture().draw(painter, bitmap.rect());
        }
        if (!QDir::setCurrent(job_.scratchDir))
            throw std::runtime_error("scratch directory not reachable");
        const int written =
            codec::writeBmp(pixmoor::nativePath(scratch), 24, imageToRaster(bitmap));
        if (!codec::succeeded(written)) throw std::runtime_error(codec::errorText(written));
        job_.loader->setImageName(QString::fromLatin1(kScratchBitmap));
    }

    const ConversionJob& job_;
    QString catalogueDir_;
    QString target_;
    codec::ImageFormat format_;
    std::optional<AheadEncoding> encoding_;
    std::unique_ptr<DecodeAhead> ahead_;
};

} // namespace

void convertSelected(TForm6& dialog, const ConversionJob& job) {
    if (job.selected.isEmpty() || !job.loader) return;
    const QString catalogueDir = QDir::currentPath();
    dialog.Edit1->setText(catalogueDir);
    if (dialog.exec() != QDialog::Accepted) return;
    const QString typed = dialog.Edit1->text();
    if (typed.isEmpty()) {
        showError(kNoTarget, job.parent);
        return;
    }
    // Taken against the catalogue's directory once: the working directory moves during the run.
    const QString target = QDir::cleanPath(QDir(catalogueDir).absoluteFilePath(typed));

    job.loader->setImageWriteRes(conversionDepth(dialog.colorIndex()));
    QCoreApplication::processEvents();
    if (job.enterBusy) job.enterBusy();
    // Whatever happens, the depth is the loader's default again and the window usable.
    struct EndOfRun {
        const ConversionJob& job;
        ~EndOfRun() {
            job.loader->setImageWriteRes(sAutoMatic);
            if (job.leaveBusy) job.leaveBusy();
        }
    } endOfRun{job};

    const bool reachable = QDir::setCurrent(target);
    if (!QDir::setCurrent(catalogueDir) || !reachable) {
        showError(kCannotAccess + typed, job.parent);
        return;
    }
    ConversionRun run(job, catalogueDir, target, conversionFormat(dialog.kindIndex()));
    for (int k = 0; k < int(job.selected.size()); ++k) {
        if (k > 0 && job.betweenFiles) job.betweenFiles();
        if (!run.convert(k)) break;
    }
}

} // namespace pixmoor
