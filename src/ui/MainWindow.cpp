#include "ui/MainWindow.h"

#include "library/LocalStore.h"
#include "model/AppModel.h"
#include "ui/Controls.h"
#include "ui/Layouts.h"
#include "ui/LibraryList.h"
#include "ui/LogoView.h"
#include "ui/Palette.h"
#include "ui/RecordingDetail.h"
#include "ui/SoftButton.h"
#include "ui/Surface.h"
#include "ui/Theme.h"
#include "ui/TranscriptMatchList.h"
#include "ui/UiTexts.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace parlo {

namespace {

constexpr int kSidebarWidth = 220;
constexpr int kToastMaxWidth = 660;
constexpr int kToastMargin = 24;
constexpr int kSheetWidth = 630;
constexpr int kSheetHeight = 720;

// An engraved well named `name` holding one row, its content `across` and `down` further in than
// the well's own padding.
QHBoxLayout* engravedRow(QWidget* well, const char* name, qreal radius, int across, int down, int spacing) {
    well->setObjectName(QString::fromLatin1(name));
    Engraved::apply(well, radius);
    well->setContentsMargins(Engraved::padding + across, Engraved::padding + down, Engraved::padding + across,
                             Engraved::padding + down);
    return row(well, spacing);
}

QWidget* filledRect(QWidget* parent, const QColor& colour) {
    auto* w = new QWidget(parent);
    w->setAutoFillBackground(true);
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, colour);
    w->setPalette(palette);
    return w;
}

// Dims the window and holds the settings panel in its centre, drawn as a raised surface. The sheet is
// modal: only a press outside the panel, Escape or the panel's own buttons dismiss it; Tab cycles
// through the panel's controls, and focus that lands behind it (a click before it opened, a window
// activation) is taken back, so typed text never reaches the window underneath.
class SheetOverlay : public QWidget {
    Q_OBJECT
public:
    SheetOverlay(QWidget* parent, QWidget* panel) : QWidget(parent), panel_(panel) {
        setObjectName(QStringLiteral("settingsSheet"));
        setFocusPolicy(Qt::StrongFocus);
        panel_->setParent(this);
        // The overlay paints the panel's rounded surface; the panel's own corners stay clear.
        panel_->setAutoFillBackground(false);
        QPalette palette = panel_->palette();
        palette.setColor(QPalette::Window, Palette::background());
        palette.setColor(QPalette::WindowText, Palette::dark());
        panel_->setPalette(palette);
        QObject::connect(qApp, &QApplication::focusChanged, this,
                         [this](QWidget*, QWidget* now) { keepFocus(now); });
        place();
    }
    QWidget* panel() const { return panel_; }
    void place() {
        setGeometry(parentWidget()->rect());
        const int w = std::min(kSheetWidth, width());
        const int h = std::min(kSheetHeight, height());
        panel_->setGeometry((width() - w) / 2, (height() - h) / 2, w, h);
    }
    // Gives the focus to the panel's first control.
    void focusFirst() {
        if (QWidget* first = step(nullptr, true))
            first->setFocus(Qt::TabFocusReason);
        else
            setFocus();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(rect(), QColor(0, 0, 0, 40));
        Raised{kSheetRadius, Palette::background()}.paint(painter, QRectF(panel_->geometry()));
    }
    void mousePressEvent(QMouseEvent* event) override {
        // Presses that no control inside the panel took (labels, card backgrounds, padding) climb
        // up to here: only those outside the panel close the sheet.
        if (!panel_->geometry().contains(event->position().toPoint()))
            Q_EMIT dismissed();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            Q_EMIT dismissed();
            return;
        }
        // Keys no control used stop here: nothing of them reaches the window behind.
        event->accept();
    }
    bool focusNextPrevChild(bool next) override {
        if (QWidget* target = step(QApplication::focusWidget(), next))
            target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }

private:
    static constexpr qreal kSheetRadius = 20;

    bool takesTab(QWidget* widget) const {
        return widget != this && isAncestorOf(widget) && widget->isVisibleTo(this) && widget->isEnabled() &&
               (widget->focusPolicy() & Qt::TabFocus) != 0;
    }
    // The next (or previous) control inside the sheet after `from`, wrapping round.
    QWidget* step(QWidget* from, bool next) const {
        QWidget* start = from && isAncestorOf(from) ? from : const_cast<SheetOverlay*>(this);
        QWidget* widget = start;
        do {
            widget = next ? widget->nextInFocusChain() : widget->previousInFocusChain();
            if (takesTab(widget))
                return widget;
        } while (widget != start);
        return nullptr;
    }
    void keepFocus(QWidget* now) {
        if (!isVisible() || !now || now == this || isAncestorOf(now) || now->window() != window())
            return;
        focusFirst();
    }

Q_SIGNALS:
    void dismissed();

private:
    QWidget* panel_;
};

