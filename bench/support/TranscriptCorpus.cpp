#include "TranscriptCorpus.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string_view>
#include <utility>

namespace parlo {

namespace {

// A small, fast generator with a fixed sequence for a seed (std::mt19937 would do, but its
// distributions differ between standard libraries).
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed * 2862933555777941757ULL + 3037000493ULL) {}
    std::uint64_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        std::uint64_t x = state_;
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdULL;
        x ^= x >> 33;
        return x;
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    bool chance(double p) { return static_cast<double>(next() >> 11) / 9007199254740992.0 < p; }
    // Rank 0..n-1 with probability falling as 1/(rank+offset), like word frequencies: an offset of
    // 1 gives the steep head of the small words, a larger one the flatter head of content words.
    std::size_t zipf(std::size_t n, double offset = 1.0) {
        const double u = static_cast<double>(next() >> 11) / 9007199254740992.0;
        const double rank = offset * std::pow((static_cast<double>(n) + offset) / offset, u) - offset;
        return std::min(static_cast<std::size_t>(rank), n - 1);
    }

private:
    std::uint64_t state_;
};

using Words = std::vector<std::string>;

Words inflect(const std::vector<std::string_view>& stems, const std::vector<std::string_view>& endings) {
    Words out;
    for (auto stem : stems)
        for (auto ending : endings)
            out.push_back(std::string(stem) + std::string(ending));
    return out;
}

