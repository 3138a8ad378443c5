#pragma once

#include "Tokenizers/Normalizer.hpp"
#include "Tokenizers/StringReplacePattern.hpp"

#include <vector>

namespace tokenizers {

class NormalizerSequence : public Normalizer {
public:
    explicit NormalizerSequence(const hub::Config& config);
    std::string normalize(const std::string& text) const override;
    const std::vector<std::unique_ptr<Normalizer>>& normalizers() const { return normalizers_; }

private:
    std::vector<std::unique_ptr<Normalizer>> normalizers_;
};

class PrependNormalizer : public Normalizer {
public:
    explicit PrependNormalizer(const hub::Config& config);
    std::string normalize(const std::string& text) const override { return prepend_ + text; }

private:
    std::string prepend_;
};

class ReplaceNormalizer : public Normalizer {
public:
    explicit ReplaceNormalizer(const hub::Config& config);
    std::string normalize(const std::string& text) const override;

private:
    std::optional<StringReplacePattern> pattern_;
};

class LowercaseNormalizer : public Normalizer {
public:
    explicit LowercaseNormalizer(const hub::Config&) {}
    std::string normalize(const std::string& text) const override;
};

class NFDNormalizer : public Normalizer {
public:
    explicit NFDNormalizer(const hub::Config&) {}
    std::string normalize(const std::string& text) const override;
};

class NFCNormalizer : public Normalizer {
public:
    explicit NFCNormalizer(const hub::Config&) {}
    std::string normalize(const std::string& text) const override;
};

class NFKDNormalizer : public Normalizer {
public:
    explicit NFKDNormalizer(const hub::Config&) {}
    std::string normalize(const std::string& text) const override;
};

class NFKCNormalizer : public Normalizer {
public:
    explicit NFKCNormalizer(const hub::Config&) {}
    std::string normalize(const std::string& text) const override;
};

class BertNormalizer : public Normalizer {
public:
    explicit BertNormalizer(const hub::Config& config);
    std::string normalize(const std::string& text) const override;

private:
    bool shouldCleanText_;
    bool shouldHandleChineseChars_;
    std::optional<bool> shouldStripAccents_;
    bool shouldLowercase_;
};

class PrecompiledNormalizer : public Normalizer {
public:
    explicit PrecompiledNormalizer(const hub::Config&) {}
    std::string normalize(const std::string& text) const override;
};

// Removes accent marks: "café" becomes "cafe"; compatibility forms fold as in NFKC.
class StripAccentsNormalizer : public Normalizer {
public:
    explicit StripAccentsNormalizer(const hub::Config&) {}
    std::string normalize(const std::string& text) const override;
};

// Drops the combining marks U+0300 to U+036F from decomposed text.
std::string removingCombiningMarks(const std::string& decomposed);

} // namespace tokenizers
