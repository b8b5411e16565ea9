#pragma once

#include <span>
#include <string_view>

#include "files/input_files.h"

namespace CLI {
class App;
class Validator;
}

namespace qav::cli {

// Adds the options of how a command reads its CSV files: --separator,
// --decimal, --column KEY=NAME for the given input columns, and --missing
// when the command reads a series.
void AddFileOptions(CLI::App& command, files::CsvOptions& options, std::span<const std::string_view> inputs,
                    bool series);

// Refuses an empty file name: "-o ''" is a slip, not standard output.
[[nodiscard]] CLI::Validator FileName();

}  // namespace qav::cli
