#pragma once

#include <string>
#include <string_view>

namespace auris {

// The text as one line that a terminal shows as it is: line breaks and tabs become \n, \r and \t,
// the backslash \\, and other control characters (C0, DEL, C1) and bytes that are not UTF-8 become
// \xHH, one per byte. Valid UTF-8 text without them comes back unchanged.
std::string printable(std::string_view text);

} // namespace auris
