#include "platform/cloud/CloudAdministration.hpp"

#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/server/CloudBackend.hpp"

#include <pqxx/transaction>

namespace platform::cloud {

CloudAdministration::CloudAdministration(CloudConfiguration configuration)
    : backend_(std::make_shared<server::CloudBackend>(std::move(configuration)))
{
}

std::string CloudAdministration::currentAccount() const
{
    std::string account;
    backend_->run(
        [&](pqxx::connection& connection) {
            pqxx::read_transaction transaction(connection);
            account = transaction.exec("SELECT current_user")[0][0].as<std::string>();
            transaction.commit();
        },
        server::CloudBackend::SchemaUse::skip);
    return account;
}

void CloudAdministration::setQuota(const std::string& account, std::optional<std::int64_t> quotaBytes) const
{
    if (quotaBytes && *quotaBytes < 0) {
        throw CloudError(CloudError::Code::invalidArguments);
    }
    backend_->run([&](pqxx::connection& connection) {
        pqxx::work transaction(connection);
        if (quotaBytes) {
            transaction.exec_params("INSERT INTO parlino_cloud.accounts AS a (account, quota_bytes) VALUES ($1, $2) "
                                    "ON CONFLICT (account) DO UPDATE SET quota_bytes = EXCLUDED.quota_bytes",
                                    account, *quotaBytes);
        } else {
            transaction.exec_params("UPDATE parlino_cloud.accounts SET quota_bytes = NULL WHERE account = $1", account);
        }
        transaction.commit();
    });
}

std::int64_t CloudAdministration::usedBytes(const std::string& account) const
{
    std::int64_t used = 0;
    backend_->run([&](pqxx::connection& connection) {
        pqxx::read_transaction transaction(connection);
        const auto result
            = transaction.exec_params("SELECT used_bytes FROM parlino_cloud.accounts WHERE account = $1", account);
        used = result.empty() ? 0 : result[0][0].as<std::int64_t>();
        transaction.commit();
    });
    return used;
}

} // namespace platform::cloud
