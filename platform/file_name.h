// File names as the file system holds them: bytes, not text. Linux allows any bytes but '/' and
// NUL in a name, so an old Latin-1 name is not valid UTF-8, and Qt's own conversion turns such
// bytes into U+FFFD, after which the file can be neither opened nor told apart. These two
// functions convert losslessly instead: every byte that is not part of valid UTF-8 becomes the
// lone surrogate U+DC00 + byte (which valid UTF-8 never decodes to), and back.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <string>

namespace pixmoor {

// The name or path for display and for joining: valid UTF-8 decoded, other bytes escaped.
QString decodeFileName(QByteArrayView bytes);

// The bytes to give the system for a name or path made by decodeFileName (or typed text).
QByteArray encodeFileName(QStringView name);

// encodeFileName as the codec library takes paths.
std::string nativePath(QStringView name);

// The directory joined with a bare name: one "/" between them unless dir already ends in one.
QString joinPath(const QString& dir, const QString& name);

// Whether the name holds bytes that are not UTF-8 (escaped by decodeFileName).
bool hasEscapedBytes(QStringView name);

} // namespace pixmoor
