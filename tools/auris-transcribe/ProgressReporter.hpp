#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <utility>

namespace auris {

// Shows how far one file's transcription is: on a terminal one bar redrawn in place, elsewhere a
// plain line whenever another whole percent is done. Both give the percentage, the time since
// `start` and, once something is done, an estimate of the time left. Not thread-safe: the caller
// serialises the calls.
class ProgressReporter {
public:
    using Clock = std::chrono::steady_clock;

    struct Style {
        bool terminal = false;
        // Columns the bar's line may use; the name is shortened to fit.
        int width = 80;
    };

    ProgressReporter(std::ostream& stream, std::string name, Style style, std::function<Clock::time_point()> now);

    void start();
    // `fraction` of the audio done, from 0 to 1; less than was already shown changes nothing.
    void update(double fraction);
    // Shows 100 % and ends the bar's line.
    void finish();
    // Takes the bar of a file that failed off the screen.
    void abandon();

    // "0:07", "12:34", "1:02:03".
    static std::string durationText(double seconds);

private:
    void show(bool force);
    std::string line(int percent, double elapsed) const;
    std::string barLine(int percent, double elapsed) const;

    std::ostream& stream_;
    std::string name_;
    Style style_;
    std::function<Clock::time_point()> now_;
    Clock::time_point started_ {};
    double fraction_ = 0;
    int shownPercent_ = -1;
    long long shownSecond_ = -1;
    bool open_ = false;
};

} // namespace auris
