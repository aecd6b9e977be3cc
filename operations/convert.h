// Conversion: the dialog TForm6 (format, colour depth, target directory) and the run that loads
// each selected catalogue file through the viewer's image loader and saves it in the new format.
#pragma once

#include "imaging/codec/format_table.h"
#include "imaging/image_loader.h"
#include "ui_convert.h"

#include <QDialog>
#include <QStringList>
#include <functional>

class QButtonGroup;

class TForm6 : public QDialog, public Ui::TForm6 {
    Q_OBJECT
public:
    explicit TForm6(QWidget* parent = nullptr);
    ~TForm6() override;

    // The item index of the two radio groups (Kind: Bmp ... Tiff; Color: Automatic ...
    // Monochrome).
    int kindIndex() const;
    void setKindIndex(int index);
    int colorIndex() const;
    void setColorIndex(int index);

    // The directory chooser, opened on the working directory; a new name typed there is created
    // after asking. The chosen directory goes into Edit1.
    void BitBtn3Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QButtonGroup* kindGroup_ = nullptr;
    QButtonGroup* colorGroup_ = nullptr;
};

extern TForm6* Form6;

namespace pixmoor {

class TImage;

// The format of a Kind item and the write resolution of a Color item (out of range: the first).
codec::ImageFormat conversionFormat(int kindIndex);
TSaveResolution conversionDepth(int colorIndex);
// The name a converted file gets: name with its extension replaced by the format's usual one.
QString convertedName(const QString& name, codec::ImageFormat format);

// The scratch file a drawn metafile or icon goes through, in the scratch directory.
inline constexpr char kScratchBitmap[] = "$.bmp";

// What one conversion command works with; the main window fills it in.
struct ConversionJob {
    QStringList selected; // captions of the selected items, in item order
    // The catalogue's type: files the codec library reads (also when null), or metafiles or
    // icons, which are drawn into a white bitmap of the type's side first.
    const CatalogueType* type = nullptr;
    ImageLoader* loader = nullptr;    // the viewer's component's loader: loads and saves
    TImage* pictureControl = nullptr; // the work form's picture control: metafiles and icons
    QString scratchDir;               // the private scratch directory
    QWidget* parent = nullptr;
    std::function<void()> enterBusy; // the main window's busy state
    std::function<void()> leaveBusy;
    // Lets the window repaint between files (user input stays queued).
    std::function<void()> betweenFiles;
    // Files the codec library reads are decoded and encoded ahead on worker threads, a few files
    // ahead of the one being saved, which is then only written; off, every file is read and
    // encoded when its turn comes. The files written and the messages shown are the same either
    // way.
    bool decodeAhead = true;
};

// The command after its selection check: the dialog opened on the working directory (the
// catalogue's), then, with OK and a target, every selected file converted in item order. The
// working directory is the catalogue's again after every file and at the end.
void convertSelected(TForm6& dialog, const ConversionJob& job);

} // namespace pixmoor
