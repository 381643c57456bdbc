#include "ui/TranscriptMatchList.h"

#include "library/LocalStore.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/Surface.h"
#include "ui/Theme.h"
#include "ui/UiTexts.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include <algorithm>

namespace parlo {

namespace {

constexpr int kRowPadding = 12;
constexpr int kRowRadius = 13;
// A long segment is shown as the part around the word found.
constexpr qsizetype kLongestLine = 140;
constexpr qsizetype kContextBefore = 40;

QString highlighted(const TranscriptMatch& match) {
    const QString mark = Theme::faded(Palette::mint(), 0.9).name(QColor::HexRgb);
    QString html;
    qsizetype at = 0;
    for (const TranscriptMatch::Mark& m : match.marks) {
        if (m.begin < at || m.end <= m.begin)
            continue;
        html += match.line.mid(at, m.begin - at).toHtmlEscaped();
        html += QStringLiteral("<span style=\"background-color:") + mark + QStringLiteral("\"><b>") +
                match.line.mid(m.begin, m.end - m.begin).toHtmlEscaped() + QStringLiteral("</b></span>");
        at = m.end;
    }
    html += match.line.mid(at).toHtmlEscaped();
    return html;
}

QString placeOf(const TranscriptMatch& match) {
    const QString time = QString::fromStdString(clockLabel(match.start));
    if (!match.inSummary)
        return time;
    return match.segment >= 0 ? QString::fromUtf8(UiText::inSummaryAt).arg(time)
                              : QString::fromUtf8(UiText::inSummary);
}

} // namespace

TranscriptMatchRow::TranscriptMatchRow(const TranscriptMatch& match, const QString& title, QWidget* parent)
    : QWidget(parent)
    , match_(match) {
    setObjectName(QStringLiteral("transcriptMatch"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    Raised::apply(this, kRowRadius, Palette::surface());
    auto* layout = column(this, 5, QMargins(kRowPadding, kRowPadding, kRowPadding, kRowPadding));

    title_ = Theme::label(title, Theme::rounded(11, QFont::DemiBold), Palette::dark(), this, true);
    title_->setObjectName(QStringLiteral("matchTitle"));
    layout->addWidget(title_);

    line_ = Theme::label(QString(), Theme::font(11), Palette::dark(), this, true);
    line_->setObjectName(QStringLiteral("matchLine"));
    line_->setTextFormat(Qt::RichText);
    line_->setText(highlighted(TranscriptMatchList::excerpt(match, kLongestLine)));
    layout->addWidget(line_);

    place_ = Theme::label(placeOf(match), Theme::font(9), Palette::muted(), this);
    place_->setObjectName(QStringLiteral("matchPlace"));
    layout->addWidget(place_);
    // The row takes every click, wherever on its texts.
    for (QLabel* label : {title_, line_, place_})
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
}

QString TranscriptMatchRow::title() const {
    return title_->text();
}
QString TranscriptMatchRow::line() const {
    return line_->text();
}
QString TranscriptMatchRow::place() const {
    return place_->text();
}

void TranscriptMatchRow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT activated(match_);
}

void TranscriptMatchRow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
        Q_EMIT activated(match_);
        return;
    }
    QWidget::keyPressEvent(event);
}

TranscriptMatchList::TranscriptMatchList(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("transcriptMatches"));
    layout_ = column(this, 10, QMargins(0, 4, 0, 14));
    QLabel* heading = Theme::label(QString::fromUtf8(UiText::inTranscripts), Theme::font(9, QFont::Bold, 1.0),
                                   Palette::muted(), this);
    heading->setObjectName(QStringLiteral("transcriptMatchesHeading"));
    layout_->addWidget(heading);
    hide();
}

void TranscriptMatchList::setEntries(const std::vector<Entry>& entries) {
    // The library changes every few seconds while the service works: rows stay when they would be
    // the same, and with them the keyboard focus.
    if (entries == entries_)
        return;
    entries_ = entries;
    for (TranscriptMatchRow* row : rows_) {
        // A row may be the one whose activation led here: it goes once the event is over.
        row->hide();
        row->deleteLater();
    }
    rows_.clear();
    for (const Entry& entry : entries) {
        auto* row = new TranscriptMatchRow(entry.match, entry.title, this);
        connect(row, &TranscriptMatchRow::activated, this, &TranscriptMatchList::activated);
        layout_->addWidget(row);
        rows_.push_back(row);
    }
    setVisible(!rows_.empty());
}

TranscriptMatch TranscriptMatchList::excerpt(const TranscriptMatch& match, qsizetype limit) {
    if (match.line.size() <= limit)
        return match;
    const qsizetype first = match.marks.empty() ? 0 : match.marks.front().begin;
    qsizetype begin = std::clamp<qsizetype>(first - kContextBefore, 0, match.line.size() - limit);
    // Whole words at the edges where the line allows, and never half of a surrogate pair.
    if (begin > 0) {
        const qsizetype space = match.line.indexOf(QLatin1Char(' '), begin);
        if (space >= 0 && space < first)
            begin = space + 1;
        else if (match.line.at(begin).isLowSurrogate())
            ++begin;
    }
    qsizetype end = std::min(match.line.size(), begin + limit);
    if (end < match.line.size()) {
        const qsizetype space = match.line.lastIndexOf(QLatin1Char(' '), end);
        const qsizetype lastMark = match.marks.empty() ? begin : match.marks.front().end;
        if (space > lastMark)
            end = space;
        else if (match.line.at(end - 1).isHighSurrogate())
            --end;
    }
    TranscriptMatch cut = match;
    const QString before = begin > 0 ? QStringLiteral("…") : QString();
    cut.line = before + match.line.mid(begin, end - begin) +
               (end < match.line.size() ? QStringLiteral("…") : QString());
    cut.marks.clear();
    for (const TranscriptMatch::Mark& m : match.marks) {
        if (m.begin < begin || m.end > end)
            continue;
        cut.marks.push_back({m.begin - begin + before.size(), m.end - begin + before.size()});
    }
    return cut;
}

} // namespace parlo
