// The window's side of deleting, renaming and searching what was said.
#include "UiTestSupport.h"

#include "support/ModelFakes.h"
#include "ui/LibraryList.h"
#include "ui/MainWindow.h"
#include "ui/RecordingDetail.h"
#include "ui/TranscriptMatchList.h"
#include "ui/TranscriptView.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace parlo;

namespace {

// Remembers where each play asked to start.
class RecordingManagementUiTest : public test::UiTest {
protected:
    test::PlayerScript player;

    std::unique_ptr<AppModel> modelWithPlayer(const std::vector<LocalRecording>& items) {
        return makeModel(items, [this](AppModelServices& services) {
            services.makePlayer = [this](ServerClient&) {
                return std::make_unique<test::FakePlayer>(player);
            };
        });
    }

    static QAction* menuAction(MainWindow& window, const QString& text) {
        for (QAction* action : window.findChild<QMenu*>(QStringLiteral("detailMenu"))->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    // The title editor being used (an earlier one may still wait for its deletion).
    static QLineEdit* titleEditor(MainWindow& window) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window.findChild<QLineEdit*>(QStringLiteral("titleEditor"));
    }

    static QMessageBox* confirmation(MainWindow& window) {
        return window.findChild<QMessageBox*>(QStringLiteral("deleteConfirmation"));
    }
};

} // namespace

TEST_F(RecordingManagementUiTest, DeletingAsksFirstNamingTheRecordingAndARunningRecordingSaysWhyNot) {
    LocalRecording first = recording("Созвон с бухгалтерией", 200);
    first.remoteID = "5f3c9a2e7b1d4e8fa06c2b9d1e7f4a30";
    const LocalRecording second = recording("Планёрка", 100);
    auto model = makeModel({first, second});
    MainWindow window(*model);
    window.show();
    LibraryList* list = window.libraryList();
    QTest::mouseClick(list, Qt::LeftButton, {}, list->rowRect(0).center());
    ASSERT_EQ(model->selection(), std::optional<Uuid>(first.id));

    // Escape keeps the recording.
    QTest::keyClick(list, Qt::Key_Delete);
    QMessageBox* box = confirmation(window);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->text(), QStringLiteral("Удалить запись «Созвон с бухгалтерией»?"));
    EXPECT_TRUE(box->informativeText().contains(QStringLiteral("В личном кабинете запись останется")));
    QTest::keyClick(box, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(model->items().size(), 2u);
    EXPECT_EQ(confirmation(window), nullptr);

    // The detail's menu asks the same; "Удалить" deletes and the neighbour is shown.
    menuAction(window, QStringLiteral("Удалить запись…"))->trigger();
    ASSERT_NE(confirmation(window), nullptr);
    confirmation(window)->findChild<QPushButton*>(QStringLiteral("confirmDeleteButton"))->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(model->items().size(), 1u);
    EXPECT_EQ(model->selection(), std::optional<Uuid>(second.id));
    EXPECT_EQ(list->count(), 1);
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("detailTitle"))->text(), QStringLiteral("Планёрка"));

    // While a recording runs its action says why it cannot go, and the key only tells it.
    test::runTask(model->recordNow());
    QAction* refused = menuAction(window, QStringLiteral("Запись нельзя удалить, пока она идёт."));
    ASSERT_NE(refused, nullptr);
    EXPECT_FALSE(refused->isEnabled());
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(confirmation(window), nullptr);
    EXPECT_EQ(model->message(), QStringLiteral("Запись нельзя удалить, пока она идёт."));
    test::runTask(model->stopRecording(true));
    EXPECT_NE(menuAction(window, QStringLiteral("Удалить запись…")), nullptr);
}