// The scrolling column, sized by itself rather than by the scroll area: its width is the
// viewport's and its height what its layout needs at that width. The scroll area would size it from
// minimum sizes, which for wrapped text and the transcript are not the heights they need, and the
// column would then be squeezed into the window's height.
class ScrollContent : public DecorationHost {
    Q_OBJECT
public:
    explicit ScrollContent(QScrollArea* area) : area_(area) { area_->viewport()->installEventFilter(this); }

protected:
    bool event(QEvent* event) override {
        const bool handled = DecorationHost::event(event);
        if (event->type() == QEvent::LayoutRequest)
            fit();
        return handled;
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == area_->viewport() && event->type() == QEvent::Resize)
            fit();
        return DecorationHost::eventFilter(watched, event);
    }

private:
    void fit() {
        if (!layout())
            return;
        const QSize viewport = area_->viewport()->size();
        const int needed = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(viewport.width())
                                                         : layout()->totalSizeHint().height();
        const QSize size(viewport.width(), std::max(viewport.height(), needed));
        if (this->size() != size)
            resize(size);
    }
    QScrollArea* area_;
};

} // namespace

MessageToast::MessageToast(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("messageToast"));
    const QMargins reach = Raised::overflow();
    auto* layout =
        row(this, 12, QMargins(reach.left() + 15, reach.top() + 15, reach.right() + 15, reach.bottom() + 15));
    layout->addWidget(new Symbol(QStringLiteral("info.circle"), 14, Palette::dark(), this), 0,
                      Qt::AlignVCenter);
    label_ = Theme::label(QString(), Theme::font(11), Palette::dark(), this, true);
    label_->setObjectName(QStringLiteral("messageText"));
    layout->addWidget(label_, 1, Qt::AlignVCenter);
    auto* close =
        new PlainButton(QString(), QStringLiteral("xmark"), Theme::font(11), Palette::muted(), this);
    close->setObjectName(QStringLiteral("messageClose"));
    QObject::connect(close, &QAbstractButton::clicked, this, &MessageToast::closeRequested);
    layout->addWidget(close, 0, Qt::AlignVCenter);
}

void MessageToast::setText(const QString& text) {
    label_->setText(text);
}

QString MessageToast::text() const {
    return label_->text();
}

QSize MessageToast::fit(int available) {
    const QMargins reach = Raised::overflow();
    const int extra = reach.left() + reach.right();
    const int maxWidth = std::min(kToastMaxWidth, available) + extra;
    // As narrow as the text allows, as wide as the window (less the margins) or 660.
    const QFontMetrics metrics(label_->font());
    const int natural = metrics.horizontalAdvance(label_->text()) + 14 + 12 + 12 + 14 + 30 + extra + 2;
    const int w = std::min(natural, maxWidth);
    const int h = heightForWidth(w) > 0 ? heightForWidth(w) : sizeHint().height();
    return {w, h};
}

void MessageToast::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    Raised{14, Palette::surface()}.paint(painter,
                                         QRectF(rect()).marginsRemoved(QMarginsF(Raised::overflow())));
}

MainWindow::MainWindow(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    Theme::load();
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Mello Parlo"));
    setMinimumSize(1030, 720);
    resize(defaultWidth, defaultHeight);
    Palette::applyToBackground(this);

    auto* layout = row(this, 0);
    layout->addWidget(buildSidebar());
    QWidget* separator = filledRect(this, Theme::faded(Palette::shade(), 0.13));
    separator->setFixedWidth(1);
    layout->addWidget(separator);
    layout->addWidget(buildContent(), 1);

    toast_ = new MessageToast(this);
    QObject::connect(toast_, &MessageToast::closeRequested, this,
                     [this] { model_.setMessage(std::nullopt); });
    toast_->hide();

    connectModel();
    refreshHeader();
    refreshCard();
    refreshList();
    refreshDetail();
    refreshMessage();
    refreshSheet();
}

MainWindow::~MainWindow() = default;

void MainWindow::setSettingsPanelFactory(std::function<QWidget*(QWidget*)> factory) {
    sheetFactory_ = std::move(factory);
    refreshSheet();
}

