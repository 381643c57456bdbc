#include "library/DeletedMeetings.h"

#include "core/Json.h"
#include "core/ParloError.h"
#include "library/LibraryTexts.h"
#include "library/LocalStore.h"
#include "library/MeetingResult.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace parlo {

namespace {

// A full list is about 70 KB; anything much larger is not a file this program wrote.
constexpr qint64 kLargestFile = 1 << 20;

} // namespace

std::filesystem::path DeletedMeetings::file() {
    return LocalStore::root() / "deleted-meetings.json";
}

DeletedMeetings DeletedMeetings::load() {
    DeletedMeetings list;
    QFile in(QString::fromStdString(file().string()));
    if (!in.open(QIODevice::ReadOnly) || in.size() > kLargestFile)
        return list;
    const QByteArray bytes = in.readAll();
    try {
        JsonReader reader(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        reader.skipSpace();
        reader.readArray([&] { list.add(reader.readString()); });
        reader.finish();
    } catch (const JsonError&) {
        // What was read before the damage still counts: better a few meetings kept out than none.
    }
    return list;
}

bool DeletedMeetings::contains(std::string_view id) const {
    return members_.find(id) != members_.end();
}

bool DeletedMeetings::add(const std::string& id) {
    if (!isMeetingID(id))
        return false;
    if (contains(id))
        order_.erase(std::find(order_.begin(), order_.end(), id));
    else
        members_.insert(id);
    order_.push_back(id);
    while (order_.size() > kLimit) {
        members_.erase(order_.front());
        order_.pop_front();
    }
    return true;
}

void DeletedMeetings::save() const {
    std::string text;
    JsonWriter writer(text);
    writer.beginArray();
    for (const std::string& id : order_) {
        writer.element();
        writer.string(id);
    }
    writer.endArray();

    LocalStore::prepare();
    const QString path = QString::fromStdString(file().string());
    // QSaveFile writes a temporary file beside the target, flushes it and renames it over the
    // target: a reader sees the old list or the new one, never half of one.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) ||
        !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        out.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !out.commit())
        throw PlatformError(QString::fromUtf8(LibraryText::fileNotWritten) + QLatin1Char(' ') + path +
                            QStringLiteral(": ") + out.errorString());
}

} // namespace parlo
