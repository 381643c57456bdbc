#include "UiTestSupport.h"

#include "ui/MainWindow.h"
#include "ui/SettingsPanel.h"

#include <QAbstractButton>
#include <QAction>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

using namespace parlo;
using parlo::test::UiTest;

namespace {

// Words of another operating system that must never reach a Linux user.
const QRegularExpression kForeign(QStringLiteral("\\bMac\\b|macOS|Связк"));

// The self-test's title and texts are read by the service's operators: they stay as they are.
bool keepsItsWords(const QString& path) {
    return path.endsWith(QStringLiteral("/shell/SmokeUpload.cpp"));
}

} // namespace

TEST(WordingTest, NoRussianTextInTheSourcesNamesAnotherSystem) {
    const QRegularExpression literal(QStringLiteral("\"(?:[^\"\\\\\\n]|\\\\.)*\""));
    const QRegularExpression cyrillic(QStringLiteral("[А-Яа-яЁё]"));
    int texts = 0;
    QStringList offenders;
    QDirIterator files(QStringLiteral(PARLO_SOURCE_DIR "/src"),
                       {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (keepsItsWords(path))
            continue;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        const QString source = QString::fromUtf8(file.readAll());
        for (auto match = literal.globalMatch(source); match.hasNext();) {
            const QString text = match.next().captured();
            if (!text.contains(cyrillic))
                continue;
            ++texts;
            if (text.contains(kForeign))
                offenders.append(path.section(QLatin1Char('/'), -2) + QStringLiteral(": ") + text);
        }
    }
    EXPECT_GT(texts, 100); // the scan did read the interface's texts
    EXPECT_TRUE(offenders.isEmpty()) << offenders.join(QLatin1Char('\n')).toStdString();
}

using WordingWindowTest = UiTest;

TEST_F(WordingWindowTest, TheWindowAndTheSheetSpeakOfThisComputer) {
    LocalRecording waiting = recording("Без входа", 100, "waiting_login");
    waiting.fileName = "conversation.m4a";
    waiting.folderName = waiting.id.toString();
    microphone = false;
    auto model = makeModel({waiting});
    MainWindow window(*model);
    window.setSettingsPanelFactory([&model](QWidget* parent) { return new SettingsPanel(*model, parent); });
    window.show();
    model->setSelection(waiting.id);
    model->setSettingsVisible(true);

    QStringList shown{model->statusTitle(), QString::fromStdString(waiting.statusLabel())};
    for (auto* label : window.findChildren<QLabel*>())
        shown.append(label->text());
    for (auto* button : window.findChildren<QAbstractButton*>())
        shown.append(button->text());
    for (auto* action : window.findChildren<QAction*>())
        shown.append(action->text());
    for (auto* field : window.findChildren<QLineEdit*>())
        shown.append(field->placeholderText());
    EXPECT_TRUE(shown.contains(QStringLiteral("Сохранение на этом компьютере")));
    EXPECT_TRUE(shown.contains(QStringLiteral("Разрешения системы")));
    EXPECT_TRUE(shown.contains(QStringLiteral("Показать файлы")));
    for (const QString& text : shown)
        EXPECT_FALSE(text.contains(kForeign)) << text.toStdString();
}
