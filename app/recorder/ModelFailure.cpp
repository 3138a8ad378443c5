#include "app/recorder/ModelFailure.hpp"

#include "Auris/Core/WhisperError.hpp"
#include "Hub/Repo.hpp"
#include "platform/net/NetError.hpp"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>

namespace parlino {

namespace {

using platform::NetError;

std::optional<ModelFailure::Reason> reasonOfNetError(const NetError& error)
{
    switch (error.code()) {
    case NetError::Code::cannotFindHost:
    case NetError::Code::cannotConnectToHost:
    case NetError::Code::timedOut:
    case NetError::Code::networkConnectionLost:
    case NetError::Code::secureConnectionFailed:
        return ModelFailure::Reason::noConnection;
    case NetError::Code::cannotCreateFile:
    case NetError::Code::cannotWriteToFile:
        // The transfer names the system's reason in its message.
        if (std::string(error.what()).find(std::strerror(ENOSPC)) != std::string::npos) {
            return ModelFailure::Reason::noSpace;
        }
        return std::nullopt;
    case NetError::Code::cancelled:
        return ModelFailure::Reason::cancelled;
    default:
        return std::nullopt;
    }
}

// What this one error says, without looking at what it wraps.
std::optional<ModelFailure::Reason> reasonOfOne(const std::exception_ptr& error, bool wrapsAnother)
{
    try {
        std::rethrow_exception(error);
    } catch (const NetError& caught) {
        return reasonOfNetError(caught);
    } catch (const hub::HubClientError& caught) {
        // The hub answers a repository it does not have as one that needs authorisation.
        if (caught.kind() == hub::HubClientError::Kind::authorizationRequired
            || (caught.kind() == hub::HubClientError::Kind::httpStatusCode && caught.statusCode() == 404)) {
            return ModelFailure::Reason::notFound;
        }
    } catch (const std::system_error& caught) {
        if (caught.code() == std::errc::no_space_on_device) {
            return ModelFailure::Reason::noSpace;
        }
    } catch (const auris::WhisperError& caught) {
        // Also the engine's wrapper of every download failure; its cause then decides.
        if (caught.kind() == auris::WhisperError::Kind::modelsUnavailable && !wrapsAnother) {
            return ModelFailure::Reason::notFound;
        }
    } catch (...) {
    }
    return std::nullopt;
}

std::exception_ptr nestedIn(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::nested_exception& nested) {
        return nested.nested_ptr();
    } catch (...) {
        return nullptr;
    }
}

} // namespace

QString ModelFailure::reasonText() const
{
    switch (reason) {
    case Reason::noConnection: return QStringLiteral("no connection to the model hub");
    case Reason::notFound: return QStringLiteral("the model hub does not have it");
    case Reason::noSpace: return QStringLiteral("not enough disk space");
    case Reason::cancelled: return QStringLiteral("the download was cancelled");
    case Reason::other: break;
    }
    return QStringLiteral("it could not be loaded");
}

ModelFailure::Reason ModelFailure::reasonOf(std::exception_ptr error)
{
    // The innermost cause that says something wins.
    Reason found = Reason::other;
    for (int depth = 0; error && depth < 16; ++depth) {
        const std::exception_ptr inner = nestedIn(error);
        if (const auto reason = reasonOfOne(error, inner != nullptr)) {
            found = *reason;
        }
        error = inner;
    }
    return found;
}

} // namespace parlino
