#include "UiTestSupport.h"

#include "library/LocalStore.h"
#include "ui/Controls.h"
#include "ui/RecordingDetail.h"
#include "ui/SoftButton.h"
#include "ui/TranscriptView.h"

#include <QLabel>
#include <QMenu>
#include <QTest>

using namespace parlo;
using parlo::test::UiTest;

namespace {

class RecordingDetailTest : public UiTest {
protected:
    struct PlayCall {
        Uuid id;
        std::optional<double> at;
    };
    std::vector<PlayCall> plays;
    std::vector<Uuid> retries;
    std::vector<QString> exported;
    std::vector<double> seeks;

    std::unique_ptr<RecordingDetail> show(const LocalRecording& r,
                                          const QString& tab = QStringLiteral("summary")) {
        auto detail = std::make_unique<RecordingDetail>();
        QObject::connect(detail.get(), &RecordingDetail::playRequested,
                         [this](const Uuid& id, std::optional<double> at) {
                             plays.push_back({id, at});
                         });
        QObject::connect(detail.get(), &RecordingDetail::retryRequested,
                         [this](const Uuid& id) { retries.push_back(id); });
        QObject::connect(detail.get(), &RecordingDetail::exportRequested,
                         [this](const Uuid&, const QString& format) { exported.push_back(format); });
        QObject::connect(detail.get(), &RecordingDetail::seekRequested,
                         [this](double seconds) { seeks.push_back(seconds); });
        detail->display(r, tab);
        detail->resize(700, 900);
        detail->show();
        return detail;
    }

    static QList<PlainButton*> timeButtons(QWidget& root) {
        return root.findChildren<PlainButton*>(QStringLiteral("timeButton"));
    }

    static QWidget* section(QWidget& root, const QString& title) {
        for (QWidget* w : root.findChildren<QWidget*>(QStringLiteral("section")))
            if (w->property("sectionTitle").toString() == title)
                return w;
        return nullptr;
    }
};

} // namespace

TEST_F(RecordingDetailTest, TimeButtonsPlayFromTheirSegmentAndAReferenceToNoSegmentGivesNone) {
    LocalRecording r = recording("Встреча", 10);
    r.result = sampleResult();
    r.duration = 95.5;
    auto detail = show(r);

    QWidget* points = section(*detail, QStringLiteral("Краткий итог"));
    ASSERT_NE(points, nullptr);
    const QList<PlainButton*> buttons = timeButtons(*points);
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[0]->text(), QStringLiteral("↗ 00:12"));
    // The broken negative start is shown as the clock shows it and handed to play unchanged: the
    // player clamps it to 0.
    EXPECT_EQ(buttons[1]->text(), QStringLiteral("↗ 00:00"));

    QTest::mouseClick(buttons[0], Qt::LeftButton);
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(plays[0].id, r.id);
    EXPECT_EQ(plays[0].at, std::optional<double>(12.5));

    QWidget* decisions = section(*detail, QStringLiteral("Решения"));
    ASSERT_NE(decisions, nullptr);
    EXPECT_EQ(decisions->findChildren<QWidget*>(QStringLiteral("noteItem")).size(), 1);
    EXPECT_TRUE(timeButtons(*decisions).isEmpty());

    QWidget* tasks = section(*detail, QStringLiteral("Задачи"));
    ASSERT_NE(tasks, nullptr);
    auto* empty = tasks->findChild<QLabel*>(QStringLiteral("sectionEmpty"));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->text(), QStringLiteral("Явно не выделены."));
    EXPECT_EQ(section(*detail, QStringLiteral("Решения"))->findChild<QLabel*>(QStringLiteral("sectionEmpty")),
              nullptr);
}

TEST_F(RecordingDetailTest, TheTranscriptTabHasOneRowPerSegmentWhoseTimeButtonPlaysFromItsStart) {
    LocalRecording r = recording("Встреча", 10);
    r.result = sampleResult();
    auto detail = show(r, QStringLiteral("transcript"));
    EXPECT_EQ(detail->findChild<QWidget*>(QStringLiteral("summaryTab")), nullptr);
    auto* transcript = detail->findChild<TranscriptView*>(QStringLiteral("transcriptTab"));
    ASSERT_NE(transcript, nullptr);
    ASSERT_EQ(transcript->count(), 2);
    EXPECT_EQ(transcript->timeText(0), QStringLiteral("00:12"));
    QTest::mouseClick(transcript, Qt::LeftButton, {}, transcript->timeRect(1).center());
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(plays[0].at, std::optional<double>(-4));
    // The text beside the time is not a button.
    QTest::mouseClick(transcript, Qt::LeftButton, {}, transcript->timeRect(0).center() + QPoint(200, 0));
    EXPECT_EQ(plays.size(), 1u);

    QString chosen;
    QObject::connect(detail.get(), &RecordingDetail::tabChosen,
                     [&chosen](const QString& tab) { chosen = tab; });
    QTest::mouseClick(detail->findChild<QAbstractButton*>(QStringLiteral("summaryTabButton")),
                      Qt::LeftButton);
    EXPECT_EQ(chosen, QStringLiteral("summary"));
}

