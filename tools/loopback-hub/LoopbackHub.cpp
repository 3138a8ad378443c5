#include "tools/loopback-hub/LoopbackHub.hpp"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace loopback {

namespace {

constexpr std::size_t chunkSize = 1 << 20;
constexpr std::string_view resolveMarker = "/resolve/main/";

struct Fault {
    std::optional<int> status;
    std::optional<std::size_t> dropAfter;
    std::optional<std::size_t> stallAfter;
    std::optional<std::chrono::milliseconds> delay;
    std::optional<std::size_t> bytesPerSecond;
    std::optional<std::pair<std::string, int>> redirect;
    bool omitLength = false;
};

void sendJson(httplib::Response& response, int status, const nlohmann::json& body)
{
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

// The folder for "<type>/<id>" under the root, or nothing when it would leave the root.
std::optional<std::filesystem::path> inside(const std::filesystem::path& root, std::string_view relative)
{
    if (relative.empty() || relative.front() == '/' || relative.find('\\') != std::string_view::npos) {
        return std::nullopt;
    }
    const auto base = std::filesystem::weakly_canonical(root);
    const auto candidate = std::filesystem::weakly_canonical(base / std::filesystem::path(relative));
    const auto [end, ignored] = std::mismatch(base.begin(), base.end(), candidate.begin(), candidate.end());
    if (end != base.end() || candidate == base) {
        return std::nullopt;
    }
    return candidate;
}

} // namespace

struct LoopbackHub::Server {
    std::filesystem::path root;
    httplib::Server http;
    std::thread thread;
    std::atomic<bool> listenEnded = false;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::optional<std::string> token;
    std::map<std::string, Fault> faults;
    std::map<std::string, std::vector<std::string>> listings;
    std::vector<RecordedRequest> requests;

    std::optional<Fault> faultFor(const std::string& path)
    {
        std::lock_guard lock(mutex);
        const auto it = faults.find(path);
        return it == faults.end() ? std::nullopt : std::optional<Fault>(it->second);
    }

    // Waits on the server's clock, not the caller's: stop() cuts it short.
    void pause(std::chrono::milliseconds duration)
    {
        std::unique_lock lock(mutex);
        wake.wait_for(lock, duration, [&] { return stopping; });
    }

    void stallUntilStopped()
    {
        std::unique_lock lock(mutex);
        wake.wait(lock, [&] { return stopping; });
    }

    void handle(const httplib::Request& request, httplib::Response& response)
    {
        {
            std::lock_guard lock(mutex);
            RecordedRequest recorded { request.method, request.path, std::nullopt };
            if (request.has_header("Authorization")) {
                recorded.authorization = request.get_header_value("Authorization");
            }
            requests.push_back(std::move(recorded));
        }
        const std::optional<Fault> fault = faultFor(request.path);
        if (fault && fault->delay) {
            pause(*fault->delay);
        }
        if (fault && fault->redirect) {
            response.set_redirect(fault->redirect->first, fault->redirect->second);
            return;
        }
        if (fault && fault->status) {
            sendJson(response, *fault->status, { { "error", "injected status" } });
            return;
        }
        if (request.path == whoamiPath) {
            whoami(request, response);
        } else if (request.path.starts_with("/api/")) {
            listing(request.path.substr(5), response);
        } else {
            file(request.path, fault.value_or(Fault {}), response);
        }
    }

    void whoami(const httplib::Request& request, httplib::Response& response)
    {
        std::optional<std::string> expected;
        {
            std::lock_guard lock(mutex);
            expected = token;
        }
        if (!expected || request.get_header_value("Authorization") != "Bearer " + *expected) {
            sendJson(response, 401, { { "error", "Invalid username or password." } });
            return;
        }
        sendJson(response, 200, { { "type", "user" }, { "name", "loopback" }, { "auth", { { "type", "access_token" } } } });
    }

