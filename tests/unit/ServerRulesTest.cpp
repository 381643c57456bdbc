// The client's pure rules: identifiers, redirects, cookies, access files and the base URL.

#include "core/ParloError.h"
#include "server/ServerClient.h"
#include "server/ServiceEndpoint.h"

#include <gtest/gtest.h>

namespace parlo {
namespace {

TEST(ServerRules, MeetingIdentifiersAreExactly32HexDigits) {
    EXPECT_NO_THROW(ServerClient::validateID(QStringLiteral("0123456789abcdef0123456789ABCDEF")));
    EXPECT_NO_THROW(ServerClient::validateID(QString(32, QLatin1Char('f'))));
    for (const QString& id : {QString(31, QLatin1Char('a')), QString(33, QLatin1Char('a')), QString(),
                              QStringLiteral("0123456789abcdef0123456789abcdeg"),
                              QStringLiteral("0123456789abcdef-123456789abcdef"),
                              QStringLiteral("０123456789abcdef0123456789abcdef")}) {
        try {
            ServerClient::validateID(id);
            ADD_FAILURE() << id.toStdString();
        } catch (const ParloError& error) {
            EXPECT_EQ(error.message(), QStringLiteral("Некорректный номер записи."));
        }
    }
}

TEST(ServerRules, RedirectsStayOnTheServiceSchemeHostAndPort) {
    const SameOriginRedirect standard(QUrl(QStringLiteral("https://parlo.example")));
    EXPECT_TRUE(standard.allows(QUrl(QStringLiteral("https://parlo.example/api/meetings"))));
    EXPECT_TRUE(standard.allows(QUrl(QStringLiteral("https://parlo.example:443/api/meetings"))));
    EXPECT_TRUE(
        standard.allows(QUrl(QStringLiteral("https://PARLO.example/x")))); // host names are case-folded
    EXPECT_FALSE(standard.allows(QUrl(QStringLiteral("https://parlo.example:8443/api"))));
    EXPECT_FALSE(standard.allows(QUrl(QStringLiteral("http://parlo.example/api"))));
    EXPECT_FALSE(standard.allows(QUrl(QStringLiteral("https://evil.example/api"))));
    EXPECT_FALSE(standard.allows(QUrl(QStringLiteral("https://parlo.example.evil.example/api"))));
    EXPECT_FALSE(standard.allows(QUrl(QStringLiteral("wss://parlo.example/api"))));
    EXPECT_FALSE(standard.allows(QUrl()));

    // A service on its own port (the development service) allows only that port.
    const SameOriginRedirect local(QUrl(QStringLiteral("https://127.0.0.1:40123")));
    EXPECT_TRUE(local.allows(QUrl(QStringLiteral("https://127.0.0.1:40123/api/session"))));
    EXPECT_FALSE(local.allows(QUrl(QStringLiteral("https://127.0.0.1/api/session"))));
    EXPECT_FALSE(local.allows(QUrl(QStringLiteral("https://127.0.0.1:443/api/session"))));
    EXPECT_FALSE(local.allows(QUrl(QStringLiteral("https://localhost:40123/api/session"))));
}

TEST(ServerRules, TheSessionCookieIsPickedFromAmongOthers) {
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    EXPECT_EQ(sessionCookie(Headers{{"Set-Cookie", "theme=dark; Path=/"},
                                    {"set-cookie", "__Host-parlo=abc123; Path=/; Secure; HttpOnly"},
                                    {"Set-Cookie", "__Host-parlo=second; Path=/"}}),
              QStringLiteral("abc123"));
    // Fields folded into one with line feeds, as some stacks report them.
    EXPECT_EQ(sessionCookie(Headers{{"Set-Cookie", "a=1; Path=/\n__Host-parlo=folded; Secure"}}),
              QStringLiteral("folded"));
    EXPECT_EQ(
        sessionCookie(Headers{{"Set-Cookie", "__host-parlo=case; Secure"}, {"Cookie", "__Host-parlo=x"}}),
        std::nullopt);
    EXPECT_EQ(sessionCookie(Headers{{"X-Set-Cookie", "__Host-parlo=x"}}), std::nullopt);
    // Only a value that can go back into a header as it is counts as a session.
    for (const QByteArray& value :
         {QByteArray(""), QByteArray("сессия"), QByteArray("a\x01b"), QByteArray(4097, 'a')})
        EXPECT_EQ(sessionCookie(Headers{{"Set-Cookie", "__Host-parlo=" + value + "; Secure"}}), std::nullopt)
            << value.toStdString();
    EXPECT_TRUE(isSessionToken(QString(4096, QLatin1Char('a'))));
    EXPECT_FALSE(isSessionToken(QStringLiteral("a b")));
}

TEST(ServerRules, TheAccessKeyComesFromTheFirstPasswordLine) {
    EXPECT_EQ(accessKeyFromText(QStringLiteral("Mello Parlo\nЛогин: me\nПароль:   k3y-42  \n")),
              QStringLiteral("k3y-42"));
    EXPECT_EQ(accessKeyFromText(QStringLiteral("Пароль: first\r\nПароль: second\r\n")),
              QStringLiteral("first"));
    EXPECT_EQ(accessKeyFromText(QStringLiteral("\n\n\nПароль: \tspaced\t\n")), QStringLiteral("spaced"));
    EXPECT_EQ(accessKeyFromText(QStringLiteral("пароль: lower\n")), std::nullopt);
    EXPECT_EQ(accessKeyFromText(QStringLiteral("Ключ — Пароль: middle\n")), std::nullopt);
    EXPECT_EQ(accessKeyFromText(QStringLiteral("Пароль:nospace\n")), std::nullopt);
    EXPECT_EQ(accessKeyFromText(QString()), std::nullopt);
}

TEST(ServerRules, AccessFilesMustBeSmallUtf8Text) {
    EXPECT_EQ(accessKeyFromFile(QStringLiteral("Пароль: key\n").toUtf8()), QStringLiteral("key"));
    QByteArray padded = QStringLiteral("Пароль: key\n").toUtf8();
    padded += QByteArray(8191 - padded.size(), ' ');
    EXPECT_EQ(accessKeyFromFile(padded), QStringLiteral("key"));
    EXPECT_EQ(accessKeyFromFile(padded + ' '), std::nullopt);                                  // 8192 bytes
    EXPECT_EQ(accessKeyFromFile(QByteArray("\xcf\xe0\xf0\xee\xeb\xfc: key\n")), std::nullopt); // Windows-1251
    EXPECT_EQ(accessKeyFromFile(QStringLiteral("Пароль: key\n").toUtf8() + "\xff"), std::nullopt);
}

TEST(ServerRules, TheBaseUrlComesFromTheEnvironmentOrTheBuild) {
    const QByteArray previous = qgetenv("MELLO_PARLO_SERVICE_URL");
    qputenv("MELLO_PARLO_SERVICE_URL", "https://parlo.example:9443/some/path/");
    EXPECT_EQ(serviceBaseUrl(), QUrl(QStringLiteral("https://parlo.example:9443")));
    EXPECT_EQ(originOf(serviceBaseUrl()), QStringLiteral("https://parlo.example:9443"));
    qputenv("MELLO_PARLO_SERVICE_URL", "");
    EXPECT_EQ(serviceBaseUrl(), QUrl(QStringLiteral(MELLO_PARLO_SERVICE_URL_DEFAULT)));
    EXPECT_EQ(originOf(QUrl(QStringLiteral("https://parlo.example"))),
              QStringLiteral("https://parlo.example"));
    if (previous.isNull())
        qunsetenv("MELLO_PARLO_SERVICE_URL");
    else
        qputenv("MELLO_PARLO_SERVICE_URL", previous);
}

TEST(ServerRules, RequestsResolveThePathOnTheBaseWithTheCommonHeaders) {
    ServerClientOptions options;
    options.base = QUrl(QStringLiteral("https://parlo.example"));
    ServerClient client(false, options);
    const QNetworkRequest request = client.request(QStringLiteral("/api/meetings/abc/export/md"));
    EXPECT_EQ(request.url(), QUrl(QStringLiteral("https://parlo.example/api/meetings/abc/export/md")));
    EXPECT_EQ(request.rawHeaderList(), (QList<QByteArray>{"X-Parlo-Action", "Origin"}));
    EXPECT_EQ(request.rawHeader("Origin"), "https://parlo.example");
    EXPECT_EQ(request.transferTimeout(), 60000);
}

} // namespace
} // namespace parlo
