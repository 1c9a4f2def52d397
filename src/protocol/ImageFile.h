#pragma once
// Reading an image file for the data field of an IMAGE_DATA message.
#include <QByteArray>
#include <QString>

namespace velmora {

enum class ImageFileStatus { Ok, NoFileName, CannotOpen, TooLarge };

struct ImageFile {
    ImageFileStatus status = ImageFileStatus::NoFileName;
    QByteArray bytes; // the whole file when status is Ok, else empty
};

// Never reads more than kMaxImageBytes + 1 bytes, whatever the file holds.
// Anything but a regular file (a FIFO would block, a device may never end)
// counts as a file that cannot be opened.
ImageFile LoadImageFile(const QString &fileName);

// The warning the operator gets for a refused image; empty for Ok and
// NoFileName, which show nothing. The caller picks the caption.
QString ImageRefusalText(ImageFileStatus status, const QString &fileName);

} // namespace velmora