    void listing(const std::string& typeAndId, httplib::Response& response)
    {
        nlohmann::json siblings = nlohmann::json::array();
        std::optional<std::vector<std::string>> names;
        {
            std::lock_guard lock(mutex);
            if (const auto it = listings.find(typeAndId); it != listings.end()) {
                names = it->second;
            }
        }
        if (!names) {
            const auto slash = typeAndId.find('/');
            if (slash == std::string::npos) {
                sendJson(response, 404, { { "error", "Repository not found" } });
                return;
            }
            const std::string type = typeAndId.substr(0, slash);
            const std::string id = typeAndId.substr(slash + 1);
            const auto folder = inside(root, type == "models" ? id : type + "/" + id);
            if (!folder || !std::filesystem::is_directory(*folder)) {
                sendJson(response, 404, { { "error", "Repository not found" } });
                return;
            }
            names.emplace();
            for (const auto& entry : std::filesystem::recursive_directory_iterator(*folder)) {
                if (entry.is_regular_file()) {
                    names->push_back(entry.path().lexically_relative(*folder).generic_string());
                }
            }
            std::sort(names->begin(), names->end());
        }
        for (const auto& name : *names) {
            siblings.push_back({ { "rfilename", name } });
        }
        sendJson(response, 200, { { "id", typeAndId }, { "siblings", siblings } });
    }

    void file(const std::string& path, const Fault& fault, httplib::Response& response)
    {
        const auto marker = path.find(resolveMarker);
        if (marker == std::string::npos || marker == 0) {
            sendJson(response, 404, { { "error", "Entry not found" } });
            return;
        }
        const std::string repository = path.substr(1, marker - 1);
        const std::string relative = path.substr(marker + resolveMarker.size());
        const auto location = inside(root, repository + "/" + relative);
        if (!location || !std::filesystem::is_regular_file(*location)) {
            sendJson(response, 404, { { "error", "Entry not found" } });
            return;
        }
        const auto size = static_cast<std::size_t>(std::filesystem::file_size(*location));
        auto stream = std::make_shared<std::ifstream>(*location, std::ios::binary);
        auto buffer = std::make_shared<std::vector<char>>(chunkSize);
        // Bytes allowed before the fault strikes; sending stops there.
        const std::size_t limit = std::min({ size, fault.dropAfter.value_or(size), fault.stallAfter.value_or(size) });
        const bool faulty = limit < size || fault.stallAfter.has_value();
        // A limited rate goes out in tenths of a second's worth.
        const std::size_t step = fault.bytesPerSecond ? std::max<std::size_t>(1, *fault.bytesPerSecond / 10) : chunkSize;
        auto send = [this, stream, buffer, limit, faulty, stall = fault.stallAfter.has_value(), step,
                        paced = fault.bytesPerSecond.has_value()](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= limit) {
                if (stall) {
                    stallUntilStopped();
                }
                if (faulty) {
                    return false;
                }
                sink.done();
                return true;
            }
            if (paced && offset > 0) {
                pause(std::chrono::milliseconds(100));
            }
            const std::size_t count = std::min({ chunkSize, step, limit - offset });
            stream->seekg(static_cast<std::streamoff>(offset));
            stream->read(buffer->data(), static_cast<std::streamsize>(count));
            if (static_cast<std::size_t>(stream->gcount()) != count) {
                return false;
            }
            return sink.write(buffer->data(), count);
        };
        response.status = 200;
        if (size == 0 && !fault.omitLength) {
            // A provider of length 0 would go out without any length at all.
            response.set_content("", "application/octet-stream");
        } else if (fault.omitLength) {
            response.set_chunked_content_provider("application/octet-stream", send);
        } else {
            response.set_content_provider(size, "application/octet-stream",
                [send](std::size_t offset, std::size_t, httplib::DataSink& sink) mutable { return send(offset, sink); });
        }
    }
};

LoopbackHub::LoopbackHub(std::filesystem::path root)
    : server_(std::make_unique<Server>())
{
    server_->root = std::move(root);
    server_->http.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        server_->handle(request, response);
    });
}

LoopbackHub::~LoopbackHub()
{
    stop();
}

