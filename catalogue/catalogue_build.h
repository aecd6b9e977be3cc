// The catalogue build's body: every file of the browsed type gets its list item and thumbnail,
// in the listing's order, with the progress bar moving, Stop read and messages processed every
// 20 files. The main window owns the widgets, the busy state and the guard against nested
// builds, and hands in what the build fills.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QProgressBar;
class QWidget;
class TForm3;

namespace pixmoor {

struct CatalogueType;
class ImageList;
class ListView;
class ThumbnailPipeline;

struct CatalogueTarget {
    ListView* list = nullptr;
    // The image list of the current view: its device size is the size thumbnails are made at.
    ImageList* images = nullptr;
    QProgressBar* progress = nullptr; // shown by the caller, moved here
    TForm3* workForm = nullptr;       // the hidden work form that loads what the pipeline cannot
    QWidget* messageParent = nullptr; // parent of the build's own message boxes
    QString directory;                // absolute, the browsed directory
    const CatalogueType* type = nullptr; // the browsed catalogue type
    bool fastThumbnails = true;       // decode ahead on worker threads where the type allows
    std::function<bool()> closing;    // the window was closed during the build
    std::function<void()> becomeBusy; // called before the first file of a non-empty listing
    // Told the pipeline decoding ahead while the build runs (null when it ends), so that a close
    // can stop its workers at once.
    std::function<void(ThumbnailPipeline*)> pipelineRunning;
};

// Lists the directory and fills target, file by file. Returns the number of files listed (also
// when Stop ended the build early).
int buildCatalogue(const CatalogueTarget& target);

// The thumbnail of one image file (any type but icons): from the pipeline when it has one,
// else loaded by the work form's image component (which reports what is wrong with the file),
// or drawn from the work form's picture control for metafiles. A file whose read the pipeline
// gave up as blocked is reported by the component as unreadable without being read again. A file
// that raises gets the error thumbnail.
// remakable (when given) tells whether the pipeline made it, so that the pipeline's remaker can
// make it again.
QImage catalogueThumbnail(const CatalogueTarget& target, ThumbnailPipeline* pipeline, int k,
                          const QString& name, bool* remakable = nullptr);

// Appends the icon's thumbnail to the target's image list; an icon that cannot be read gets a
// marked placeholder and the message "Unable To Create Thumb For " + name.
void appendIconThumbnail(const CatalogueTarget& target, const QString& name);

} // namespace pixmoor
