#pragma once

#include <stdexcept>
#include <string>

namespace parlino {

// An error made of one case of an enumeration, which describes itself with the case's fixed message.
// `Traits` names the enumeration (`Case`) and gives `messageOf(Case)`.
template <typename Traits>
class CaseError : public std::runtime_error, public Traits {
public:
    using Case = typename Traits::Case;

    explicit CaseError(Case value)
        : std::runtime_error(Traits::messageOf(value))
        , case_(value)
    {
    }

    Case errorCase() const { return case_; }
    std::string localizedDescription() const { return what(); }

    friend bool operator==(const CaseError& a, const CaseError& b) { return a.case_ == b.case_; }

private:
    Case case_;
};

} // namespace parlino
