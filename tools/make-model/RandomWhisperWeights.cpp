#include "tools/make-model/RandomWhisperWeights.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace ml {

namespace {

// SplitMix64: tiny, fast and the same everywhere.
class SplitMix {
public:
    explicit SplitMix(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in [-1, 1).
    float symmetric() { return static_cast<float>(static_cast<double>(next() >> 11) * 0x1.0p-52 - 1.0); }

private:
    std::uint64_t state_;
};

std::uint64_t nameHash(const std::string& name)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : name) {
        hash = (hash ^ c) * 0x100000001b3ull;
    }
    return hash;
}

} // namespace

TensorSource randomWhisperWeights(std::uint64_t seed)
{
    return [seed](const TensorSpec& tensor) {
        const std::size_t count = tensor.elementCount();
        if (tensor.name == "encoder.positional_embedding" && tensor.shape.size() == 2) {
            return WhisperModelSet::sinusoids(tensor.shape[0], tensor.shape[1]);
        }
        SplitMix random(seed ^ nameHash(tensor.name));
        float amplitude = 0.1f;
        float offset = 0.0f;
        if (tensor.name.ends_with("norm.weight")) {
            offset = 1.0f;
        } else if (tensor.shape.size() >= 2) {
            std::size_t fanIn = count / static_cast<std::size_t>(tensor.shape[0]);
            amplitude = static_cast<float>(std::sqrt(3.0 / static_cast<double>(std::max<std::size_t>(fanIn, 1))));
        }
        std::vector<float> values(count);
        for (float& v : values) {
            v = offset + amplitude * random.symmetric();
        }
        return values;
    };
}

TensorSource endingWindowsAt(TensorSource weights, int position, int endToken, int vocabularySize)
{
    return [weights = std::move(weights), position, endToken, vocabularySize](const TensorSpec& tensor) {
        std::vector<float> values = weights(tensor);
        if (tensor.name != "decoder.positional_embedding" || tensor.shape.size() != 2) {
            return values;
        }
        const int positions = tensor.shape[0];
        const std::size_t width = static_cast<std::size_t>(tensor.shape[1]);
        const std::vector<float> table = weights({"decoder.token_embedding.weight", {vocabularySize, tensor.shape[1]}});
        // Rows of norm about one: the residual stream at those positions is the end token's row,
        // whatever the layers add, and the final norm leaves its direction.
        constexpr float scale = 1024.0f;
        for (int p = std::max(position, 0); p < positions; ++p) {
            for (std::size_t c = 0; c < width; ++c) {
                values[static_cast<std::size_t>(p) * width + c] = scale * table[static_cast<std::size_t>(endToken) * width + c];
            }
        }
        return values;
    };
}

} // namespace ml
