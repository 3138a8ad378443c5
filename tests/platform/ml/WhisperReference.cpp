#include "WhisperReference.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/ml/ModelFolder.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace reference {

namespace {

using Matrix = std::vector<std::vector<double>>;

const std::vector<float>& get(const Weights& w, const std::string& name)
{
    return w.at(name);
}

// y = W x + b for W [out][in]
std::vector<double> linear(const Weights& w, const std::string& prefix, const std::vector<double>& x, bool hasBias = true)
{
    const auto& weight = get(w, prefix + ".weight");
    const std::size_t in = x.size();
    const std::size_t out = weight.size() / in;
    std::vector<double> y(out, 0.0);
    for (std::size_t o = 0; o < out; ++o) {
        double sum = hasBias ? get(w, prefix + ".bias")[o] : 0.0;
        for (std::size_t i = 0; i < in; ++i) {
            sum += static_cast<double>(weight[o * in + i]) * x[i];
        }
        y[o] = sum;
    }
    return y;
}

std::vector<double> norm(const Weights& w, const std::string& prefix, const std::vector<double>& x)
{
    double mean = 0;
    for (double v : x) {
        mean += v;
    }
    mean /= static_cast<double>(x.size());
    double variance = 0;
    for (double v : x) {
        variance += (v - mean) * (v - mean);
    }
    variance /= static_cast<double>(x.size());
    const auto& gain = get(w, prefix + ".weight");
    const auto& bias = get(w, prefix + ".bias");
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        y[i] = (x[i] - mean) / std::sqrt(variance + 1e-5) * gain[i] + bias[i];
    }
    return y;
}

double gelu(double x)
{
    return 0.5 * x * (1.0 + std::erf(x / std::numbers::sqrt2));
}

void softmax(std::vector<double>& v)
{
    const double m = *std::max_element(v.begin(), v.end());
    double sum = 0;
    for (double& x : v) {
        x = std::exp(x - m);
        sum += x;
    }
    for (double& x : v) {
        x /= sum;
    }
}

std::vector<double> mlp(const Weights& w, const std::string& prefix, const std::vector<double>& x)
{
    auto hidden = linear(w, prefix + ".fc1", x);
    for (double& v : hidden) {
        v = gelu(v);
    }
    return linear(w, prefix + ".fc2", hidden);
}

// Attention of each query row over key/value rows [0, limit(row)], per head; probabilities out.
Matrix attend(const Matrix& q, const Matrix& k, const Matrix& v, int heads, bool causal, std::vector<Matrix>* probabilities,
    const std::vector<int>& masked = {})
{
    const std::size_t width = q[0].size();
    const std::size_t headWidth = width / static_cast<std::size_t>(heads);
    Matrix out(q.size(), std::vector<double>(width, 0.0));
    if (probabilities) {
        probabilities->assign(static_cast<std::size_t>(heads), Matrix(q.size()));
    }
    for (int h = 0; h < heads; ++h) {
        for (std::size_t i = 0; i < q.size(); ++i) {
            const std::size_t visible = causal ? i + 1 : k.size();
            std::vector<double> scores(visible);
            for (std::size_t j = 0; j < visible; ++j) {
                double s = 0;
                for (std::size_t c = 0; c < headWidth; ++c) {
                    s += q[i][h * headWidth + c] * k[j][h * headWidth + c];
                }
                scores[j] = s / std::sqrt(static_cast<double>(headWidth));
                if (j < i && std::find(masked.begin(), masked.end(), static_cast<int>(j)) != masked.end()) {
                    scores[j] = -1e30;
                }
            }
            softmax(scores);
            for (std::size_t j = 0; j < visible; ++j) {
                for (std::size_t c = 0; c < headWidth; ++c) {
                    out[i][h * headWidth + c] += scores[j] * v[j][h * headWidth + c];
                }
            }
            if (probabilities) {
                (*probabilities)[static_cast<std::size_t>(h)][i] = scores;
            }
        }
    }
    return out;
}

double hertzToMel(double hz)
{
    const double fSp = 200.0 / 3;
    if (hz >= 1000.0) {
        return 1000.0 / fSp + std::log(hz / 1000.0) / (std::log(6.4) / 27.0);
    }
    return hz / fSp;
}

double melToHertz(double mel)
{
    const double fSp = 200.0 / 3;
    const double minLogMel = 1000.0 / fSp;
    if (mel >= minLogMel) {
        return 1000.0 * std::exp(std::log(6.4) / 27.0 * (mel - minLogMel));
    }
    return fSp * mel;
}

} // namespace

float roundToHalf(float value)
{
    return ml::Float16::toFloat(ml::Float16::fromFloat(value));
}

Weights readWeights(const std::filesystem::path& folder)
{
    const auto model = ml::ModelFolder::open(folder);
    Weights weights;
    for (const auto& name : model.tensorNames()) {
        weights[name] = model.tensor(name).toFloats();
    }
    return weights;
}

