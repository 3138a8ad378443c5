#include "tools/auris-transcribe/ProgressReporter.hpp"

#include "Auris/Utilities/TextFormatting.hpp"
#include "platform/text/UnicodeText.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

namespace auris {

namespace {

constexpr int barCells = 20;
// The widest the part after the bar gets below ten hours, so that the bar stays where it is.
constexpr std::string_view widestTail = "] 100%  9:59:59 elapsed, about 9:59:59 left";
constexpr int shortestName = 12;
constexpr const char* clearToEndOfLine = "\x1b[K";

// The end of `text` in at most `columns` characters, a leading "..." marking what was cut.
std::string lastColumns(const std::string& text, int columns)
{
    std::vector<std::size_t> starts;
    for (std::size_t offset = 0; offset < text.size();) {
        starts.push_back(offset);
        platform::nextScalar(text, offset);
    }
    if (static_cast<int>(starts.size()) <= columns) {
        return text;
    }
    const int kept = std::max(0, columns - 3);
    return "..." + text.substr(starts[starts.size() - static_cast<std::size_t>(kept)]);
}

} // namespace

ProgressReporter::ProgressReporter(
    std::ostream& stream, std::string name, Style style, std::function<Clock::time_point()> now)
    : stream_(stream)
    , name_(std::move(name))
    , style_(style)
    , now_(now ? std::move(now) : [] { return Clock::now(); })
{
}

void ProgressReporter::start()
{
    started_ = now_();
    fraction_ = 0;
    shownPercent_ = -1;
    shownSecond_ = -1;
    open_ = true;
    show(true);
}

void ProgressReporter::update(double fraction)
{
    if (!open_ || !(fraction > fraction_)) {
        return;
    }
    fraction_ = std::min(fraction, 1.0);
    show(false);
}

void ProgressReporter::finish()
{
    if (!open_) {
        return;
    }
    fraction_ = 1;
    // A line saying 100 % may already be out; the bar is drawn once more for its final time.
    show(style_.terminal);
    if (style_.terminal) {
        stream_ << "\n";
    }
    stream_.flush();
    open_ = false;
}

void ProgressReporter::abandon()
{
    if (open_ && style_.terminal) {
        stream_ << "\r" << clearToEndOfLine;
        stream_.flush();
    }
    open_ = false;
}

std::string ProgressReporter::durationText(double seconds)
{
    const auto total = static_cast<long long>(std::max(0.0, std::floor(seconds)));
    const long long hours = total / 3600;
    if (hours > 0) {
        return formatString("%lld:%02lld:%02lld", hours, total / 60 % 60, total % 60);
    }
    return formatString("%lld:%02lld", total / 60, total % 60);
}

void ProgressReporter::show(bool force)
{
    const double elapsed = std::chrono::duration<double>(now_() - started_).count();
    const int percent = static_cast<int>(std::floor(fraction_ * 100));
    const auto second = static_cast<long long>(std::floor(elapsed));
    if (style_.terminal) {
        // Redrawn for a new percentage or a new second of elapsed time.
        if (!force && percent == shownPercent_ && second == shownSecond_) {
            return;
        }
        stream_ << "\r" << barLine(percent, elapsed) << clearToEndOfLine;
    } else {
        if (!force && percent == shownPercent_) {
            return;
        }
        stream_ << line(percent, elapsed) << "\n";
    }
    stream_.flush();
    shownPercent_ = percent;
    shownSecond_ = second;
}

std::string ProgressReporter::line(int percent, double elapsed) const
{
    std::string text = name_ + ": " + std::to_string(percent) + "% of the audio, " + durationText(elapsed) + " elapsed";
    if (fraction_ > 0 && fraction_ < 1) {
        text += ", about " + durationText(elapsed * (1 - fraction_) / fraction_) + " left";
    }
    return text;
}

std::string ProgressReporter::barLine(int percent, double elapsed) const
{
    const int filled = std::clamp(static_cast<int>(std::floor(fraction_ * barCells)), 0, barCells);
    std::string tail = "] " + formatString("%3d", percent) + "%  " + durationText(elapsed) + " elapsed";
    if (fraction_ > 0 && fraction_ < 1) {
        tail += ", about " + durationText(elapsed * (1 - fraction_) / fraction_) + " left";
    }
    const std::string bar = " [" + std::string(static_cast<std::size_t>(filled), '#')
        + std::string(static_cast<std::size_t>(barCells - filled), '-');
    // One column spare, so that the line never wraps and the next redraw stays on it.
    const int nameColumns = std::max(shortestName, style_.width - 1 - static_cast<int>(bar.size() + widestTail.size()));
    return lastColumns(name_, nameColumns) + bar + tail;
}

} // namespace auris
