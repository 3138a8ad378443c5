#pragma once

#include <exception>
#include <optional>
#include <utility>
#include <variant>

namespace auris {

// Either a value or the error that prevented it, for operations that report failures instead of throwing.
template<typename T>
class Outcome {
public:
    static Outcome success(T value) { return Outcome(std::move(value)); }
    static Outcome failure(std::exception_ptr error) { return Outcome(std::move(error)); }

    bool isSuccess() const { return std::holds_alternative<T>(state_); }
    // The value, or the stored error rethrown.
    const T& get() const
    {
        if (!isSuccess()) std::rethrow_exception(std::get<std::exception_ptr>(state_));
        return std::get<T>(state_);
    }
    std::optional<T> value() const { return isSuccess() ? std::optional<T>(std::get<T>(state_)) : std::nullopt; }
    std::exception_ptr error() const { return isSuccess() ? nullptr : std::get<std::exception_ptr>(state_); }

private:
    explicit Outcome(T value)
        : state_(std::in_place_index<0>, std::move(value))
    {
    }
    explicit Outcome(std::exception_ptr error)
        : state_(std::in_place_index<1>, std::move(error))
    {
    }
    std::variant<T, std::exception_ptr> state_;
};

} // namespace auris
