#pragma once

#include "library/TranscriptIndex.h"

#include <QString>
#include <QWidget>

#include <vector>

class QLabel;
class QVBoxLayout;

namespace parlo {

// One found line as a raised row: the recording's title, the line with the searched words marked,
// and where it is ("01:12", or "Итоги · 01:12" for a summary line). A click, Return or Space
// activates it.
class TranscriptMatchRow : public QWidget {
    Q_OBJECT
public:
    TranscriptMatchRow(const TranscriptMatch& match, const QString& title, QWidget* parent = nullptr);

    const TranscriptMatch& match() const { return match_; }
    QString title() const;
    // The line as shown: rich text, the searched words in <b> on a tinted background.
    QString line() const;
    QString place() const;

Q_SIGNALS:
    void activated(const TranscriptMatch& match);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TranscriptMatch match_;
    QLabel* title_;
    QLabel* line_;
    QLabel* place_;
};

// "В расшифровках": the lines of transcripts and summaries where the searched words were said,
// shown under the library list while there are any.
class TranscriptMatchList : public QWidget {
    Q_OBJECT
public:
    struct Entry {
        TranscriptMatch match;
        QString title; // of the recording the line belongs to
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    explicit TranscriptMatchList(QWidget* parent = nullptr);

    // Replaces the rows (unless they are the same); the list hides itself when there are none.
    void setEntries(const std::vector<Entry>& entries);
    int count() const { return static_cast<int>(rows_.size()); }
    TranscriptMatchRow* row(int index) const { return rows_.at(static_cast<std::size_t>(index)); }

    // A line cut to at most `limit` characters around its first mark, with "…" where it was cut;
    // the marks follow the cut.
    static TranscriptMatch excerpt(const TranscriptMatch& match, qsizetype limit);

Q_SIGNALS:
    // A row was activated.
    void activated(const TranscriptMatch& match);

private:
    QVBoxLayout* layout_;
    std::vector<Entry> entries_;
    std::vector<TranscriptMatchRow*> rows_;
};

} // namespace parlo
