#include "platform/cloud/CloudConfiguration.hpp"

#include "platform/cloud/server/ConnectionSettings.hpp"
#include "platform/system/Folders.hpp"

#include <cstdlib>

namespace platform::cloud {

CloudConfiguration CloudConfiguration::fromEnvironment()
{
    CloudConfiguration configuration;
    if (const char* url = std::getenv(urlVariable); url && *url) {
        configuration.url = url;
    }
    return configuration;
}

std::optional<std::string> CloudConfiguration::identityToken() const
{
    if (!url) {
        return std::nullopt;
    }
    const auto settings = server::ConnectionSettings::parse(*url);
    if (!settings) {
        return std::nullopt;
    }
    return settings->user + "@" + settings->database;
}

std::filesystem::path CloudConfiguration::resolvedAssetCacheFolder() const
{
    return assetCacheFolder.empty() ? Folders::caches() / "parlino" / "CloudAssets" : assetCacheFolder;
}

std::optional<std::string> ubiquityIdentityToken()
{
    return CloudConfiguration::fromEnvironment().identityToken();
}

} // namespace platform::cloud
