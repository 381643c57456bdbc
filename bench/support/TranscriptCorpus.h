#pragma once

#include "library/LocalRecording.h"

#include <cstdint>
#include <string>
#include <vector>

namespace parlo {

// A word form put on purpose into one segment of a generated library, so that searches can be
// checked against what is known to be there.
struct PlantedWord {
    std::size_t recording = 0; // index into TranscriptCorpus::recordings
    std::size_t segment = 0;   // index into that recording's segments
    std::string form;          // as written in the segment
};

// A generated library of transcribed Russian conversations: segments of 5 to 15 words with inflected
// nouns, verbs and adjectives, a long tail of rarer derived words, ё written both ways, and planted
// forms of "счёт" and "договор" (with look-alikes such as "счётчик", "отчёт", "договорились") whose
// places are recorded.
struct TranscriptCorpus {
    std::vector<LocalRecording> recordings;
    std::vector<PlantedWord> planted;
};

// Deterministic for a given seed. Every 20th recording has no result (still being processed).
// The forms planted are plantedForms(), each in several segments, and kNeedle in exactly one.
TranscriptCorpus generateTranscriptCorpus(int recordings, std::uint64_t seed = 1);

// Forms of "счёт" and "договор" and their look-alikes; none of them occurs elsewhere in the text.
const std::vector<std::string>& plantedForms();

// A word planted in exactly one segment of the whole library.
inline constexpr const char* kNeedle = "аккредитива";

} // namespace parlo
