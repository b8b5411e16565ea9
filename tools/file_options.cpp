#include "tools/file_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace qav::cli {
namespace {

std::string JoinInputs(std::span<const std::string_view> inputs) {
    std::string joined;
    for (const std::string_view input : inputs) {
        if (!joined.empty()) joined += ", ";
        joined += input;
    }
    return joined;
}

}  // namespace

CLI::Validator FileName() {
    return CLI::Validator(
        [](std::string& value) -> std::string { return value.empty() ? "the file name is empty" : ""; },
        "FILE");
}

void AddFileOptions(CLI::App& command, files::CsvOptions& options, std::span<const std::string_view> inputs,
                    bool series) {
    const char* group = "Reading the CSV files";
    command
        .add_option_function<std::string>(
            "--separator",
            [&options](const std::string& value) { options.separator = value == "tab" ? '\t' : value.front(); },
            "Field separator: , ; or tab (default: from an Excel sep= line or the header)")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                if (value == "," || value == ";" || value == "tab" || value == "\t") return {};
                return "the separator is , ; or tab, not '" + files::Echo(value) + "'";
            },
            "{, ; tab}"))
        ->group(group);
    command
        .add_option_function<std::string>(
            "--decimal",
            [&options](const std::string& value) {
                options.decimal = value == "," ? files::Decimal::Comma : files::Decimal::Point;
            },
            "Decimal mark: . (only) or , (as well as .); default '.', and with the ; or tab separator ',' "
            "as well. A file keeps the mark of its first number that has one")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                if (value == "." || value == ",") return {};
                return "the decimal mark is . or , not '" + files::Echo(value) + "'";
            },
            "{. ,}"))
        ->group(group);

    std::vector<std::string> keys(inputs.begin(), inputs.end());
    const std::string known = JoinInputs(inputs);
    const std::string example = std::string(inputs.front()) + (series ? "=Hs_m" : "=Distance_m");
    const CLI::Validator keyName(
        [keys, known, example](std::string& value) -> std::string {
            const std::size_t equals = value.find('=');
            if (equals == std::string::npos || equals + 1 == value.size()) {
                return "give KEY=NAME, for instance " + example + ", not '" + files::Echo(value) + "'";
            }
            std::string key = value.substr(0, equals);
            for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
                return "'" + files::Echo(value.substr(0, equals)) + "' is no input column here (" + known + ")";
            }
            return {};
        },
        "KEY=NAME");
    command
        .add_option_function<std::vector<std::string>>(
            "--column",
            [&options](const std::vector<std::string>& values) {
                for (const std::string& value : values) {
                    const std::size_t equals = value.find('=');
                    options.columns.emplace_back(value.substr(0, equals), value.substr(equals + 1));
                }
            },
            "The file's name of an input column, where it differs (" + known +
                "; any case); repeat for each, e.g. --column " + example)
        ->check(keyName)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(group);
    AcceptDecimalComma(command);
    if (!series) return;
    command
        .add_option_function<std::string>(
            "--missing",
            [&options](const std::string& value) {
                options.missing = value == "invalid" ? files::MissingValues::Invalid : files::MissingValues::Error;
            },
            "A series cell that is empty, NaN, NA or #N/A: error (default), or invalid (the row runs with "
            "--invalid-value and the model refuses that time step)")
        ->check(CLI::IsMember({"error", "invalid"}))
        ->group(group);
}

void AcceptDecimalComma(CLI::App& command) {
    CLI::App* app = &command;
    const CLI::Validator comma(
        [app](std::string& value) -> std::string {
            const CLI::Option* decimal = app->get_option_no_throw("--decimal");
            if (decimal == nullptr || decimal->results().empty() || decimal->results().back() != ",")
                return {};
            if (value.find('.') == std::string::npos) std::replace(value.begin(), value.end(), ',', '.');
            return {};
        },
        "");
    for (CLI::Option* option : command.get_options()) {
        if (option->get_type_name() == "FLOAT") option->transform(comma);
    }
}

void AddOutputOptions(CLI::App& command, OutputOptions& options) {
    const char* group = "Writing the table";
    command
        .add_option_function<std::string>(
            "--output-separator",
            [&options](const std::string& value) { options.separator = value == "tab" ? '\t' : value.front(); },
            "Field separator of the table: , ; or tab (default: the input file's)")
        ->check(CLI::IsMember({",", ";", "tab"}))
        ->group(group);
    command
        .add_option_function<std::string>(
            "--output-decimal", [&options](const std::string& value) { options.decimal = value.front(); },
            "Decimal mark of the table: . or , (default: the input file's; ',' for a ; file without decimals). "
            "A number whose mark is the separator is quoted")
        ->check(CLI::IsMember({".", ","}))
        ->group(group);
    command
        .add_option("--digits", options.digits,
                    "Significant digits of the numbers (default: the shortest text that reads back as exactly "
                    "the same double)")
        ->check(CLI::Range(1, 17))
        ->group(group);
    command
        .add_flag("--raw-cells", options.rawCells,
                  "Write text cells as they are; by default a cell a spreadsheet would take for a formula "
                  "(starting with = + - @, a tab or a carriage return, and not a number) gets a leading '")
        ->group(group);
}

files::TableFormat OutputFormat(const OutputOptions& options, files::TableFormat read) {
    if (options.separator != 0) read.separator = options.separator;
    if (options.decimal != 0) read.decimal = options.decimal;
    read.digits = options.digits;
    read.rawCells = options.rawCells;
    return read;
}

}  // namespace qav::cli
