#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// A transfer that produced no usable HTTP response (the URL-loading error of the platform layer).
class NetError : public std::runtime_error {
public:
    enum class Code {
        badURL,
        unsupportedURL,
        cannotFindHost,
        cannotConnectToHost,
        timedOut,
        networkConnectionLost,
        tooManyRedirects,
        responseTooLarge,
        cannotCreateFile,
        cannotWriteToFile,
        cancelled,
        secureConnectionFailed,
        unknown,
    };

    NetError(Code code, const std::string& detail = {});

    Code code() const { return code_; }
    // The same error, its message followed by a sentence of the caller's.
    NetError withContext(const std::string& sentence) const;
    // The message for a code without detail, e.g. "The request timed out."
    static std::string describe(Code code);

private:
    struct Message {
        std::string text;
    };
    NetError(Code code, Message message);

    Code code_;
};

} // namespace platform
