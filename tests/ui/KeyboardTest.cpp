#include "UiTestSupport.h"

#include "ui/LibraryList.h"
#include "ui/MainWindow.h"
#include "ui/RecordingDetail.h"
#include "ui/TranscriptView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>

using namespace parlo;
using parlo::test::UiTest;

namespace {

class KeyboardTest : public UiTest {
protected:
    LocalRecording older = withResult(recording("Планёрка", 100));
    LocalRecording newer = withResult(recording("Созвон", 200));
    std::unique_ptr<AppModel> model = makeModel({older, newer});
    MainWindow window{*model};

    static LocalRecording withResult(LocalRecording r) {
        r.result = sampleResult();
        return r;
    }
    void SetUp() override {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
};

} // namespace

TEST_F(KeyboardTest, TabReachesTheLibraryWithARingAndArrowsWalkIt) {
    LibraryList* list = window.libraryList();
    ASSERT_EQ(list->count(), 2);
    const QImage unfocused = list->grab().toImage();
    // Tab from the search field reaches the list.
    auto* search = window.findChild<QWidget*>(QStringLiteral("searchField"));
    search->setFocus();
    QTest::keyClick(search, Qt::Key_Tab);
    ASSERT_TRUE(list->hasFocus());
    EXPECT_NE(list->grab().toImage(), unfocused); // the ring

    QTest::keyClick(list, Qt::Key_Down); // nothing selected yet: the first row
    EXPECT_EQ(model->selection(), std::optional<Uuid>(newer.id));
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(model->selection(), std::optional<Uuid>(older.id));
    QTest::keyClick(list, Qt::Key_Down); // the last row stays
    EXPECT_EQ(model->selection(), std::optional<Uuid>(older.id));
    QTest::keyClick(list, Qt::Key_Home);
    EXPECT_EQ(model->selection(), std::optional<Uuid>(newer.id));
    EXPECT_TRUE(list->hasFocus());
}

TEST_F(KeyboardTest, TabsAndTimeButtonsAnswerEnter) {
    model->setSelection(newer.id);
    auto* transcriptTab = window.detail()->findChild<QAbstractButton*>(QStringLiteral("transcriptTabButton"));
    ASSERT_NE(transcriptTab, nullptr);
    EXPECT_TRUE(transcriptTab->focusPolicy() & Qt::TabFocus);
    transcriptTab->setFocus(Qt::TabFocusReason);
    QTest::keyClick(transcriptTab, Qt::Key_Return);
    ASSERT_EQ(window.tab(), QStringLiteral("transcript"));
    // The rebuilt pane keeps the keyboard on the tab that was pressed.
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), QStringLiteral("transcriptTabButton"));

    auto* transcript = window.detail()->findChild<TranscriptView*>();
    ASSERT_NE(transcript, nullptr);
    ASSERT_EQ(transcript->count(), 2);
    QSignalSpy played(window.detail(), &RecordingDetail::playRequested);
    transcript->setFocus(Qt::TabFocusReason);
    QTest::keyClick(transcript, Qt::Key_Down);
    QTest::keyClick(transcript, Qt::Key_Enter);
    ASSERT_EQ(played.count(), 1);
    EXPECT_EQ(played.at(0).at(1).value<std::optional<double>>(), std::optional<double>(transcript->start(1)));

    // A summary time button is a plain button: Tab reaches it and Return plays from its time.
    window.detail()->findChild<QAbstractButton*>(QStringLiteral("summaryTabButton"))->click();
    auto* time = window.detail()->findChild<QAbstractButton*>(QStringLiteral("timeButton"));
    ASSERT_NE(time, nullptr);
    EXPECT_TRUE(time->focusPolicy() & Qt::TabFocus);
    QTest::keyClick(time, Qt::Key_Return);
    ASSERT_EQ(played.count(), 2);
    EXPECT_EQ(played.at(1).at(1).value<std::optional<double>>(), std::optional<double>(12.5));
}

TEST_F(KeyboardTest, TheHandShowsOverRowsAndTimesOnlyNotOverGapsAndText) {
    LibraryList* list = window.libraryList();
    const QRect first = list->rowRect(0);
    QTest::mouseMove(list, first.center());
    EXPECT_EQ(list->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseMove(list, QPoint(first.center().x(), first.bottom() + 5)); // between two rows
    EXPECT_EQ(list->cursor().shape(), Qt::ArrowCursor);

    model->setSelection(newer.id);
    window.detail()->findChild<QAbstractButton*>(QStringLiteral("transcriptTabButton"))->click();
    auto* transcript = window.detail()->findChild<TranscriptView*>();
    ASSERT_NE(transcript, nullptr);
    QTest::mouseMove(transcript, transcript->timeRect(0).center());
    EXPECT_EQ(transcript->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseMove(transcript,
                     transcript->timeRect(0).center() + QPoint(TranscriptView::timeWidth + 40, 0));
    EXPECT_EQ(transcript->cursor().shape(), Qt::ArrowCursor);
}