TEST_F(RecordingManagementUiTest, TheTitleEditorRenamesOnReturnAndGivesUpOnEscape) {
    const LocalRecording r = recording("Разговор · 8 декабря, 14:05", 100);
    auto model = makeModel({r});
    model->setSelection(r.id);
    MainWindow window(*model);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QTest::mouseDClick(window.findChild<QLabel*>(QStringLiteral("detailTitle")), Qt::LeftButton);
    QLineEdit* editor = titleEditor(window);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), QString::fromStdString(r.title));
    EXPECT_EQ(editor->maxLength(), 160);
    editor->clear();
    test::type(editor, QStringLiteral("  Счёт для «Ромашки» "));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(model->items()[0].title, "Счёт для «Ромашки»");
    EXPECT_EQ(window.libraryList()->rowTitle(0), QStringLiteral("Счёт для «Ромашки»"));
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("detailTitle"))->text(),
              QStringLiteral("Счёт для «Ромашки»"));
    EXPECT_FALSE(window.detail()->isRenaming());

    // "Переименовать" opens the editor once the menu is gone; Escape changes nothing.
    menuAction(window, QStringLiteral("Переименовать"))->trigger();
    QCoreApplication::processEvents();
    editor = titleEditor(window);
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(window.detail()->isRenaming());
    test::type(editor, QStringLiteral("что-то другое"));
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(window.detail()->isRenaming());
    EXPECT_EQ(model->items()[0].title, "Счёт для «Ромашки»");

    // An empty title is refused with a notice and the old one stays.
    window.detail()->beginRename();
    editor = titleEditor(window);
    editor->setText(QStringLiteral("   "));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(model->message(), QStringLiteral("Название записи не может быть пустым."));
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("detailTitle"))->text(),
              QStringLiteral("Счёт для «Ромашки»"));
}

TEST_F(RecordingManagementUiTest, LinesFoundInTranscriptsShowTheWordAndOpenTheirPlace) {
    LocalRecording said = recording("Планёрка", 200);
    said.result = sampleResult(); // "Начнём с релиза." at 12.5 s; the summary's "Релиз обсуждали" rests on it
    const LocalRecording other = recording("Релизы квартала", 100);
    auto model = modelWithPlayer({said, other});
    MainWindow window(*model);
    window.show();
    TranscriptMatchList* matches = window.transcriptMatches();
    EXPECT_FALSE(matches->isVisibleTo(&window));

    test::type(window.findChild<QLineEdit*>(QStringLiteral("searchField")), QStringLiteral("релиз"));
    // The title filter keeps its own rule: only the title with the word.
    ASSERT_EQ(window.libraryList()->count(), 1);
    EXPECT_EQ(window.libraryList()->rowTitle(0), QStringLiteral("Релизы квартала"));
    ASSERT_TRUE(test::waitUntil([&] { return matches->count() == 2; }));
    EXPECT_TRUE(matches->isVisibleTo(&window));
    EXPECT_EQ(matches->findChild<QLabel*>(QStringLiteral("transcriptMatchesHeading"))->text(),
              QStringLiteral("В расшифровках"));
    TranscriptMatchRow* line = matches->row(0);
    EXPECT_EQ(line->title(), QStringLiteral("Планёрка"));
    EXPECT_TRUE(line->line().contains(QStringLiteral("<b>релиза</b>"))) << line->line().toStdString();
    EXPECT_EQ(line->place(), QStringLiteral("00:12"));
    EXPECT_EQ(matches->row(1)->place(), QStringLiteral("Итоги · 00:12"));

    QTest::mouseClick(line, Qt::LeftButton);
    EXPECT_EQ(model->selection(), std::optional<Uuid>(said.id));
    EXPECT_EQ(window.tab(), QStringLiteral("transcript"));
    auto* transcript = window.findChild<TranscriptView*>(QStringLiteral("transcriptTab"));
    ASSERT_NE(transcript, nullptr);
    EXPECT_EQ(transcript->highlighted(), 0);
    ASSERT_TRUE(test::waitUntil([&] { return !player.requests.empty(); }));
    EXPECT_EQ(player.requests.back(), std::optional<double>(12.5));

    // Clearing the search hides the lines.
    model->setSearch(QString());
    EXPECT_FALSE(matches->isVisibleTo(&window));
}
