// The tokenizer configuration files: "tokenizer_config.json" and "tokenizer.json" as a local model
// folder holds them, read by the loader and built into a tokenizer, which then codes a little text.

#include "FuzzSupport.hpp"
#include "Hub/LanguageModelConfigurationFromHub.hpp"
#include "Tokenizers/PreTrainedTokenizer.hpp"

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto [config, tokenizer] = fuzzsupport::splitTwo(data, size);
    const auto folder = fuzzsupport::scratchFolder() / "tokenizer";
    std::filesystem::create_directories(folder);
    fuzzsupport::writeFile(folder / "config.json", R"({"model_type": "whisper"})");
    fuzzsupport::writeFile(folder / "tokenizer_config.json", config);
    fuzzsupport::writeFile(folder / "tokenizer.json", tokenizer);
    try {
        const hub::LanguageModelConfigurationFromHub configuration(folder);
        const auto tokenizerConfig = configuration.tokenizerConfig();
        if (!tokenizerConfig) {
            return 0;
        }
        const tokenizers::PreTrainedTokenizer built(*tokenizerConfig, configuration.tokenizerData());
        for (const char* text : {"Hello, world!", " caf\xC3\xA9  \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80", "<|endoftext|>a"}) {
            const auto ids = built.encode(text);
            built.decode(ids);
        }
        built.decode({0, 1, 2, 50257, -1, 1 << 30});
    } catch (const std::exception&) {
    }
    return 0;
}