std::vector<double> melFilters(int melCount)
{
    // As librosa defines it: ramps between mel-spaced edges, each band scaled by 2 / (its width in Hz).
    const int bins = 201;
    std::vector<double> edges(static_cast<std::size_t>(melCount) + 2);
    const double top = hertzToMel(8000.0);
    for (std::size_t i = 0; i < edges.size(); ++i) {
        edges[i] = melToHertz(top * static_cast<double>(i) / static_cast<double>(edges.size() - 1));
    }
    std::vector<double> filters(static_cast<std::size_t>(melCount) * bins);
    for (int m = 0; m < melCount; ++m) {
        for (int k = 0; k < bins; ++k) {
            const double f = 40.0 * k;
            const double lower = (f - edges[m]) / (edges[m + 1] - edges[m]);
            const double upper = (edges[m + 2] - f) / (edges[m + 2] - edges[m + 1]);
            filters[static_cast<std::size_t>(m) * bins + k]
                = std::max(0.0, std::min(lower, upper)) * 2.0 / (edges[m + 2] - edges[m]);
        }
    }
    return filters;
}

std::vector<float> logMel(const std::vector<float>& audio, int melCount)
{
    const int n = 400;
    const int hop = 160;
    const int bins = 201;
    const int samples = static_cast<int>(audio.size());
    const int frames = samples / hop;
    auto sample = [&](int i) -> double {
        // Reflection about the first and last samples.
        if (i < 0) {
            i = -i;
        }
        if (i >= samples) {
            i = 2 * (samples - 1) - i;
        }
        return audio[static_cast<std::size_t>(i)];
    };
    const auto filters = melFilters(melCount);
    std::vector<double> logs(static_cast<std::size_t>(melCount) * frames);
    std::vector<double> cosines(n), sines(n);
    for (int j = 0; j < n; ++j) {
        cosines[j] = std::cos(2.0 * std::numbers::pi * j / n);
        sines[j] = std::sin(2.0 * std::numbers::pi * j / n);
    }
    for (int t = 0; t < frames; ++t) {
        std::vector<double> power(bins);
        for (int k = 0; k < bins; ++k) {
            double re = 0, im = 0;
            for (int j = 0; j < n; ++j) {
                const double window = 0.5 * (1.0 - cosines[j]);
                const double x = sample(t * hop + j - n / 2) * window;
                re += x * cosines[(k * j) % n];
                im -= x * sines[(k * j) % n];
            }
            power[k] = re * re + im * im;
        }
        for (int m = 0; m < melCount; ++m) {
            double energy = 0;
            for (int k = 0; k < bins; ++k) {
                energy += filters[static_cast<std::size_t>(m) * bins + k] * power[k];
            }
            logs[static_cast<std::size_t>(m) * frames + t] = std::log10(std::max(energy, 1e-10));
        }
    }
    const double top = *std::max_element(logs.begin(), logs.end());
    std::vector<float> out(logs.size());
    for (std::size_t i = 0; i < logs.size(); ++i) {
        out[i] = static_cast<float>((std::max(logs[i], top - 8.0) + 4.0) / 4.0);
    }
    return out;
}

std::vector<float> encoder(const Weights& w, const Dimensions& d, const std::vector<float>& mel, int melFrames)
{
    const int width = d.width;
    const auto convolve = [&](const std::string& name, const Matrix& input, int channels, int stride) {
        const auto& weight = get(w, name + ".weight");
        const auto& bias = get(w, name + ".bias");
        const int inputFrames = static_cast<int>(input.size());
        const int outputFrames = (inputFrames - 1) / stride + 1;
        Matrix out(static_cast<std::size_t>(outputFrames), std::vector<double>(static_cast<std::size_t>(width)));
        for (int t = 0; t < outputFrames; ++t) {
            for (int o = 0; o < width; ++o) {
                double sum = bias[o];
                for (int c = 0; c < channels; ++c) {
                    for (int k = 0; k < 3; ++k) {
                        const int source = t * stride + k - 1;
                        if (source >= 0 && source < inputFrames) {
                            sum += weight[(static_cast<std::size_t>(o) * channels + c) * 3 + k] * input[source][c];
                        }
                    }
                }
                out[t][o] = gelu(sum);
            }
        }
        return out;
    };
    Matrix frames(static_cast<std::size_t>(melFrames), std::vector<double>(static_cast<std::size_t>(d.melCount)));
    for (int t = 0; t < melFrames; ++t) {
        for (int c = 0; c < d.melCount; ++c) {
            frames[t][c] = mel[static_cast<std::size_t>(c) * melFrames + t];
        }
    }
    Matrix x = convolve("conv2", convolve("conv1", frames, d.melCount, 1), width, 2);
    const auto& positions = get(w, "positional_embedding");
    for (std::size_t t = 0; t < x.size(); ++t) {
        for (int c = 0; c < width; ++c) {
            x[t][c] += positions[t * width + c];
        }
    }
    for (int l = 0; l < d.layers; ++l) {
        const std::string p = "layers." + std::to_string(l);
        Matrix q, k, v;
        for (const auto& row : x) {
            const auto h = norm(w, p + ".attention_norm", row);
            q.push_back(linear(w, p + ".attention.query", h));
            k.push_back(linear(w, p + ".attention.key", h, false));
            v.push_back(linear(w, p + ".attention.value", h));
        }
        const Matrix attended = attend(q, k, v, d.heads, false, nullptr);
        for (std::size_t t = 0; t < x.size(); ++t) {
            const auto projected = linear(w, p + ".attention.output", attended[t]);
            for (int c = 0; c < width; ++c) {
                x[t][c] += projected[c];
            }
            const auto m = mlp(w, p + ".mlp", norm(w, p + ".mlp_norm", x[t]));
            for (int c = 0; c < width; ++c) {
                x[t][c] += m[c];
            }
        }
    }
    std::vector<float> out(static_cast<std::size_t>(width) * x.size());
    for (std::size_t t = 0; t < x.size(); ++t) {
        const auto y = norm(w, "final_norm", x[t]);
        for (int c = 0; c < width; ++c) {
            out[static_cast<std::size_t>(c) * x.size() + t] = static_cast<float>(y[c]);
        }
    }
    return out;
}

