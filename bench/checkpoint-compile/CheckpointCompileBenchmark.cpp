// Compiles synthetic float16 checkpoints of Whisper shapes (tiny, large-v3) the way the engine does,
// each in a fresh child process, and prints the compile time and the child's peak resident memory
// against the checkpoint's size. Exit status 1 when large-v3's peak reaches 1.3 times its checkpoint;
// tiny's is dominated by its token embedding held once in float32 and is only reported.
#include "platform/ml/compiler/CheckpointConverter.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"
#include "tools/make-model/WhisperCheckpoint.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double peakLimit = 1.3;
constexpr double mebibyte = 1024.0 * 1024.0;

struct NamedShape {
    std::string name;
    ml::WhisperShape shape;
    bool limited;
};

std::vector<NamedShape> shapes()
{
    ml::WhisperShape tiny = ml::WhisperShape::preset("tiny");
    ml::WhisperShape large;
    large.width = 1280;
    large.audioLayers = large.textLayers = 32;
    large.audioHeads = large.textHeads = 20;
    large.melCount = 128;
    large.vocabularySize = 51866;
    return {{"tiny", tiny, false}, {"large-v3", large, true}};
}

std::size_t checkpointBytes(const ml::WhisperShape& shape)
{
    std::size_t elements = 0;
    for (const auto& tensor : ml::WhisperModelSet::qualifiedTensors(shape)) {
        elements += tensor.elementCount();
    }
    return 2 * elements;
}

// The peak resident set of this process so far, in bytes.
std::size_t peakResidentBytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return 0;
}

// The child: compiles and reports "<seconds> <peak bytes>".
int compileChild(const fs::path& checkpoint, const fs::path& output)
{
    const auto start = Clock::now();
    ml::CheckpointConverter::Options options;
    options.storage = ml::MultiArrayDataType::float16;
    ml::CheckpointConverter(checkpoint, options).write(output);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::cout << seconds << " " << peakResidentBytes() << "\n";
    return 0;
}

class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "checkpoint-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        path_ = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

bool measure(const NamedShape& named)
{
    const std::size_t bytes = checkpointBytes(named.shape);
    TemporaryFolder folder;
    // The checkpoint and the compiled folder side by side, with room to spare.
    const auto space = fs::space(folder.path());
    if (space.available < 2 * bytes + (512u << 20)) {
        std::printf("%-9s skipped: %.0f MiB free in %s, %.0f MiB needed\n", named.name.c_str(), space.available / mebibyte,
            folder.path().c_str(), (2 * bytes + (512u << 20)) / mebibyte);
        return true;
    }
    const auto writeStart = Clock::now();
    ml::WhisperCheckpoint::write(folder.path() / "checkpoint", named.shape, "F16", ml::randomWhisperWeights(1));
    const double writeSeconds = std::chrono::duration<double>(Clock::now() - writeStart).count();

    const std::string command = "'" + fs::read_symlink("/proc/self/exe").string() + "' --compile '"
        + (folder.path() / "checkpoint/model.safetensors").string() + "' '" + (folder.path() / "compiled").string() + "'";
    FILE* child = ::popen(command.c_str(), "r");
    double seconds = 0;
    unsigned long long peak = 0;
    const bool read = child && std::fscanf(child, "%lf %llu", &seconds, &peak) == 2;
    const int status = child ? ::pclose(child) : -1;
    if (!read || status != 0) {
        std::printf("%-9s the compile child failed\n", named.name.c_str());
        return false;
    }
    const double ratio = static_cast<double>(peak) / static_cast<double>(bytes);
    std::printf("%-9s checkpoint %8.1f MiB (written in %.1f s)  compile %6.2f s  peak resident %7.1f MiB = %.2fx the checkpoint%s\n",
        named.name.c_str(), bytes / mebibyte, writeSeconds, seconds, peak / mebibyte, ratio,
        !named.limited || ratio < peakLimit ? "" : "  OVER THE LIMIT");
    return !named.limited || ratio < peakLimit;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc == 4 && std::string(argv[1]) == "--compile") {
            return compileChild(argv[2], argv[3]);
        }
        const std::string only = argc > 1 ? argv[1] : "all";
        bool good = true;
        bool any = false;
        for (const auto& named : shapes()) {
            if (only == "all" || only == named.name) {
                any = true;
                good = measure(named) && good;
            }
        }
        if (!any) {
            std::fprintf(stderr, "usage: checkpoint-compile-bench [tiny|large-v3|all]\n");
            return 2;
        }
        std::printf("limit: large-v3's peak resident memory below %.1fx its checkpoint\n", peakLimit);
        return good ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "checkpoint-compile-bench: %s\n", error.what());
        return 1;
    }
}
