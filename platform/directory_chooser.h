// The directory chooser of the copy and move target and of the conversion's output folder.
#pragma once

#include <QFileDialog>
#include <QString>

namespace pixmoor {

// The toolkit's directory chooser, letting the user type the name of a directory that does not
// exist yet: it is confirmed with "The specified directory does not exist. Create it?" and
// created with its parents.
class DirectoryChooser : public QFileDialog {
    Q_OBJECT
public:
    DirectoryChooser(const QString& start, QWidget* parent = nullptr);
    // The chosen directory, absolute.
    QString chosenDirectory() const;

public slots:
    void accept() override;
};

} // namespace pixmoor
