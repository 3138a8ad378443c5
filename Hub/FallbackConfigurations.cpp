#include "Hub/FallbackConfigurations.hpp"

#include <array>
#include <utility>

namespace hub {

namespace {

struct Resource {
    std::string_view name;
    std::string_view extension;
    std::string_view contents;
};

constexpr std::array resources {
    Resource {"whisper_tokenizer_config", "json", R"({
  "tokenizer_class": "WhisperTokenizer",
  "bos_token": "<|endoftext|>",
  "eos_token": "<|endoftext|>",
  "unk_token": "<|endoftext|>",
  "clean_up_tokenization_spaces": true
})"},
    Resource {"gpt2_tokenizer_config", "json", R"({
  "tokenizer_class": "GPT2Tokenizer",
  "bos_token": "<|endoftext|>",
  "eos_token": "<|endoftext|>",
  "unk_token": "<|endoftext|>"
})"},
    Resource {"llama_tokenizer_config", "json", R"({
  "tokenizer_class": "LlamaTokenizer",
  "bos_token": "<s>",
  "eos_token": "</s>",
  "unk_token": "<unk>",
  "clean_up_tokenization_spaces": false
})"},
};

} // namespace

std::optional<std::string_view> hubResource(std::string_view name, std::string_view extension)
{
    for (const Resource& resource : resources) {
        if (resource.name == name && resource.extension == extension) {
            return resource.contents;
        }
    }
    return std::nullopt;
}

} // namespace hub
