#pragma once

#include <string>

namespace quillon {

// What a routine that can fail several ways returns, instead of throwing across a
// library's edge: `code` says how it failed, its zero value (0, None) meaning success, and
// `detail` names what failed (empty on success). Library code only returns it; the window
// code or quillon-cli shows it.
template <typename Code> struct Outcome
{
    Code code{};
    std::string detail;

    bool ok() const { return code == Code{}; }
};

// The common case: the code is the number of the string-table message to show (kMsgNone
// on success), which the window shows as it stands; the detail says which file, value or
// line the message is about, for quillon-cli and the tests.
using Result = Outcome<int>;

} // namespace quillon
