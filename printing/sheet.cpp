// The thumbnail sheet: cell bitmaps and the run over the catalogue.
#include "printing/sheet.h"

#include "catalogue/thumbnail_pipeline.h"
#include "catalogue/thumbnails.h"
#include "imaging/file_types.h"
#include "imaging/image_loader.h"
#include "imaging/picture_control.h"
#include "platform/message_box.h"
#include "printing/print_job.h"
#include "printing/sheet_layout.h"

#include <QDir>
#include <QFontMetrics>
#include <memory>
#include <stdexcept>

namespace pixmoor {

namespace {

// The picture the loader holds after loading path, or an error when it holds none (the
// loader has already said what went wrong with the file).
const Picture& loadWithLoader(ImageLoader& loader, const QString& path, QSize cell,
                              bool fullDecode) {
    if (fullDecode)
        loader.setImageName(path);
    else
        // Twice the cell, so the smooth downscale into the cell still has pixels to average.
        loader.loadForSize(path, cell * 2);
    const Picture& picture = loader.picture();
    if (picture.isEmpty() || picture.width() <= 0 || picture.height() <= 0)
        throw std::runtime_error("The image could not be read");
    return picture;
}

// Files the codec library does not read: drawn by the picture control.
bool drawnType(const SheetRun& run) {
    return run.type && !run.type->codec;
}

} // namespace

QImage makeCellBitmap(const QString& path, const SheetRun& run) {
    const QSize thumb = SheetLayout::thumbSize(run.thumb.width(), run.thumb.height());
    const QSize cell = SheetLayout::cellSize(thumb);
    if (!drawnType(run)) {
        if (!run.loader) throw std::runtime_error("The image component is missing");
        return drawThumbnail(loadWithLoader(*run.loader, path, cell, run.fullDecode), cell);
    }
    if (!run.pictureControl) throw std::runtime_error("The picture control is missing");
    run.pictureControl->loadPicture(path);
    if (!run.type->keepsOwnSize) return drawThumbnail(run.pictureControl->picture(), cell);
    // An icon keeps its own size: a bitmap smaller than it shows only its top-left part.
    const QImage small =
        drawThumbnail(run.pictureControl->picture(), SheetLayout::iconBitmapSize(thumb));
    return small.scaled(cell, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void printThumbnailSheet(QPrinter& printer, const SheetRun& run) {
    const QSize thumb = SheetLayout::thumbSize(run.thumb.width(), run.thumb.height());
    const QSize cell = SheetLayout::cellSize(thumb);
    PrintJob job(printer);
    QPainter& painter = job.painter();
    QFont font = painter.font();
    font.setPointSize(SheetLayout::kCaptionPoints);
    painter.setFont(font);
    const int ascent = painter.fontMetrics().ascent();

    // Codec files are decoded ahead on worker threads, straight to the cell's size; a file the
    // fast path cannot read goes through the loader, which says what is wrong with it.
    std::unique_ptr<ThumbnailPipeline> ahead;
    if (run.type && !drawnType(run) && !run.fullDecode && run.loader && !run.captions.isEmpty() &&
        ThumbnailPipeline::handles(QLatin1String(run.type->name))) {
        ThumbnailRequest request;
        request.size = cell;
        request.bits = run.loader->decodeBits();
        request.dither = run.loader->decodeDither() != 0;
        ahead =
            std::make_unique<ThumbnailPipeline>(QDir(run.directory).absolutePath(), run.captions,
                                                QLatin1String(run.type->name), request);
    }

    SheetCursor cellRect(thumb, job.pageSize());
    const int count = int(run.captions.size());
    for (int i = 0; i < count; ++i) {
        if (run.beforeItem) run.beforeItem();
        const QString& name = run.captions[i];
        QImage bitmap;
        try {
            std::optional<QImage> fast;
            if (ahead) fast = ahead->take(i);
            bitmap =
                fast ? std::move(*fast) : makeCellBitmap(QDir(run.directory).filePath(name), run);
        } catch (const std::exception& e) {
            showError(QStringLiteral("Error Creating Thumb Nail For ") + name, run.parent,
                      fileDetail(QDir(run.directory).absoluteFilePath(name),
                                 QString::fromUtf8(e.what())));
            bitmap = errorThumbnail(cell);
        }
        // The bitmap is already cell-sized: drawn one to one, the document holds no more
        // pixels than the paper shows.
        painter.drawImage(cellRect.cell(), bitmap);
        const QPoint caption = cellRect.captionPosition();
        painter.drawText(caption.x(), caption.y() + ascent, name);
        if (cellRect.advance()) job.newPage();
        if (run.progress) run.progress(progressPosition(i, count));
    }
    job.finish();
}

} // namespace pixmoor
