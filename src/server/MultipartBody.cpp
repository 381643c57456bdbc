#include "server/MultipartBody.h"

#include "core/ParloError.h"

#include <QTextBoundaryFinder>
#include <QUuid>

#include <algorithm>
#include <array>
#include <vector>

namespace parlo {

namespace {

constexpr char kCrlf[] = "\r\n";

QByteArray textField(const QByteArray& boundary, const char* name, const QString& value) {
    QByteArray field;
    field += "--" + boundary + kCrlf;
    field += QByteArray("Content-Disposition: form-data; name=\"") + name + '"' + kCrlf;
    field += kCrlf;
    field += value.toUtf8() + kCrlf;
    return field;
}

QByteArray filePartHeader(const QByteArray& boundary, const QString& fileName) {
    QByteArray header;
    header += "--" + boundary + kCrlf;
    header += "Content-Disposition: form-data; name=\"file\"; filename=\"" + fileName.toUtf8() + '"' + kCrlf;
    header += QByteArray("Content-Type: application/octet-stream") + kCrlf;
    header += kCrlf;
    return header;
}

bool isRegionalIndicator(const QString& text, qsizetype at) {
    if (at + 1 >= text.size() || !text.at(at).isHighSurrogate() || !text.at(at + 1).isLowSurrogate())
        return false;
    const char32_t code = QChar::surrogateToUcs4(text.at(at), text.at(at + 1));
    return code >= 0x1F1E6 && code <= 0x1F1FF;
}

// Grapheme boundaries (end positions) of `text`. Qt 6.4 loses count of regional indicators (flag
// letters) after an emoji sequence and pairs them wrongly (a family emoji followed by a flag splits
// the flag), so inside every run of them the boundaries are redone: one after each pair.
std::vector<qsizetype> graphemeEnds(const QString& text) {
    std::vector<qsizetype> ends;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    while (finder.toNextBoundary() >= 0)
        ends.push_back(finder.position());
    for (qsizetype at = 0; at < text.size();) {
        if (!isRegionalIndicator(text, at)) {
            ++at;
            continue;
        }
        const qsizetype start = at;
        while (isRegionalIndicator(text, at))
            at += 2;
        std::erase_if(ends, [&](qsizetype end) { return end > start && end < at; });
        for (qsizetype pair = start + 4; pair < at; pair += 4)
            ends.push_back(pair);
    }
    std::sort(ends.begin(), ends.end());
    return ends;
}

void writeAll(QIODevice& out, const QByteArray& bytes) {
    if (out.write(bytes) != bytes.size())
        throw PlatformError(out.errorString());
}

} // namespace

QString makeMultipartBoundary() {
    return QStringLiteral("Parlo") + QUuid::createUuid().toString(QUuid::Id128).toUpper();
}

QString leadingGraphemes(const QString& text, int limit) {
    const std::vector<qsizetype> ends = graphemeEnds(text);
    if (limit <= 0)
        return {};
    if (ends.size() <= static_cast<std::size_t>(limit))
        return text;
    return text.left(ends[static_cast<std::size_t>(limit) - 1]);
}

QString uploadFileName(const std::filesystem::path& file) {
    static const std::array<QString, 9> known = {
        QStringLiteral("wav"),  QStringLiteral("mp3"),  QStringLiteral("mp4"),
        QStringLiteral("m4a"),  QStringLiteral("webm"), QStringLiteral("ogg"),
        QStringLiteral("flac"), QStringLiteral("mov"),  QStringLiteral("aac")};
    QString extension = QString::fromStdU16String(file.extension().u16string());
    if (extension.startsWith(QLatin1Char('.')))
        extension.remove(0, 1);
    extension = extension.toLower();
    for (const QString& candidate : known) {
        if (candidate == extension)
            return QStringLiteral("recording.") + extension;
    }
    return QStringLiteral("recording.m4a");
}

QByteArray multipartHead(const QByteArray& boundary, const MultipartFields& fields) {
    QByteArray head;
    head += textField(boundary, "title", leadingGraphemes(fields.title, kUploadTitleLimit));
    head += textField(boundary, "language", QStringLiteral("ru"));
    head += textField(boundary, "speakers", QStringLiteral("0"));
    head += textField(boundary, "client_id", fields.clientID);
    head += filePartHeader(boundary, fields.fileName);
    return head;
}

QByteArray multipartTail(const QByteArray& boundary) {
    return kCrlf + ("--" + boundary + "--") + kCrlf;
}

void writeMultipartBody(QIODevice& out, const QByteArray& boundary, const MultipartFields& fields,
                        QIODevice& source) {
    writeAll(out, textField(boundary, "title", leadingGraphemes(fields.title, kUploadTitleLimit)));
    writeAll(out, textField(boundary, "language", QStringLiteral("ru")));
    writeAll(out, textField(boundary, "speakers", QStringLiteral("0")));
    writeAll(out, textField(boundary, "client_id", fields.clientID));
    writeAll(out, filePartHeader(boundary, fields.fileName));

    std::vector<char> buffer(static_cast<std::size_t>(kUploadCopyChunk));
    for (;;) {
        const qint64 read = source.read(buffer.data(), kUploadCopyChunk);
        if (read < 0)
            throw PlatformError(source.errorString());
        if (read == 0)
            break;
        if (out.write(buffer.data(), read) != read)
            throw PlatformError(out.errorString());
    }
    writeAll(out, multipartTail(boundary));
}

} // namespace parlo
