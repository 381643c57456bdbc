#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace parlo::test {

// A 16 kHz mono 16-bit WAV file of a 440 Hz tone.
inline void writeTone(const QString& path, double seconds) {
    const int rate = 16000;
    const auto frames = static_cast<std::uint32_t>(seconds * rate);
    QByteArray data;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto sample = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * i / rate));
        data.append(static_cast<char>(sample & 0xff));
        data.append(static_cast<char>((sample >> 8) & 0xff));
    }
    auto u32 = [](std::uint32_t v) {
        QByteArray b(4, 0);
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<char>((v >> (8 * i)) & 0xff);
        return b;
    };
    auto u16 = [](std::uint16_t v) {
        QByteArray b(2, 0);
        b[0] = static_cast<char>(v & 0xff);
        b[1] = static_cast<char>(v >> 8);
        return b;
    };
    QByteArray wav = "RIFF" + u32(36 + static_cast<std::uint32_t>(data.size())) + "WAVEfmt " + u32(16) +
                     u16(1) + u16(1) + u32(rate) + u32(rate * 2) + u16(2) + u16(16) + "data" +
                     u32(static_cast<std::uint32_t>(data.size())) + data;
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(wav);
}

} // namespace parlo::test
