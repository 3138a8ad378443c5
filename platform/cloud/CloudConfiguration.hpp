#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace platform::cloud {

// Where the cloud store is and how a client talks to it. Without a URL the account status is
// noAccount and every database call fails with notAuthenticated (9); a URL libpq cannot parse counts
// as none.
struct CloudConfiguration {
    static constexpr char urlVariable[] = "PARLINO_CLOUD_URL";
    static constexpr std::size_t defaultChangesBatchSize = 200;
    static constexpr std::int64_t defaultBatchAssetBytes = std::int64_t {64} << 20;
    static constexpr std::int64_t defaultMaxAssetBytes = std::int64_t {256} << 20;
    static constexpr std::chrono::seconds defaultConnectTimeout {10};
    static constexpr std::chrono::seconds defaultStatementTimeout {30};
    static constexpr std::chrono::seconds defaultRequestTimeout {45};

    // A libpq connection URI (or key=value string); none means no account.
    std::optional<std::string> url;
    // Fetched assets are written here; empty means the Caches folder's "parlino/CloudAssets".
    std::filesystem::path assetCacheFolder;
    // Most records in one answer of a zone-change fetch.
    std::size_t changesBatchSize = defaultChangesBatchSize;
    // An answer stops adding records once their assets reach this many bytes (it always holds one).
    std::int64_t batchAssetBytes = defaultBatchAssetBytes;
    // The largest asset a save sends (larger: limitExceeded) and a fetch brings (larger: left out
    // and named in the answer's skipped assets).
    std::int64_t maxAssetBytes = defaultMaxAssetBytes;
    // Every conversation with the server is bounded: making a connection (whole seconds, at least 2,
    // as libpq counts them), each statement on the server's side, and, on this side, each request
    // that shows no progress for `requestTimeout` (a server that stopped answering). Running into a
    // limit fails the operation with networkUnavailable (connecting) or serviceUnavailable.
    std::chrono::seconds connectTimeout = defaultConnectTimeout;
    std::chrono::milliseconds statementTimeout = defaultStatementTimeout;
    std::chrono::milliseconds requestTimeout = defaultRequestTimeout;

    // $PARLINO_CLOUD_URL when set and not empty; the other members at their defaults.
    static CloudConfiguration fromEnvironment();

    // Stands for the account the URL names ("user@database"); nullopt without a usable URL. Reads no
    // network, like a signed-in check.
    std::optional<std::string> identityToken() const;
    std::filesystem::path resolvedAssetCacheFolder() const;
};

// The identity token of the account configured in the environment.
std::optional<std::string> ubiquityIdentityToken();

} // namespace platform::cloud
