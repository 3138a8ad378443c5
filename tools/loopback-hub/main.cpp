// loopback-hub: serves repository folders as a model hub on 127.0.0.1 until SIGINT or SIGTERM.
#include "tools/loopback-hub/LoopbackHub.hpp"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

int usage()
{
    std::cerr << "usage: loopback-hub --root DIR [--port N] [--token T]\n"
                 "         [--status PATH=CODE] [--drop PATH=BYTES] [--stall PATH=BYTES] [--delay PATH=MS]\n"
                 "         [--redirect PATH=LOCATION] [--no-length PATH] [--listing REPO_ID=NAME,NAME...]\n"
                 "PATH is a request path such as /api/models/owner/name or /owner/name/resolve/main/file.\n";
    return 2;
}

bool split(const std::string& text, std::string& left, std::string& right)
{
    const auto equals = text.rfind('=');
    if (equals == std::string::npos || equals == 0) {
        return false;
    }
    left = text.substr(0, equals);
    right = text.substr(equals + 1);
    return true;
}

bool parseNumber(const std::string& text, long long& value)
{
    try {
        std::size_t used = 0;
        value = std::stoll(text, &used);
        return used == text.size() && value >= 0;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string root;
    int port = 0;
    struct Switch {
        std::string name, argument;
    };
    std::vector<Switch> switches;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            return usage();
        }
        const std::string argument = argv[++i];
        if (name == "--root") {
            root = argument;
        } else if (name == "--port") {
            long long value = 0;
            if (!parseNumber(argument, value) || value > 65535) {
                return usage();
            }
            port = static_cast<int>(value);
        } else {
            switches.push_back({ name, argument });
        }
    }
    if (root.empty()) {
        return usage();
    }

    loopback::LoopbackHub hub(root);
    for (const auto& [name, argument] : switches) {
        std::string path, value;
        long long number = 0;
        if (name == "--token") {
            hub.setAccessToken(argument);
        } else if (name == "--no-length") {
            hub.omitContentLength(argument);
        } else if (!split(argument, path, value)) {
            return usage();
        } else if (name == "--redirect") {
            hub.redirect(path, value);
        } else if (name == "--listing") {
            std::vector<std::string> names;
            std::size_t start = 0;
            while (start <= value.size()) {
                const auto comma = std::min(value.find(',', start), value.size());
                names.push_back(value.substr(start, comma - start));
                start = comma + 1;
            }
            hub.setListing(path, names);
        } else if (!parseNumber(value, number)) {
            return usage();
        } else if (name == "--status") {
            hub.failWithStatus(path, static_cast<int>(number));
        } else if (name == "--drop") {
            hub.dropConnectionAfter(path, static_cast<std::size_t>(number));
        } else if (name == "--stall") {
            hub.stallAfter(path, static_cast<std::size_t>(number));
        } else if (name == "--delay") {
            hub.delay(path, std::chrono::milliseconds(number));
        } else {
            return usage();
        }
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Blocked before the server's threads exist, so only sigwait sees them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        hub.start(port);
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    std::cout << hub.endpoint() << std::endl;
    int received = 0;
    sigwait(&signals, &received);
    hub.stop();
    return 0;
}
