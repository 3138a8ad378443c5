// Downloads one large file from a loopback hub through the hub client, and the same file with the
// curl program, alternately; prints both throughputs and their ratio. Exit status 1 when the
// client's best run is below 80% of curl's best run.
#include "Hub/HubApi.hpp"
#include "tools/loopback-hub/LoopbackHub.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr char repoId[] = "bench/large";
constexpr char fileName[] = "weights/weight.bin";
constexpr double targetRatio = 0.8;

void writeFile(const fs::path& path, std::size_t bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream stream(path, std::ios::binary);
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block(1 << 17);
    for (std::size_t written = 0; written < bytes;) {
        for (auto& word : block) {
            word = random();
        }
        const std::size_t count = std::min(bytes - written, block.size() * sizeof(std::uint64_t));
        stream.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(count));
        written += count;
    }
}

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

double runCurl(const std::string& url, const fs::path& output)
{
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execlp("curl", "curl", "--silent", "--fail", "--output", output.c_str(), url.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const double elapsed = seconds(Clock::now() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "curl failed (status %d)\n", status);
        std::exit(2);
    }
    return elapsed;
}

double runClient(const hub::HubApi& api, const fs::path& destination)
{
    const hub::HubApi::HubFileDownloader file { hub::Repo(repoId), api.localRepoLocation(hub::Repo(repoId)), fileName,
        std::nullopt, api.endpoint };
    const auto start = Clock::now();
    file.download([](double) {});
    const double elapsed = seconds(Clock::now() - start);
    if (fs::file_size(destination) == 0) {
        std::exit(2);
    }
    return elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t megabytes = argc > 1 ? static_cast<std::size_t>(std::atol(argv[1])) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (megabytes == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: hub-download-bench [megabytes=200] [rounds=3]\n");
        return 2;
    }
    const std::size_t bytes = megabytes << 20;

    char pattern[] = "/tmp/parlino-hub-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        return 2;
    }
    const fs::path root = pattern;
    loopback::LoopbackHub server(root / "hub");
    writeFile(server.repositoryFolder(repoId) / fileName, bytes);
    server.start();

    const hub::HubApi api(root / "downloads", std::nullopt, server.endpoint(), false);
    const fs::path destination = api.localRepoLocation(hub::Repo(repoId)) / fileName;
    const std::string url = server.endpoint() + loopback::LoopbackHub::filePath(repoId, fileName);
    const fs::path curlOutput = root / "curl.bin";

    double bestCurl = 1e9;
    double bestClient = 1e9;
    for (int round = 0; round < rounds; ++round) {
        fs::remove(curlOutput);
        bestCurl = std::min(bestCurl, runCurl(url, curlOutput));
        fs::remove(destination);
        bestClient = std::min(bestClient, runClient(api, destination));
    }
    server.stop();
    fs::remove_all(root);

    const double curlRate = static_cast<double>(megabytes) / bestCurl;
    const double clientRate = static_cast<double>(megabytes) / bestClient;
    const double ratio = clientRate / curlRate;
    std::printf("file: %zu MiB, best of %d rounds\n", megabytes, rounds);
    std::printf("curl:       %8.1f MiB/s (%.3f s)\n", curlRate, bestCurl);
    std::printf("hub client: %8.1f MiB/s (%.3f s)\n", clientRate, bestClient);
    std::printf("ratio: %.2f (target at least %.2f) %s\n", ratio, targetRatio, ratio >= targetRatio ? "ok" : "BELOW TARGET");
    return ratio >= targetRatio ? 0 : 1;
}
