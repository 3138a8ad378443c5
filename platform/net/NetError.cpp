#include "platform/net/NetError.hpp"

namespace platform {

NetError::NetError(Code code, const std::string& detail)
    : std::runtime_error(detail.empty() ? describe(code) : describe(code) + " (" + detail + ")")
    , code_(code)
{
}

NetError::NetError(Code code, Message message)
    : std::runtime_error(message.text)
    , code_(code)
{
}

NetError NetError::withContext(const std::string& sentence) const
{
    return NetError(code_, Message {std::string(what()) + " " + sentence});
}

std::string NetError::describe(Code code)
{
    switch (code) {
    case Code::badURL: return "The URL is not valid.";
    case Code::unsupportedURL: return "The URL's scheme is not supported.";
    case Code::cannotFindHost: return "A server with the specified hostname could not be found.";
    case Code::cannotConnectToHost: return "Could not connect to the server.";
    case Code::timedOut: return "The request timed out.";
    case Code::networkConnectionLost: return "The network connection was lost.";
    case Code::tooManyRedirects: return "Too many HTTP redirects.";
    case Code::responseTooLarge: return "The response is larger than allowed.";
    case Code::cannotCreateFile: return "Cannot create the file for the download.";
    case Code::cannotWriteToFile: return "Cannot write the downloaded data to its file.";
    case Code::cancelled: return "The transfer was cancelled.";
    case Code::secureConnectionFailed: return "A secure connection to the server could not be made.";
    case Code::unknown: break;
    }
    return "The transfer failed.";
}

} // namespace platform
