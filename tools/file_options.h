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
// when the command reads a series; the number options added before take a
// decimal comma with --decimal , (AcceptDecimalComma).
void AddFileOptions(CLI::App& command, files::CsvOptions& options, std::span<const std::string_view> inputs,
                    bool series);

// Number options given so far take a decimal comma ("--hm0 3,5") when the
// command reads its files with --decimal , (whatever the order on the line).
void AcceptDecimalComma(CLI::App& command);

// How a command writes its table where it differs from the file it read.
struct OutputOptions {
    char separator = 0;  // 0: the file's
    char decimal = 0;    // 0: the file's
    int digits = 0;      // 0: the shortest text that reads back as the same double
    bool rawCells = false;
};

// Adds --output-separator, --output-decimal, --digits and --raw-cells.
void AddOutputOptions(CLI::App& command, OutputOptions& options);
// The format of the table: the file's, with what the options ask.
[[nodiscard]] files::TableFormat OutputFormat(const OutputOptions& options, files::TableFormat read);

// Refuses an empty file name: "-o ''" is a slip, not standard output.
[[nodiscard]] CLI::Validator FileName();

}  // namespace qav::cli