DecoderPass decoder(const Weights& w, const Dimensions& d, const std::vector<std::pair<int, int>>& alignmentHeads,
    const std::vector<float>& encoderOutput, int frames, const std::vector<int>& tokens, bool halfCross,
    const std::vector<int>& masked)
{
    const int width = d.width;
    const auto& embedding = get(w, "token_embedding.weight");
    const auto& positions = get(w, "positional_embedding");
    auto rounded = [](std::vector<double> v) {
        for (double& x : v) {
            x = roundToHalf(static_cast<float>(x));
        }
        return v;
    };

    Matrix audio(static_cast<std::size_t>(frames), std::vector<double>(static_cast<std::size_t>(width)));
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < width; ++c) {
            audio[f][c] = encoderOutput[static_cast<std::size_t>(c) * frames + f];
        }
    }
    Matrix x;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        std::vector<double> row(static_cast<std::size_t>(width));
        for (int c = 0; c < width; ++c) {
            row[c] = embedding[static_cast<std::size_t>(tokens[i]) * width + c] + positions[i * width + c];
        }
        x.push_back(row);
    }
    DecoderPass pass;
    pass.alignment.assign(tokens.size(), std::vector<float>(static_cast<std::size_t>(frames), 0.0f));
    for (int l = 0; l < d.layers; ++l) {
        const std::string p = "layers." + std::to_string(l);
        Matrix q, k, v;
        for (const auto& row : x) {
            const auto h = norm(w, p + ".self_attention_norm", row);
            q.push_back(linear(w, p + ".self_attention.query", h));
            k.push_back(rounded(linear(w, p + ".self_attention.key", h, false)));
            v.push_back(rounded(linear(w, p + ".self_attention.value", h)));
        }
        Matrix attended = attend(q, k, v, d.heads, true, nullptr, masked);
        for (std::size_t t = 0; t < x.size(); ++t) {
            const auto projected = linear(w, p + ".self_attention.output", attended[t]);
            for (int c = 0; c < width; ++c) {
                x[t][c] += projected[c];
            }
        }
        Matrix crossKeys, crossValues, crossQueries;
        for (const auto& row : audio) {
            auto key = linear(w, p + ".cross_attention.key", row, false);
            auto value = linear(w, p + ".cross_attention.value", row);
            crossKeys.push_back(halfCross ? rounded(key) : key);
            crossValues.push_back(halfCross ? rounded(value) : value);
        }
        for (const auto& row : x) {
            crossQueries.push_back(linear(w, p + ".cross_attention.query", norm(w, p + ".cross_attention_norm", row)));
        }
        std::vector<Matrix> probabilities;
        attended = attend(crossQueries, crossKeys, crossValues, d.heads, false, &probabilities);
        for (const auto& [layer, head] : alignmentHeads) {
            if (layer != l) {
                continue;
            }
            for (std::size_t t = 0; t < x.size(); ++t) {
                for (int f = 0; f < frames; ++f) {
                    pass.alignment[t][f] += static_cast<float>(probabilities[head][t][f] / alignmentHeads.size());
                }
            }
        }
        for (std::size_t t = 0; t < x.size(); ++t) {
            const auto projected = linear(w, p + ".cross_attention.output", attended[t]);
            for (int c = 0; c < width; ++c) {
                x[t][c] += projected[c];
            }
            const auto m = mlp(w, p + ".mlp", norm(w, p + ".mlp_norm", x[t]));
            for (int c = 0; c < width; ++c) {
                x[t][c] += m[c];
            }
        }
    }
    for (const auto& row : x) {
        const auto y = norm(w, "final_norm", row);
        std::vector<float> logits(static_cast<std::size_t>(d.vocabularySize));
        for (int token = 0; token < d.vocabularySize; ++token) {
            double sum = 0;
            for (int c = 0; c < width; ++c) {
                sum += embedding[static_cast<std::size_t>(token) * width + c] * y[c];
            }
            logits[token] = static_cast<float>(sum);
        }
        pass.logits.push_back(logits);
    }
    return pass;
}

} // namespace reference
