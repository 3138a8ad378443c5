#pragma once

#include "app/library/RecordingsManager.hpp"
#include "app/recorder/RecordingCoding.hpp"

#include "qtsupport/QtTestSupport.hpp"
#include "support/AudioFixtures.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace librarytest {

// A fresh XDG tree per test, with the library's folder inside it.
class LibraryFixture : public ::testing::Test {
protected:
    LibraryFixture()
        : documents_("XDG_DOCUMENTS_DIR", (root_ / "Documents").string())
        , configuration_("XDG_CONFIG_HOME", (root_ / "config").string())
    {
    }

    std::filesystem::path libraryFolder() const { return root_.path() / "Documents" / "Parlino"; }
    const std::filesystem::path& root() const { return root_.path(); }

    std::unique_ptr<parlino::RecordingsManager> makeLibrary()
    {
        return std::make_unique<parlino::RecordingsManager>(parlino::RecordingsManager::defaultDocumentsURL());
    }

    // Half a second of a tone as AAC, 16 kHz mono like the recorder's files.
    // Under any name: the audio is made beside it and renamed.
    static void writeAudio(const std::filesystem::path& path, double seconds = 0.5)
    {
        std::filesystem::create_directories(path.parent_path());
        const std::filesystem::path made = path.parent_path() / "made-by-the-test.m4a";
        testsupport::writeAudioFile(made, 16000,
                                    {testsupport::sine(440, 16000, static_cast<std::size_t>(seconds * 16000))});
        std::filesystem::rename(made, path);
    }

    static parlino::Recording readSidecar(const std::filesystem::path& path)
    {
        const std::string json = testsupport::readFile(path);
        return parlino::decodeRecording(QByteArray(json.data(), static_cast<qsizetype>(json.size())));
    }

    static std::vector<std::string> fileNames(const std::filesystem::path& folder)
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    testsupport::TemporaryDirectory root_;
    testsupport::ScopedEnvironment documents_;
    testsupport::ScopedEnvironment configuration_;
};

// Standard output while it lives, as lines. What it took is shown again on standard error, where
// the test's own failure reports then stand among the lines they came with.
class CapturedConsole {
public:
    CapturedConsole() { ::testing::internal::CaptureStdout(); }
    ~CapturedConsole()
    {
        if (!finished_) {
            std::cerr << ::testing::internal::GetCapturedStdout();
        }
    }
    CapturedConsole(const CapturedConsole&) = delete;
    CapturedConsole& operator=(const CapturedConsole&) = delete;

    std::vector<std::string> lines()
    {
        finished_ = true;
        const std::string captured = ::testing::internal::GetCapturedStdout();
        std::cerr << captured;
        std::istringstream text(captured);
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) {
            lines.push_back(line);
        }
        return lines;
    }

private:
    bool finished_ = false;
};

inline bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace librarytest