QWidget* MainWindow::buildSidebar() {
    auto* sidebar = new DecorationHost(this);
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setFixedWidth(kSidebarWidth);
    // Surface at 0.6 over the window's background.
    sidebar->setBackground(Theme::faded(Palette::surface(), 0.6));
    auto* layout = column(sidebar, 0, QMargins(22, 0, 22, 24));

    layout->addSpacing(18);
    auto* brand = new QWidget(sidebar);
    auto* brandRow = row(brand, 10);
    brandRow->addWidget(new LogoView(46, brand));
    auto* words = new QWidget(brand);
    auto* wordColumn = column(words, 2);
    wordColumn->addWidget(
        Theme::label(QStringLiteral("Mello"), Theme::rounded(22, QFont::Bold), Palette::dark(), words));
    wordColumn->addWidget(
        Theme::label(QStringLiteral("PARLO"), Theme::font(8, QFont::Bold, 1.9), Palette::muted(), words));
    brandRow->addWidget(words, 0, Qt::AlignVCenter);
    brandRow->addStretch(1);
    layout->addWidget(brand);
    layout->addSpacing(35);

    auto* import =
        new SoftButton(QString::fromUtf8(UiText::addRecording), QStringLiteral("plus"), true, false, sidebar);
    import->setObjectName(QStringLiteral("importButton"));
    QObject::connect(import, &QAbstractButton::clicked, this, [this] { model_.importAudio(); });
    layout->addWidget(import, 0, Qt::AlignLeft);

    layout->addSpacing(35);
    layout->addWidget(Theme::label(QString::fromUtf8(UiText::libraryHeading),
                                   Theme::font(9, QFont::Bold, 1.6), Palette::muted(), sidebar));
    layout->addSpacing(14);

    auto* entry = new QWidget(sidebar);
    // DejaVu is wider than the faces this layout was drawn for: tight spacing keeps the text whole.
    auto* entryRow = engravedRow(entry, "libraryEntry", 13, 13, 13, 5);
    const QFont entryFont = Theme::font(11, QFont::DemiBold);
    entryRow->addWidget(new Symbol(QStringLiteral("waveform"), 12, Palette::dark(), entry));
    entryRow->addWidget(
        Theme::label(QString::fromUtf8(UiText::allConversations), entryFont, Palette::dark(), entry));
    entryRow->addStretch(1);
    libraryCount_ = Theme::label(QStringLiteral("0"), entryFont, Palette::dark(), entry);
    libraryCount_->setObjectName(QStringLiteral("libraryCount"));
    entryRow->addWidget(libraryCount_);
    layout->addWidget(entry);

    auto* settings =
        new PlainButton(QString::fromUtf8(UiText::settings), QStringLiteral("slider.horizontal.3"),
                        Theme::font(11), Palette::muted(), sidebar);
    settings->setObjectName(QStringLiteral("sidebarSettingsButton"));
    QObject::connect(settings, &QAbstractButton::clicked, this, [this] { model_.setSettingsVisible(true); });
    auto* settingsBox = new QWidget(sidebar);
    auto* settingsRow = row(settingsBox, 0, QMargins(14, 14, 14, 14));
    settings->setParent(settingsBox);
    settingsRow->addWidget(settings);
    settingsRow->addStretch(1);
    layout->addWidget(settingsBox);

    layout->addStretch(1);

    auto* quote = new QWidget(sidebar);
    auto* quoteColumn = column(quote, 12, QMargins(4, 0, 0, 36));
    quoteColumn->addWidget(
        new Symbol(QStringLiteral("quote.bubble"), 24, Theme::faded(Palette::muted(), 0.5), quote));
    quoteColumn->addWidget(Theme::paragraph(QString::fromUtf8(UiText::sidebarQuote),
                                            Theme::rounded(15, QFont::Medium), Palette::dark(), 4, quote));
    layout->addWidget(quote);

    QWidget* divider = filledRect(sidebar, Theme::faded(Palette::shade(), 0.1));
    divider->setFixedHeight(1);
    layout->addWidget(divider);
    layout->addSpacing(15);

    auto* footer = new QWidget(sidebar);
    auto* footerRow = row(footer, 7);
    footerRow->addWidget(new Dot(6, Palette::mint(), footer), 0, Qt::AlignVCenter);
    footerRow->addWidget(
        Theme::label(QString::fromUtf8(UiText::personalSpace), Theme::font(9), Palette::muted(), footer));
    footerRow->addStretch(1);
    layout->addWidget(footer);
    return sidebar;
}

