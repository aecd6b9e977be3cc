// One print document on a printer: begun when made, ended by finish(), and aborted (the job
// cancelled, nothing sent) when it goes out of scope unfinished, as when drawing raised an error.
#pragma once

#include <QPainter>

class QPrinter;

namespace pixmoor {

class PrintJob {
public:
    // Begins the document; throws std::runtime_error when the printer cannot start it.
    explicit PrintJob(QPrinter& printer);
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    QPainter& painter() { return painter_; }
    // Page size in device pixels: the printable area.
    QSize pageSize() const;
    // Throws std::runtime_error when the printer refuses the page.
    void newPage();
    // Ends the document; throws std::runtime_error when it could not be completed.
    void finish();

private:
    QPrinter& printer_;
    QPainter painter_;
    bool open_ = false;
};

} // namespace pixmoor
