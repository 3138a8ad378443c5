#include "platform/cloud/Container.hpp"

#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/server/CloudBackend.hpp"
#include "platform/cloud/server/RecordRows.hpp"
#include "platform/cloud/server/Validation.hpp"

#include <pqxx/transaction>

namespace platform::cloud {

Container::Container(std::string containerIdentifier)
    : Container(std::move(containerIdentifier), CloudConfiguration::fromEnvironment())
{
}

Container::Container(std::string containerIdentifier, CloudConfiguration configuration)
    : containerIdentifier_(std::move(containerIdentifier))
    , backend_(std::make_shared<server::CloudBackend>(std::move(configuration)))
{
}

const CloudConfiguration& Container::configuration() const
{
    return backend_->configuration();
}

AccountStatus Container::accountStatus() const
{
    if (!backend_->hasAccount()) {
        return AccountStatus::noAccount;
    }
    server::validateContainer(containerIdentifier_);
    bool standby = false;
    backend_->run(
        [&](pqxx::connection& connection) {
            pqxx::read_transaction transaction(connection);
            standby = transaction.exec("SELECT pg_is_in_recovery()")[0][0].as<bool>();
            transaction.commit();
        },
        server::CloudBackend::SchemaUse::skip);
    if (standby) {
        return AccountStatus::temporarilyUnavailable;
    }
    try {
        backend_->run([&](pqxx::connection& connection) {
            pqxx::work transaction(connection);
            server::RecordRows::ensureAccount(transaction);
            transaction.commit();
        });
    } catch (const CloudError& error) {
        if (error.code() == CloudError::Code::permissionFailure) {
            return AccountStatus::restricted;
        }
        if (error.code() == CloudError::Code::incompatibleVersion) {
            return AccountStatus::couldNotDetermine;
        }
        throw;
    }
    return AccountStatus::available;
}

Database Container::privateCloudDatabase() const
{
    return Database(backend_, containerIdentifier_);
}

} // namespace platform::cloud