QWidget* MainWindow::buildContent() {
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("contentScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(false);
    Theme::thinScrollBars(scroll_);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->viewport()->setAutoFillBackground(true);
    QPalette palette = scroll_->viewport()->palette();
    palette.setColor(QPalette::Window, Palette::background());
    scroll_->viewport()->setPalette(palette);

    auto* content = new ScrollContent(scroll_);
    content->setObjectName(QStringLiteral("content"));
    auto* layout = column(content, 28, QMargins(30, 30, 30, 30));

    if (model_.isPreview()) {
        QLabel* banner = Theme::label(QString::fromUtf8(UiText::previewBanner),
                                      Theme::font(9, QFont::DemiBold, 1), Palette::muted(), content);
        banner->setObjectName(QStringLiteral("previewBanner"));
        layout->addWidget(banner);
    }

    auto* header = new QWidget(content);
    auto* headerRow = row(header, 8);
    auto* headerTexts = new QWidget(header);
    auto* headerColumn = column(headerTexts, 6);
    headerColumn->addWidget(Theme::label(QString::fromUtf8(UiText::yourPersonalSpace),
                                         Theme::rounded(9, QFont::Bold, 2), Palette::dark(), headerTexts));
    auto* statusLine = new QWidget(headerTexts);
    auto* statusRow = row(statusLine, 6);
    connectionDot_ = new Dot(7, Palette::mint(), statusLine);
    statusRow->addWidget(connectionDot_, 0, Qt::AlignVCenter);
    connectionText_ = Theme::label(QString(), Theme::font(10), Palette::dark(), statusLine);
    connectionText_->setObjectName(QStringLiteral("connectionText"));
    statusRow->addWidget(connectionText_);
    statusRow->addStretch(1);
    headerColumn->addWidget(statusLine);
    headerRow->addWidget(headerTexts, 1);
    auto* headerSettings = new PlainButton(QString(), QStringLiteral("slider.horizontal.3"), Theme::font(13),
                                           Palette::dark(), header);
    headerSettings->setObjectName(QStringLiteral("headerSettingsButton"));
    QObject::connect(headerSettings, &QAbstractButton::clicked, this,
                     [this] { model_.setSettingsVisible(true); });
    headerRow->addWidget(headerSettings, 0, Qt::AlignVCenter);
    layout->addWidget(header);

    layout->addWidget(buildCard(content));
    layout->addWidget(buildLibrary(content));

    auto* footer = new QWidget(content);
    auto* footerRow = row(footer, 5, QMargins(0, 2, 0, 0));
    const QColor footerColour = Theme::faded(Palette::muted(), 0.8);
    footerRow->addWidget(
        Theme::label(QStringLiteral("Mello Parlo"), Theme::font(9, QFont::Medium), footerColour, footer));
    footerRow->addWidget(
        Theme::label(QString::fromUtf8(UiText::footerMotto), Theme::font(9), footerColour, footer));
    footerRow->addStretch(1);
    layout->addWidget(footer);
    layout->addStretch(1);

    scroll_->setWidget(content);
    return scroll_;
}

QWidget* MainWindow::buildCard(QWidget* parent) {
    auto* card = new QWidget(parent);
    card->setObjectName(QStringLiteral("recordingCard"));
    Raised::apply(card, 24, Palette::surface());
    auto* layout = column(card, 22, QMargins(27, 27, 27, 27));

    // Hero row.
    auto* hero = new QWidget(card);
    auto* heroRow = row(hero, 8);
    auto* heroTexts = new QWidget(hero);
    auto* heroColumn = column(heroTexts, 9, QMargins(0, 0, 5, 0));
    eyebrow_ = Theme::label(QString(), Theme::font(9, QFont::Bold, 1.8), Palette::muted(), heroTexts);
    eyebrow_->setObjectName(QStringLiteral("cardEyebrow"));
    headline_ = Theme::label(QString(), Theme::font(30, QFont::DemiBold, -0.8), Palette::dark(), heroTexts);
    headline_->setObjectName(QStringLiteral("cardHeadline"));
    body_ = Theme::paragraph(QString(), Theme::font(12), Palette::muted(), 4, heroTexts);
    body_->setObjectName(QStringLiteral("cardBody"));
    warning_ = Theme::paragraph(QString(), Theme::font(12, QFont::DemiBold), Palette::orange(), 4, heroTexts);
    warning_->setObjectName(QStringLiteral("recordingWarning"));
    heroColumn->addWidget(eyebrow_);
    heroColumn->addWidget(headline_);
    heroColumn->addWidget(body_);
    heroColumn->addWidget(warning_);
    heroRow->addWidget(heroTexts, 0, Qt::AlignTop);
    heroRow->addStretch(1);
    heroRow->addWidget(new LogoView(100, hero), 0, Qt::AlignTop);
    layout->addWidget(hero);

    // Status row.
    auto* status = new QWidget(card);
    auto* statusRow = row(status, 12);
    auto* pill = new QWidget(status);
    auto* pillRow = engravedRow(pill, "statusPill", 12, 13, 9, 8);
    statusDot_ = new Dot(7, Palette::mint(), pill);
    statusDot_->setObjectName(QStringLiteral("statusDot"));
    pillRow->addWidget(statusDot_, 0, Qt::AlignVCenter);
    statusTitle_ = Theme::label(QString(), Theme::font(11, QFont::DemiBold), Palette::dark(), pill);
    statusTitle_->setObjectName(QStringLiteral("statusTitle"));
    pillRow->addWidget(statusTitle_);
    statusRow->addWidget(pill, 0, Qt::AlignVCenter);
    statusRow->addStretch(1);
    statusRow->addWidget(
        Theme::label(QString::fromUtf8(UiText::autoStart), Theme::font(11), Palette::muted(), status), 0,
        Qt::AlignVCenter);
    autoToggle_ = new Toggle(status);
    autoToggle_->setObjectName(QStringLiteral("autoToggle"));
    QObject::connect(autoToggle_, &Toggle::toggleRequested, this, [this](bool on) {
        model_.setAutoEnabled(on);
        // The model may refuse: the switch always shows the model's value.
        autoToggle_->setOn(model_.autoEnabled());
    });
    statusRow->addWidget(autoToggle_, 0, Qt::AlignVCenter);
    layout->addWidget(status);

    // Source row.
    auto* sources = new QWidget(card);
    auto* sourceRow = row(sources, 18);
    systemMeter_ =
        new LevelMeter(QString::fromUtf8(UiText::systemAudio), QStringLiteral("speaker.wave.2"), sources);
    systemMeter_->setObjectName(QStringLiteral("systemMeter"));
    microphoneMeter_ =
        new LevelMeter(QString::fromUtf8(UiText::yourMicrophone), QStringLiteral("mic"), sources);
    microphoneMeter_->setObjectName(QStringLiteral("microphoneMeter"));
    sourceRow->addWidget(systemMeter_, 0, Qt::AlignVCenter);
    sourceRow->addWidget(microphoneMeter_, 0, Qt::AlignVCenter);
    sourceRow->addStretch(1);

    recordingBox_ = new QWidget(sources);
    recordingBox_->setObjectName(QStringLiteral("recordingActions"));
    auto* recordingRow = row(recordingBox_, 6);
    elapsed_ = Theme::label(QString(), Theme::font(23, QFont::Medium), Palette::dark(), recordingBox_);
    elapsed_->setObjectName(QStringLiteral("elapsedClock"));
    recordingRow->addWidget(elapsed_, 0, Qt::AlignVCenter);
    stopButton_ = new SoftButton(QString::fromUtf8(UiText::finish), QStringLiteral("stop.fill"), true, false,
                                 recordingBox_);
    stopButton_->setObjectName(QStringLiteral("stopButton"));
    QPointer<AppModel> weak(&model_);
    QObject::connect(stopButton_, &QAbstractButton::clicked, this, [weak] {
        if (weak)
            weak->stopRecording(true);
    });
    recordingRow->addWidget(stopButton_, 0, Qt::AlignVCenter);
    sourceRow->addWidget(recordingBox_, 0, Qt::AlignVCenter);

    accessButton_ = new SoftButton(QString::fromUtf8(UiText::setUpAccess), QStringLiteral("lock.open"), true,
                                   false, sources);
    accessButton_->setObjectName(QStringLiteral("accessButton"));
    QObject::connect(accessButton_, &QAbstractButton::clicked, this,
                     [this] { model_.setSettingsVisible(true); });
    sourceRow->addWidget(accessButton_, 0, Qt::AlignVCenter);

    recordButton_ = new SoftButton(QString::fromUtf8(UiText::record), QStringLiteral("record.circle"), true,
                                   false, sources);
    recordButton_->setObjectName(QStringLiteral("recordButton"));
    QObject::connect(recordButton_, &QAbstractButton::clicked, this, [weak] {
        if (weak)
            weak->recordNow();
    });
    sourceRow->addWidget(recordButton_, 0, Qt::AlignVCenter);
    layout->addWidget(sources);

    // The live warning that one side is not heard, with the way to fix it.
    silenceRow_ = new QWidget(card);
    silenceRow_->setObjectName(QStringLiteral("silenceWarning"));
    auto* silenceLayout = row(silenceRow_, 12);
    silenceText_ = Theme::label(QString(), Theme::font(11), Palette::orange(), silenceRow_, true);
    silenceText_->setObjectName(QStringLiteral("silenceText"));
    silenceLayout->addWidget(silenceText_, 1, Qt::AlignVCenter);
    auto* soundSettings = new PlainButton(QString::fromUtf8(UiText::openSoundSettings), QString(),
                                          Theme::font(11), Palette::dark(), silenceRow_);
    soundSettings->setObjectName(QStringLiteral("silenceSettingsButton"));
    QObject::connect(soundSettings, &QAbstractButton::clicked, this, [this] { model_.openSoundSettings(); });
    silenceLayout->addWidget(soundSettings, 0, Qt::AlignVCenter);
    layout->addWidget(silenceRow_);

    hint_ = Theme::label(QString(), Theme::font(11), Palette::muted(), card, true);
    hint_->setObjectName(QStringLiteral("recordingHint"));
    layout->addWidget(hint_);

    layout->addWidget(Theme::label(QString::fromUtf8(UiText::recordingLimits), Theme::font(9),
                                   Palette::muted(), card, true));
    return card;
}

QWidget* MainWindow::buildLibrary(QWidget* parent) {
    auto* library = new QWidget(parent);
    auto* layout = column(library, 18);

    auto* head = new QWidget(library);
    auto* headRow = row(head, 12);
    auto* titles = new QWidget(head);
    auto* titleColumn = column(titles, 5);
    titleColumn->addWidget(Theme::label(QString::fromUtf8(UiText::savedMoments),
                                        Theme::font(9, QFont::Bold, 1.6), Palette::muted(), titles));
    titleColumn->addWidget(Theme::label(QString::fromUtf8(UiText::yourConversations),
                                        Theme::rounded(23, QFont::DemiBold, -0.6), Palette::dark(), titles));
    headRow->addWidget(titles, 0, Qt::AlignBottom);
    headRow->addStretch(1);

    auto* search = new QWidget(head);
    search->setObjectName(QStringLiteral("searchWell"));
    search->setFixedWidth(LibraryList::columnWidth);
    Engraved::apply(search, 12);
    auto* searchRow = new QHBoxLayout(search);
    searchRow->setContentsMargins(0, 0, 0, 0);
    searchRow->setSpacing(6);
    searchRow->addWidget(new Symbol(QStringLiteral("magnifyingglass"), 12, Palette::muted(), search), 0,
                         Qt::AlignVCenter);
    searchField_ = new QLineEdit(search);
    searchField_->setObjectName(QStringLiteral("searchField"));
    searchField_->setFrame(false);
    searchField_->setPlaceholderText(QString::fromUtf8(UiText::findConversation));
    searchField_->setFont(Theme::font(11));
    QPalette fieldPalette = searchField_->palette();
    fieldPalette.setColor(QPalette::Base, Qt::transparent);
    fieldPalette.setColor(QPalette::Text, Palette::muted());
    fieldPalette.setColor(QPalette::PlaceholderText, Palette::muted());
    searchField_->setPalette(fieldPalette);
    searchField_->setAttribute(Qt::WA_MacShowFocusRect, false);
    QObject::connect(searchField_, &QLineEdit::textEdited, this,
                     [this](const QString& text) { model_.setSearch(text); });
    searchRow->addWidget(searchField_, 1);
    headRow->addWidget(search, 0, Qt::AlignBottom);
    layout->addWidget(head);

    auto* body = new QWidget(library);
    auto* bodyRow = row(body, 22);
    // The list column: the recordings, then the lines found in what was said.
    auto* listColumn = new QWidget(body);
    listColumn->setFixedWidth(LibraryList::columnWidth);
    auto* listLayout = column(listColumn, 0);
    list_ = new LibraryList(listColumn);
    list_->setObjectName(QStringLiteral("libraryList"));
    QObject::connect(list_, &LibraryList::activated, this,
                     [this](const Uuid& id) { model_.setSelection(id); });
    QObject::connect(list_, &LibraryList::deleteRequested, this,
                     [this](const Uuid& id) { confirmDeletion(id); });
    listLayout->addWidget(list_);
    matches_ = new TranscriptMatchList(listColumn);
    QObject::connect(matches_, &TranscriptMatchList::activated, this,
                     [this](const TranscriptMatch& match) { openMatch(match); });
    listLayout->addWidget(matches_);
    listLayout->addStretch(1);
    bodyRow->addWidget(listColumn, 0, Qt::AlignTop);

    detailPane_ = new QWidget(body);
    detailPane_->setObjectName(QStringLiteral("detailPane"));
    Raised::apply(detailPane_, 20, Palette::surface());
    auto* paneLayout = column(detailPane_, 0);
    detail_ = new RecordingDetail(detailPane_);
    detail_->setContentsMargins(22, 22, 22, 22);
    connectDetail();
    paneLayout->addWidget(detail_);

    placeholder_ = new QWidget(detailPane_);
    placeholder_->setObjectName(QStringLiteral("detailPlaceholder"));
    placeholder_->setMinimumHeight(285);
    auto* placeholderColumn = column(placeholder_, 15, QMargins(22, 22, 22, 22));
    placeholderColumn->addStretch(1);
    placeholderColumn->addWidget(
        new Symbol(QStringLiteral("text.bubble"), 38, Theme::faded(Palette::dark(), 0.6), placeholder_), 0,
        Qt::AlignHCenter);
    QLabel* heading = Theme::label(QString::fromUtf8(UiText::nothingSelectedHeading),
                                   Theme::rounded(17, QFont::DemiBold), Palette::dark(), placeholder_);
    placeholderColumn->addWidget(heading, 0, Qt::AlignHCenter);
    placeholderColumn->addWidget(Theme::paragraph(QString::fromUtf8(UiText::nothingSelected), Theme::font(11),
                                                  Palette::muted(), 4, placeholder_, Qt::AlignHCenter));
    placeholderColumn->addStretch(1);
    paneLayout->addWidget(placeholder_);
    bodyRow->addWidget(detailPane_, 1, Qt::AlignTop);
    layout->addWidget(body);
    return library;
}

void MainWindow::connectModel() {
    auto card = [this] { refreshCard(); };
    for (auto signal :
         {&AppModel::recordingIDChanged, &AppModel::startingChanged, &AppModel::finalizingChanged,
          &AppModel::audioPermissionChanged, &AppModel::microphonePermissionChanged,
          &AppModel::autoEnabledChanged, &AppModel::callActivityChanged,
          &AppModel::checkingPermissionsChanged, &AppModel::recordingSecondsChanged,
          &AppModel::systemLevelChanged, &AppModel::microphoneLevelChanged, &AppModel::silenceWarningChanged,
          &AppModel::recordingWarningChanged})
        QObject::connect(&model_, signal, this, card);
    QObject::connect(&model_, &AppModel::connectedChanged, this, [this] { refreshHeader(); });
    QObject::connect(&model_, &AppModel::itemsChanged, this, [this] {
        refreshList();
        refreshDetail();
        refreshMatches();
    });
    QObject::connect(&model_, &AppModel::searchChanged, this, [this] {
        if (searchField_->text() != model_.search())
            searchField_->setText(model_.search());
        refreshList();
        refreshMatches();
    });
    QObject::connect(&model_, &AppModel::transcriptMatchesChanged, this, [this] { refreshMatches(); });
    for (auto signal :
         {&AppModel::recordingIDChanged, &AppModel::finalizingChanged, &AppModel::uploadingChanged})
        QObject::connect(&model_, signal, this, [this] { refreshDeletionRefusal(); });
    QObject::connect(&model_, &AppModel::selectionChanged, this, [this] { selectionChanged(); });
    QObject::connect(&model_, &AppModel::messageChanged, this, [this] { refreshMessage(); });
    QObject::connect(&model_, &AppModel::settingsVisibleChanged, this, [this] { refreshSheet(); });
    auto playback = [this] {
        detail_->setPlayback(model_.isPlaying(), model_.playbackPosition(), model_.playbackDuration());
    };
    for (auto signal : {&AppModel::isPlayingChanged, &AppModel::playbackPositionChanged,
                        &AppModel::playbackDurationChanged})
        QObject::connect(&model_, signal, this, playback);
    playback();
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, this,
                     [this](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive)
                             applicationBecameActive();
                     });
}