int LoopbackHub::start(int port)
{
    if (server_->thread.joinable()) {
        return server_->port;
    }
    {
        std::lock_guard lock(server_->mutex);
        server_->stopping = false;
    }
    const int bound = port == 0 ? server_->http.bind_to_any_port("127.0.0.1")
                                : (server_->http.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        throw std::runtime_error("the loopback hub cannot bind 127.0.0.1");
    }
    server_->port = bound;
    server_->listenEnded = false;
    server_->thread = std::thread([this] {
        server_->http.listen_after_bind();
        server_->listenEnded = true;
    });
    // stop() only reaches a server that runs its accept loop; this takes microseconds.
    while (!server_->http.is_running() && !server_->listenEnded) {
        std::this_thread::yield();
    }
    return bound;
}

void LoopbackHub::stop()
{
    if (!server_->thread.joinable()) {
        return;
    }
    {
        std::lock_guard lock(server_->mutex);
        server_->stopping = true;
    }
    server_->wake.notify_all();
    server_->http.stop();
    server_->thread.join();
}

int LoopbackHub::port() const
{
    return server_->port;
}

std::string LoopbackHub::endpoint() const
{
    return "http://127.0.0.1:" + std::to_string(server_->port);
}

const std::filesystem::path& LoopbackHub::root() const
{
    return server_->root;
}

std::filesystem::path LoopbackHub::repositoryFolder(const std::string& repoId, const std::string& type) const
{
    return type == "models" ? server_->root / repoId : server_->root / type / repoId;
}

std::string LoopbackHub::listingPath(const std::string& repoId, const std::string& type)
{
    return "/api/" + type + "/" + repoId;
}

std::string LoopbackHub::filePath(const std::string& repoId, const std::string& file, const std::string& type)
{
    return (type == "models" ? "/" : "/" + type + "/") + repoId + "/resolve/main/" + file;
}

void LoopbackHub::setAccessToken(std::optional<std::string> token)
{
    std::lock_guard lock(server_->mutex);
    server_->token = std::move(token);
}

void LoopbackHub::failWithStatus(const std::string& path, int status)
{
    std::lock_guard lock(server_->mutex);
    server_->faults[path].status = status;
}

void LoopbackHub::dropConnectionAfter(const std::string& path, std::size_t bytes)
{
    std::lock_guard lock(server_->mutex);
    server_->faults[path].dropAfter = bytes;
}

void LoopbackHub::stallAfter(const std::string& path, std::size_t bytes)
{
    std::lock_guard lock(server_->mutex);
    server_->faults[path].stallAfter = bytes;
}

void LoopbackHub::limitRate(const std::string& path, std::size_t bytesPerSecond)
{
    std::lock_guard lock(server_->mutex);
    server_->faults[path].bytesPerSecond = bytesPerSecond;
}

void LoopbackHub::delay(const std::string& path, std::chrono::milliseconds duration)
{
    std::lock_guard lock(server_->mutex);
    server_->faults[path].delay = duration;
}

void LoopbackHub::redirect(const std::string& path, const std::string& location, int status)
{
    std::lock_guard lock(server_->mutex);
    server_->faults[path].redirect = std::make_pair(location, status);
}

void LoopbackHub::omitContentLength(const std::string& path)
{
    std::lock_guard lock(server_->mutex);
    server_->faults[path].omitLength = true;
}

void LoopbackHub::setListing(const std::string& repoId, std::vector<std::string> names, const std::string& type)
{
    std::lock_guard lock(server_->mutex);
    server_->listings[type + "/" + repoId] = std::move(names);
}

void LoopbackHub::clearFaults()
{
    std::lock_guard lock(server_->mutex);
    server_->faults.clear();
    server_->listings.clear();
}

std::vector<RecordedRequest> LoopbackHub::requests() const
{
    std::lock_guard lock(server_->mutex);
    return server_->requests;
}

void LoopbackHub::clearRequests()
{
    std::lock_guard lock(server_->mutex);
    server_->requests.clear();
}

} // namespace loopback
