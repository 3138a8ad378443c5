#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// An absolute http or https URL with a host.
class Url {
public:
    // Absent for text that is not such a URL.
    static std::optional<Url> parse(std::string_view text);

    // Appends path segments separated by "/"; each segment is percent-encoded on its own, so "?",
    // "#" or "%" inside a file name stay part of the path.
    Url appendingPath(std::string_view path) const;

    const std::string& string() const { return text_; }
    friend bool operator==(const Url&, const Url&) = default;

    // Percent-encodes every byte outside unreserved characters and the path's sub-delimiters.
    static std::string encodePathSegment(std::string_view segment);

private:
    explicit Url(std::string text)
        : text_(std::move(text))
    {
    }
    std::string text_;
};

} // namespace platform