void MainWindow::connectDetail() {
    // Each operation runs on its own; the window does not wait for it.
    QObject::connect(detail_, &RecordingDetail::tabChosen, this, [this](const QString& tab) {
        tab_ = tab;
        refreshDetail();
    });
    QObject::connect(detail_, &RecordingDetail::playRequested, this,
                     [this](const Uuid& id, std::optional<double> at) { model_.play(id, at); });
    QObject::connect(detail_, &RecordingDetail::seekRequested, this, [this](double seconds) {
        model_.seek(seconds);
        model_.setPlaybackPosition(seconds);
    });
    QObject::connect(detail_, &RecordingDetail::revealRequested, this,
                     [this](const Uuid& id) { model_.revealFiles(id); });
    QObject::connect(detail_, &RecordingDetail::retryRequested, this,
                     [this](const Uuid& id) { model_.retry(id); });
    QObject::connect(detail_, &RecordingDetail::restoreRequested, this,
                     [this](const Uuid& id) { model_.restoreRecording(id); });
    QObject::connect(detail_, &RecordingDetail::exportRequested, this,
                     [this](const Uuid& id, const QString& format) { model_.exportRecording(id, format); });
    QObject::connect(detail_, &RecordingDetail::saveAudioRequested, this,
                     [this](const Uuid& id) { model_.saveAudio(id); });
    QObject::connect(detail_, &RecordingDetail::renameRequested, this,
                     [this](const Uuid& id, const QString& title) { model_.renameRecording(id, title); });
    QObject::connect(detail_, &RecordingDetail::deleteRequested, this,
                     [this](const Uuid& id) { confirmDeletion(id); });
}

