#pragma once

#include <QWidget>

#include <memory>
#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace parlo {

class Uuid;
struct LocalRecording;
struct MeetingResult;
struct NoteItem;
class PlainButton;
class PlayerSlider;
class SoftButton;
class TranscriptView;

// The detail of one recording: title and meta line with the "…" menu, the player row, the error
// row, and then the recording note, the result's two tabs or the waiting block. Rebuilt whenever
// the recording or the tab changes; the player's state is updated in place.
class RecordingDetail : public QWidget {
    Q_OBJECT
public:
    explicit RecordingDetail(QWidget* parent = nullptr);
    ~RecordingDetail() override;

    // Shows `recording` on `tab` ("summary" or "transcript"); does nothing when nothing changed.
    // `restorable`: its raw tracks can be mixed again, so the error row offers "Восстановить запись".
    void display(const LocalRecording& recording, const QString& tab, bool restorable = false);
    void setPlayback(bool isPlaying, double position, double duration);
    // Why the recording cannot be deleted now, shown in place of "Удалить запись…"; nothing enables it.
    void setDeletionRefusal(const std::optional<QString>& refusal);
    // Turns the title into an editor ("Переименовать", or a double-click on the title). Return
    // asks for the new title, Escape gives up; leaving the editor asks too.
    void beginRename();
    bool isRenaming() const { return titleEditor_ != nullptr; }
    // Marks transcript segment `index` (on the transcript tab) until another recording is shown;
    // returns its rectangle in this widget's coordinates, empty when the tab does not show it.
    QRect highlightSegment(int index);

    // Number of complete rebuilds so far (tests and benchmarks check that nothing is rebuilt
    // needlessly).
    int builds() const { return builds_; }

Q_SIGNALS:
    // A tab button was pressed: "summary" or "transcript".
    void tabChosen(const QString& tab);
    // The play button (no time: play or pause), a time button or a transcript line (from `at`).
    void playRequested(const Uuid& id, std::optional<double> at);
    // The user moved the slider.
    void seekRequested(double seconds);
    // "Повторить отправку".
    void retryRequested(const Uuid& id);
    // "Восстановить запись".
    void restoreRequested(const Uuid& id);
    // "Показать файлы".
    void revealRequested(const Uuid& id);
    // "Экспорт MD", "Экспорт TXT" ...: the format's extension.
    void exportRequested(const Uuid& id, const QString& format);
    // "Сохранить аудио…".
    void saveAudioRequested(const Uuid& id);
    // "Удалить запись…".
    void deleteRequested(const Uuid& id);
    // The title editor was confirmed with this text (not yet checked).
    void renameRequested(const Uuid& id, const QString& title);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    QWidget* buildTitleRow(QWidget* parent);
    QWidget* buildPlayerRow(QWidget* parent);
    QWidget* buildErrorRow(QWidget* parent);
    QWidget* buildTabBar(QWidget* parent);
    QWidget* buildSummary(QWidget* parent, const MeetingResult& result);
    QWidget* buildSection(QWidget* parent, const QString& title, const std::vector<NoteItem>& items,
                          const MeetingResult& result);
    QWidget* buildTranscript(QWidget* parent, const MeetingResult& result);
    QWidget* buildWaiting(QWidget* parent);
    void updatePlayer();
    void updateDeleteAction();
    void endRename(bool confirmed);

    std::unique_ptr<LocalRecording> recording_;
    QString tab_;
    bool restorable_ = false;
    QVBoxLayout* layout_;
    QWidget* content_ = nullptr;
    SoftButton* playButton_ = nullptr;
    PlayerSlider* slider_ = nullptr;
    QWidget* clock_ = nullptr;
    QLabel* title_ = nullptr;
    QLineEdit* titleEditor_ = nullptr;
    QAction* deleteAction_ = nullptr;
    TranscriptView* transcript_ = nullptr;
    std::optional<QString> deletionRefusal_;
    int highlightedSegment_ = -1;
    bool isPlaying_ = false;
    double position_ = 0;
    double duration_ = 0;
    int builds_ = 0;
};

// The player's position slider: a thin track from 0 to max(duration, 1) with a round knob.
class PlayerSlider : public QWidget {
    Q_OBJECT
public:
    explicit PlayerSlider(QWidget* parent = nullptr);
    void setRange(double duration);
    void setValue(double value);
    double maximum() const { return maximum_; }
    double value() const { return value_; }
    QSize sizeHint() const override { return {200, 16}; }

Q_SIGNALS:
    // The user moved the knob.
    void moved(double value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void moveTo(double x);
    double maximum_ = 1;
    double value_ = 0;
};

} // namespace parlo
