// The image component TPMultiImage: loads pictures by file extension through the codec library
// (or the picture, for icons and metafiles), saves them in six formats, paints them with an
// aspect-preserving stretch and a text overlay, exchanges them with the clipboard and prints them.
#pragma once

#include "imaging/codec/codec.h"
#include "imaging/codec/format_table.h"
#include "imaging/codec/raster.h"
#include "imaging/image_loader.h"
#include "imaging/picture.h"
#include "imaging/scrolling_message.h"

#include <QColor>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

class QPainter;
class QPaintDevice;

namespace pixmoor {

enum TBorderStyle { bsNone, bsSingle };

// Asks before a file is overwritten. Returns true when the file must NOT be written: it exists
// and the user answered No. A missing file returns false without asking.
bool ConfirmOverwrite(const QString& FileName, QWidget* parent = nullptr);

// Puts a picture on the clipboard: a bitmap as an image, a metafile as "image/x-wmf" with a
// rendered image beside it; nothing for an empty picture. Throws std::runtime_error("Clipboard
// does not support Icons") for an icon.
void copyPictureToClipboard(const pixmoor::Picture& picture);

// Where the palette path draws a PW x PH picture in a CW x CH client with StretchRatio: x, y and
// the size w x h (ties round to even; a zero picture size gives the whole client).
QRect stretchRatioRect(int clientWidth, int clientHeight, int pictureWidth, int pictureHeight);

class TPMultiImage : public QWidget, private ImageLoader::View {
    Q_OBJECT
public:
    explicit TPMultiImage(QWidget* parent = nullptr);
    ~TPMultiImage() override;

    // The loader that loads, reads information and saves for the component; what it loads is
    // shown here.
    ImageLoader& loader() { return loader_; }
    const ImageLoader& loader() const { return loader_; }

    // Loading, information and saving, as the loader's (see image_loader.h).
    void setImageName(const QString& name) { loader_.setImageName(name); }
    QString ImageName() { return loader_.ImageName(); }
    const QString& storedImageName() const { return loader_.storedImageName(); }
    const QString& LoadStatus() const { return loader_.LoadStatus(); }
    bool ReadImageInfo(const QString& FileName) { return loader_.ReadImageInfo(FileName); }
    const pixmoor::ImageInfo& imageInfo() const { return loader_.imageInfo(); }
    void loadForSize(const QString& name, QSize target) { loader_.loadForSize(name, target); }
    static int decodeImageFile(codec::ImageFormat format, const std::string& file, int bits,
                               int dither, codec::Raster& out) {
        return ImageLoader::decodeImageFile(format, file, bits, dither, out);
    }
    void setDecodedImage(const QString& name, int result, codec::Raster&& raster) {
        loader_.setDecodedImage(name, result, std::move(raster));
    }
    void setUnreadableImage(const QString& name) { loader_.setUnreadableImage(name); }
    void save(codec::ImageFormat format, const QString& FileName) {
        loader_.save(format, FileName);
    }
    void SaveAsBMP(const QString& FileName);
    void SaveAsPNG(const QString& FileName);
    void SaveAsJPG(const QString& FileName);
    void SaveAsGIF(const QString& FileName);
    void SaveAsTIF(const QString& FileName);
    void SaveAsPCX(const QString& FileName);

    // The picture. The setter takes a copy; all changes run the picture-changed step.
    const pixmoor::Picture& Picture() const { return picture_; }
    void setPicture(const pixmoor::Picture& picture);
    void setPicture(pixmoor::Picture&& picture);
    void setBitmap(const QImage& image);
    void ClearImage();

    // Clipboard (also by the keys Shift+Insert, Ctrl+Insert, Shift+Delete, Ctrl+C/V/X).
    // CopyToClipboard throws std::runtime_error("Clipboard does not support Icons") for an icon.
    void CopyToClipboard();
    void CutToClipboard();
    void PasteFromClipboard();

    // Scanning through the scanner library (platform/scanner.h): ScanImage acquires one image
    // into the picture, with the scanner's dialogs over ParentWindow; a failure or a cancel is
    // reported ("Scanning Image Failed") and leaves the picture empty. SelectScanner lets the
    // user choose the source; false when none was chosen (an error box says why, unless the
    // user simply closed the list). A call while another scan or selection runs is refused.
    void ScanImage(QWidget* ParentWindow);
    bool SelectScanner(QWidget* ParentWindow);

    // Prints the picture as one document on the process printer, in printer pixels. A Width or
    // Height below 1 means the picture's own. Throws std::runtime_error when printing fails.
    void PrintImage(int Left, int Top, int Width, int Height);

