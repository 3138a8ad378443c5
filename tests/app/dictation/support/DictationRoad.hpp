#pragma once

#include "app/dictation/GlobeDictationManager.hpp"
#include "app/ui/support/FakeDictation.hpp"
#include "app/ui/support/FakeLibrary.hpp"
#include "app/ui/support/FakeRecorder.hpp"
#include "app/dictation/support/FakeInputs.hpp"
#include "app/dictation/support/ManualClock.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QCoreApplication>
#include <QStringList>

#include <fstream>
#include <memory>

namespace dictationtest {

// The push-to-talk road with everything around the trigger manager faked: the recorder, the
// library, the paste helper, the keyboard and the clock.
struct DictationRoad {
    using Trigger = parlino::GlobeDictationService::Trigger;

    testsupport::TemporaryDirectory folder;
    platform::UserDefaults defaults {folder / "parlino.conf"};
    uitest::FakeRecorder recorder {defaults};
    uitest::FakeLibrary library {folder.path()};
    uitest::FakeDictationHelper helper;
    FakeTriggerInput input;
    ManualClock clock;
    QStringList log;
    std::unique_ptr<parlino::GlobeDictationManager> manager;

    DictationRoad() { recorder.setAurisReady(true); }

    parlino::GlobeDictationManager& create()
    {
        manager = std::make_unique<parlino::GlobeDictationManager>(parlino::GlobeDictationManager::Dependencies {
            defaults, recorder, library, helper, input, clock, [this](const QString& line) { log << line; }});
        return *manager;
    }

    // Lets the fake recorder's completions run; time does not move.
    static void settle()
    {
        for (int turn = 0; turn < 5; ++turn) {
            QCoreApplication::processEvents();
        }
    }

    void advance(int milliseconds)
    {
        clock.advance(std::chrono::milliseconds(milliseconds));
        settle();
    }

    std::filesystem::path audioFile(const std::string& name)
    {
        const auto path = folder / name;
        std::ofstream(path) << "audio";
        return path;
    }

    // Ends the stop the recorder is waiting on with a recording of `text`.
    void transcribe(const QString& text, std::optional<std::filesystem::path> audio = std::nullopt)
    {
        recorder.finishStop({audio, text, 2.0, QStringLiteral("Generated")});
        settle();
    }
};

} // namespace dictationtest
