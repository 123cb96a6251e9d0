// Which TarnDriver the panel talks to: the module's path, version and
// bitness, or plainly that the library is not registered for this bitness.
#pragma once

#include <string>

namespace panel {

// Two lines for the top of the window.
std::wstring DescribeLibrary();

}  // namespace panel
