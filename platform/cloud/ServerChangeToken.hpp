#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform::cloud {

// Where a zone-change fetch ended: the zone's incarnation (new each time the zone is created) and
// the last change seen in it. Opaque to callers; store it as bytes and read it back with fromBytes.
// A token of an earlier incarnation (the zone was deleted and made again), or one past the zone's
// last change, makes the fetch fail with changeTokenExpired (21).
class ServerChangeToken {
public:
    ServerChangeToken(std::int64_t zoneIncarnation, std::int64_t changeSequence);

    std::vector<std::uint8_t> bytes() const;
    // Nullopt for bytes that no token wrote.
    static std::optional<ServerChangeToken> fromBytes(std::span<const std::uint8_t> bytes);

    std::int64_t zoneIncarnation() const { return zoneIncarnation_; }
    std::int64_t changeSequence() const { return changeSequence_; }

    bool operator==(const ServerChangeToken&) const = default;

private:
    std::int64_t zoneIncarnation_;
    std::int64_t changeSequence_;
};

} // namespace platform::cloud
