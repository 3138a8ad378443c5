#pragma once

#include "app/library/SyncError.hpp"

#include <optional>

namespace parlino {

// The state of the last cloud upload or download; `error` carries what failed.
struct SyncStatus {
    enum Case { idle, syncing, success, error };

    Case value = idle;
    std::optional<SyncError> failure;

    static SyncStatus failed(SyncError error) { return SyncStatus {.value = SyncStatus::error, .failure = std::move(error)}; }

    friend bool operator==(const SyncStatus&, const SyncStatus&) = default;
};

} // namespace parlino
