// The catalogue build's body (see catalogue_build.h).
#include "catalogue/catalogue_build.h"

#include "catalogue/enumeration.h"
#include "catalogue/image.h"
#include "catalogue/image_list.h"
#include "catalogue/list_view.h"
#include "catalogue/thumbnail_cache.h"
#include "catalogue/thumbnail_pipeline.h"
#include "catalogue/thumbnails.h"
#include "imaging/file_types.h"
#include "imaging/picture.h"
#include "platform/globals.h"
#include "platform/message_box.h"

#include <QCoreApplication>
#include <QDir>
#include <QProgressBar>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace pixmoor {

namespace {

// The worker threads that decode ahead, for the types they read, at the depth and dither the
// work form's loader would use.
std::unique_ptr<ThumbnailPipeline> startPipeline(const CatalogueTarget& target,
                                                 const QStringList& names) {
    if (!target.fastThumbnails || !target.workForm || names.isEmpty() || target.type->pictureControl ||
        !ThumbnailPipeline::handles(QLatin1String(target.type->name)))
        return nullptr;
    const ImageLoader& loader = target.workForm->PMultiImage1->loader();
    ThumbnailRequest request;
    request.size = target.images->deviceSize();
    request.bits = loader.decodeBits();
    request.dither = loader.decodeDither() != 0;
    // Repeat visits (and every rebuild of an unchanged folder) read the shared cache.
    request.useCache = ThumbnailCache::enabled();
    return std::make_unique<ThumbnailPipeline>(target.directory, names,
                                               QLatin1String(target.type->name), request);
}

bool closing(const CatalogueTarget& target) {
    return target.closing && target.closing();
}

} // namespace

QImage catalogueThumbnail(const CatalogueTarget& target, ThumbnailPipeline* pipeline, int k,
                          const QString& name, bool* remakable) {
    if (remakable) *remakable = false;
    const QSize size = target.images->deviceSize();
    try {
        TForm3* work = target.workForm;
        if (!work) throw std::runtime_error("The work form is missing");
        if (target.type->pictureControl) {
            work->Image1->loadPicture(name);
            return drawThumbnail(work->Image1->picture(), size);
        }
        std::optional<QImage> fast;
        if (pipeline) fast = pipeline->take(k);
        if (fast) {
            if (remakable) *remakable = true;
            return stretchToThumbnail(*fast, size);
        }
        // The window is closing: the build ends after this file, so it is not read.
        if (closing(target)) return drawThumbnail(Picture(), size);
        // A read that never returned: reading the file again here would block the window. It
        // is reported as a file that cannot be read, and not recorded as failed, since the
        // mount may answer again later.
        ImageLoader& loader = work->PMultiImage1->loader();
        if (pipeline && pipeline->blocked(k)) {
            loader.setUnreadableImage(name);
            return drawThumbnail(loader.picture(), size);
        }
        // The loader reports what is wrong with the file itself; the thumbnail shows whatever
        // its picture holds afterwards. A JPEG is decoded at the smallest DCT scale that still
        // covers twice the thumbnail, so the downscale stays smooth.
        loader.loadForSize(name, size * 2);
        // Neither road could read the file: the cache records it, so later visits leave it to
        // the loader at once (which still says what is wrong).
        if (pipeline && loader.picture().isEmpty()) pipeline->noteUnreadable(k);
        return drawThumbnail(loader.picture(), size);
    } catch (const std::exception&) {
        return errorThumbnail(size, target.images->devicePixelRatio());
    }
}

void appendIconThumbnail(const CatalogueTarget& target, const QString& name) {
    ImageList* images = target.images;
    try {
        const QSize size = images->deviceSize();
        const Icon icon = Icon::fromFile(name, std::max(size.width(), size.height()));
        images->appendWithAlpha(icon.scaled(size.width(), size.height()));
    } catch (const std::exception& e) {
        // The item still gets an image of its own, so every later item keeps its thumbnail.
        images->appendWithAlpha(failedIconThumbnail(images->deviceSize()));
        showError(
            QStringLiteral("Unable To Create Thumb For ") + name, target.messageParent,
            fileDetail(QDir(target.directory).absoluteFilePath(name), QString::fromUtf8(e.what())));
    }
}

int buildCatalogue(const CatalogueTarget& target) {
    if (closing(target)) return 0;
    const QStringList names = enumerateImageFiles(target.directory, QLatin1String(target.type->name));
    if (!names.isEmpty() && target.becomeBusy) target.becomeBusy();
    const std::unique_ptr<ThumbnailPipeline> pipeline = startPipeline(target, names);
    struct Announce { // the pipeline is announced for the life of the loop, whatever ends it
        const CatalogueTarget& target;
        explicit Announce(const CatalogueTarget& t, ThumbnailPipeline* p) : target(t) {
            if (target.pipelineRunning) target.pipelineRunning(p);
        }
        ~Announce() {
            if (target.pipelineRunning) target.pipelineRunning(nullptr);
        }
    } announce(target, pipeline.get());
    // A large folder keeps about what the view shows: thumbnails far from view are dropped and
    // made again by the pipeline's remaker when they are next shown.
    if (pipeline && target.images->count() == 0) target.images->setSource(pipeline->remaker());
    const bool icons = target.type->iconLists;
    const int count = int(names.size());
    int counted = 0;
    for (int k = 0; k < count && !closing(target); ++k) {
        if (icons)
            appendIconThumbnail(target, names[k]);
        else {
            bool remakable = false;
            const QImage thumbnail = catalogueThumbnail(target, pipeline.get(), k, names[k], &remakable);
            target.images->append(thumbnail, remakable && target.images->count() == k);
        }
        target.list->append(names[k], k);
        const int position = k > 0 ? progressPosition(k, count) : 0;
        // Repainting flushes every pending paint of the window (the list's new rows among them),
        // so the bar is repainted only when its position moves.
        if (k == 0 || position != target.progress->value()) {
            target.progress->setValue(position);
            target.progress->repaint();
        }
        if (++counted == 20) {
            QCoreApplication::processEvents();
            counted = 0;
        }
        if (StopRequested) {
            StopRequested = false;
            break;
        }
    }
    return count;
}

} // namespace pixmoor
