#pragma once

#include "platform/ml/MultiArray.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ml {

// Named model inputs or outputs.
class FeatureProvider {
public:
    virtual ~FeatureProvider() = default;
    virtual std::vector<std::string> featureNames() const = 0;
    virtual std::optional<MultiArray> featureValue(const std::string& name) const = 0;
};

class DictionaryFeatureProvider : public FeatureProvider {
public:
    DictionaryFeatureProvider() = default;
    explicit DictionaryFeatureProvider(std::map<std::string, MultiArray> features)
        : features_(std::move(features))
    {
    }

    std::vector<std::string> featureNames() const override
    {
        std::vector<std::string> names;
        names.reserve(features_.size());
        for (const auto& [name, value] : features_) {
            names.push_back(name);
        }
        return names;
    }

    std::optional<MultiArray> featureValue(const std::string& name) const override
    {
        auto it = features_.find(name);
        if (it == features_.end()) {
            return std::nullopt;
        }
        return it->second;
    }

    void set(const std::string& name, MultiArray value) { features_[name] = std::move(value); }
    const std::map<std::string, MultiArray>& features() const { return features_; }

private:
    std::map<std::string, MultiArray> features_;
};

} // namespace ml