void MainWindow::applicationBecameActive() {
    model_.refreshPermissionsOnActivation();
}

void MainWindow::refreshHeader() {
    const bool connected = model_.connected();
    connectionDot_->setColour(connected ? Palette::mint() : Theme::faded(Palette::orange(), 0.65));
    connectionText_->setText(connected ? QString::fromUtf8(UiText::accountConnected)
                                       : QString::fromUtf8(UiText::savingLocally));
}

void MainWindow::refreshCard() {
    const bool recording = model_.recordingID().has_value();
    eyebrow_->setText(recording ? QString::fromUtf8(UiText::eyebrowRecording)
                                : QString::fromUtf8(UiText::eyebrowIdle));
    headline_->setText(recording ? QString::fromUtf8(UiText::headlineRecording)
                                 : QString::fromUtf8(UiText::headlineIdle));
    Theme::setParagraphText(body_,
                            recording ? QString::fromUtf8(UiText::subtitleRecording)
                                      : QString::fromUtf8(UiText::subtitleIdle),
                            4);
    const std::optional<QString> warning = recording ? model_.recordingWarning() : std::nullopt;
    warning_->setVisible(warning.has_value());
    if (warning)
        Theme::setParagraphText(warning_, *warning, 4);
    statusDot_->setColour(recording ? Palette::recordingRed() : Palette::mint());
    statusTitle_->setText(model_.statusTitle());
    autoToggle_->setOn(model_.autoEnabled());

    systemMeter_->setLevel(model_.systemLevel());
    systemMeter_->setReady(model_.audioPermission());
    microphoneMeter_->setLevel(model_.microphoneLevel());
    microphoneMeter_->setReady(model_.microphonePermission());

    const bool permitted = model_.audioPermission() && model_.microphonePermission();
    recordingBox_->setVisible(recording);
    accessButton_->setVisible(!recording && !permitted);
    recordButton_->setVisible(!recording && permitted);
    if (recording) {
        elapsed_->setText(QString::fromStdString(clockLabel(model_.recordingSeconds())));
        stopButton_->setEnabled(!model_.finalizing());
    } else if (permitted) {
        const bool starting = model_.starting();
        recordButton_->setText(starting ? QString::fromUtf8(UiText::startingRecording)
                                        : QString::fromUtf8(UiText::record));
        recordButton_->setSymbol(starting ? QStringLiteral("hourglass") : QStringLiteral("record.circle"));
        recordButton_->setEnabled(!starting);
    }

    const std::optional<QString> silence = model_.silenceWarning();
    silenceRow_->setVisible(silence.has_value());
    if (silence)
        silenceText_->setText(*silence);

    const std::optional<QString> hint = model_.recordingHint();
    hint_->setVisible(hint.has_value());
    if (hint)
        hint_->setText(*hint);
}

