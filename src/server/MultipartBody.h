#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <cstdint>
#include <filesystem>

namespace parlo {

// Audio files from 33 bytes up to 90 MiB are accepted for upload.
inline constexpr std::int64_t kMinimumUploadSize = 33;
inline constexpr std::int64_t kMaximumUploadSize = 94'371'840;
// The body file is assembled with this copy buffer, so a recording never sits in memory whole.
inline constexpr qint64 kUploadCopyChunk = 1'048'576;
// Titles are sent cut to this many user-perceived characters.
inline constexpr int kUploadTitleLimit = 160;

// "Parlo" followed by 32 upper-case hexadecimal digits of a fresh random UUID.
QString makeMultipartBoundary();

// The first `limit` user-perceived characters (grapheme clusters) of `text`: an emoji with its
// modifiers or a letter with combining marks counts as one and is never split.
QString leadingGraphemes(const QString& text, int limit);

// "recording." plus the lower-cased extension of `file` when the service knows it, else "recording.m4a".
QString uploadFileName(const std::filesystem::path& file);

struct MultipartFields {
    QString title;    // cut to kUploadTitleLimit here
    QString clientID; // canonical upper-case UUID text
    QString fileName; // from uploadFileName
};

// Everything of the body that precedes the file's bytes: the four text fields in order, then the
// header of the file part.
QByteArray multipartHead(const QByteArray& boundary, const MultipartFields& fields);
// What follows the file's bytes.
QByteArray multipartTail(const QByteArray& boundary);

// Writes the whole body to `out`: the head (each text field as one write), the source copied in
// kUploadCopyChunk pieces until a read returns nothing, and the tail. Throws PlatformError on any
// read or write failure.
void writeMultipartBody(QIODevice& out, const QByteArray& boundary, const MultipartFields& fields,
                        QIODevice& source);

} // namespace parlo
