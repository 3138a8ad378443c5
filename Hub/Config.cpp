#include "Hub/Config.hpp"

#include <cmath>
#include <limits>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace hub {

using nlohmann::json;

Config::Config()
    : Config(json::object())
{
}

Config::Config(json value)
{
    leaf_ = !value.is_object();
    root_ = std::make_shared<const json>(std::move(value));
    node_ = root_.get();
}

Config::Config(std::shared_ptr<const json> root, const json* node, bool leaf)
    : root_(std::move(root))
    , node_(node)
    , leaf_(leaf)
{
}

Config Config::token(std::uint64_t id, std::string text)
{
    Config config(json(nullptr));
    config.token_ = std::make_pair(id, std::move(text));
    return config;
}

std::optional<Config> Config::operator[](const std::string& member) const
{
    const json& dictionary = *node_;
    if (leaf_) {
        // A leaf's dictionary has the single key "value".
        if (member != "value") {
            return std::nullopt;
        }
        return node_->is_object() ? Config(root_, node_, false) : Config(root_, node_, true);
    }
    auto it = dictionary.find(member);
    if (it == dictionary.end()) {
        it = dictionary.find(camelToSnakeCase(member));
    }
    if (it == dictionary.end()) {
        return std::nullopt;
    }
    return Config(root_, &*it, !it->is_object());
}

json Config::dictionary() const
{
    if (leaf_) {
        if (token_) {
            return json::object();
        }
        return json {{"value", *node_}};
    }
    return *node_;
}

const json* Config::object() const
{
    return leaf_ ? nullptr : node_;
}

const json* Config::value() const
{
    if (token_) {
        return nullptr;
    }
    if (leaf_) {
        return node_;
    }
    auto it = node_->find("value");
    return it == node_->end() ? nullptr : &*it;
}

std::optional<int> Config::intValue() const
{
    const json* v = value();
    return v ? intOf(*v) : std::nullopt;
}

std::optional<int> Config::intOf(const json& value)
{
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
            return std::nullopt;
        }
        return static_cast<int>(u);
    }
    if (value.is_number_integer()) {
        const auto i = value.get<std::int64_t>();
        if (i < std::numeric_limits<int>::min() || i > std::numeric_limits<int>::max()) {
            return std::nullopt;
        }
        return static_cast<int>(i);
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::trunc(d) && d >= std::numeric_limits<int>::min()
            && d <= std::numeric_limits<int>::max()) {
            return static_cast<int>(d);
        }
    }
    return std::nullopt;
}

std::optional<bool> Config::boolValue() const
{
    const json* v = value();
    if (!v || !v->is_boolean()) {
        return std::nullopt;
    }
    return v->get<bool>();
}

std::optional<std::string> Config::stringValue() const
{
    const json* v = value();
    if (!v || !v->is_string()) {
        return std::nullopt;
    }
    return v->get<std::string>();
}

std::optional<std::vector<Config>> Config::arrayValue() const
{
    const json* v = value();
    if (!v || !v->is_array()) {
        return std::nullopt;
    }
    std::vector<Config> elements;
    elements.reserve(v->size());
    for (const auto& element : *v) {
        elements.push_back(Config(root_, &element, !element.is_object()));
    }
    return elements;
}

std::optional<std::pair<std::uint64_t, std::string>> Config::tokenValue() const
{
    return token_;
}

std::string camelToSnakeCase(const std::string& name)
{
    std::string result;
    result.reserve(name.size() + 4);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(name.data());
    const auto length = static_cast<int32_t>(name.size());
    int32_t offset = 0;
    bool previousExists = false;
    bool previousUpper = false;
    while (offset < length) {
        const int32_t start = offset;
        UChar32 scalar;
        U8_NEXT(bytes, offset, length, scalar);
        const bool upper = scalar >= 0 && (u_charType(scalar) == U_UPPERCASE_LETTER || u_charType(scalar) == U_TITLECASE_LETTER);
        if (upper) {
            if (previousExists && !previousUpper) {
                result += '_';
            }
            const UChar32 lower = u_tolower(scalar);
            char encoded[U8_MAX_LENGTH];
            int32_t size = 0;
            U8_APPEND_UNSAFE(reinterpret_cast<std::uint8_t*>(encoded), size, lower);
            result.append(encoded, static_cast<std::size_t>(size));
        } else {
            result.append(name, static_cast<std::size_t>(start), static_cast<std::size_t>(offset - start));
        }
        previousExists = true;
        previousUpper = upper;
    }
    return result;
}

} // namespace hub
