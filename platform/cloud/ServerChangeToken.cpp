#include "platform/cloud/ServerChangeToken.hpp"

#include <algorithm>
#include <array>

namespace platform::cloud {

namespace {

constexpr std::array<std::uint8_t, 4> magic {'P', 'C', 'T', '1'};
constexpr std::size_t encodedSize = magic.size() + 2 * sizeof(std::int64_t);

void appendBigEndian(std::vector<std::uint8_t>& out, std::int64_t value)
{
    const auto bits = static_cast<std::uint64_t>(value);
    for (int shift = 56; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(bits >> shift));
    }
}

std::int64_t readBigEndian(std::span<const std::uint8_t> bytes)
{
    std::uint64_t bits = 0;
    for (const auto byte : bytes) {
        bits = (bits << 8) | byte;
    }
    return static_cast<std::int64_t>(bits);
}

} // namespace

ServerChangeToken::ServerChangeToken(std::int64_t zoneIncarnation, std::int64_t changeSequence)
    : zoneIncarnation_(zoneIncarnation)
    , changeSequence_(changeSequence)
{
}

std::vector<std::uint8_t> ServerChangeToken::bytes() const
{
    std::vector<std::uint8_t> out(magic.begin(), magic.end());
    out.reserve(encodedSize);
    appendBigEndian(out, zoneIncarnation_);
    appendBigEndian(out, changeSequence_);
    return out;
}

std::optional<ServerChangeToken> ServerChangeToken::fromBytes(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() != encodedSize || !std::equal(magic.begin(), magic.end(), bytes.begin())) {
        return std::nullopt;
    }
    const auto incarnation = readBigEndian(bytes.subspan(magic.size(), 8));
    const auto sequence = readBigEndian(bytes.subspan(magic.size() + 8, 8));
    if (incarnation <= 0 || sequence < 0) {
        return std::nullopt;
    }
    return ServerChangeToken(incarnation, sequence);
}

} // namespace platform::cloud
