// The upload body byte for byte, title cutting and the upload file name.

#include "server/MultipartBody.h"
#include "core/ParloError.h"

#include <QBuffer>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace parlo {
namespace {

TEST(MultipartBody, IsWrittenByteForByte) {
    QByteArray audio("\x00\x01\r\n--ParloFAKE\xff", 16);
    QBuffer source(&audio);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray body;
    QBuffer out(&body);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    const QByteArray boundary = "Parlo0123456789ABCDEF0123456789ABCDEF";
    writeMultipartBody(out, boundary,
                       {QStringLiteral("Встреча \"Q3\""),
                        QStringLiteral("5B0D3C2E-8F1A-4C6B-9D7E-0A1B2C3D4E5F"),
                        QStringLiteral("recording.wav")},
                       source);

    const QByteArray expected =
        QByteArray("--Parlo0123456789ABCDEF0123456789ABCDEF\r\n"
                   "Content-Disposition: form-data; name=\"title\"\r\n"
                   "\r\n") +
        QStringLiteral("Встреча \"Q3\"").toUtf8() +
        "\r\n"
        "--Parlo0123456789ABCDEF0123456789ABCDEF\r\n"
        "Content-Disposition: form-data; name=\"language\"\r\n"
        "\r\n"
        "ru\r\n"
        "--Parlo0123456789ABCDEF0123456789ABCDEF\r\n"
        "Content-Disposition: form-data; name=\"speakers\"\r\n"
        "\r\n"
        "0\r\n"
        "--Parlo0123456789ABCDEF0123456789ABCDEF\r\n"
        "Content-Disposition: form-data; name=\"client_id\"\r\n"
        "\r\n"
        "5B0D3C2E-8F1A-4C6B-9D7E-0A1B2C3D4E5F\r\n"
        "--Parlo0123456789ABCDEF0123456789ABCDEF\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"recording.wav\"\r\n"
        "Content-Type: application/octet-stream\r\n"
        "\r\n" +
        audio +
        "\r\n"
        "--Parlo0123456789ABCDEF0123456789ABCDEF--\r\n";
    EXPECT_EQ(body.toStdString(), expected.toStdString());
}

TEST(MultipartBody, CopiesLargeSourcesExactlyAcrossChunkBoundaries) {
    for (qint64 size :
         {kUploadCopyChunk - 1, kUploadCopyChunk, kUploadCopyChunk + 1, 3 * kUploadCopyChunk + 5}) {
        QByteArray audio(size, Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i)
            audio[i] = static_cast<char>(i * 31 % 256);
        QBuffer source(&audio);
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        QByteArray body;
        QBuffer out(&body);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        const MultipartFields fields{QStringLiteral("t"), QStringLiteral("ID"),
                                     QStringLiteral("recording.m4a")};
        writeMultipartBody(out, "B", fields, source);
        EXPECT_TRUE(body == multipartHead("B", fields) + audio + multipartTail("B")) << size;
    }
}

TEST(MultipartBody, AFailingWriteIsAPlatformError) {
    QByteArray audio(100, 'a');
    QBuffer source(&audio);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QBuffer closed; // never opened: every write fails
    EXPECT_THROW(writeMultipartBody(closed, "B", {}, source), PlatformError);
}

TEST(MultipartBody, BoundariesArePrefixedFreshUpperCaseHex) {
    const QString first = makeMultipartBoundary();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Parlo[0-9A-F]{32}$")).match(first).hasMatch())
        << first.toStdString();
    EXPECT_NE(first, makeMultipartBoundary());
}

TEST(MultipartBody, TitlesAreCutToUserPerceivedCharacters) {
    EXPECT_EQ(leadingGraphemes(QStringLiteral("Короткое"), 160), QStringLiteral("Короткое"));
    EXPECT_EQ(leadingGraphemes(QString(200, QLatin1Char('x')), 160), QString(160, QLatin1Char('x')));
    // A family emoji (joined by zero-width joiners), a flag and a letter with a combining accent.
    const QString family = QStringLiteral("👨‍👩‍👧‍👦");
    const QString flag = QStringLiteral("🇫🇷");
    const QString accented = QStringLiteral("e\u0301");
    EXPECT_EQ(leadingGraphemes(family + flag + accented + QStringLiteral("z"), 3), family + flag + accented);
    EXPECT_EQ(leadingGraphemes(accented + accented, 1), accented);
    const QString flags = QStringLiteral("🇩🇪🇮🇹🇯🇵");
    EXPECT_EQ(leadingGraphemes(family + flags + QStringLiteral("z"), 3), family + flags.left(8));
    EXPECT_EQ(leadingGraphemes(flags, 2), flags.left(8));
    QString many;
    for (int i = 0; i < 200; ++i)
        many += family;
    const QString cut = leadingGraphemes(many, 160);
    EXPECT_EQ(cut.size(), 160 * family.size());
    EXPECT_EQ(leadingGraphemes(QString(), 160), QString());
}

TEST(MultipartBody, UploadFileNamesKeepOnlyKnownExtensionsInLowerCase) {
    EXPECT_EQ(uploadFileName("/x/Meeting.WAV"), QStringLiteral("recording.wav"));
    EXPECT_EQ(uploadFileName("/x/conversation.m4a"), QStringLiteral("recording.m4a"));
    EXPECT_EQ(uploadFileName("/x/call.Flac"), QStringLiteral("recording.flac"));
    EXPECT_EQ(uploadFileName("/x/song.aiff"), QStringLiteral("recording.m4a"));
    EXPECT_EQ(uploadFileName("/x/noextension"), QStringLiteral("recording.m4a"));
    EXPECT_EQ(uploadFileName("/x/archive.tar.ogg"), QStringLiteral("recording.ogg"));
    EXPECT_EQ(uploadFileName("/x/.webm"), QStringLiteral("recording.m4a")); // a hidden file has no extension
}

} // namespace
} // namespace parlo
