// Speed and memory of the Whisper programs, as ratios to what this machine can do, measured in the
// same run: encoder FLOP/s over OpenBLAS SGEMM FLOP/s, decoder time per token over the time to
// read its weights and caches once at the measured read bandwidth, and peak resident memory. See
// README.md.
//
//   runtime-bench [--models DIR] [--shapes tiny,base,small] [--precision float16|float32] [--peer DIR] [--runs N]
//
// Each shape is measured in a fresh process (this program started again with --measure) so that
// its peak resident memory is its own, once with OpenBLAS left to choose its kernels and once told
// to use its Haswell ones. The encoder's time is set beside ONNX Runtime's for a graph of the same
// shape when onnxruntime-node is installed (bench/runtime/setup-onnx-peer).

#include "platform/ml/Model.hpp"
#include "platform/ml/programs/kernels/CpuFeatures.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"

#include <cblas.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double sgemmFlops()
{
    const int n = 2048;
    std::vector<float> a(static_cast<std::size_t>(n) * n, 0.5f), b(a.size(), 0.25f), c(a.size());
    double best = 1e9;
    for (int run = 0; run < 6; ++run) {
        const auto start = Clock::now();
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, n, n, n, 1.0f, a.data(), n, b.data(), n, 0.0f, c.data(), n);
        best = std::min(best, seconds(start));
    }
    return 2.0 * n * n * n / best;
}

// The sum of words [begin, end), in vector loads where the processor has them: scalar loads alone
// may not keep enough of the memory stream in flight.
std::uint64_t sumWords(const std::uint64_t* words, std::size_t begin, std::size_t end);

#ifdef ML_HAS_X86
ML_VECTOR_TARGET std::uint64_t sumWordsVector(const std::uint64_t* words, std::size_t begin, std::size_t end)
{
    __m256i a = _mm256_setzero_si256(), b = a, c = a, d = a;
    std::size_t i = begin;
    for (; i + 16 <= end; i += 16) {
        a = _mm256_add_epi64(a, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i)));
        b = _mm256_add_epi64(b, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i + 4)));
        c = _mm256_add_epi64(c, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i + 8)));
        d = _mm256_add_epi64(d, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i + 12)));
    }
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_add_epi64(_mm256_add_epi64(a, b), _mm256_add_epi64(c, d)));
    std::uint64_t sum = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    for (; i < end; ++i) {
        sum += words[i];
    }
    return sum;
}
#endif

std::uint64_t sumWords(const std::uint64_t* words, std::size_t begin, std::size_t end)
{
#ifdef ML_HAS_X86
    if (ml::hasVectorUnits()) {
        return sumWordsVector(words, begin, end);
    }
#endif
    std::uint64_t sum = 0;
    for (std::size_t i = begin; i < end; ++i) {
        sum += words[i];
    }
    return sum;
}

// Bytes read per second by all cores reading one buffer far larger than the caches, as a decoder
// step reads its weights: best of five passes after two to warm up. The threads stay up and spin
// between passes, as the programs' pools do: threads started for each pass read well below what
// the machine can (their cores wake up slowly, in a virtual machine especially). The threads take
// the buffer a mebibyte at a time, as the pools take their tasks.
double readBandwidth()
{
    const std::size_t words = (std::size_t(512) << 20) / sizeof(std::uint64_t);
    constexpr std::size_t chunk = (std::size_t(1) << 20) / sizeof(std::uint64_t);
    std::vector<std::uint64_t> buffer(words, 1);
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    constexpr int warmUp = 2, passes = warmUp + 5;
    std::vector<std::uint64_t> sums(threads);
    std::atomic<int> pass {-1};
    std::atomic<unsigned> finished {0};
    std::atomic<std::size_t> next {0};
    const auto read = [&](unsigned t) {
        std::uint64_t sum = 0;
        for (std::size_t begin = next.fetch_add(chunk); begin < words; begin = next.fetch_add(chunk)) {
            sum += sumWords(buffer.data(), begin, std::min(words, begin + chunk));
        }
        sums[t] += sum;
        finished.fetch_add(1, std::memory_order_acq_rel);
    };
    // This thread reads the first share itself: one spinning thread more than cores would take one.
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int p = 0; p < passes; ++p) {
                while (pass.load(std::memory_order_acquire) < p) {
                }
                read(t);
            }
        });
    }
    double best = 1e9;
    for (int p = 0; p < passes; ++p) {
        next.store(0);
        std::fill(sums.begin(), sums.end(), 0);
        const auto start = Clock::now();
        pass.store(p, std::memory_order_release);
        read(0);
        while (finished.load(std::memory_order_acquire) < threads * static_cast<unsigned>(p + 1)) {
        }
        if (p >= warmUp) {
            best = std::min(best, seconds(start));
        }
    }
    for (auto& worker : workers) {
        worker.join();
    }
    std::uint64_t total = 0;
    for (auto sum : sums) {
        total += sum;
    }
    if (total != words) {
        std::fprintf(stderr, "the bandwidth pass lost words\n");
    }
    return static_cast<double>(words * sizeof(std::uint64_t)) / best;
}

long peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

double encoderFlops(const ml::WhisperShape& s)
{
    const double f = s.melFrames(), t = s.audioFrames(), d = s.width, m = s.melCount;
    const double convolutions = 2 * f * 3 * m * d + 2 * t * 3 * d * d;
    const double layer = 2 * t * d * 3 * d + 2 * 2 * t * t * d + 2 * t * d * d + 2 * 2 * t * d * 4 * d;
    return convolutions + s.audioLayers * layer;
}

// Bytes a decoder step at `position` must read: every weight matrix, the token table once for the
// logits, the window's encoder output once per layer in each of its two layouts (as many bytes as
// every layer's cross-attention keys and values; in the weights' precision) and the float16
// self-attention cache of the positions before it.
// Windows stepping together read the matrices once and each its own encoder output and cache.
double decoderStepBytes(const ml::WhisperShape& s, double elementBytes, int position, int windows = 1)
{
    const double d = s.width;
    const double weights = s.textLayers * (4 * d * d + 4 * d * d + 8 * d * d) * elementBytes
        + static_cast<double>(s.vocabularySize) * d * elementBytes;
    const double crossCache = 2.0 * s.textLayers * s.audioFrames() * d * elementBytes;
    const double selfCache = 2.0 * s.textLayers * d * position * 2;
    return weights + windows * (crossCache + selfCache);
}

constexpr int decodedSteps = 100;
// Window counts whose steps together are measured.
constexpr int windowCounts[] = {1, 2, 4, 8, 16};

ml::MultiArray filled(std::vector<int> shape, ml::MultiArrayDataType type, double value)
{
    ml::MultiArray array(std::move(shape), type);
    array.fill(value);
    return array;
}

// Decodes 100 steps the way the engine drives the cache; returns the first step's time and the
// median of the others.
std::pair<double, double> decodeWindow(const std::shared_ptr<ml::Model>& decoder, const ml::MultiArray& embeds, int vocabulary)
{
    const auto& keyShape = decoder->modelDescription().input("key_cache")->shape;
    const int cacheWidth = keyShape[1], length = keyShape[3];
    auto keyCache = filled({1, cacheWidth, 1, length}, ml::MultiArrayDataType::float16, 0);
    auto valueCache = filled({1, cacheWidth, 1, length}, ml::MultiArrayDataType::float16, 0);
    auto updateMask = filled({1, length}, ml::MultiArrayDataType::int32, 0);
    auto padding = filled({1, length}, ml::MultiArrayDataType::float16, -10000);
    const int steps = std::min(length, decodedSteps);
    double firstStep = 0;
    std::vector<double> laterSteps;
    for (int i = 0; i < steps; ++i) {
        padding.setValue({0, i}, 0);
        updateMask.setValue({0, i}, 1);
        ml::DictionaryFeatureProvider input;
        input.set("input_ids", filled({1}, ml::MultiArrayDataType::int32, (i * 7919) % vocabulary));
        input.set("cache_length", filled({1}, ml::MultiArrayDataType::int32, i));
        input.set("key_cache", keyCache);
        input.set("value_cache", valueCache);
        input.set("kv_cache_update_mask", updateMask);
        input.set("encoder_output_embeds", embeds);
        input.set("decoder_key_padding_mask", padding);
        const auto start = Clock::now();
        auto output = decoder->prediction(input);
        if (i == 0) {
            firstStep = seconds(start);
        } else {
            laterSteps.push_back(seconds(start));
        }
        const auto* keys = static_cast<const std::uint16_t*>(output.featureValue("key_cache_updates")->dataPointer());
        const auto* values = static_cast<const std::uint16_t*>(output.featureValue("value_cache_updates")->dataPointer());
        auto* keyData = static_cast<std::uint16_t*>(keyCache.dataPointer());
        auto* valueData = static_cast<std::uint16_t*>(valueCache.dataPointer());
        for (int e = 0; e < cacheWidth; ++e) {
            keyData[static_cast<std::size_t>(e) * length + i] = keys[e];
            valueData[static_cast<std::size_t>(e) * length + i] = values[e];
        }
        updateMask.setValue({0, i}, 0);
    }
    // The median step: robust against other work on the machine.
    std::sort(laterSteps.begin(), laterSteps.end());
    return {firstStep, laterSteps[laterSteps.size() / 2]};
}

