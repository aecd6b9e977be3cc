// Makes catalogue thumbnails again, on worker threads, after the image list dropped them to bound
// its memory: from the shared thumbnail cache when it holds the file, else from the file.
#pragma once

#include "catalogue/image_list.h"
#include "catalogue/thumbnail_pipeline.h"

#include <QStringList>
#include <memory>

namespace pixmoor {

class ThumbnailCache;

class ThumbnailRemaker : public ImageSource {
public:
    // paths: absolute, by image index; request as the build made the thumbnails.
    ThumbnailRemaker(QStringList paths, const ThumbnailRequest& request,
                     std::shared_ptr<const ThumbnailCache> cache);
    // Answers nothing more. Workers still making a thumbnail finish it on their own (a read that
    // never returns keeps its worker, not the window) and drop it.
    ~ThumbnailRemaker() override;

    // The most recent requests are made first: they are what the view shows now.
    void request(ImageList& list, int k) override;

    // Worker threads at most.
    static constexpr int kWorkers = 2;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace pixmoor