Words join(std::initializer_list<Words> parts) {
    Words out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// Speech is mostly small words.
const Words kFunctionWords = {
    "и",     "в",       "не",     "на",    "я",      "что",    "тоже",    "мы",     "вы",      "он",
    "она",   "они",     "это",    "как",   "так",    "но",     "да",      "нет",    "по",      "к",
    "с",     "у",       "из",     "за",    "от",     "до",     "для",     "о",      "же",      "ну",
    "вот",   "уже",     "ещё",    "еще",   "всё",    "все",    "там",     "тут",    "здесь",   "если",
    "когда", "чтобы",   "потому", "можно", "нужно",  "надо",   "давайте", "просто", "очень",   "сейчас",
    "потом", "сегодня", "завтра", "вчера", "кстати", "значит", "короче",  "общем",  "конечно", "наверное",
    "может", "быть",    "есть",   "был",   "была",   "были",   "будет",   "будем",  "меня",    "нас",
    "вам",   "нам",     "его",    "её",    "их",     "этот",   "эта",     "эти",    "этого",   "этой",
};

const Words kNouns = join({
    inflect({"проект", "клиент", "бюджет", "релиз", "план", "вопрос", "сервер", "заказ", "документ",
             "вариант", "процесс", "результат", "доступ", "контракт", "офис", "продукт", "отдел", "интерфейс",
             "тест"},
            {"", "а", "у", "ом", "е", "ы", "ов", "ам", "ами", "ах"}),
    inflect({"команд", "оплат", "цен", "сумм", "систем", "работ", "программ", "встреч", "задач"},
            {"а", "е", "у", "ой", "ам", "ами", "ах"}),
    inflect({"компан", "презентац", "верс", "информац", "ситуац", "стратег", "интеграц"},
            {"ия", "ии", "ию", "ией", "ий", "иям", "иями", "иях"}),
    inflect({"решен", "предложен", "обсужден", "соглашен", "уведомлен", "приложен", "требован"},
            {"ие", "ия", "ию", "ием", "ии", "ий", "иям", "иями", "иях"}),
    inflect({"недел", "очеред"}, {"я", "и", "е", "ю", "ей", "ям", "ями", "ях"}),
    // "отчёт" shares letters with "счёт" but is another word.
    inflect({"отчёт", "отчет"}, {"", "а", "у", "ом", "е", "ы", "ов"}),
});

const Words kVerbs = inflect({"дела", "обсужда", "понима", "отправля", "проверя", "выполня", "начина",
                              "заканчива", "получа", "зна", "отвеча", "слуша", "успева", "обновля", "собира"},
                             {"ю", "ешь", "ет", "ем", "ете", "ют", "л", "ла", "ли", "ть", "й", "йте"});

const Words kAdjectives = inflect({"нов", "важн", "основн", "финансов", "срочн", "отдельн", "сложн", "главн",
                                   "полн", "свободн", "текущ", "годов"},
                                  {"ый", "ая", "ое", "ые", "ого", "ой", "ому", "ую", "ым", "ых", "ыми"});

const Words kAdverbs = {"быстро",   "срочно",  "нормально", "хорошо",   "отлично", "понятно",
                        "примерно", "точно",   "вообще",    "сразу",    "идём",    "идем",
                        "пойдём",   "считаем", "счастье",   "счастливо"};

const Words kNamesAndNumbers = {"Анна",  "Анне",    "Сергей", "Сергею", "Мария", "Марии",  "Игорь", "Ольга",
                                "Ольге", "Дмитрий", "два",    "три",    "пять",  "десять", "сто",   "тысяч",
                                "2024",  "15",      "30",     "Zoom",   "Jira",  "API",    "CRM"};

// A long tail of derived words (prefix + root + suffix + ending): real transcripts of a thousand
// calls hold tens of thousands of distinct forms, most of them rare, which is what makes prefix
// searches expensive.
Words longTail() {
    const std::vector<std::string_view> prefixes = {"",     "при",  "пере", "вы",   "за",  "под", "раз",
                                                    "об",   "про",  "на",   "пред", "пре", "вз",  "со",
                                                    "пере", "недо", "пол",  "вне",  "меж", "вос"};
    const std::vector<std::string_view> roots = {
        "работ", "ставл", "ход",  "писа", "дел",  "знач", "смотр", "реш",  "строй", "готов", "мер",  "вод",
        "нос",   "каз",   "слов", "мест", "люб",  "жив",  "плат",  "дума", "чита",  "ступ",  "един", "бор",
        "пуск",  "лож",   "ряд",  "мен",  "клад", "креп", "прав",  "тяг",  "дав",   "сыл",   "черк", "пис",
        "вид",   "звон",  "лет",  "бег",  "крыт", "дум",  "верш",  "лом",  "стро",  "движ",  "ключ", "став",
        "рыв",   "цен",   "форм", "ясн",  "шир",  "глуб", "точн",  "мысл", "след",  "хран",  "гот",  "знан"};
    const std::vector<std::string_view> suffixes = {"", "ени", "к", "тель", "ност"};
    const std::vector<std::string_view> endings = {"а", "у", "ом", "е", "ы", "ами", "ах", "ой", "ую", "ого"};
    std::set<std::string> seen;
    Words out;
    for (auto prefix : prefixes)
        for (auto root : roots)
            for (auto suffix : suffixes)
                for (auto ending : endings) {
                    std::string word =
                        std::string(prefix) + std::string(root) + std::string(suffix) + std::string(ending);
                    if (seen.insert(word).second)
                        out.push_back(std::move(word));
                }
    return out;
}

std::string capitalised(const std::string& word) {
    // Only Cyrillic lower-case letters а-я (two bytes, D0 B0..D1 8F) are raised; enough for this text.
    if (word.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(word[0]), b1 = static_cast<unsigned char>(word[1]);
        char32_t c = ((b0 & 0x1F) << 6) | (b1 & 0x3F);
        if ((b0 & 0xE0) == 0xC0 && c >= U'а' && c <= U'я') {
            c -= 0x20;
            std::string out = word;
            out[0] = static_cast<char>(0xC0 | (c >> 6));
            out[1] = static_cast<char>(0x80 | (c & 0x3F));
            return out;
        }
    }
    return word;
}

class SentenceMaker {
public:
    // Content words in order of frequency: the inflected vocabulary of a team's calls first (shuffled,
    // so a word's forms have different frequencies), then the long tail.
    explicit SentenceMaker(Random& random) : random_(random) {
        Words head = join({kNouns, kVerbs, kAdjectives, kAdverbs});
        Words tail = longTail();
        shuffle(head);
        shuffle(tail);
        content_ = join({head, tail});
    }

    std::vector<std::string> words(int count) {
        std::vector<std::string> out;
        for (int i = 0; i < count; ++i)
            out.push_back(word());
        return out;
    }

    static std::string text(std::vector<std::string> words, Random& random) {
        std::string out;
        for (std::size_t i = 0; i < words.size(); ++i) {
            if (i > 0)
                out += random.chance(0.08) ? ", " : " ";
            out += i == 0 ? capitalised(words[i]) : words[i];
        }
        out += random.chance(0.15) ? "?" : ".";
        return out;
    }

private:
    void shuffle(Words& words) {
        for (std::size_t i = words.size(); i > 1; --i)
            std::swap(words[i - 1], words[random_.below(i)]);
    }

    // Nearly half of what is said is small words; the most frequent content word is about a
    // quarter of a percent of all words.
    const std::string& word() {
        const std::size_t roll = random_.below(100);
        if (roll < 45)
            return kFunctionWords[random_.zipf(kFunctionWords.size())];
        if (roll < 98)
            return content_[random_.zipf(content_.size(), 30.0)];
        return kNamesAndNumbers[random_.below(kNamesAndNumbers.size())];
    }

    Random& random_;
    Words content_;
};

std::string uuidText(std::uint64_t seed, int index) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-0000-4000-8000-%012X", static_cast<unsigned>(seed & 0xFFFFFFFF),
                  static_cast<unsigned>(index));
    return text;
}

} // namespace

