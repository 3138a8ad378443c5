#pragma once

#include "Tokenizers/UnigramTokenizer.hpp"

namespace tokenizers {

// The Unigram model under the class name "T5Tokenizer".
class T5Tokenizer : public UnigramTokenizer {
public:
    using UnigramTokenizer::UnigramTokenizer;
};

} // namespace tokenizers