TEST_F(RecordingDetailTest, WaitingForLoginShowsTheConnectHintAndNoProgressBar) {
    LocalRecording r = recording("Без входа", 10, "waiting_login");
    r.stage = "Войдите для расшифровки";
    r.fileName = "conversation.m4a";
    r.folderName = r.id.toString();
    auto detail = show(r);
    EXPECT_EQ(detail->findChild<QWidget*>(QStringLiteral("progressBar")), nullptr);
    EXPECT_EQ(detail->findChild<QLabel*>(QStringLiteral("stageText"))->text(),
              QStringLiteral("Войдите для расшифровки"));
    EXPECT_EQ(
        detail->findChild<QLabel*>(QStringLiteral("waitingHint"))->text(),
        QStringLiteral("Подключите личный кабинет в настройках — файл уже сохранён на этом компьютере."));
    // A local file means a player row.
    EXPECT_NE(detail->findChild<QWidget*>(QStringLiteral("playerRow")), nullptr);
}

TEST_F(RecordingDetailTest, ProcessingShowsTheProgressBarAtItsPercentAndTheWorkOnHint) {
    LocalRecording r = recording("Обработка", 10, "processing");
    r.stage = "Расшифровка";
    r.progress = 40;
    r.remoteID = "5f3c9a2e7b1d4e8fa06c2b9d1e7f4a30";
    auto detail = show(r);
    QWidget* bar = detail->findChild<QWidget*>(QStringLiteral("progressBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_DOUBLE_EQ(bar->property("percent").toDouble(), 40.0);
    EXPECT_EQ(detail->findChild<QLabel*>(QStringLiteral("waitingHint"))->text(),
              QStringLiteral("Можно продолжать работу. Результат появится здесь после обработки."));
    // Neither a local file nor "done": no player.
    EXPECT_EQ(detail->findChild<QWidget*>(QStringLiteral("playerRow")), nullptr);
}

TEST_F(RecordingDetailTest, TheMetaLineShowsTheStatusWithoutADurationAndTheClockWithOne) {
    LocalRecording r = recording("Встреча", 10, "queued");
    r.source = "Звук Mac + микрофон";
    auto detail = show(r);
    EXPECT_EQ(detail->findChild<QLabel*>(QStringLiteral("detailMeta"))->text(),
              QStringLiteral("Звук Mac + микрофон · ") + QString::fromStdString(r.statusLabel()));
    r.duration = 3600;
    detail->display(r, QStringLiteral("summary"));
    EXPECT_EQ(detail->findChild<QLabel*>(QStringLiteral("detailMeta"))->text(),
              QStringLiteral("Звук Mac + микрофон · 1:00:00"));
}

TEST_F(RecordingDetailTest, AnErrorWithALocalFileAndNoServerIdentifierOffersToResend) {
    LocalRecording r = recording("Сбой", 10, "error");
    r.error = "Сервер не отвечает.";
    r.fileName = "conversation.m4a";
    auto detail = show(r);
    EXPECT_EQ(detail->findChild<QLabel*>(QStringLiteral("errorText"))->text(),
              QStringLiteral("Сервер не отвечает."));
    auto* retry = detail->findChild<QAbstractButton*>(QStringLiteral("retryButton"));
    ASSERT_NE(retry, nullptr);
    EXPECT_EQ(retry->text(), QStringLiteral("Повторить отправку"));
    QTest::mouseClick(retry, Qt::LeftButton);
    ASSERT_EQ(retries.size(), 1u);
    EXPECT_EQ(retries[0], r.id);

    r.remoteID = "5f3c9a2e7b1d4e8fa06c2b9d1e7f4a30";
    detail->display(r, QStringLiteral("summary"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(detail->findChild<QAbstractButton*>(QStringLiteral("retryButton")), nullptr);
    EXPECT_EQ(detail->findChild<QAbstractButton*>(QStringLiteral("restoreButton")), nullptr);
}

TEST_F(RecordingDetailTest, AFailedMixWhoseTracksAreKeptOffersToRestoreIt) {
    LocalRecording r = recording("Сбой сведения", 10, "error");
    r.error = "Диск заполнен, и запись не удалось свести в файл.";
    auto detail = show(r);
    EXPECT_EQ(detail->findChild<QAbstractButton*>(QStringLiteral("restoreButton")), nullptr)
        << "only where the model says the tracks are there";
    std::vector<Uuid> restored;
    QObject::connect(detail.get(), &RecordingDetail::restoreRequested,
                     [&restored](const Uuid& id) { restored.push_back(id); });
    detail->display(r, QStringLiteral("summary"), true);
    EXPECT_EQ(detail->findChild<QAbstractButton*>(QStringLiteral("retryButton")), nullptr);
    auto* restore = detail->findChild<QAbstractButton*>(QStringLiteral("restoreButton"));
    ASSERT_NE(restore, nullptr);
    EXPECT_EQ(restore->text(), QStringLiteral("Восстановить запись"));
    QTest::mouseClick(restore, Qt::LeftButton);
    EXPECT_EQ(restored, std::vector<Uuid>{r.id});
}

TEST_F(RecordingDetailTest, ExportsAreEnabledOnlyForADoneRecording) {
    LocalRecording r = recording("Встреча", 10, "processing");
    auto detail = show(r);
    auto* menu = detail->findChild<QMenu*>(QStringLiteral("detailMenu"));
    ASSERT_NE(menu, nullptr);
    QStringList titles;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator())
            continue;
        titles << action->text();
        // No export before the result, and no audio to save without a file of its own.
        if (action->text().startsWith(QStringLiteral("Экспорт")) ||
            action->text() == QStringLiteral("Сохранить аудио…")) {
            EXPECT_FALSE(action->isEnabled());
        }
    }
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Экспорт MD"), QStringLiteral("Экспорт TXT"),
                                   QStringLiteral("Экспорт SRT"), QStringLiteral("Экспорт JSON"),
                                   QStringLiteral("Сохранить аудио…"), QStringLiteral("Показать файлы"),
                                   QStringLiteral("Открыть личный кабинет"), QStringLiteral("Переименовать"),
                                   QStringLiteral("Удалить запись…")}));

    r.status = "done";
    detail->display(r, QStringLiteral("summary"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    menu = detail->findChild<QMenu*>(QStringLiteral("detailMenu"));
    ASSERT_NE(menu, nullptr);
    menu->actions().at(2)->trigger();
    EXPECT_EQ(exported, std::vector<QString>{QStringLiteral("srt")});
}

TEST_F(RecordingDetailTest, PlayerFollowsThePlaybackStateAndTheSliderRangeIsNeverEmpty) {
    LocalRecording r = recording("Встреча", 10);
    r.result = sampleResult();
    auto detail = show(r);
    auto* slider = detail->findChild<PlayerSlider*>(QStringLiteral("playerSlider"));
    ASSERT_NE(slider, nullptr);
    detail->setPlayback(false, 0, 0);
    EXPECT_DOUBLE_EQ(slider->maximum(), 1.0);
    detail->setPlayback(true, 61, 95.5);
    EXPECT_DOUBLE_EQ(slider->maximum(), 95.5);
    EXPECT_DOUBLE_EQ(slider->value(), 61.0);
    EXPECT_EQ(detail->findChild<QLabel*>(QStringLiteral("playerClock"))->text(), QStringLiteral("01:01"));
    auto* play = detail->findChild<SoftButton*>(QStringLiteral("playButton"));
    EXPECT_EQ(play->symbol(), QStringLiteral("pause.fill"));

    QTest::mouseClick(play, Qt::LeftButton);
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_FALSE(plays[0].at.has_value());

    // A rebuild keeps the player's state.
    r.title = "Другое название";
    detail->display(r, QStringLiteral("summary"));
    EXPECT_EQ(detail->findChild<SoftButton*>(QStringLiteral("playButton"))->symbol(),
              QStringLiteral("pause.fill"));
}

TEST_F(RecordingDetailTest, AnUnchangedRecordingAndTabAreNotRebuilt) {
    LocalRecording r = recording("Встреча", 10);
    r.result = sampleResult();
    auto detail = show(r);
    const int builds = detail->builds();
    detail->display(r, QStringLiteral("summary"));
    EXPECT_EQ(detail->builds(), builds);
    detail->display(r, QStringLiteral("transcript"));
    EXPECT_EQ(detail->builds(), builds + 1);
}

TEST_F(RecordingDetailTest, MovingTheSliderSeeksWithinTheRange) {
    LocalRecording r = recording("Встреча", 10);
    r.result = sampleResult();
    auto detail = show(r);
    detail->setPlayback(false, 0, 100);
    auto* slider = detail->findChild<PlayerSlider*>(QStringLiteral("playerSlider"));
    ASSERT_TRUE(slider->isEnabled());
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() / 2, slider->height() / 2));
    ASSERT_EQ(seeks.size(), 1u);
    EXPECT_NEAR(seeks[0], 50.0, 3.0);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() + 40, slider->height() / 2));
    EXPECT_DOUBLE_EQ(seeks.back(), 100.0);
}
