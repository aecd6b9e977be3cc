// TForm8, the properties dialog: name, directory and size of the first selected file, and its
// read-only, archive, system and hidden attributes, written back when they change.
#pragma once

#include "platform/file_attributes.h"
#include "ui_prop.h"

#include <QDialog>

class TForm8 : public QDialog, public Ui::TForm8 {
    Q_OBJECT
public:
    explicit TForm8(QWidget* parent = nullptr);
    ~TForm8() override;

    // Shows the properties of dir/caption (dir is the directory the tree shows) and writes the
    // attributes back on OK when they changed. A file that has gone is reported instead.
    void showProperties(const QString& caption, const QString& dir);

    // The boxes for a word, and the word the boxes make from old (other bits kept).
    void setBoxes(pixmoor::AttributeWord word);
    pixmoor::AttributeWord wordFromBoxes(pixmoor::AttributeWord old) const;
};

extern TForm8* Form8;
