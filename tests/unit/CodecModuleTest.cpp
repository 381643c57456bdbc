// The program codes audio through a module it loads on first use.
#include "capture/AudioCodec.h"
#include "core/ParloError.h"
#include "platform/PlatformParts.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string>

namespace parlo {
namespace {

TEST(CodecModuleTest, AModuleThatCannotBeLoadedFailsEveryOperationWithItsReason) {
    QTemporaryDir dir;
    const auto codec = platform::codecModule("parlo-no-such-codec.so");
    const std::filesystem::path output = dir.filePath(QStringLiteral("out.m4a")).toStdString();
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            codec->createEncoder(output, 16000, 64000);
            FAIL() << "an encoder without its module";
        } catch (const PlatformError& error) {
            EXPECT_NE(std::string(error.what()).find("parlo-no-such-codec.so"), std::string::npos)
                << error.what();
        }
        EXPECT_THROW(codec->createConverter(48000, 2, 16000), PlatformError);
        EXPECT_THROW(codec->fileFrames(output), PlatformError);
    }
    EXPECT_FALSE(std::filesystem::exists(output));

    // A library that is no codec module: loaded, but without the entry point.
    const auto notACodec = platform::codecModule("libm.so.6");
    EXPECT_THROW(notACodec->fileFrames(output), PlatformError);
}

} // namespace
} // namespace parlo
