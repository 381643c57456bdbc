#include "UiTestSupport.h"

#include "ui/MainWindow.h"
#include "ui/SettingsPanel.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QTest>

using namespace parlo;
using parlo::test::UiTest;

namespace {

class SettingsSheetTest : public UiTest {
protected:
    std::unique_ptr<AppModel> model = makeModel({recording("Планёрка", 100)});
    MainWindow window{*model};

    void SetUp() override {
        window.setSettingsPanelFactory([this](QWidget* parent) { return new SettingsPanel(*model, parent); });
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    QWidget* sheet() const { return window.settingsSheet(); }
    template <typename T = QWidget> T* part(const char* name) const { return test::part<T>(window, name); }
    bool focusInSheet() const {
        QWidget* focus = QApplication::focusWidget();
        return focus && sheet() && (focus == sheet() || sheet()->isAncestorOf(focus));
    }
};

} // namespace

TEST_F(SettingsSheetTest, PressesInsideThePanelKeepItOpenAPressOutsideClosesIt) {
    model->setSettingsVisible(true);
    ASSERT_NE(sheet(), nullptr);

    QTest::mouseClick(part<QLabel>("permissionsTitle"), Qt::LeftButton);
    EXPECT_TRUE(model->settingsVisible());
    // A card's own background: its padding, where no control lies.
    auto* card = part("accountCard");
    QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(card->width() - 6, card->height() - 6));
    EXPECT_TRUE(model->settingsVisible());
    QTest::mouseClick(part("settingsPanel"), Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_TRUE(model->settingsVisible());

    QTest::mouseClick(sheet(), Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_FALSE(model->settingsVisible());
    EXPECT_EQ(sheet(), nullptr);
}

TEST_F(SettingsSheetTest, TabCyclesInsideTheSheetAndTypedTextNeverReachesTheSearch) {
    auto* search = part<QLineEdit>("searchField");
    search->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), search);
    model->setSettingsVisible(true);
    ASSERT_TRUE(focusInSheet());

    QSet<QWidget*> visited;
    QWidget* first = QApplication::focusWidget();
    int steps = 0;
    do {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_TRUE(focusInSheet()) << "Tab left the sheet after " << steps + 1 << " steps";
        visited.insert(QApplication::focusWidget());
    } while (QApplication::focusWidget() != first && ++steps < 100);
    EXPECT_LT(steps, 100) << "Tab never came back round";
    EXPECT_GE(visited.size(), 6); // the close button, both cards' controls, the switch, "Готово"
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_TRUE(focusInSheet());

    // Focus put behind the sheet is taken back; keys land inside it.
    search->setFocus();
    EXPECT_TRUE(focusInSheet());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("abc "));
    QTest::keyClicks(sheet(), QStringLiteral("xyz"));
    EXPECT_TRUE(search->text().isEmpty());
    EXPECT_TRUE(model->search().isEmpty());
}

TEST_F(SettingsSheetTest, TheNoticeShowsInTheSheetNotInTheToastWhileTheSheetIsUp) {
    model->setSettingsVisible(true);
    model->setMessage(QStringLiteral("Личный кабинет подключён."));
    EXPECT_FALSE(window.toast()->isVisible());
    EXPECT_TRUE(part("settingsMessage")->isVisible());
    EXPECT_EQ(part<QLabel>("settingsMessage")->text(), QStringLiteral("Личный кабинет подключён."));

    model->setSettingsVisible(false);
    EXPECT_TRUE(window.toast()->isVisible());
    EXPECT_EQ(window.toast()->text(), QStringLiteral("Личный кабинет подключён."));
}
