#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QScrollArea;

namespace parlo {

class AppModel;
class Dot;
class LevelMeter;
class LibraryList;
class MessageToast;
class RecordingDetail;
class SoftButton;
class Symbol;
class Toggle;
class TranscriptMatchList;
struct TranscriptMatch;
class Uuid;

// The application's one window: the sidebar, the recording card, the library with search and the
// detail of the selected recording. It reads the model's published fields, writes only its two-way
// fields and starts its operations; its own state is the detail pane's tab.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(AppModel& model, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The settings sheet is presented while the model's settingsVisible is true; `factory` builds it
    // (with this window's model) each time it is presented.
    void setSettingsPanelFactory(std::function<QWidget*(QWidget* parent)> factory);

    QString tab() const { return tab_; }
    LibraryList* libraryList() const { return list_; }
    TranscriptMatchList* transcriptMatches() const { return matches_; }
    RecordingDetail* detail() const { return detail_; }
    MessageToast* toast() const { return toast_; }
    QWidget* settingsSheet() const { return sheet_; }

    static constexpr int defaultWidth = 1260;
    static constexpr int defaultHeight = 870;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* buildSidebar();
    QWidget* buildContent();
    QWidget* buildCard(QWidget* parent);
    QWidget* buildLibrary(QWidget* parent);
    void connectModel();
    void connectDetail();
    void refreshCard();
    void refreshHeader();
    void refreshList();
    void refreshDetail();
    void refreshDeletionRefusal();
    void refreshMatches();
    // Asks before a recording goes to the trash (the Delete key on the list, the detail's menu).
    void confirmDeletion(const Uuid& id);
    // A line found in the transcripts: its recording, on the tab of the line, playing from it.
    void openMatch(const TranscriptMatch& match);
    void refreshMessage();
    void refreshSheet();
    void selectionChanged();
    void applicationBecameActive();
    void placeOverlays();

    AppModel& model_;
    std::function<QWidget*(QWidget*)> sheetFactory_;
    QString tab_ = QStringLiteral("summary");

    QLabel* libraryCount_ = nullptr;
    Dot* connectionDot_ = nullptr;
    QLabel* connectionText_ = nullptr;
    QLabel* eyebrow_ = nullptr;
    QLabel* headline_ = nullptr;
    QLabel* body_ = nullptr;
    QLabel* warning_ = nullptr; // the running recording's tracks cannot be written
    Dot* statusDot_ = nullptr;
    QLabel* statusTitle_ = nullptr;
    Toggle* autoToggle_ = nullptr;
    LevelMeter* systemMeter_ = nullptr;
    LevelMeter* microphoneMeter_ = nullptr;
    QWidget* recordingBox_ = nullptr;
    QLabel* elapsed_ = nullptr;
    SoftButton* stopButton_ = nullptr;
    SoftButton* accessButton_ = nullptr;
    SoftButton* recordButton_ = nullptr;
    QWidget* silenceRow_ = nullptr;
    QLabel* silenceText_ = nullptr;
    QLabel* hint_ = nullptr;
    QLineEdit* searchField_ = nullptr;
    LibraryList* list_ = nullptr;
    TranscriptMatchList* matches_ = nullptr;
    QWidget* detailPane_ = nullptr;
    RecordingDetail* detail_ = nullptr;
    QWidget* placeholder_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    MessageToast* toast_ = nullptr;
    QWidget* sheet_ = nullptr;
};

// The notice laid over the bottom of the window while the model has a message.
class MessageToast : public QWidget {
    Q_OBJECT
public:
    explicit MessageToast(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const;
    // Fits the toast to `available` width (at most 660) and returns its size.
    QSize fit(int available);

Q_SIGNALS:
    // The close button was pressed.
    void closeRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* label_;
};

} // namespace parlo
