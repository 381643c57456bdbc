// The remembered session in a real Secret Service (gnome-keyring in a private D-Bus session, see
// scripts/test-keyring) and the failure when no secret store can be reached.

#include "support/LoopbackService.h"

#include "platform/PlatformParts.h"
#include "server/SessionVault.h"

#include <QElapsedTimer>

namespace parlo::test {
namespace {

using namespace std::chrono_literals;

const QString kStoreFailed = QStringLiteral("Не удалось сохранить сессию в хранилище паролей.");

SessionVault& vault() {
    static SessionVault vault(platform::desktopSecretStore());
    return vault;
}

std::optional<QString> stored() {
    return runTask(vault().load());
}

class SecretStore : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "no D-Bus session bus: run through scripts/test-keyring";
        runTask(vault().save(std::nullopt), 30s);
    }
    void TearDown() override {
        if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            runTask(vault().save(std::nullopt), 30s);
    }
};

TEST_F(SecretStore, SavingReplacesTheItemAndNothingDeletesIt) {
    EXPECT_EQ(stored(), std::nullopt);
    runTask(vault().save(QStringLiteral("first-token")));
    EXPECT_EQ(stored(), QStringLiteral("first-token"));
    runTask(vault().save(QStringLiteral("второй-token")));
    EXPECT_EQ(stored(), QStringLiteral("второй-token"));
    runTask(vault().save(std::nullopt));
    EXPECT_EQ(stored(), std::nullopt);
    runTask(vault().save(std::nullopt)); // deleting what is not there is fine
}

TEST_F(SecretStore, AnItemThatIsNotUtf8ReadsAsNoSession) {
    const auto failure = runTask(
        platform::desktopSecretStore()->write(QStringLiteral("com.fernwick.parlo.session"),
                                              QStringLiteral("personal"), QByteArray("\xff\xfe\x80", 3)));
    ASSERT_EQ(failure, std::nullopt);
    EXPECT_EQ(stored(), std::nullopt);
}

TEST_F(SecretStore, ARememberingClientKeepsItsSessionAcrossRunsAndForgetsItOnEverySignOut) {
    ScopedDataDir data;
    LoopbackService loopback;
    {
        auto client = loopback.client(true);
        runTask(client->login(QStringLiteral("parlo-dev-key")));
        ASSERT_TRUE(client->hasToken());
        EXPECT_EQ(stored(), client->token());
    }
    {
        // The next run starts signed in without a login.
        auto client = loopback.client(true);
        EXPECT_TRUE(runTask(client->checkSession()));
        EXPECT_TRUE(client->hasToken());

        loopback.service.injectFault("GET", QStringLiteral("/api/meetings"),
                                     dev::Fault::withStatus(401, "{}"));
        EXPECT_EQ(failureOf(client->list()), QStringLiteral("Войдите в личный кабинет."));
        EXPECT_FALSE(client->hasToken());
        EXPECT_EQ(stored(), std::nullopt);

        runTask(client->login(QStringLiteral("parlo-dev-key")));
        EXPECT_TRUE(stored().has_value());
        loopback.service.injectFault("GET", QStringLiteral("/api/session"),
                                     dev::Fault::withStatus(200, R"({"authenticated":false})"));
        EXPECT_FALSE(runTask(client->checkSession()));
        EXPECT_EQ(stored(), std::nullopt);

        runTask(client->login(QStringLiteral("parlo-dev-key")));
        EXPECT_TRUE(stored().has_value());
        runTask(client->logout());
        EXPECT_EQ(stored(), std::nullopt);
    }
    {
        auto client = loopback.client(true);
        EXPECT_FALSE(runTask(client->checkSession()));
        // A client that does not remember neither reads nor writes the store.
        runTask(vault().save(QStringLiteral("someone-else")));
        auto forgetful = loopback.client(false);
        EXPECT_FALSE(runTask(forgetful->checkSession()));
        runTask(forgetful->login(QStringLiteral("parlo-dev-key")));
        runTask(forgetful->logout());
        EXPECT_EQ(stored(), QStringLiteral("someone-else"));
    }
}

TEST_F(SecretStore, OperationsStartedTogetherAllWaitForTheOneRestore) {
    ScopedDataDir data;
    LoopbackService loopback;
    {
        auto first = loopback.client(true);
        runTask(first->login(QStringLiteral("parlo-dev-key")));
    }
    loopback.service.clearRequests();
    auto client = loopback.client(true);
    int restored = 0;
    QObject::connect(client.get(), &ServerClient::sessionRestored, client.get(), [&restored] { ++restored; });
    // Both start before the store has answered; the second waits for the first one's read.
    QCoro::Task<bool> check = client->checkSession();
    QCoro::Task<std::vector<ServerMeeting>> list = client->list();
    EXPECT_TRUE(runTask(std::move(check)));
    EXPECT_NO_THROW(runTask(std::move(list)));
    EXPECT_EQ(restored, 1);
    EXPECT_EQ(loopback.service.requests().size(), 2);
    for (const dev::RecordedRequest& request : loopback.service.requests())
        EXPECT_TRUE(request.hasHeader("cookie")) << request.path.toStdString();
}

// Run with DBUS_SESSION_BUS_ADDRESS pointing nowhere and PARLO_EXPECT_NO_SECRET_STORE=1.
class SecretStoreUnreachable : public ::testing::Test {
protected:
    void SetUp() override {
        if (qgetenv("PARLO_EXPECT_NO_SECRET_STORE") != "1")
            GTEST_SKIP() << "only meaningful without a reachable secret store";
    }
};

TEST_F(SecretStoreUnreachable, SavingFailsPromptlyWithTheStoreMessageAndLoadingFindsNothing) {
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(failureOf(vault().save(QStringLiteral("token")), 30s), kStoreFailed);
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_NO_THROW(runTask(vault().save(std::nullopt), 30s)); // deletion failures are ignored
}

TEST_F(SecretStoreUnreachable, LoginStillHoldsTheTokenForThisRun) {
    ScopedDataDir data;
    LoopbackService loopback;
    auto client = loopback.client(true);
    EXPECT_EQ(failureOf(client->login(QStringLiteral("parlo-dev-key")), 30s), kStoreFailed);
    ASSERT_TRUE(client->hasToken());
    EXPECT_TRUE(loopback.service.hasSession(*client->token()));
    EXPECT_NO_THROW(runTask(client->list()));
}

} // namespace
} // namespace parlo::test
