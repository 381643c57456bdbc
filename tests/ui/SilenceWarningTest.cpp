#include "UiTestSupport.h"

#include "ui/MainWindow.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>

using namespace parlo;
using parlo::test::UiTest;

namespace {

class SilenceWarningTest : public UiTest {
protected:
    std::shared_ptr<test::DrivenClock> clock = std::make_shared<test::DrivenClock>();
    int settingsOpened = 0;
    std::unique_ptr<AppModel> model = makeModel({}, [this](AppModelServices& services) {
        services.clock = clock;
        services.openSoundSettings = [this] {
            ++settingsOpened;
            return true;
        };
    });
    MainWindow window{*model};

    // Levels reported `seconds` after the previous report.
    void levels(double seconds, float system, float microphone) {
        clock->advance(seconds);
        script.current->onLevel(system, microphone);
        QCoreApplication::processEvents(); // the report hops to the main thread
    }
    bool warningShown() const {
        return window.findChild<QWidget*>(QStringLiteral("silenceWarning"))->isVisibleTo(&window);
    }
    QString warningText() const { return window.findChild<QLabel*>(QStringLiteral("silenceText"))->text(); }
};

} // namespace

TEST_F(SilenceWarningTest, ASilentMicrophoneIsShownAfterTwentySecondsAndClearsWhenItSpeaksAgain) {
    window.show();
    QSignalSpy alerts(model.get(), &AppModel::silenceAlert);
    test::runTask(model->beginRecording(true));
    ASSERT_NE(script.current, nullptr);

    levels(10, 0.3f, 0.0f);
    EXPECT_FALSE(warningShown());
    levels(10, 0.3f, 0.0f);
    ASSERT_TRUE(warningShown());
    EXPECT_TRUE(warningText().startsWith(QStringLiteral("Микрофон молчит")));
    window.findChild<QAbstractButton*>(QStringLiteral("silenceSettingsButton"))->click();
    EXPECT_EQ(settingsOpened, 1);

    levels(1, 0.3f, 0.4f);
    EXPECT_FALSE(warningShown());
    EXPECT_FALSE(model->silenceWarning());

    // Silent again: shown again, but the desktop heard of it once for this recording.
    levels(21, 0.3f, 0.0f);
    EXPECT_TRUE(warningShown());
    ASSERT_EQ(alerts.count(), 1);
    EXPECT_TRUE(alerts.at(0).at(0).toString().startsWith(QStringLiteral("Микрофон молчит")));

    test::runTask(model->stopRecording(true));
    EXPECT_FALSE(warningShown());
}

TEST_F(SilenceWarningTest, ARecordingStartedByHandWarnsInTheWindowOnly) {
    window.show();
    QSignalSpy alerts(model.get(), &AppModel::silenceAlert);
    test::runTask(model->recordNow());
    ASSERT_NE(script.current, nullptr);
    levels(21, 0.0f, 0.3f);
    ASSERT_TRUE(warningShown());
    EXPECT_TRUE(warningText().startsWith(QStringLiteral("Звук компьютера не записывается")));
    EXPECT_EQ(alerts.count(), 0);
}
