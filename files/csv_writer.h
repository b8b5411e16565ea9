#pragma once

#include <string>
#include <string_view>

namespace qav::files {

// The shortest decimal text that reads back as exactly the same double
// ("nan", "inf" and "-inf" for the special values).
void AppendNumber(std::string& out, double value);
[[nodiscard]] std::string FormatNumber(double value);

// A text as one CSV field: always in double quotes, inner quotes doubled.
void AppendQuoted(std::string& out, std::string_view text);
// A text as one CSV field, in double quotes only when it needs them (a comma,
// a quote or a line break in it).
void AppendField(std::string& out, std::string_view text);

} // namespace qav::files
