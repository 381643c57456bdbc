#include "ui/RecordingDetail.h"

#include "library/LocalRecording.h"
#include "library/LocalStore.h"
#include "model/AppModel.h"
#include "server/ServiceEndpoint.h"
#include "ui/Controls.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/SoftButton.h"
#include "ui/Theme.h"
#include "ui/TranscriptView.h"
#include "ui/UiTexts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

namespace parlo {

namespace {

QString qs(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QString clock(double seconds) {
    return QString::fromStdString(clockLabel(seconds));
}

bool isWaitingStatus(const std::string& status) {
    return status == RecordingStatus::queued || status == RecordingStatus::uploading ||
           status == RecordingStatus::processing;
}

// A progress bar of `percent` out of 100, tinted muted.
class ProgressBar : public QWidget {
    Q_OBJECT
public:
    ProgressBar(double percent, QWidget* parent) : QWidget(parent), percent_(qBound(0.0, percent, 100.0)) {
        setFixedHeight(4);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    double percent() const { return percent_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const QRectF track(rect());
        painter.setBrush(Theme::faded(Palette::shade(), 0.2));
        painter.drawRoundedRect(track, 2, 2);
        painter.setBrush(Palette::muted());
        painter.drawRoundedRect(QRectF(0, 0, track.width() * percent_ / 100.0, track.height()), 2, 2);
    }

private:
    double percent_;
};

} // namespace

RecordingDetail::RecordingDetail(QWidget* parent) : QWidget(parent), layout_(column(this, 0)) {
    setObjectName(QStringLiteral("recordingDetail"));
}

RecordingDetail::~RecordingDetail() = default;

void RecordingDetail::display(const LocalRecording& recording, const QString& tab, bool restorable) {
    if (recording_ && *recording_ == recording && tab_ == tab && restorable_ == restorable)
        return;
    const bool sameRecording = recording_ && recording_->id == recording.id;
    if (!sameRecording)
        highlightedSegment_ = -1;
    // A synchronization may change the recording while its title is being edited: the edit goes on.
    std::optional<std::pair<QString, int>> editing;
    if (titleEditor_ && sameRecording)
        editing.emplace(titleEditor_->text(), titleEditor_->cursorPosition());
    recording_ = std::make_unique<LocalRecording>(recording);
    tab_ = tab;
    restorable_ = restorable;
    rebuild();
    if (editing) {
        beginRename();
        titleEditor_->setText(editing->first);
        titleEditor_->setCursorPosition(editing->second);
    }
}

void RecordingDetail::setDeletionRefusal(const std::optional<QString>& refusal) {
    deletionRefusal_ = refusal;
    updateDeleteAction();
}

void RecordingDetail::updateDeleteAction() {
    if (!deleteAction_)
        return;
    deleteAction_->setEnabled(!deletionRefusal_);
    deleteAction_->setText(deletionRefusal_.value_or(QString::fromUtf8(UiText::deleteRecordingCommand)));
}

void RecordingDetail::beginRename() {
    if (!title_ || titleEditor_ || !recording_)
        return;
    auto* texts = qobject_cast<QVBoxLayout*>(title_->parentWidget()->layout());
    auto* editor = new QLineEdit(title_->parentWidget());
    editor->setObjectName(QStringLiteral("titleEditor"));
    editor->setFont(title_->font());
    editor->setMaxLength(AppModel::kMaxTitleLength);
    editor->setText(qs(recording_->title));
    editor->selectAll();
    texts->insertWidget(texts->indexOf(title_), editor);
    title_->hide();
    editor->installEventFilter(this);
    // Return finishes the edit, and so does leaving the field (see eventFilter): editingFinished
    // would not come for a title left as it was.
    QObject::connect(editor, &QLineEdit::returnPressed, this, [this] { endRename(true); });
    titleEditor_ = editor;
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);
}

void RecordingDetail::endRename(bool confirmed) {
    if (!titleEditor_)
        return;
    QLineEdit* editor = titleEditor_;
    titleEditor_ = nullptr;
    const QString text = editor->text();
    QObject::disconnect(editor, nullptr, this, nullptr);
    editor->removeEventFilter(this);
    editor->hide();
    editor->deleteLater();
    if (title_)
        title_->show();
    if (confirmed && recording_ && text != qs(recording_->title))
        Q_EMIT renameRequested(recording_->id, text);
}

bool RecordingDetail::eventFilter(QObject* watched, QEvent* event) {
    if (watched == title_ && event->type() == QEvent::MouseButtonDblClick) {
        beginRename();
        return true;
    }
    if (watched == titleEditor_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        endRename(false);
        return true;
    }
    // Another field or button took the focus; a context menu or another window only borrow it.
    if (watched == titleEditor_ && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            endRename(true);
    }
    return QWidget::eventFilter(watched, event);
}

QRect RecordingDetail::highlightSegment(int index) {
    highlightedSegment_ = index;
    if (!transcript_ || index < 0 || index >= transcript_->count())
        return {};
    transcript_->setHighlighted(index);
    const QRect row = transcript_->rowRect(index);
    return {transcript_->mapTo(this, row.topLeft()), row.size()};
}

void RecordingDetail::setPlayback(bool isPlaying, double position, double duration) {
    isPlaying_ = isPlaying;
    position_ = position;
    duration_ = duration;
    updatePlayer();
}

void RecordingDetail::updatePlayer() {
    if (playButton_)
        playButton_->setSymbol(isPlaying_ ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"));
    if (slider_) {
        slider_->setRange(duration_);
        slider_->setValue(position_);
    }
    if (auto* label = static_cast<QLabel*>(clock_))
        label->setText(clock(position_));
}

void RecordingDetail::rebuild() {
    ++builds_;
    // A tab chosen by keyboard rebuilds the pane under the focused button: the focus moves to the
    // button of the same name in the new content.
    QString focused;
    if (QWidget* focus = QApplication::focusWidget(); content_ && focus && content_->isAncestorOf(focus))
        focused = focus->objectName();
    // The old content may hold the button whose click led here: hide it now, delete it later.
    if (content_) {
        layout_->removeWidget(content_);
        content_->hide();
        content_->setParent(nullptr);
        content_->deleteLater();
    }
    if (titleEditor_) {
        // The old content goes with its editor: it must not finish the edit on its way out.
        QObject::disconnect(titleEditor_, nullptr, this, nullptr);
        titleEditor_ = nullptr;
    }
    playButton_ = nullptr;
    slider_ = nullptr;
    clock_ = nullptr;
    title_ = nullptr;
    deleteAction_ = nullptr;
    transcript_ = nullptr;

    content_ = new QWidget(this);
    auto* layout = column(content_, 17);
    const LocalRecording& r = *recording_;

    layout->addWidget(buildTitleRow(content_));
    if (r.fileName || r.status == RecordingStatus::done)
        layout->addWidget(buildPlayerRow(content_));
    if (r.error)
        layout->addWidget(buildErrorRow(content_));

    if (r.status == RecordingStatus::recording) {
        QLabel* note = Theme::label(QString::fromUtf8(UiText::recordingInProgress), Theme::font(12),
                                    Palette::muted(), content_, true);
        note->setObjectName(QStringLiteral("recordingNote"));
        layout->addWidget(note);
    } else if (r.result) {
        const MeetingResult& result = r.result->value();
        layout->addWidget(buildTabBar(content_));
        if (tab_ == QStringLiteral("transcript"))
            layout->addWidget(buildTranscript(content_, result));
        else
            layout->addWidget(buildSummary(content_, result));
    } else {
        layout->addWidget(buildWaiting(content_));
    }
    layout_->addWidget(content_);
    // Shown now rather than on the layout's queued show: until then the layouts above count the new
    // content as absent and size the window's column without it.
    content_->show();
    updatePlayer();
    if (!focused.isEmpty())
        if (auto* again = content_->findChild<QWidget*>(focused))
            again->setFocus(Qt::TabFocusReason);
}

QWidget* RecordingDetail::buildTitleRow(QWidget* parent) {
    const LocalRecording& r = *recording_;
    auto* box = new QWidget(parent);
    auto* layout = row(box, 12);
    layout->setAlignment(Qt::AlignTop);

    auto* texts = new QWidget(box);
    auto* textColumn = column(texts, 4);
    QLabel* title =
        Theme::label(qs(r.title), Theme::rounded(18, QFont::DemiBold), Palette::dark(), texts, true);
    title->setObjectName(QStringLiteral("detailTitle"));
    title->setToolTip(QString::fromUtf8(UiText::renameHint));
    title->installEventFilter(this);
    title_ = title;
    textColumn->addWidget(title);
    const QString tail = r.duration ? clock(*r.duration) : qs(r.statusLabel());
    QLabel* meta =
        Theme::label(qs(r.source) + QStringLiteral(" · ") + tail, Theme::font(10), Palette::muted(), texts);
    meta->setObjectName(QStringLiteral("detailMeta"));
    textColumn->addWidget(meta);
    layout->addWidget(texts, 1, Qt::AlignTop);

    auto* more =
        new PlainButton(QString(), QStringLiteral("ellipsis"), Theme::font(13), Palette::dark(), box);
    more->setObjectName(QStringLiteral("detailMenuButton"));
    more->setMinimumContentWidth(20);
    auto* menu = new QMenu(more);
    menu->setObjectName(QStringLiteral("detailMenu"));
    const bool done = r.status == RecordingStatus::done;
    for (const char* format : {"md", "txt", "srt", "json"}) {
        const QString name = QString::fromLatin1(format);
        QAction* action = menu->addAction(QString::fromUtf8(UiText::exportAs).arg(name.toUpper()));
        action->setEnabled(done);
        QObject::connect(action, &QAction::triggered, this, [this, name] {
            if (recording_)
                Q_EMIT exportRequested(recording_->id, name);
        });
    }
    QAction* saveAudio = menu->addAction(QString::fromUtf8(UiText::saveAudio));
    saveAudio->setEnabled(r.fileName.has_value());
    QObject::connect(saveAudio, &QAction::triggered, this, [this] {
        if (recording_)
            Q_EMIT saveAudioRequested(recording_->id);
    });
    QAction* reveal = menu->addAction(QString::fromUtf8(UiText::showFiles));
    reveal->setEnabled(r.folderName.has_value());
    QObject::connect(reveal, &QAction::triggered, this, [this] {
        if (recording_)
            Q_EMIT revealRequested(recording_->id);
    });
    QAction* service = menu->addAction(QString::fromUtf8(UiText::openAccount));
    QObject::connect(service, &QAction::triggered, this, [] { QDesktopServices::openUrl(serviceBaseUrl()); });
    menu->addSeparator();
    QAction* rename = menu->addAction(QString::fromUtf8(UiText::rename));
    // After the menu has closed and given the focus back, or the editor would lose it at once.
    QObject::connect(rename, &QAction::triggered, this, &RecordingDetail::beginRename, Qt::QueuedConnection);
    deleteAction_ = menu->addAction(QString::fromUtf8(UiText::deleteRecordingCommand));
    QObject::connect(deleteAction_, &QAction::triggered, this, [this] {
        if (recording_)
            Q_EMIT deleteRequested(recording_->id);
    });
    updateDeleteAction();
    QObject::connect(more, &QAbstractButton::clicked, menu,
                     [menu, more] { menu->popup(more->mapToGlobal(QPoint(0, more->height()))); });
    layout->addWidget(more, 0, Qt::AlignTop);
    return box;
}

QWidget* RecordingDetail::buildPlayerRow(QWidget* parent) {
    auto* box = new QWidget(parent);
    box->setObjectName(QStringLiteral("playerRow"));
    auto* layout = row(box, 12);
    playButton_ = new SoftButton(QString(), QStringLiteral("play.fill"), true, true, box);
    playButton_->setObjectName(QStringLiteral("playButton"));
    QObject::connect(playButton_, &QAbstractButton::clicked, this, [this] {
        if (recording_)
            Q_EMIT playRequested(recording_->id, std::nullopt);
    });
    layout->addWidget(playButton_, 0, Qt::AlignVCenter);

    slider_ = new PlayerSlider(box);
    slider_->setObjectName(QStringLiteral("playerSlider"));
    QObject::connect(slider_, &PlayerSlider::moved, this, &RecordingDetail::seekRequested);
    layout->addWidget(slider_, 1, Qt::AlignVCenter);

    QLabel* time = Theme::label(clock(0), Theme::mono(9), Palette::muted(), box);
    time->setObjectName(QStringLiteral("playerClock"));
    clock_ = time;
    layout->addWidget(time, 0, Qt::AlignVCenter);
    return box;
}

QWidget* RecordingDetail::buildErrorRow(QWidget* parent) {
    const LocalRecording& r = *recording_;
    auto* box = new QWidget(parent);
    auto* layout = row(box, 12);
    QLabel* text = Theme::label(qs(*r.error), Theme::font(11), Palette::orange(), box, true);
    text->setObjectName(QStringLiteral("errorText"));
    layout->addWidget(text, 1);
    if (r.fileName && !r.remoteID) {
        auto* retry = new SoftButton(QString::fromUtf8(UiText::retryUpload), QString(), false, true, box);
        retry->setObjectName(QStringLiteral("retryButton"));
        const Uuid id = r.id;
        QObject::connect(retry, &QAbstractButton::clicked, this, [this, id] { Q_EMIT retryRequested(id); });
        layout->addWidget(retry, 0, Qt::AlignVCenter);
    }
    if (restorable_) {
        auto* restore =
            new SoftButton(QString::fromUtf8(UiText::restoreRecording), QString(), false, true, box);
        restore->setObjectName(QStringLiteral("restoreButton"));
        const Uuid id = r.id;
        QObject::connect(restore, &QAbstractButton::clicked, this,
                         [this, id] { Q_EMIT restoreRequested(id); });
        layout->addWidget(restore, 0, Qt::AlignVCenter);
    }
    return box;
}

QWidget* RecordingDetail::buildTabBar(QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* outer = column(box, 8);
    auto* buttons = new QWidget(box);
    auto* layout = row(buttons, 18);
    const bool summary = tab_ != QStringLiteral("transcript");
    auto addTab = [&](const QString& text, const QString& value, bool current, const char* name) {
        auto* button = new PlainButton(text, QString(), Theme::rounded(12, QFont::DemiBold),
                                       current ? Palette::dark() : Palette::muted(), buttons);
        button->setObjectName(QString::fromLatin1(name));
        QObject::connect(button, &QAbstractButton::clicked, this, [this, value] { Q_EMIT tabChosen(value); });
        layout->addWidget(button);
    };
    addTab(QString::fromUtf8(UiText::summaryTab), QStringLiteral("summary"), summary, "summaryTabButton");
    addTab(QString::fromUtf8(UiText::transcriptTab), QStringLiteral("transcript"), !summary,
           "transcriptTabButton");
    layout->addStretch(1);
    outer->addWidget(buttons);
    auto* divider = new QWidget(box);
    divider->setFixedHeight(1);
    divider->setAutoFillBackground(true);
    QPalette palette = divider->palette();
    palette.setColor(QPalette::Window, Theme::faded(Palette::shade(), 0.1));
    divider->setPalette(palette);
    outer->addWidget(divider);
    return box;
}

QWidget* RecordingDetail::buildSummary(QWidget* parent, const MeetingResult& result) {
    auto* box = new QWidget(parent);
    box->setObjectName(QStringLiteral("summaryTab"));
    auto* layout = column(box, 10);
    layout->addWidget(
        buildSection(box, QString::fromUtf8(UiText::summarySection), result.summary.summary, result));
    layout->addWidget(
        buildSection(box, QString::fromUtf8(UiText::decisionsSection), result.summary.decisions, result));
    layout->addWidget(
        buildSection(box, QString::fromUtf8(UiText::tasksSection), result.summary.tasks, result));
    QLabel* note =
        Theme::label(QString::fromUtf8(UiText::summaryCaution), Theme::font(9), Palette::muted(), box, true);
    note->setObjectName(QStringLiteral("summaryNote"));
    layout->addWidget(note);
    return box;
}

QWidget* RecordingDetail::buildSection(QWidget* parent, const QString& title,
                                       const std::vector<NoteItem>& items, const MeetingResult& result) {
    auto* box = new QWidget(parent);
    box->setObjectName(QStringLiteral("section"));
    box->setProperty("sectionTitle", title);
    auto* layout = column(box, 8);
    layout->setContentsMargins(0, 0, 0, 7);
    layout->addWidget(Theme::label(title, Theme::rounded(12, QFont::DemiBold), Palette::dark(), box));
    if (items.empty()) {
        QLabel* none =
            Theme::label(QString::fromUtf8(UiText::noneMarked), Theme::font(10), Palette::muted(), box);
        none->setObjectName(QStringLiteral("sectionEmpty"));
        layout->addWidget(none);
        return box;
    }
    for (const NoteItem& item : items) {
        auto* entry = new QWidget(box);
        entry->setObjectName(QStringLiteral("noteItem"));
        auto* entryRow = row(entry, 6);
        entryRow->setAlignment(Qt::AlignTop);
        // The bullet sits on the middle of the text's first line.
        auto* bulletBox = new QWidget(entry);
        auto* bulletColumn = column(bulletBox, 0);
        bulletColumn->setContentsMargins(0, (QFontMetrics(Theme::font(11)).height() - 5) / 2, 0, 0);
        bulletColumn->addWidget(new Dot(5, Theme::faded(Palette::dark(), 0.55), bulletBox));
        bulletColumn->addStretch(1);
        entryRow->addWidget(bulletBox, 0, Qt::AlignTop);
        auto* texts = new QWidget(entry);
        auto* textColumn = column(texts, 4);
        textColumn->addWidget(Theme::label(qs(item.text), Theme::font(11), Palette::dark(), texts, true));
        QStringList details;
        if (item.owner)
            details.append(qs(*item.owner));
        if (item.due)
            details.append(qs(*item.due));
        if (!details.isEmpty())
            textColumn->addWidget(
                Theme::label(details.join(QStringLiteral(" · ")), Theme::font(9), Palette::muted(), texts));
        auto* times = new QWidget(texts);
        auto* timesRow = row(times, 4);
        int buttons = 0;
        for (const std::int64_t evidence : item.evidenceIds) {
            auto segment = std::find_if(result.segments.begin(), result.segments.end(),
                                        [evidence](const TranscriptSegment& s) { return s.id == evidence; });
            if (segment == result.segments.end())
                continue; // a reference to no segment gives no button
            const double start = segment->start;
            auto* button = new PlainButton(QStringLiteral("↗ ") + clock(start), QString(), Theme::mono(9),
                                           Palette::muted(), times);
            button->setObjectName(QStringLiteral("timeButton"));
            button->setProperty("seconds", start);
            QObject::connect(button, &QAbstractButton::clicked, this, [this, start] {
                if (recording_)
                    Q_EMIT playRequested(recording_->id, start);
            });
            timesRow->addWidget(button);
            ++buttons;
        }
        timesRow->addStretch(1);
        if (buttons > 0)
            textColumn->addWidget(times);
        else
            delete times;
        entryRow->addWidget(texts, 1);
        layout->addWidget(entry);
    }
    return box;
}

QWidget* RecordingDetail::buildTranscript(QWidget* parent, const MeetingResult& result) {
    auto* view = new TranscriptView(result.segments, parent);
    view->setHighlighted(highlightedSegment_);
    transcript_ = view;
    QObject::connect(view, &TranscriptView::playRequested, this, [this](double start) {
        if (recording_)
            Q_EMIT playRequested(recording_->id, start);
    });
    return view;
}

QWidget* RecordingDetail::buildWaiting(QWidget* parent) {
    const LocalRecording& r = *recording_;
    auto* box = new QWidget(parent);
    box->setObjectName(QStringLiteral("waitingBlock"));
    auto* layout = column(box, 10);
    if (isWaitingStatus(r.status)) {
        auto* bar = new ProgressBar(static_cast<double>(r.progress), box);
        bar->setObjectName(QStringLiteral("progressBar"));
        bar->setProperty("percent", static_cast<double>(r.progress));
        layout->addWidget(bar);
    }
    QLabel* stage = Theme::label(qs(r.stage), Theme::font(12), Palette::dark(), box, true);
    stage->setObjectName(QStringLiteral("stageText"));
    layout->addWidget(stage);
    const QString hint = r.status == RecordingStatus::waitingLogin
                             ? QString::fromUtf8(UiText::connectToTranscribe)
                             : QString::fromUtf8(UiText::resultLater);
    QLabel* hintLabel = Theme::label(hint, Theme::font(11), Palette::muted(), box, true);
    hintLabel->setObjectName(QStringLiteral("waitingHint"));
    layout->addWidget(hintLabel);
    return box;
}

PlayerSlider::PlayerSlider(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(16);
    setCursor(Qt::PointingHandCursor);
}

void PlayerSlider::setRange(double duration) {
    // Never an empty range: with no known length the slider spans 0 to 1.
    const double maximum = std::max(duration, 1.0);
    if (maximum_ == maximum)
        return;
    maximum_ = maximum;
    update();
}

void PlayerSlider::setValue(double value) {
    const double bounded = std::clamp(value, 0.0, maximum_);
    if (value_ == bounded)
        return;
    value_ = bounded;
    update();
}

void PlayerSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    const qreal knob = 12;
    const qreal left = knob / 2, right = width() - knob / 2;
    const qreal y = height() / 2.0;
    const qreal x = left + (right - left) * (value_ / maximum_);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::faded(Palette::shade(), 0.25));
    painter.drawRoundedRect(QRectF(left, y - 1.5, right - left, 3), 1.5, 1.5);
    painter.setBrush(Palette::muted());
    painter.drawRoundedRect(QRectF(left, y - 1.5, x - left, 3), 1.5, 1.5);
    painter.setPen(QPen(Theme::faded(Palette::shade(), 0.4), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x - knob / 2, y - knob / 2, knob, knob));
}

void PlayerSlider::moveTo(double x) {
    const qreal knob = 12;
    const double span = std::max(1.0, width() - knob);
    const double value = std::clamp((x - knob / 2) / span, 0.0, 1.0) * maximum_;
    setValue(value);
    Q_EMIT moved(value_);
}

void PlayerSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && isEnabled())
        moveTo(event->position().x());
}

void PlayerSlider::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && isEnabled())
        moveTo(event->position().x());
}

} // namespace parlo

#include "RecordingDetail.moc"
