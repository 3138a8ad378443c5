#include "platform/system/BoundedJson.hpp"

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace platform {

namespace {

using nlohmann::json;

// Builds the document as the library's own builder does, checking the limits as it goes; returning
// false stops the parser at once.
class Builder {
public:
    Builder(json& root, const BoundedJson::Limits& limits)
        : root_(root)
        , limits_(limits)
    {
    }

    const std::string& error() const { return error_; }

    bool null() { return add(nullptr); }
    bool boolean(bool value) { return add(value); }
    bool number_integer(json::number_integer_t value) { return add(value); }
    bool number_unsigned(json::number_unsigned_t value) { return add(value); }
    bool number_float(json::number_float_t value, const json::string_t&) { return add(value); }
    bool string(json::string_t& value) { return add(std::move(value)); }
    bool binary(json::binary_t& value) { return add(json::binary(std::move(value))); }

    bool start_object(std::size_t) { return open(json::value_t::object); }
    bool start_array(std::size_t) { return open(json::value_t::array); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(json::string_t& name)
    {
        json& object = *open_.back();
        if (limits_.duplicateKeys == BoundedJson::DuplicateKeys::refused && object.contains(name)) {
            error_ = "holds the key \"" + name + "\" twice in one object";
            return false;
        }
        member_ = &object[name];
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& failure)
    {
        error_ = std::string("is not valid JSON (") + failure.what() + ")";
        return false;
    }

private:
    template<typename Value>
    bool add(Value&& value)
    {
        place(json(std::forward<Value>(value)));
        return true;
    }

    json* place(json value)
    {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        json& container = *open_.back();
        if (container.is_array()) {
            container.push_back(std::move(value));
            return &container.back();
        }
        *member_ = std::move(value);
        return member_;
    }

    bool open(json::value_t type)
    {
        if (open_.size() >= limits_.maximumDepth) {
            error_ = "is nested more than " + std::to_string(limits_.maximumDepth) + " levels deep";
            return false;
        }
        // Only the innermost open container grows, so pointers to the outer ones stay valid.
        open_.push_back(place(json(type)));
        return true;
    }

    bool close()
    {
        open_.pop_back();
        return true;
    }

    json& root_;
    const BoundedJson::Limits& limits_;
    std::vector<json*> open_;
    json* member_ = nullptr;
    std::string error_;
};

} // namespace

nlohmann::json BoundedJson::parse(std::string_view text, const Limits& limits)
{
    json root;
    Builder builder(root, limits);
    if (!json::sax_parse(text.begin(), text.end(), &builder)) {
        throw BoundedJsonError(builder.error().empty() ? "is not valid JSON" : builder.error());
    }
    return root;
}

std::optional<int> BoundedJson::intOf(const nlohmann::json& value)
{
    if (value.is_number_unsigned()) {
        const auto number = value.get<json::number_unsigned_t>();
        if (number <= static_cast<json::number_unsigned_t>(std::numeric_limits<int>::max())) {
            return static_cast<int>(number);
        }
    } else if (value.is_number_integer()) {
        const auto number = value.get<json::number_integer_t>();
        if (number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max()) {
            return static_cast<int>(number);
        }
    }
    return std::nullopt;
}

} // namespace platform
