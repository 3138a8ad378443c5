#include "platform/net/HttpClient.hpp"

#include "platform/net/NetError.hpp"
#include "platform/net/Url.hpp"
#include "platform/system/FileDescriptor.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long bufferSize = 512 * 1024;
constexpr char userAgent[] = "Parlino/0.1";

void initializeCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

NetError::Code codeFor(CURLcode result)
{
    using Code = NetError::Code;
    switch (result) {
    case CURLE_UNSUPPORTED_PROTOCOL: return Code::unsupportedURL;
    case CURLE_URL_MALFORMAT: return Code::badURL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return Code::cannotFindHost;
    case CURLE_COULDNT_CONNECT: return Code::cannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT: return Code::timedOut;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return Code::networkConnectionLost;
    case CURLE_TOO_MANY_REDIRECTS: return Code::tooManyRedirects;
    case CURLE_WRITE_ERROR: return Code::cannotWriteToFile;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE: return Code::secureConnectionFailed;
    default: return Code::unknown;
    }
}

// One request on a private multi handle, so the loop can watch the idle time and the stop token.
class Transfer {
public:
    using Sink = std::function<bool(const char* data, std::size_t size)>;

    Transfer(const HttpRequest& request, Sink sink)
        : request_(request)
        , sink_(std::move(sink))
    {
    }

    HttpResponse perform(std::stop_token stop)
    {
        initializeCurl();
        if (!Url::parse(request_.url)) {
            throw NetError(NetError::Code::badURL, request_.url);
        }
        if (stop.stop_requested()) {
            throw NetError(NetError::Code::cancelled);
        }
        std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
        std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
        if (!easy || !multi) {
            throw NetError(NetError::Code::unknown, "cannot create a transfer");
        }
        easy_ = easy.get();
        std::unique_ptr<curl_slist, ListDeleter> headers;
        for (const auto& [name, value] : request_.headers) {
            const std::string line = name + ": " + value;
            curl_slist* appended = curl_slist_append(headers.get(), line.c_str());
            if (!appended) {
                throw NetError(NetError::Code::unknown, "cannot add a header");
            }
            headers.release();
            headers.reset(appended);
        }
        char errorText[CURL_ERROR_SIZE] = {};
        curl_easy_setopt(easy_, CURLOPT_URL, request_.url.c_str());
        curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, request_.maxRedirects);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_USERAGENT, userAgent);
        curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, bufferSize);
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);

        curl_multi_add_handle(multi.get(), easy_);
        struct Detach {
            CURLM* multi;
            CURL* easy;
            ~Detach() { curl_multi_remove_handle(multi, easy); }
        } detach { multi.get(), easy_ };
        // Declared after the handles so that it is gone before they are.
        std::stop_callback wake(stop, [handle = multi.get()] { curl_multi_wakeup(handle); });

        const auto timeout = std::max(request_.timeout, std::chrono::milliseconds(1));
        const int pollMilliseconds = static_cast<int>(
            std::clamp<std::chrono::milliseconds::rep>((timeout / 4).count(), 1, 100));
        lastActivity_ = Clock::now();
        for (;;) {
            int running = 0;
            const CURLMcode status = curl_multi_perform(multi.get(), &running);
            if (status != CURLM_OK) {
                throw NetError(NetError::Code::unknown, curl_multi_strerror(status));
            }
            if (running == 0) {
                break;
            }
            if (stop.stop_requested()) {
                throw NetError(NetError::Code::cancelled);
            }
            if (Clock::now() - lastActivity_ >= timeout) {
                throw NetError(NetError::Code::timedOut);
            }
            curl_multi_poll(multi.get(), nullptr, 0, pollMilliseconds, nullptr);
        }

        CURLcode result = CURLE_OK;
        int remaining = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &remaining)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
                result = message->data.result;
            }
        }
        if (sinkError_) {
            std::rethrow_exception(sinkError_);
        }
        if (result != CURLE_OK) {
            throw NetError(codeFor(result), errorText[0] ? errorText : curl_easy_strerror(result));
        }
        long statusCode = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &statusCode);
        response_.statusCode = static_cast<int>(statusCode);
        char* effectiveUrl = nullptr;
        if (curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effectiveUrl) == CURLE_OK && effectiveUrl) {
            response_.url = effectiveUrl;
        }
        response_.expectedContentLength = expectedLength();
        return response_;
    }

    std::int64_t expectedLength() const
    {
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) {
            return -1;
        }
        return length < 0 ? -1 : static_cast<std::int64_t>(length);
    }

    void fail(NetError error) { sinkError_ = std::make_exception_ptr(std::move(error)); }

private:
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user)
    {
        auto* self = static_cast<Transfer*>(user);
        const std::size_t length = size * count;
        self->lastActivity_ = Clock::now();
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (line.starts_with("HTTP/")) {
            // A new response (after a redirect or an interim status) replaces the headers.
            self->response_.headers.clear();
        } else if (const auto colon = line.find(':'); colon != std::string_view::npos) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                value.remove_prefix(1);
            }
            self->response_.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
        }
        return length;
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user)
    {
        auto* self = static_cast<Transfer*>(user);
        const std::size_t length = size * count;
        self->lastActivity_ = Clock::now();
        // Nothing may unwind through libcurl: a throwing sink ends the transfer and rethrows after it.
        bool keepGoing = true;
        try {
            keepGoing = !self->sink_ || self->sink_(data, length);
        } catch (...) {
            self->sinkError_ = std::current_exception();
            keepGoing = false;
        }
        if (!keepGoing) {
            return length == 0 ? 1 : 0;
        }
        return length;
    }

    const HttpRequest& request_;
    Sink sink_;
    CURL* easy_ = nullptr;
    HttpResponse response_;
    Clock::time_point lastActivity_;
    std::exception_ptr sinkError_;
};


} // namespace

HttpClient::DataResult HttpClient::get(const HttpRequest& request, std::stop_token stop)
{
    DataResult result;
    Transfer* current = nullptr;
    Transfer transfer(request, [&](const char* data, std::size_t size) {
        if (result.body.size() + size > request.maxBodyBytes) {
            current->fail(NetError(NetError::Code::responseTooLarge, request.url));
            return false;
        }
        result.body.append(data, size);
        return true;
    });
    current = &transfer;
    result.response = transfer.perform(stop);
    return result;
}

HttpClient::FileResult HttpClient::download(const HttpRequest& request, const std::filesystem::path& temporaryFolder,
    const ProgressHandler& progress, std::stop_token stop)
{
    std::string pattern = (temporaryFolder / ".download-XXXXXX.part").string();
    FileDescriptor fd(::mkstemps(pattern.data(), 5));
    if (fd.get() < 0) {
        throw NetError(NetError::Code::cannotCreateFile, temporaryFolder.string() + ": " + std::strerror(errno));
    }
    FileResult result { {}, DownloadedFile(pattern) };
    ::fchmod(fd.get(), 0644);

    std::int64_t written = 0;
    Transfer* current = nullptr;
    Transfer transfer(request, [&](const char* data, std::size_t size) {
        if (!fd.writeAll(data, size)) {
            current->fail(NetError(NetError::Code::cannotWriteToFile, std::strerror(errno)));
            return false;
        }
        written += static_cast<std::int64_t>(size);
        if (progress) {
            progress(written, current->expectedLength());
        }
        return true;
    });
    current = &transfer;
    result.response = transfer.perform(stop);
    if (!fd.close()) {
        throw NetError(NetError::Code::cannotWriteToFile, std::strerror(errno));
    }
    return result;
}

} // namespace platform
