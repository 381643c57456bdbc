// The model's session, export and deletion operations against the loopback service.
#include "ModelServiceFixture.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace parlo;
using parlo::test::waitUntil;

using ModelServiceTest = test::ModelServiceFixture;

TEST_F(ModelServiceTest, LogoutKeepsTheLibraryAndStopsTheTraffic) {
    auto model = makeModel();
    logIn(*model);
    test::runTask(model->logout());
    EXPECT_FALSE(model->connected());
    EXPECT_EQ(
        model->message(),
        QStringLiteral("Сессия завершена. Новые записи останутся на этом компьютере до следующего входа."));
    const auto count = loopback.service.requests().size();
    for (int i = 0; i < 30; ++i) {
        clock->advance(1);
        test::runTask(model->tick());
    }
    EXPECT_EQ(loopback.service.requests().size(), count);
}

TEST_F(ModelServiceTest, AccessFileImportLogsIn) {
    auto model = makeModel();
    const auto file = dataDir.path() / "access.txt";
    std::ofstream(file) << "Личный доступ Mello Parlo\r\nПароль:   parlo-dev-key  \r\n";
    model->importAccessFileAt(QString::fromStdString(file.string()));
    ASSERT_TRUE(waitUntil([&] { return model->connected() && !model->loggingIn(); }));

    std::ofstream(file) << "пароль: parlo-dev-key\n";
    model->importAccessFileAt(QString::fromStdString(file.string()));
    EXPECT_EQ(model->message(), QStringLiteral("В файле не найден ключ Mello Parlo."));
}

TEST_F(ModelServiceTest, ExportWritesTheChosenFileWhole) {
    LocalStore::save({capture("Запись", 100)});
    QString proposed;
    const auto target = dataDir.path() / "export.md";
    AppModelServices services;
    services.clock = clock;
    services.settings = &settings;
    services.rememberSession = false;
    services.server = loopback.clientOptions();
    services.chooseExportFile = [&](const QString& name, const QString&) -> std::optional<QString> {
        proposed = name;
        return QString::fromStdString(target.string());
    };
    AppModel model(false, std::move(services));
    logIn(model);
    ASSERT_TRUE(waitUntil([&] { return !model.uploading() && model.items()[0].remoteID; }));
    const Uuid id = model.items()[0].id;

    { std::ofstream(target) << "old"; }
    test::runTask(model.exportRecording(id, QStringLiteral("md")));
    EXPECT_EQ(proposed, QStringLiteral("Mello Parlo.md"));
    std::ifstream in(target);
    const std::string written((std::istreambuf_iterator<char>(in)), {});
    EXPECT_GT(written.size(), 10u);
    EXPECT_NE(written, "old");

    test::runTask(model.exportRecording(id, QStringLiteral("pdf")));
    EXPECT_EQ(model.message(), QStringLiteral("Неизвестный формат."));
}

TEST_F(ModelServiceTest, AnHttpServiceIsRefusedAtStartUpAndNothingIsSent) {
    LocalStore::save({capture("Запись", 100)});
    AppModelServices services;
    services.clock = clock;
    services.settings = &settings;
    services.rememberSession = false;
    services.server = loopback.clientOptions();
    services.server->base.setScheme(QStringLiteral("http"));
    AppModel model(false, std::move(services));
    ASSERT_TRUE(waitUntil([&] { return model.message().has_value(); }));
    EXPECT_EQ(model.message(), QString::fromUtf8(ServerText::insecureBase));
    model.setPassword(QStringLiteral("parlo-dev-key"));
    test::runTask(model.login());
    EXPECT_EQ(model.message(), QString::fromUtf8(ServerText::insecureBase));
    EXPECT_FALSE(model.connected());
    EXPECT_TRUE(loopback.service.requests().isEmpty());
}

TEST_F(ModelServiceTest, ARecordingBeingSentCannotBeDeleted) {
    LocalStore::save({capture("Запись", 100)});
    auto model = makeModel();
    loopback.service.injectFault("POST", QStringLiteral("/api/meetings"), dev::Fault::stall());
    logIn(*model);
    ASSERT_TRUE(waitUntil([&] { return loopback.service.stalledConnections() > 0; }));
    EXPECT_FALSE(model->deleteRecording(model->items()[0].id));
    EXPECT_EQ(model->message(),
              QStringLiteral("Запись нельзя удалить, пока она отправляется на расшифровку."));
    EXPECT_TRUE(std::filesystem::exists(*LocalStore::media(model->items()[0])));
}
