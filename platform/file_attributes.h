// The 16-bit attribute word of a file on Linux: read-only is the owner's write permission, hidden
// a leading dot or a bit of the "user.DOSATTRIB" extended attribute, every other bit (system,
// archive, ...) lives in that attribute in the "0x%x" text form that Samba and Wine use.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace pixmoor {

using AttributeWord = std::uint16_t;

inline constexpr AttributeWord kAttrReadOnly = 0x01;
inline constexpr AttributeWord kAttrHidden = 0x02;
inline constexpr AttributeWord kAttrSystem = 0x04;
inline constexpr AttributeWord kAttrArchive = 0x20;

// The name of the extended attribute that carries the bits.
inline constexpr char kDosAttribName[] = "user.DOSATTRIB";

// Reads the text form of user.DOSATTRIB ("0x22", also with trailing binary data after a NUL as
// Samba stores it, or plain decimal); nothing when it is not a number.
std::optional<AttributeWord> parseDosAttrib(const QByteArray& value);
// The text form written: "0x%x".
QByteArray formatDosAttrib(AttributeWord word);

// The attribute word of the entry at path itself (a symbolic link is not followed: a link reads
// as writable with no stored bits); nothing when it cannot be reached. A file system without
// user extended attributes reads those bits as 0.
std::optional<AttributeWord> readFileAttributes(const QString& path);

// Writes the word: read-only set removes every write permission, cleared gives the owner write
// permission back; the other bits go to user.DOSATTRIB, which is touched only when they change.
// The name never changes, so a dot file stays hidden. Only a regular file or a directory is
// changed, never through a symbolic link. False when any part could not be written.
bool writeFileAttributes(const QString& path, AttributeWord word);

} // namespace pixmoor