// The median time of one step of `count` windows together, each with audio and a cache of its own
// (`position` positions), after a first step that makes their cross-attention states.
// Negative when that many windows exceed what the program steps together.
double stepTogether(const ml::Model& decoder, const ml::MultiArray& embeds, int vocabulary, int count, int position)
{
    if (static_cast<std::size_t>(count) > decoder.batchCapacity()) {
        return -1;
    }
    const auto& keyShape = decoder.modelDescription().input("key_cache")->shape;
    const int cacheWidth = keyShape[1], length = keyShape[3];
    auto updateMask = filled({1, length}, ml::MultiArrayDataType::int32, 0);
    updateMask.setValue({0, position}, 1);
    auto padding = filled({1, length}, ml::MultiArrayDataType::float16, -10000);
    for (int p = 0; p <= position; ++p) {
        padding.setValue({0, p}, 0);
    }
    std::vector<ml::DictionaryFeatureProvider> inputs(static_cast<std::size_t>(count));
    std::vector<const ml::FeatureProvider*> steps;
    for (int w = 0; w < count; ++w) {
        // A different encoder output gets a cross-attention state of its own.
        ml::MultiArray own = embeds.copy();
        own.setLinear(static_cast<std::size_t>(w), own[static_cast<std::size_t>(w)] + 1);
        auto& input = inputs[static_cast<std::size_t>(w)];
        input.set("input_ids", filled({1}, ml::MultiArrayDataType::int32, (w * 7919 + 11) % vocabulary));
        input.set("cache_length", filled({1}, ml::MultiArrayDataType::int32, position));
        input.set("key_cache", filled({1, cacheWidth, 1, length}, ml::MultiArrayDataType::float16, 0.01 * w));
        input.set("value_cache", filled({1, cacheWidth, 1, length}, ml::MultiArrayDataType::float16, -0.01 * w));
        input.set("kv_cache_update_mask", updateMask);
        input.set("encoder_output_embeds", own);
        input.set("decoder_key_padding_mask", padding);
        steps.push_back(&input);
    }
    decoder.predictions(steps);
    std::vector<double> times;
    for (int run = 0; run < 15; ++run) {
        const auto start = Clock::now();
        decoder.predictions(steps);
        times.push_back(seconds(start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int measure(const std::string& name, const fs::path& directory, double elementBytes, int runs)
{
    const ml::WhisperShape shape = ml::WhisperShape::preset(name);
    const auto loadStart = Clock::now();
    auto mel = ml::Model::load(directory / ml::WhisperModelSet::melFolderName);
    auto encoder = ml::Model::load(directory / ml::WhisperModelSet::encoderFolderName);
    auto decoder = ml::Model::load(directory / ml::WhisperModelSet::decoderFolderName);
    const double loadTime = seconds(loadStart);

    std::vector<float> samples(static_cast<std::size_t>(shape.audioSamples));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<float>(0.2 * std::sin(0.05 * static_cast<double>(i)) + 0.05 * std::sin(0.71 * static_cast<double>(i)));
    }
    ml::DictionaryFeatureProvider audio;
    audio.set("audio", ml::MultiArray::fromValues<float>({shape.audioSamples}, samples));

    double melTime = 1e9, encoderTime = 1e9;
    ml::MultiArray embeds;
    for (int run = 0; run < runs; ++run) {
        auto start = Clock::now();
        ml::DictionaryFeatureProvider features;
        features.set("melspectrogram_features", *mel->prediction(audio).featureValue("melspectrogram_features"));
        melTime = std::min(melTime, seconds(start));
        start = Clock::now();
        embeds = *encoder->prediction(features).featureValue("encoder_output_embeds");
        encoderTime = std::min(encoderTime, seconds(start));
    }

    // Three windows of different audio: the first step of a window computes its cross-attention keys
    // and values; by the third window the program's buffers are warm, as in a long recording.
    double windowStart = 0;
    double perToken = 0;
    for (int window = 0; window < 3; ++window) {
        if (window > 0) {
            for (std::size_t i = 0; i < samples.size(); ++i) {
                samples[i] = static_cast<float>(0.3 * std::sin((0.02 + 0.011 * window) * static_cast<double>(i)));
            }
            audio.set("audio", ml::MultiArray::fromValues<float>({shape.audioSamples}, samples));
            ml::DictionaryFeatureProvider features;
            features.set("melspectrogram_features", *mel->prediction(audio).featureValue("melspectrogram_features"));
            embeds = *encoder->prediction(features).featureValue("encoder_output_embeds");
        }
        const auto timing = decodeWindow(decoder, embeds, shape.vocabularySize);
        windowStart = timing.first;
        perToken = timing.second;
    }
    // The bandwidth in this process right after its steps, under the load they ran under; after the
    // peak memory is read, which its buffer would raise.
    const long peak = peakResidentKiB();
    // Then the steps of several windows together, and the peak with their states.
    std::vector<double> together;
    for (const int count : windowCounts) {
        together.push_back(stepTogether(*decoder, embeds, shape.vocabularySize, count, decodedSteps / 2));
    }
    const long peakTogether = peakResidentKiB();
    const double bandwidth = readBandwidth();
    // The median step sits about halfway through the window's positions.
    std::printf("%s %.6f %.6f %.6f %.6f %.6f %.3e %.3e %ld %.6e", name.c_str(), loadTime, melTime, encoderTime, windowStart,
        perToken, encoderFlops(shape), decoderStepBytes(shape, elementBytes, decodedSteps / 2), peak, bandwidth);
    for (const double time : together) {
        std::printf(" %.6e", time);
    }
    std::printf(" %zu %ld\n", decoder->batchCapacity(), peakTogether);
    return 0;
}

// The table of steps of several windows together, from the windows' fields of a measuring line.
void printWindowSteps(const std::string& name, const std::string& windowFields, double elementBytes, double bandwidth)
{
    std::istringstream fields(windowFields);
    std::vector<double> times;
    for (std::size_t i = 0; i < std::size(windowCounts); ++i) {
        double time = -1;
        fields >> time;
        times.push_back(time);
    }
    std::size_t capacity = 0;
    long peak = 0;
    fields >> capacity >> peak;
    const ml::WhisperShape shape = ml::WhisperShape::preset(name);
    std::printf("  %s: windows stepping together (at most %zu; peak %.1f MiB)\n", name.c_str(), capacity, peak / 1024.0);
    std::printf("  %8s %9s %9s %9s %10s\n", "windows", "step ms", "bound ms", "step/bound", "x 1 window");
    for (std::size_t i = 0; i < times.size(); ++i) {
        const double bound = decoderStepBytes(shape, elementBytes, decodedSteps / 2, windowCounts[i]) / bandwidth;
        if (times[i] < 0) {
            std::printf("  %8d %9s %9.2f %9s %10s\n", windowCounts[i], "-", bound * 1e3, "-", "-");
        } else {
            std::printf("  %8d %9.2f %9.2f %9.2f %10.2f\n", windowCounts[i], times[i] * 1e3, bound * 1e3, times[i] / bound,
                times[i] / times[0]);
        }
    }
}

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    std::stringstream stream(text);
    for (std::string item; std::getline(stream, item, ',');) {
        items.push_back(item);
    }
    return items;
}

std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// Runs a shell command and returns its first line of output; empty when it fails.
std::string firstLine(const std::string& command)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    char line[512] = {};
    const bool read = pipe && std::fgets(line, sizeof line, pipe);
    const int status = pipe ? ::pclose(pipe) : -1;
    return read && status == 0 ? std::string(line) : std::string();
}

// How the measuring processes see OpenBLAS: left to choose its kernels for this processor, or told
// to use the Haswell ones (as this workplace's environment does).
struct BlasSetting {
    std::string label;
    std::string environment; // an env(1) prefix
};

const std::vector<BlasSetting> blasSettings {
    {"OpenBLAS choosing its own kernels", "env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE"},
    {"OPENBLAS_CORETYPE=Haswell", "env OPENBLAS_CORETYPE=Haswell"},
};

fs::path sourceFolder()
{
#ifdef PARLINO_SOURCE_DIR
    return PARLINO_SOURCE_DIR;
#else
    return fs::current_path();
#endif
}

std::string python()
{
    // Debian's interpreter, where python3-onnx is installed.
    return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// The peer's best time for one window of that shape in ms, or a negative number when it is not installed
// or fails.
double peerTime(const std::string& shape, const fs::path& models, const fs::path& peerModule, int runs)
{
    const fs::path graph = models / (shape + "-encoder.onnx");
    if (!fs::exists(graph)) {
        const std::string write = python() + " " + quoted((sourceFolder() / "bench/runtime/write-encoder-onnx.py").string()) + " "
            + shape + " " + quoted(graph.string()) + " && echo written";
        if (firstLine(write).empty()) {
            std::fprintf(stderr, "writing the ONNX graph for %s failed (python3-onnx and python3-numpy installed?)\n", shape.c_str());
            fs::remove(graph);
            return -1;
        }
    }
    const std::string command = "node " + quoted((sourceFolder() / "bench/runtime/onnx-peer.js").string()) + " "
        + quoted(peerModule.string()) + " " + quoted(graph.string()) + " " + std::to_string(std::thread::hardware_concurrency())
        + " " + std::to_string(runs);
    const std::string line = firstLine(command);
    double best = -1, median = -1;
    if (std::sscanf(line.c_str(), "peer %lf %lf", &best, &median) != 2) {
        std::fprintf(stderr, "timing ONNX Runtime on %s failed\n", shape.c_str());
        return -1;
    }
    return best;
}

int machine()
{
    std::printf("%.6e %.6e %s\n", sgemmFlops(), readBandwidth(), ml::kernelSetName(ml::activeKernelSet()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string shapes = "tiny,base,small";
    std::string precision = "float16";
    fs::path models = fs::temp_directory_path() / "parlino-runtime-bench";
    fs::path peer = sourceFolder() / "bench/runtime/onnx-peer/node_modules/onnxruntime-node";
    std::string measured;
    int runs = 0; // windows through the encoder and the peer: 5, small 3
    bool machineOnly = false;
    const char* usage = "usage: runtime-bench [--models DIR] [--shapes tiny,base,small] [--precision float16|float32] [--peer DIR] [--runs N]\n";
    for (int i = 1; i < argc; ++i) {
        const std::string key = argv[i];
        if (key == "--machine") {
            machineOnly = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::cerr << usage;
            return 2;
        }
        const std::string value = argv[++i];
        if (key == "--shapes") shapes = value;
        else if (key == "--precision") precision = value;
        else if (key == "--models") models = value;
        else if (key == "--measure") measured = value;
        else if (key == "--peer") peer = value;
        else if (key == "--runs") {
            runs = static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
            if (runs < 1 || runs > 100) {
                std::cerr << usage;
                return 2;
            }
        }
        else {
            std::cerr << usage;
            return 2;
        }
    }
    const auto storage = precision == "float32" ? ml::MultiArrayDataType::float32 : ml::MultiArrayDataType::float16;
    const double elementBytes = storage == ml::MultiArrayDataType::float32 ? 4 : 2;
    if (machineOnly) {
        return machine();
    }
    if (!measured.empty()) {
        return measure(measured, models / (measured + "-" + precision), elementBytes, runs > 0 ? runs : measured == "small" ? 3 : 5);
    }

    const std::string self = quoted(fs::read_symlink("/proc/self/exe").string());
    const bool hasPeer = fs::exists(peer / "package.json");
    if (!hasPeer) {
        std::printf("ONNX Runtime is not installed (bench/runtime/setup-onnx-peer installs it): peer columns left empty\n");
    }
    for (const auto& name : splitList(shapes)) {
        const fs::path directory = models / (name + "-" + precision);
        if (!fs::exists(directory / ml::WhisperModelSet::decoderFolderName)) {
            ml::WhisperModelSet::write(directory, ml::WhisperShape::preset(name), storage, ml::randomWhisperWeights(1));
        }
    }

    for (const auto& setting : blasSettings) {
        double gemm = 0, bandwidth = 0;
        char kernels[32] = {};
        const std::string machineLine = firstLine(setting.environment + " " + self + " --machine");
        if (std::sscanf(machineLine.c_str(), "%lf %lf %31s", &gemm, &bandwidth, kernels) != 3) {
            std::fprintf(stderr, "measuring the machine failed\n");
            return 1;
        }
        double load = 0;
        std::ifstream("/proc/loadavg") >> load;
        std::printf("\n== %s\n", setting.label.c_str());
        std::printf("machine: %u threads, load %.1f, kernels %s, OpenBLAS SGEMM %.1f GFLOP/s (2048^3), read bandwidth %.1f GB/s\n",
            std::thread::hardware_concurrency(), load, kernels, gemm / 1e9, bandwidth / 1e9);
        struct WindowSteps {
            std::string name, fields;
            double bandwidth;
        };
        std::vector<WindowSteps> windowSteps;
        std::printf("%-6s %7s %8s %8s %8s %9s %9s %8s %8s %9s %9s %9s %9s\n", "shape", "mel ms", "enc ms", "peer ms", "speedup",
            "enc GF/s", "enc/SGEMM", "tok ms", "read GB/s", "bound ms", "tok/bound", "window ms", "peak MiB");
        for (const auto& name : splitList(shapes)) {
            const std::string command = setting.environment + " " + self + " --measure " + name + " --models "
                + quoted(models.string()) + " --precision " + precision + (runs > 0 ? " --runs " + std::to_string(runs) : std::string());
            const std::string line = firstLine(command);
            char shapeName[32];
            double loadTime, melTime, encoderTime, first, perToken, flops, stepBytes, stepBandwidth;
            long peak;
            int consumed = 0;
            if (std::sscanf(line.c_str(), "%31s %lf %lf %lf %lf %lf %lf %lf %ld %lf%n", shapeName, &loadTime, &melTime, &encoderTime,
                    &first, &perToken, &flops, &stepBytes, &peak, &stepBandwidth, &consumed)
                != 10) {
                std::fprintf(stderr, "measuring %s failed: %s\n", name.c_str(), line.c_str());
                return 1;
            }
            const int windowRuns = runs > 0 ? runs : name == "small" ? 3 : 5;
            const double peerMs = hasPeer ? peerTime(name, models, peer, windowRuns) : -1;
            char peerText[16] = "-", speedupText[16] = "-";
            if (peerMs > 0) {
                std::snprintf(peerText, sizeof peerText, "%.1f", peerMs);
                std::snprintf(speedupText, sizeof speedupText, "%.2f", peerMs / (encoderTime * 1e3));
            }
            // The higher of the two measurements: other work on the machine only ever lowers one.
            const double bound = stepBytes / std::max(stepBandwidth, bandwidth);
            std::printf("%-6s %7.1f %8.1f %8s %8s %9.1f %9.2f %8.2f %9.1f %9.2f %9.2f %9.1f %9.1f\n", name.c_str(), melTime * 1e3,
                encoderTime * 1e3, peerText, speedupText, flops / encoderTime / 1e9, flops / encoderTime / gemm, perToken * 1e3,
                std::max(stepBandwidth, bandwidth) / 1e9, bound * 1e3, perToken / bound, first * 1e3, peak / 1024.0);
            windowSteps.push_back({name, line.substr(static_cast<std::size_t>(consumed)), std::max(stepBandwidth, bandwidth)});
            std::fflush(stdout);
        }
        for (const auto& [name, fields, measuredBandwidth] : windowSteps) {
            printWindowSteps(name, fields, elementBytes, measuredBandwidth);
        }
        std::fflush(stdout);
    }
    return 0;
}
