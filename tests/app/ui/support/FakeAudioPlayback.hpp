#pragma once

#include "app/library/AudioPlayback.hpp"

#include <QUuid>

#include <optional>
#include <vector>

namespace uitest {

// A player that plays nothing: it starts at once and finishes when the test says so. A failure
// set for the next play changes nothing and is reported on the next event-loop turn, as the real
// player does for a file that is not there.
class FakeAudioPlayback final : public parlino::AudioPlayback {
    Q_OBJECT

public:
    using AudioPlayback::AudioPlayback;

    void play(const parlino::Recording& recording) override;
    void stop() override;
    // The last sample was played.
    void finish();

    std::optional<QString> nextFailure;
    std::vector<QUuid> plays;
    int stops = 0;
};

} // namespace uitest
