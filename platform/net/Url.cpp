#include "platform/net/Url.hpp"

#include <curl/curl.h>

#include <memory>

namespace platform {

namespace {

struct UrlHandleDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

std::optional<std::string> part(CURLU* handle, CURLUPart which)
{
    char* value = nullptr;
    if (curl_url_get(handle, which, &value, 0) != CURLUE_OK || !value) {
        return std::nullopt;
    }
    std::string result(value);
    curl_free(value);
    return result;
}

bool isPathCharacter(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
    case '-': case '.': case '_': case '~':
    case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case ';': case '=':
    case ':': case '@':
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<Url> Url::parse(std::string_view text)
{
    if (text.empty() || text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    UrlHandle handle(curl_url());
    if (!handle) {
        return std::nullopt;
    }
    const std::string copy(text);
    if (curl_url_set(handle.get(), CURLUPART_URL, copy.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    const auto scheme = part(handle.get(), CURLUPART_SCHEME);
    const auto host = part(handle.get(), CURLUPART_HOST);
    if (!scheme || (*scheme != "http" && *scheme != "https") || !host || host->empty()) {
        return std::nullopt;
    }
    auto normalized = part(handle.get(), CURLUPART_URL);
    if (!normalized) {
        return std::nullopt;
    }
    return Url(std::move(*normalized));
}

Url Url::appendingPath(std::string_view path) const
{
    UrlHandle handle(curl_url());
    curl_url_set(handle.get(), CURLUPART_URL, text_.c_str(), 0);
    std::string current = part(handle.get(), CURLUPART_PATH).value_or("/");
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view segment = path.substr(start, end - start);
        if (!segment.empty()) {
            if (current.empty() || current.back() != '/') {
                current += '/';
            }
            current += encodePathSegment(segment);
        }
        start = end + 1;
    }
    curl_url_set(handle.get(), CURLUPART_PATH, current.c_str(), 0);
    return Url(part(handle.get(), CURLUPART_URL).value_or(text_));
}

std::string Url::encodePathSegment(std::string_view segment)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(segment.size());
    for (const char raw : segment) {
        const auto c = static_cast<unsigned char>(raw);
        if (isPathCharacter(c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 0x0F];
        }
    }
    return encoded;
}

} // namespace platform
