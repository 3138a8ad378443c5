#include "Auris/Core/TimingFields.hpp"

#include <algorithm>
#include <cassert>

namespace auris {

void TimingField::mergeInto(TranscriptionTimings& total, const TranscriptionTimings& part) const
{
    double& value = total.*member;
    value = merge == Merge::earliest ? std::min(value, part.*member) : value + part.*member;
}

void addTimings(TranscriptionTimings& total, const TranscriptionTimings& part)
{
    for (const auto& field : timingFields) {
        field.mergeInto(total, part);
    }
}

void addTimings(TranscriptionTimings& total, const TranscriptionTimings& part,
    std::initializer_list<double TranscriptionTimings::*> fields)
{
    for (const auto member : fields) {
        const auto field = std::ranges::find(timingFields, member, &TimingField::member);
        assert(field != timingFields.end());
        field->mergeInto(total, part);
    }
}

} // namespace auris