void MainWindow::refreshList() {
    libraryCount_->setText(QString::number(static_cast<qlonglong>(model_.items().size())));
    list_->setItems(model_.filteredItems());
    list_->setSelection(model_.selection());
}

void MainWindow::refreshDetail() {
    const std::optional<LocalRecording> selected = model_.selected();
    if (selected) {
        placeholder_->hide();
        detail_->display(*selected, tab_, model_.canRestore(*selected));
        detail_->setDeletionRefusal(model_.deletionRefusal(selected->id));
        detail_->show();
    } else {
        detail_->hide();
        placeholder_->show();
    }
}

void MainWindow::refreshDeletionRefusal() {
    if (const std::optional<Uuid> selection = model_.selection())
        detail_->setDeletionRefusal(model_.deletionRefusal(*selection));
}

void MainWindow::refreshMatches() {
    std::vector<TranscriptMatchList::Entry> entries;
    if (!model_.search().isEmpty()) {
        const auto& items = model_.items();
        for (const TranscriptMatch& match : model_.transcriptMatches()) {
            // A line of a recording deleted since the search is not shown.
            const auto item = std::find_if(items.begin(), items.end(),
                                           [&](const LocalRecording& r) { return r.id == match.recording; });
            if (item != items.end())
                entries.push_back({match, QString::fromStdString(item->title)});
        }
    }
    matches_->setEntries(entries);
}

