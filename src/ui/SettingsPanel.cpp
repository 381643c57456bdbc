#include "ui/SettingsPanel.h"

#include "capture/CapturePermissions.h"
#include "model/AppModel.h"
#include "model/ModelTexts.h"
#include "ui/Controls.h"
#include "ui/Layouts.h"
#include "ui/LogoView.h"
#include "ui/Palette.h"
#include "ui/SoftButton.h"
#include "ui/Surface.h"
#include "ui/Theme.h"
#include "ui/UiTexts.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

namespace parlo {

namespace {

constexpr int kCardRadius = 20;
constexpr int kCardPadding = 20;

// A raised card whose content keeps the card's padding inside the shape.
QWidget* card(QWidget* parent, const char* name) {
    auto* widget = new QWidget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    Raised::apply(widget, kCardRadius, Palette::surface());
    return widget;
}

QVBoxLayout* cardColumn(QWidget* card, int spacing) {
    return column(card, spacing, QMargins(kCardPadding, kCardPadding, kCardPadding, kCardPadding));
}

// The scrolling column of the sheet. Like the window's, it keeps its minimum height at what its
// wrapped texts need for the actual width, so the scroll area never squeezes the cards.
class SheetContent : public DecorationHost {
    Q_OBJECT
public:
    using DecorationHost::DecorationHost;

protected:
    bool event(QEvent* event) override {
        const bool handled = DecorationHost::event(event);
        if (event->type() == QEvent::LayoutRequest)
            fit();
        return handled;
    }
    void resizeEvent(QResizeEvent* event) override {
        DecorationHost::resizeEvent(event);
        fit();
    }

private:
    void fit() {
        if (!layout() || !layout()->hasHeightForWidth())
            return;
        const int needed = layout()->totalHeightForWidth(width());
        if (needed != minimumHeight())
            setMinimumHeight(needed);
        if (height() < needed)
            resize(width(), needed);
    }
};

// Starts an operation of the model as a task of its own: the view never waits for it. The
// coroutine holds the model weakly, as the sheet may be closed (and the model gone) meanwhile.
void requestThenVerify(QPointer<AppModel> model) {
    if (model)
        model->requestPermissions(); // runs on its own and holds the model weakly
}

} // namespace

SettingsPanel::SettingsPanel(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    Theme::load();
    setObjectName(QStringLiteral("settingsPanel"));
    resize(sheetWidth, sheetHeight);
    Palette::applyToBackground(this);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("settingsScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Transparent: the sheet's rounded surface shows through, and the scroll bar keeps clear of
    // its corners.
    scroll->viewport()->setAutoFillBackground(false);
    Theme::thinScrollBars(scroll);
    column(this, 0, QMargins(0, 14, 6, 14))->addWidget(scroll);

    auto* content = new SheetContent();
    content->setObjectName(QStringLiteral("settingsContent"));
    auto* layout = column(content, 24, QMargins(30, 30, 30, 30));
    layout->addWidget(buildHeader(content));
    layout->addWidget(buildPermissions(content));
    layout->addWidget(buildAccount(content));
    layout->addWidget(buildAutoStart(content));

    message_ = Theme::label(QString(), Theme::font(11), Palette::muted(), content, true);
    message_->setObjectName(QStringLiteral("settingsMessage"));
    message_->setAlignment(Qt::AlignLeft);
    layout->addWidget(message_);

    auto* done = new SoftButton(QString::fromUtf8(UiText::done), QString(), false, false, content);
    done->setObjectName(QStringLiteral("settingsDone"));
    QObject::connect(done, &QAbstractButton::clicked, this, [this] { model_.setSettingsVisible(false); });
    layout->addWidget(done, 0, Qt::AlignLeft);
    layout->addStretch(1);
    scroll->setWidget(content);

    openSoundSettings_ = [] { return CapturePermissions::openSoundSettings(); };

    connectModel();
    refreshPermissions();
    refreshAccount();
    refreshAutoStart();
    refreshMessage();
}

SettingsPanel::~SettingsPanel() = default;

void SettingsPanel::setOpenSoundSettings(std::function<bool()> open) {
    openSoundSettings_ = std::move(open);
}

QWidget* SettingsPanel::buildHeader(QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* headerRow = row(header, 14);
    headerRow->addWidget(new LogoView(48, header), 0, Qt::AlignVCenter);
    auto* texts = new QWidget(header);
    auto* textColumn = column(texts, 4);
    QLabel* title =
        Theme::label(QString::fromUtf8(UiText::soundAccess), Theme::rounded(24), Palette::dark(), texts);
    title->setObjectName(QStringLiteral("settingsTitle"));
    textColumn->addWidget(title);
    textColumn->addWidget(Theme::label(QString::fromUtf8(UiText::soundAccessPurpose), Theme::font(11),
                                       Palette::muted(), texts));
    headerRow->addWidget(texts, 0, Qt::AlignVCenter);
    headerRow->addStretch(1);
    auto* close =
        new PlainButton(QString(), QStringLiteral("xmark"), Theme::font(13), Palette::dark(), header);
    close->setObjectName(QStringLiteral("settingsClose"));
    close->setToolTip(QString::fromUtf8(UiText::close));
    QObject::connect(close, &QAbstractButton::clicked, this, [this] { model_.setSettingsVisible(false); });
    headerRow->addWidget(close, 0, Qt::AlignTop);
    return header;
}

QWidget* SettingsPanel::permissionRow(QWidget* parent, const QString& name, const QString& title,
                                      PermissionRow& parts) {
    auto* widget = new QWidget(parent);
    widget->setObjectName(name + QStringLiteral("Row"));
    auto* layout = row(widget, 10);
    parts.granted = new Symbol(QStringLiteral("checkmark.circle.fill"), 16, Palette::dark(), widget);
    parts.granted->setObjectName(name + QStringLiteral("Granted"));
    parts.missing = new Symbol(QStringLiteral("circle"), 16, Palette::orange(), widget);
    parts.missing->setObjectName(name + QStringLiteral("Missing"));
    layout->addWidget(parts.granted, 0, Qt::AlignVCenter);
    layout->addWidget(parts.missing, 0, Qt::AlignVCenter);
    auto* texts = new QWidget(widget);
    auto* textColumn = column(texts, 2);
    textColumn->addWidget(Theme::label(title, Theme::font(11), Palette::dark(), texts));
    parts.state = Theme::label(QString(), Theme::font(9), Palette::muted(), texts);
    parts.state->setObjectName(name + QStringLiteral("State"));
    textColumn->addWidget(parts.state);
    layout->addWidget(texts, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    auto* settings = new PlainButton(QString::fromUtf8(UiText::settings), QString(), Theme::font(10),
                                     Palette::muted(), widget);
    settings->setObjectName(name + QStringLiteral("Settings"));
    QObject::connect(settings, &QAbstractButton::clicked, this, [this] { openSoundSettings(); });
    layout->addWidget(settings, 0, Qt::AlignVCenter);
    return widget;
}

void SettingsPanel::showPermission(const PermissionRow& row, bool granted) {
    row.granted->setVisible(granted);
    row.missing->setVisible(!granted);
    row.state->setText(granted ? QString::fromUtf8(UiText::granted)
                               : QString::fromUtf8(UiText::permissionNeeded));
    QPalette palette = row.state->palette();
    palette.setColor(QPalette::WindowText, granted ? Palette::muted() : Palette::orange());
    row.state->setPalette(palette);
}

void SettingsPanel::openSoundSettings() {
    // Linux has no per-application privacy pane for sound: both rows lead to the sound settings,
    // where the default input and output (and so the monitor we record) are chosen.
    if (openSoundSettings_ && openSoundSettings_())
        return;
    model_.setMessage(QString::fromUtf8(ModelText::soundSettingsUnavailable));
}

QWidget* SettingsPanel::buildPermissions(QWidget* parent) {
    QWidget* permissions = card(parent, "permissionsCard");
    auto* layout = cardColumn(permissions, 14);
    QLabel* title = Theme::label(QString::fromUtf8(UiText::systemPermissions), Theme::font(14),
                                 Palette::dark(), permissions);
    title->setObjectName(QStringLiteral("permissionsTitle"));
    layout->addWidget(title);
    layout->addWidget(permissionRow(permissions, QStringLiteral("microphone"),
                                    QString::fromUtf8(UiText::microphone), microphoneRow_));
    layout->addWidget(permissionRow(permissions, QStringLiteral("audio"),
                                    QString::fromUtf8(UiText::systemAudio), audioRow_));
    layout->addWidget(Theme::paragraph(QString::fromUtf8(UiText::whatIsRecorded), Theme::font(10),
                                       Palette::muted(), 3, permissions));

    auto* buttons = new QWidget(permissions);
    auto* buttonRow = row(buttons, 12);
    requestButton_ = new SoftButton(QString::fromUtf8(UiText::allowRecording), QStringLiteral("lock.open"),
                                    true, false, buttons);
    requestButton_->setObjectName(QStringLiteral("requestAccessButton"));
    QObject::connect(requestButton_, &QAbstractButton::clicked, this,
                     [this] { requestThenVerify(QPointer<AppModel>(&model_)); });
    buttonRow->addWidget(requestButton_, 0, Qt::AlignVCenter);
    checkButton_ = new SoftButton(QString::fromUtf8(UiText::checkAccess), QString(), false, true, buttons);
    checkButton_->setObjectName(QStringLiteral("checkAccessButton"));
    QObject::connect(checkButton_, &QAbstractButton::clicked, this,
                     [this] { model_.refreshPermissions(true); });
    buttonRow->addWidget(checkButton_, 0, Qt::AlignVCenter);
    buttonRow->addStretch(1);
    layout->addWidget(buttons);

    checkMessage_ = Theme::label(QString(), Theme::font(11), Palette::muted(), permissions, true);
    checkMessage_->setObjectName(QStringLiteral("permissionCheckMessage"));
    layout->addWidget(checkMessage_);
    return permissions;
}

QWidget* SettingsPanel::buildAccount(QWidget* parent) {
    QWidget* account = card(parent, "accountCard");
    auto* layout = cardColumn(account, 14);

    auto* titles = new QWidget(account);
    auto* titleColumn = column(titles, 3);
    QLabel* title =
        Theme::label(QString::fromUtf8(ModelText::account), Theme::font(14), Palette::dark(), titles);
    title->setObjectName(QStringLiteral("accountTitle"));
    titleColumn->addWidget(title);
    QLabel* host = Theme::label(model_.client().base().host(), Theme::font(11), Palette::muted(), titles);
    host->setObjectName(QStringLiteral("serviceHost"));
    titleColumn->addWidget(host);
    layout->addWidget(titles);

    // Connected: what is on, where to go, how to leave.
    connectedForm_ = new QWidget(account);
    connectedForm_->setObjectName(QStringLiteral("connectedForm"));
    auto* connectedColumn = column(connectedForm_, 12);
    auto* state = new QWidget(connectedForm_);
    auto* stateRow = row(state, 6);
    stateRow->addWidget(new Symbol(QStringLiteral("checkmark.circle.fill"), 14, Palette::dark(), state), 0,
                        Qt::AlignVCenter);
    stateRow->addWidget(
        Theme::label(QString::fromUtf8(UiText::accountReady), Theme::font(12), Palette::dark(), state));
    stateRow->addStretch(1);
    connectedColumn->addWidget(state);
    auto* actions = new QWidget(connectedForm_);
    auto* actionRow = row(actions, 16);
    auto* open = new SoftButton(QString::fromUtf8(UiText::openAccountShort), QString(), false, true, actions);
    open->setObjectName(QStringLiteral("openAccountButton"));
    QObject::connect(open, &QAbstractButton::clicked, this,
                     [this] { QDesktopServices::openUrl(model_.client().base()); });
    actionRow->addWidget(open, 0, Qt::AlignVCenter);
    auto* logout = new PlainButton(QString::fromUtf8(UiText::signOut), QString(), Theme::font(11),
                                   Palette::muted(), actions);
    logout->setObjectName(QStringLiteral("logoutButton"));
    QObject::connect(logout, &QAbstractButton::clicked, this, [this] { model_.logout(); });
    actionRow->addWidget(logout, 0, Qt::AlignVCenter);
    actionRow->addStretch(1);
    connectedColumn->addWidget(actions);
    layout->addWidget(connectedForm_);

    // Not connected: the key, typed or read from the access file.
    keyForm_ = new QWidget(account);
    keyForm_->setObjectName(QStringLiteral("keyForm"));
    auto* keyColumn = column(keyForm_, 12);
    auto* well = new QWidget(keyForm_);
    Engraved::apply(well, 14);
    auto* wellRow = new QHBoxLayout(well);
    // The well pads itself (Engraved::apply); the row only adds a little room beside the text.
    wellRow->setContentsMargins(4, 0, 4, 0);
    keyField_ = new QLineEdit(well);
    keyField_->setObjectName(QStringLiteral("keyField"));
    keyField_->setEchoMode(QLineEdit::Password);
    keyField_->setPlaceholderText(QString::fromUtf8(UiText::accessKey));
    keyField_->setFrame(false);
    keyField_->setFont(Theme::font(12));
    keyField_->setAttribute(Qt::WA_MacShowFocusRect, false);
    // Plain: no background of its own, the well shows through.
    QPalette fieldPalette = keyField_->palette();
    fieldPalette.setColor(QPalette::Base, Qt::transparent);
    keyField_->setPalette(fieldPalette);
    keyField_->setText(model_.password());
    // Only the model holds the key; Return in the field does nothing (no returnPressed handler).
    QObject::connect(keyField_, &QLineEdit::textEdited, this,
                     [this](const QString& text) { model_.setPassword(text); });
    wellRow->addWidget(keyField_);
    keyColumn->addWidget(well);

    auto* keyActions = new QWidget(keyForm_);
    auto* keyRow = row(keyActions, 16);
    connectButton_ = new SoftButton(QString::fromUtf8(UiText::connect), QString(), true, false, keyActions);
    connectButton_->setObjectName(QStringLiteral("connectButton"));
    QObject::connect(connectButton_, &QAbstractButton::clicked, this, [this] { model_.login(); });
    keyRow->addWidget(connectButton_, 0, Qt::AlignVCenter);
    auto* file = new PlainButton(QString::fromUtf8(UiText::chooseAccessFile), QString(), Theme::font(11),
                                 Palette::muted(), keyActions);
    file->setObjectName(QStringLiteral("accessFileButton"));
    QObject::connect(file, &QAbstractButton::clicked, this, [this] { model_.importAccessFile(); });
    keyRow->addWidget(file, 0, Qt::AlignVCenter);
    keyRow->addStretch(1);
    keyColumn->addWidget(keyActions);
    layout->addWidget(keyForm_);

    QLabel* note = Theme::label(QString::fromUtf8(UiText::sessionStorage), Theme::font(9), Palette::muted(),
                                account, true);
    note->setObjectName(QStringLiteral("sessionNote"));
    layout->addWidget(note);
    return account;
}

QWidget* SettingsPanel::buildAutoStart(QWidget* parent) {
    QWidget* autoStart = card(parent, "autoStartCard");
    auto* layout = cardColumn(autoStart, 12);
    auto* switchRow = new QWidget(autoStart);
    auto* switchLayout = row(switchRow, 10);
    switchLayout->addWidget(
        Theme::label(QString::fromUtf8(UiText::autoStart), Theme::font(12), Palette::dark(), switchRow), 0,
        Qt::AlignVCenter);
    switchLayout->addStretch(1);
    autoToggle_ = new Toggle(switchRow);
    autoToggle_->setObjectName(QStringLiteral("settingsAutoToggle"));
    QObject::connect(autoToggle_, &Toggle::toggleRequested, this, [this](bool on) {
        model_.setAutoEnabled(on);
        // setAutoEnabled may refuse and leave the value as it was: the switch shows the model's.
        refreshAutoStart();
    });
    switchLayout->addWidget(autoToggle_, 0, Qt::AlignVCenter);
    layout->addWidget(switchRow);
    layout->addWidget(Theme::paragraph(QString::fromUtf8(UiText::autoStartExplained), Theme::font(10),
                                       Palette::muted(), 3, autoStart));
    layout->addWidget(Theme::paragraph(QString::fromUtf8(UiText::manualRecordingExplained), Theme::font(10),
                                       Palette::muted(), 3, autoStart));
    layout->addWidget(buildStartAtLogin(autoStart));
    return autoStart;
}

QWidget* SettingsPanel::buildStartAtLogin(QWidget* parent) {
    auto* login = new QWidget(parent);
    auto* loginColumn = column(login, 6);
    auto* switchRow = new QWidget(login);
    auto* switchLayout = row(switchRow, 10);
    switchLayout->addWidget(
        Theme::label(QString::fromUtf8(UiText::startAtLogin), Theme::font(12), Palette::dark(), switchRow), 0,
        Qt::AlignVCenter);
    switchLayout->addStretch(1);
    loginToggle_ = new Toggle(switchRow);
    loginToggle_->setObjectName(QStringLiteral("startAtLoginToggle"));
    QObject::connect(loginToggle_, &Toggle::toggleRequested, this,
                     [this](bool on) { model_.setStartAtLogin(on); });
    QObject::connect(&model_, &AppModel::startAtLoginChanged, this,
                     [this] { loginToggle_->setOn(model_.startAtLogin()); });
    switchLayout->addWidget(loginToggle_, 0, Qt::AlignVCenter);
    loginColumn->addWidget(switchRow);
    loginColumn->addWidget(Theme::paragraph(QString::fromUtf8(UiText::startsInTray), Theme::font(10),
                                            Palette::muted(), 3, login));
    // The entry on disk, not what was last written: the desktop's settings may have changed it.
    model_.refreshStartAtLogin();
    loginToggle_->setOn(model_.startAtLogin());
    return login;
}

bool SettingsPanel::event(QEvent* event) {
    // Back from another application (the desktop's autostart settings, a file manager): read the
    // entry again.
    if (event->type() == QEvent::WindowActivate)
        model_.refreshStartAtLogin();
    return QWidget::event(event);
}

void SettingsPanel::connectModel() {
    for (auto signal : {&AppModel::microphonePermissionChanged, &AppModel::audioPermissionChanged,
                        &AppModel::checkingPermissionsChanged, &AppModel::permissionCheckMessageChanged})
        QObject::connect(&model_, signal, this, [this] { refreshPermissions(); });
    for (auto signal : {&AppModel::connectedChanged, &AppModel::loggingInChanged, &AppModel::passwordChanged})
        QObject::connect(&model_, signal, this, [this] { refreshAccount(); });
    QObject::connect(&model_, &AppModel::autoEnabledChanged, this, [this] { refreshAutoStart(); });
    QObject::connect(&model_, &AppModel::messageChanged, this, [this] { refreshMessage(); });
}

void SettingsPanel::refreshPermissions() {
    showPermission(microphoneRow_, model_.microphonePermission());
    showPermission(audioRow_, model_.audioPermission());
    const bool checking = model_.checkingPermissions();
    requestButton_->setEnabled(!checking);
    checkButton_->setEnabled(!checking);
    checkButton_->setText(checking ? QString::fromUtf8(UiText::checkingAccess)
                                   : QString::fromUtf8(UiText::checkAccess));
    const std::optional<QString> sentence = model_.permissionCheckMessage();
    checkMessage_->setVisible(sentence.has_value());
    checkMessage_->setText(sentence.value_or(QString()));
}

void SettingsPanel::refreshAccount() {
    const bool connected = model_.connected();
    connectedForm_->setVisible(connected);
    keyForm_->setVisible(!connected);
    if (keyField_->text() != model_.password())
        keyField_->setText(model_.password());
    const bool loggingIn = model_.loggingIn();
    connectButton_->setText(loggingIn ? QString::fromUtf8(UiText::connecting)
                                      : QString::fromUtf8(UiText::connect));
    // The key is not trimmed here: a blank enables the button, and the login then ignores it.
    connectButton_->setEnabled(!loggingIn && !model_.password().isEmpty());
}

void SettingsPanel::refreshAutoStart() {
    autoToggle_->setOn(model_.autoEnabled());
}

void SettingsPanel::refreshMessage() {
    const std::optional<QString> message = model_.message();
    message_->setVisible(message.has_value());
    message_->setText(message.value_or(QString()));
}

} // namespace parlo

#include "SettingsPanel.moc"
