// The WordPiece tokenizer of FuzzTokenizers on arbitrary text and token ids.

#include "TokenizerModelFuzzing.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto tokenizer = fuzztokenizers::build(fuzztokenizers::bertWordPiece());
    fuzztokenizers::codeArbitraryInput(*tokenizer, data, size);
    return 0;
}