void MainWindow::confirmDeletion(const Uuid& id) {
    const auto& items = model_.items();
    const auto item =
        std::find_if(items.begin(), items.end(), [&](const LocalRecording& r) { return r.id == id; });
    if (item == items.end())
        return;
    if (std::optional<QString> refusal = model_.deletionRefusal(id)) {
        model_.setMessage(*refusal);
        return;
    }
    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("deleteConfirmation"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QString::fromUtf8(UiText::deleteRecording));
    box->setText(QString::fromUtf8(UiText::deleteQuestion).arg(QString::fromStdString(item->title)));
    QString details = QString::fromUtf8(UiText::deleteMovesToTrash);
    if (item->remoteID)
        details += QString::fromUtf8(UiText::deleteKeepsInAccount);
    box->setInformativeText(details);
    QPushButton* remove =
        box->addButton(QString::fromUtf8(UiText::deleteConfirm), QMessageBox::DestructiveRole);
    remove->setObjectName(QStringLiteral("confirmDeleteButton"));
    QPushButton* cancel = box->addButton(QString::fromUtf8(UiText::cancel), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelDeleteButton"));
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QMessageBox::buttonClicked, this, [this, remove, id](QAbstractButton* button) {
        if (button == remove)
            model_.deleteRecording(id);
    });
    box->open();
}

void MainWindow::openMatch(const TranscriptMatch& match) {
    model_.setSelection(match.recording);
    if (!model_.selected())
        return;
    tab_ = match.inSummary ? QStringLiteral("summary") : QStringLiteral("transcript");
    refreshDetail();
    if (!match.inSummary && match.segment >= 0) {
        const int segment = match.segment;
        detail_->highlightSegment(segment);
        // Once the new tab has been laid out, bring the line into view.
        QTimer::singleShot(0, this, [this, segment] {
            const QRect row = detail_->highlightSegment(segment);
            if (row.isEmpty())
                return;
            const QPoint centre = detail_->mapTo(scroll_->widget(), row.center());
            scroll_->ensureVisible(centre.x(), centre.y(), 0, row.height() / 2 + 80);
        });
    }
    if (match.segment >= 0)
        model_.play(match.recording, match.start);
}

void MainWindow::selectionChanged() {
    tab_ = QStringLiteral("summary");
    list_->setSelection(model_.selection());
    refreshDetail();
    const std::optional<Uuid> selection = model_.selection();
    if (selection && model_.selected())
        model_.loadDetail(*selection);
}

void MainWindow::refreshMessage() {
    const std::optional<QString> message = model_.message();
    if (!message || sheet_) {
        toast_->hide();
        return;
    }
    toast_->setText(*message);
    toast_->show();
    toast_->raise();
    placeOverlays();
}

void MainWindow::refreshSheet() {
    const bool wanted = model_.settingsVisible() && sheetFactory_;
    if (!wanted) {
        if (sheet_) {
            sheet_->hide();
            sheet_->deleteLater();
            sheet_ = nullptr;
            refreshMessage();
        }
        return;
    }
    if (sheet_)
        return;
    QWidget* panel = sheetFactory_(nullptr);
    if (!panel)
        return;
    auto* overlay = new SheetOverlay(this, panel);
    QObject::connect(overlay, &SheetOverlay::dismissed, this, [this] { model_.setSettingsVisible(false); });
    sheet_ = overlay;
    sheet_->show();
    sheet_->raise();
    overlay->focusFirst();
    // The sheet's message line shows the notice while it is up.
    toast_->hide();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeOverlays();
}

void MainWindow::placeOverlays() {
    if (toast_->isVisible()) {
        const QMargins reach = Raised::overflow();
        const QSize size = toast_->fit(width() - 2 * kToastMargin);
        // The shape (not its shadow) keeps 24 from the window's bottom edge.
        // Centred on its shape: the shadows reach further to one side than to the other.
        toast_->setGeometry((width() - size.width()) / 2 - (reach.left() - reach.right()) / 2,
                            height() - kToastMargin - size.height() + reach.bottom(), size.width(),
                            size.height());
    }
    if (auto* overlay = dynamic_cast<SheetOverlay*>(sheet_))
        overlay->place();
}

} // namespace parlo

#include "MainWindow.moc"
