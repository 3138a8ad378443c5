#pragma once

#include "platform/cloud/CloudConfiguration.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform::cloud {

namespace server {
class CloudBackend;
}

// What an operator of the store (or a test) changes beside the clients: per-account quotas. An
// account is a server role; its asset bytes, over all its containers and zones, count against its
// quota. Failures throw CloudError like the database's.
class CloudAdministration {
public:
    explicit CloudAdministration(CloudConfiguration configuration);

    // The account the configuration's connection acts as.
    std::string currentAccount() const;
    // Nullopt lifts the limit (the default).
    void setQuota(const std::string& account, std::optional<std::int64_t> quotaBytes) const;
    std::int64_t usedBytes(const std::string& account) const;

private:
    std::shared_ptr<server::CloudBackend> backend_;
};

} // namespace platform::cloud
