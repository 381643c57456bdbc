#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;

namespace parlo {

class AppModel;
class PlainButton;
class SoftButton;
class Symbol;
class Toggle;

// The settings sheet: the sound permissions, the personal account and automatic start on calls. It
// keeps no state of its own: every control shows a field of the model and starts one of its
// operations, so whatever else changes the model (the tray menu, a finished login) shows here at once.
// Closing it (the cross or "Готово") sets the model's settingsVisible to false; the window that
// presents it removes it then.
class SettingsPanel : public QWidget {
    Q_OBJECT
public:
    SettingsPanel(AppModel& model, QWidget* parent = nullptr);
    ~SettingsPanel() override;

    static constexpr int sheetWidth = 630;
    static constexpr int sheetHeight = 720;

    // What the two "Настройки" buttons of the permission rows run; the default opens the desktop's
    // sound settings and reports on the model when none could be started. Tests replace it so that
    // no mixer is launched.
    void setOpenSoundSettings(std::function<bool()> open);

    QSize sizeHint() const override { return {sheetWidth, sheetHeight}; }

protected:
    bool event(QEvent* event) override;

private:
    QWidget* buildHeader(QWidget* parent);
    QWidget* buildPermissions(QWidget* parent);
    QWidget* buildAccount(QWidget* parent);
    QWidget* buildAutoStart(QWidget* parent);
    QWidget* buildStartAtLogin(QWidget* parent);
    // One permission's row; `name` prefixes the object names of its parts ("microphone", "audio").
    struct PermissionRow {
        Symbol* granted = nullptr;
        Symbol* missing = nullptr;
        QLabel* state = nullptr;
    };
    QWidget* permissionRow(QWidget* parent, const QString& name, const QString& title, PermissionRow& row);
    static void showPermission(const PermissionRow& row, bool granted);
    void openSoundSettings();
    void connectModel();
    void refreshPermissions();
    void refreshAccount();
    void refreshAutoStart();
    void refreshMessage();

    AppModel& model_;
    std::function<bool()> openSoundSettings_;

    PermissionRow microphoneRow_;
    PermissionRow audioRow_;
    SoftButton* requestButton_ = nullptr;
    SoftButton* checkButton_ = nullptr;
    QLabel* checkMessage_ = nullptr;
    QWidget* connectedForm_ = nullptr;
    QWidget* keyForm_ = nullptr;
    QLineEdit* keyField_ = nullptr;
    SoftButton* connectButton_ = nullptr;
    Toggle* autoToggle_ = nullptr;
    Toggle* loginToggle_ = nullptr;
    QLabel* message_ = nullptr;
};

} // namespace parlo
