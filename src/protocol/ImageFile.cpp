#include "protocol/ImageFile.h"

#include "protocol/Codec.h"

#include <QFile>
#include <QFileInfo>

namespace velmora {

ImageFile LoadImageFile(const QString &fileName)
{
    if (fileName.isEmpty())
        return {ImageFileStatus::NoFileName, {}};
    if (!QFileInfo(fileName).isFile())
        return {ImageFileStatus::CannotOpen, {}};
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {ImageFileStatus::CannotOpen, {}};
    if (file.size() > kMaxImageBytes)
        return {ImageFileStatus::TooLarge, {}};
    // The file may have grown since the size was taken: read one byte past the
    // limit so that a grown file is still refused, never truncated.
    QByteArray bytes = file.read(kMaxImageBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return {ImageFileStatus::CannotOpen, {}};
    if (bytes.size() > kMaxImageBytes)
        return {ImageFileStatus::TooLarge, {}};
    return {ImageFileStatus::Ok, bytes};
}

QString ImageRefusalText(ImageFileStatus status, const QString &fileName)
{
    switch (status) {
    case ImageFileStatus::CannotOpen:
        return QStringLiteral("Could not open file = ") + fileName + QStringLiteral(", image not sent !.");
    case ImageFileStatus::TooLarge:
        return QStringLiteral("image file to large, maximum permited size is = ") + QString::number(kMaxImageBytes)
               + QStringLiteral(", image not sent !.");
    case ImageFileStatus::Ok:
    case ImageFileStatus::NoFileName:
        break;
    }
    return {};
}

} // namespace velmora