    // Scrolling messages: start one, and take one step message (WM_USER+1 horizontal,
    // WM_USER+2 vertical). Start failures throw MessageFormatError.
    static constexpr int kHorizontalStepMessage = 1025;
    static constexpr int kVerticalStepMessage = 1026;
    void ShowMessageFile(const QString& FileName);
    void ShowMessageList(const QString& FileName);
    void stepMessage(int message);
    const ScrollingMessage& scrollingMessage() const { return message_; }

    // The palette the control would have realised: empty with CodecPalette, else the bitmap's.
    QList<QRgb> GetPalette() const;

    // Properties.
    bool AutoSize() const { return autoSize_; }
    void setAutoSize(bool on);
    bool Center() const { return center_; }
    void setCenter(bool on);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void setBorderStyle(TBorderStyle style);
    QColor Color() const { return color_; }
    void setColor(const QColor& colour);
    QColor FontColor() const;
    void setFontColor(const QColor& colour);
    const QString& DefSaveFilename() const { return loader_.DefSaveFilename(); }
    void setDefSaveFilename(const QString& name) { loader_.setDefSaveFilename(name); }
    bool CodecPalette() const { return codecPalette_; }
    void setCodecPalette(bool on) { codecPalette_ = on; }
    bool ImageDither() const { return loader_.ImageDither(); }
    void setImageDither(bool on) { loader_.setImageDither(on); }
    TLoadResolution ImageReadRes() const { return loader_.ImageReadRes(); }
    void setImageReadRes(TLoadResolution res) { loader_.setImageReadRes(res); }
    TSaveResolution ImageWriteRes() const { return loader_.ImageWriteRes(); }
    void setImageWriteRes(TSaveResolution res) { loader_.setImageWriteRes(res); }
    TTiffCompression TifSaveCompress() const { return loader_.TifSaveCompress(); }
    void setTifSaveCompress(TTiffCompression c) { loader_.setTifSaveCompress(c); }
    int JPegSaveQuality() const { return loader_.JPegSaveQuality(); }
    void setJPegSaveQuality(int quality) { loader_.setJPegSaveQuality(quality); }
    int JPegSaveSmooth() const { return loader_.JPegSaveSmooth(); }
    void setJPegSaveSmooth(int smooth) { loader_.setJPegSaveSmooth(smooth); }
    bool PNGInterLaced() const { return loader_.PNGInterLaced(); }
    void setPNGInterLaced(bool on) { loader_.setPNGInterLaced(on); }
    bool Stretch() const { return stretch_; }
    void setStretch(bool on);
    bool StretchRatio() const { return stretchRatio_; }
    void setStretchRatio(bool on);
    const QString& Text() const { return text_; }
    void setText(const QString& text);
    bool TextShadow() const { return textShadow_; }
    void setTextShadow(bool on);
    QColor TextShadowColor() const { return textShadowColor_; }
    void setTextShadowColor(const QColor& colour) { textShadowColor_ = colour; }
    int TextLeft() const { return textLeft_; }
    void setTextLeft(int left);
    int TextTop() const { return textTop_; }
    void setTextTop(int top);
    int TextRotate() const { return textRotate_; }
    void setTextRotate(int degrees);
    bool TextTransParent() const { return textTransparent_; }
    void setTextTransParent(bool on);
    bool UseTwainWindow() const { return useTwainWindow_; }
    void setUseTwainWindow(bool on) { useTwainWindow_ = on; }

    // Called at the end of every paint, with the painter of the control's client area.
    std::function<void(TPMultiImage& sender, QPainter& canvas)> OnPaint;

    // The depth of the screen the control lives on, as DeviceColorBits reports it.
    int displayBits() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // What the loader tells the component it shows.
    void endMessages() override { endMessageModes(true); }
    void showMessage(const QString& FileName, bool list) override;
    void pictureChanged() override;
    void paintFramework(QPainter& painter, const QRect& client);
    void paintPalette(QPainter& painter, const QRect& client);
    void paintText(QPainter& painter);
    void endMessageModes(bool restoreColour);
    void runKeyCommand(void (TPMultiImage::*command)());

    ImageLoader loader_{this};
    pixmoor::Picture& picture_ = loader_.picture(); // the loader's, shown here
    bool autoSize_ = false;
    bool center_ = false;
    TBorderStyle borderStyle_ = bsNone;
    QColor color_;
    bool codecPalette_ = true;
    bool stretch_ = false;
    bool stretchRatio_ = false;
    QString text_;
    bool textShadow_ = false;
    QColor textShadowColor_ = Qt::black;
    int textLeft_ = 0;
    int textTop_ = 0;
    int textRotate_ = 0;
    bool textTransparent_ = true;
    bool useTwainWindow_ = true;

    QPixmap paintCache_; // the bitmap converted for the screen, made at the first paint
    ScrollingMessage message_;
    QColor colourBeforeMessage_;
};

} // namespace pixmoor