const std::vector<std::string>& plantedForms() {
    static const std::vector<std::string> forms = {
        // "счёт", with ё and without, in its cases
        "счёт", "счет", "счёта", "счета", "счёту", "счету", "счётом", "счетом", "счёте", "счете", "счетами",
        "счетов", "Счёт",
        // look-alikes that are other words
        "счётчик", "счетчика", "расчёт", "считать",
        // "договор" in its cases
        "договор", "договора", "договору", "договором", "договоре", "договоры", "договоров", "договорами",
        "Договор",
        // same root, other words
        "договорились", "договориться", "договорённость", "договоренности", "разговор", "заговор"};
    return forms;
}

TranscriptCorpus generateTranscriptCorpus(int count, std::uint64_t seed) {
    Random random(seed);
    SentenceMaker maker(random);
    TranscriptCorpus corpus;
    // Segments' words before they are joined, so plants can replace a word.
    std::vector<std::vector<std::vector<std::string>>> words(count);

    for (int i = 0; i < count; ++i) {
        const int segments = 100 + static_cast<int>(random.below(301));
        auto& recordingWords = words[i];
        for (int s = 0; s < segments; ++s)
            recordingWords.push_back(maker.words(5 + static_cast<int>(random.below(11))));
    }

    // Each planted form goes into its own segments, never two plants in one segment.
    std::set<std::pair<std::size_t, std::size_t>> used;
    auto plant = [&](const std::string& form) {
        for (;;) {
            const std::size_t r = random.below(count);
            if (r % 20 == 19)
                continue; // no result there
            const std::size_t s = random.below(words[r].size());
            if (!used.insert({r, s}).second)
                continue;
            auto& segment = words[r][s];
            const bool first = form != "Счёт" && form != "Договор";
            segment[first ? 1 + random.below(segment.size() - 1) : 0] = form;
            corpus.planted.push_back({r, s, form});
            return;
        }
    };
    for (const auto& form : plantedForms())
        for (int n = 0; n < 12 && n < count; ++n)
            plant(form);
    if (count > 0)
        plant(kNeedle);

    for (int i = 0; i < count; ++i) {
        LocalRecording r;
        r.id = *Uuid::parse(uuidText(seed, i));
        r.title = "Разговор " + std::to_string(i + 1);
        // An hour apart, the first in March 2026.
        r.created = 795000000.0 + i * 3600.0;
        r.folderName = r.id.toString();
        r.fileName = "conversation.m4a";
        r.source = "Звук компьютера + микрофон";
        if (i % 20 == 19) {
            r.status = RecordingStatus::processing;
            r.stage = "Расшифровка";
            corpus.recordings.push_back(std::move(r));
            continue;
        }
        r.status = RecordingStatus::done;
        r.stage = "Готово";
        r.progress = 100;
        MeetingResult result;
        result.language = "ru";
        double time = 0;
        const auto& recordingWords = words[i];
        for (std::size_t s = 0; s < recordingWords.size(); ++s) {
            const double length = 0.35 * static_cast<double>(recordingWords[s].size()) + 0.5;
            result.segments.push_back({static_cast<std::int64_t>(s), time, time + length,
                                       "Спикер " + std::to_string(s % 3 + 1),
                                       SentenceMaker::text(recordingWords[s], random)});
            time += length + 0.3 * static_cast<double>(random.below(4));
        }
        result.duration = time;
        r.duration = time;
        result.summary.mode = "meeting";
        for (int n = 0; n < 5; ++n) {
            const auto evidence = static_cast<std::int64_t>(random.below(recordingWords.size()));
            NoteItem item{
                SentenceMaker::text(maker.words(8), random), {evidence}, std::nullopt, std::nullopt};
            (n < 3 ? result.summary.summary : result.summary.tasks).push_back(std::move(item));
        }
        r.result = std::make_shared<const StoredResult>(std::move(result));
        corpus.recordings.push_back(std::move(r));
    }
    return corpus;
}

} // namespace parlo
