#include "Hub/Downloader.hpp"

#include "Hub/Repo.hpp"
#include "platform/net/HttpClient.hpp"

#include <algorithm>
#include <cmath>
#include <semaphore>

namespace hub {

namespace {

double fractionOf(std::int64_t written, std::int64_t expected)
{
    if (expected <= 0) {
        return 0;
    }
    const double fraction = static_cast<double>(written) / static_cast<double>(expected);
    return std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
}

} // namespace

Downloader::Downloader(const std::string& from, std::filesystem::path to, const std::optional<std::string>& authToken,
    bool inBackground, std::chrono::milliseconds timeout)
    : destination_(std::move(to))
    , timeout_(timeout)
{
    download(from, authToken);
}

Downloader::~Downloader()
{
    stateSubscriber_.reset();
    task_.reset();
}

void Downloader::download(const std::string& url, const std::optional<std::string>& authToken)
{
    downloadState_.send(DownloadState::downloading(0));
    if (task_ && task_->url == url && !task_->finished) {
        return;
    }
    // A transfer of another URL would race for the same destination: it ends first.
    task_.reset();
    task_ = std::make_unique<Task>();
    task_->url = url;
    Task& task = *task_;
    task.thread = std::jthread([this, &task, authToken](std::stop_token stop) { run(task, authToken, stop); });
}

void Downloader::cancel()
{
    if (task_) {
        task_->thread.request_stop();
    }
}

void Downloader::run(Task& task, const std::optional<std::string>& authToken, std::stop_token stop)
{
    try {
        platform::HttpRequest request { task.url };
        request.timeout = timeout_;
        if (authToken) {
            request.headers.emplace_back("Authorization", "Bearer " + *authToken);
        }
        auto result = platform::HttpClient::download(request, destination_.parent_path(),
            [this](std::int64_t written, std::int64_t expected) {
                downloadState_.send(DownloadState::downloading(fractionOf(written, expected)));
            },
            stop);
        const int status = result.response.statusCode;
        if (status >= 400 && status <= 499) {
            throw HubClientError::authorizationRequired();
        }
        if (!result.response.isSuccess()) {
            throw HubClientError::httpStatusCode(status);
        }
        result.file.commit(destination_);
        task.finished = true;
        downloadState_.send(DownloadState::completed(destination_));
    } catch (...) {
        task.finished = true;
        downloadState_.send(DownloadState::failed(std::current_exception()));
    }
}

std::filesystem::path Downloader::waitUntilDone()
{
    if (task_ && task_->thread.get_id() == std::this_thread::get_id()) {
        // Waiting on the thread that would end the wait can only deadlock.
        throw DownloadError(DownloadError::Kind::unexpectedError);
    }
    auto done = std::make_shared<std::counting_semaphore<>>(0);
    stateSubscriber_ = downloadState_.subscribe([done](const DownloadState& state) {
        if (state.isFinal()) {
            done->release();
        }
    });
    done->acquire();
    const DownloadState state = downloadState_.value();
    if (state.kind == DownloadState::Kind::completed) {
        return state.location;
    }
    if (state.kind == DownloadState::Kind::failed && state.error) {
        std::rethrow_exception(state.error);
    }
    throw DownloadError(DownloadError::Kind::unexpectedError);
}

} // namespace hub
