#pragma once

#include "platform/cloud/AccountStatus.hpp"
#include "platform/cloud/CloudConfiguration.hpp"
#include "platform/cloud/Database.hpp"

#include <memory>
#include <string>

namespace platform::cloud {

namespace server {
class CloudBackend;
}

// A cloud container: the identifier that keeps one program's data apart from another's on the same
// server, the account status, and the private database. Creating one touches no network.
class Container {
public:
    // The configuration from the environment ($PARLINO_CLOUD_URL).
    explicit Container(std::string containerIdentifier);
    Container(std::string containerIdentifier, CloudConfiguration configuration);

    const std::string& containerIdentifier() const { return containerIdentifier_; }
    const CloudConfiguration& configuration() const;

    // Connects and asks (see AccountStatus for which answer is which). Without a URL: noAccount,
    // with no network. A server that cannot be reached throws CloudError (networkUnavailable, ...).
    // An available account's store schema is ready afterwards.
    AccountStatus accountStatus() const;

    Database privateCloudDatabase() const;

private:
    std::string containerIdentifier_;
    std::shared_ptr<server::CloudBackend> backend_;
};

} // namespace platform::cloud
