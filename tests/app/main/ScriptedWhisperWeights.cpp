#include "ScriptedWhisperWeights.hpp"

#include "tools/make-model/RandomWhisperWeights.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

namespace testsupport {

namespace {

// Large enough against the random rows that a scripted token's logit stands far above the rest.
constexpr float scriptedRowNorm = 4.0f;
constexpr float positionalNorm = 50.0f;

bool silencedInBlocks(const std::string& name)
{
    if (!name.starts_with("decoder.layers.")) {
        return false;
    }
    return name.find(".self_attention.output.") != std::string::npos
        || name.find(".cross_attention.output.") != std::string::npos || name.find(".mlp.fc2.") != std::string::npos;
}

void scaleRow(std::vector<float>& table, int width, int row, float norm)
{
    const auto begin = table.begin() + static_cast<std::ptrdiff_t>(row) * width;
    double sum = 0;
    std::for_each(begin, begin + width, [&](float v) { sum += double(v) * v; });
    const auto factor = static_cast<float>(norm / std::sqrt(std::max(sum, 1e-12)));
    std::for_each(begin, begin + width, [&](float& v) { v *= factor; });
}

} // namespace

ml::TensorSource scriptedWhisperWeights(const ml::WhisperShape& shape, std::vector<int> script, std::uint64_t seed)
{
    const ml::TensorSource random = ml::randomWhisperWeights(seed);
    const auto embedding = [random, shape, script] {
        auto table = random({"decoder.token_embedding.weight", {shape.vocabularySize, shape.width}});
        for (const int token : std::set<int>(script.begin(), script.end())) {
            scaleRow(table, shape.width, token, scriptedRowNorm);
        }
        return table;
    };
    return [random, shape, script, embedding](const ml::TensorSpec& tensor) {
        if (silencedInBlocks(tensor.name) || tensor.name == "decoder.final_norm.bias") {
            return std::vector<float>(tensor.elementCount(), 0.0f);
        }
        if (tensor.name == "decoder.final_norm.weight") {
            return std::vector<float>(tensor.elementCount(), 1.0f);
        }
        if (tensor.name == "decoder.token_embedding.weight") {
            return embedding();
        }
        if (tensor.name == "decoder.positional_embedding") {
            const auto tokens = embedding();
            const int width = shape.width;
            std::vector<float> table(tensor.elementCount());
            for (int position = 0; position < shape.textContext; ++position) {
                const int token = script[std::min<std::size_t>(static_cast<std::size_t>(position), script.size() - 1)];
                std::copy_n(tokens.begin() + static_cast<std::ptrdiff_t>(token) * width, width,
                    table.begin() + static_cast<std::ptrdiff_t>(position) * width);
                scaleRow(table, width, position, positionalNorm);
            }
            return table;
        }
        return random(tensor);
    };
}

} // namespace testsupport
