#pragma once

#include "Hub/CurrentValuePublisher.hpp"
#include "platform/net/HttpRequest.hpp"

#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace hub {

// Transfers one file to a fixed place on a worker thread of its own and publishes the transfer's
// state. The body goes to a temporary file beside the destination and is renamed into place only
// when it is complete and its response succeeded (a status from 400 to 499 fails with
// HubClientError::authorizationRequired, any other non-2xx status with httpStatusCode).
class Downloader {
public:
    struct DownloadState {
        enum class Kind { notStarted, downloading, completed, failed };

        Kind kind = Kind::notStarted;
        double fraction = 0;            // downloading: within 0...1, 0 while the size is unknown
        std::filesystem::path location; // completed
        std::exception_ptr error;       // failed

        static DownloadState notStarted() { return {}; }
        static DownloadState downloading(double fraction) { return { Kind::downloading, fraction, {}, nullptr }; }
        static DownloadState completed(std::filesystem::path location)
        {
            return { Kind::completed, 0, std::move(location), nullptr };
        }
        static DownloadState failed(std::exception_ptr error) { return { Kind::failed, 0, {}, std::move(error) }; }
        bool isFinal() const { return kind == Kind::completed || kind == Kind::failed; }
    };

    class DownloadError : public std::runtime_error {
    public:
        enum class Kind { invalidDownloadLocation, unexpectedError };
        explicit DownloadError(Kind kind)
            : std::runtime_error(kind == Kind::unexpectedError ? "unexpectedError" : "invalidDownloadLocation")
            , kind_(kind)
        {
        }
        Kind kind() const { return kind_; }

    private:
        Kind kind_;
    };

    // Linux has no system transfer service that outlives the process: a background download runs
    // in-process like a foreground one.
    static constexpr char backgroundSessionIdentifier[] = "hubkit.hub.downloader";

    // Starts the transfer. The destination's folder must exist; nothing creates it here.
    Downloader(const std::string& from, std::filesystem::path to, const std::optional<std::string>& authToken = std::nullopt,
        bool inBackground = false, std::chrono::milliseconds timeout = platform::HttpRequest::defaultTimeout);
    // Cancels an unfinished transfer and waits for its thread.
    ~Downloader();
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    // Starts a transfer of `url`, unless one of the same URL is still running.
    void download(const std::string& url, const std::optional<std::string>& authToken);
    // Ends an unfinished transfer as failed with NetError::Code::cancelled; safe from any thread.
    void cancel();
    // Blocks until the state is final: the file's place, or the failure rethrown. The transfer's
    // idle timeout bounds the wait. Must not be called from a state subscriber.
    std::filesystem::path waitUntilDone();

    CurrentValuePublisher<DownloadState>& downloadState() { return downloadState_; }
    const std::filesystem::path& destination() const { return destination_; }

private:
    struct Task {
        std::string url;
        std::atomic<bool> finished = false;
        std::jthread thread;
    };

    void run(Task& task, const std::optional<std::string>& authToken, std::stop_token stop);

    std::filesystem::path destination_;
    std::chrono::milliseconds timeout_;
    CurrentValuePublisher<DownloadState> downloadState_ { DownloadState::notStarted() };
    std::optional<CurrentValuePublisher<DownloadState>::Subscription> stateSubscriber_;
    std::unique_ptr<Task> task_; // last, so its thread ends before the rest goes
};

} // namespace hub
