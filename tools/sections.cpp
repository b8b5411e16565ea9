// Sections of a dike over one series: their file, their rows and their run.
#include "tools/sections.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/log.h"
#include "files/csv_reader.h"
#include "tools/errors.h"
#include "tools/run_notes.h"

namespace qav::cli {
namespace {

enum Column : std::size_t {
    Name,
    ProfilePath,
    DikeNormal,
    Dam,
    DamHeight,
    Ag,
    Rho,
    Alpha,
    Fc,
    RatioDepth,
    MinStep
};
constexpr std::size_t ColumnCount = std::size(SectionColumns);
constexpr std::size_t Absent = static_cast<std::size_t>(-1);

// A header name as a sections file may write it: any case, '-' or a blank
// for '_', a unit in brackets or parentheses behind it.
std::string ColumnKey(std::string_view text) {
    std::string key = files::HeaderKey(text);
    const std::size_t unit = key.find_first_of("[(");
    if (unit != std::string::npos) key = files::HeaderKey(key.substr(0, unit));
    std::replace_if(
        key.begin(), key.end(), [](char c) { return c == '-' || c == ' '; }, '_');
    return key;
}

std::string ColumnList() {
    std::string list;
    for (const std::string_view name : SectionColumns) {
        if (!list.empty()) list += ',';
        list += name;
    }
    return list;
}

}  // namespace

std::vector<Section> ReadSections(const std::string& path, const files::CsvOptions& csvOptions,
                                  const ModelOptions& defaults) {
    files::CsvReader csv(path, csvOptions.separator, csvOptions.bufferBytes);
    if (!csv.ReadHeader())
        throw files::FileError(path + ": the file is empty; expected a header line " + ColumnList());
    std::array<std::size_t, ColumnCount> field;
    field.fill(Absent);
    const auto header = csv.Fields();
    const std::size_t headerFields = csv.FieldCount();
    for (std::size_t f = 0; f < header.size(); ++f) {
        const std::string key = ColumnKey(header[f].text);
        const auto* known = std::find(std::begin(SectionColumns), std::end(SectionColumns), key);
        if (known == std::end(SectionColumns)) {
            throw files::FileError(csv.Where(header[f].offset) + "no column of a sections file is called '" +
                                   files::Echo(header[f].text) + "' (they are " + ColumnList() + ")");
        }
        const auto c = static_cast<std::size_t>(known - std::begin(SectionColumns));
        if (field[c] != Absent) {
            throw files::FileError(csv.Where(header[f].offset) + "the column '" + key + "' is there twice");
        }
        field[c] = f;
    }
    for (const Column needed : {Name, ProfilePath, DikeNormal}) {
        if (field[needed] == Absent) {
            throw files::FileError(csv.Where(0) + "the header lacks the column '" +
                                   std::string(SectionColumns[needed]) + "' (" + ColumnList() + ")");
        }
    }
    const bool comma = csvOptions.decimal == files::Decimal::Comma ||
                       (csvOptions.decimal == files::Decimal::Auto && csv.Separator() != ',');
    // Names are UTF-8 text on every system.
    const auto utf8 = [](std::string_view name) {
        return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size()));
    };
    const std::filesystem::path folder = utf8(path).parent_path();

    std::vector<Section> sections;
    while (csv.ReadRow(headerFields)) {
        const auto fields = csv.Fields();
        if (csv.FieldCount() > headerFields) {
            throw files::FileError(csv.WhereLine() + "the row has more fields than the header");
        }
        const auto text = [&](Column c) -> std::string_view {
            return field[c] < fields.size() ? fields[field[c]].text : std::string_view();
        };
        const auto where = [&](Column c) {
            return field[c] < fields.size() ? csv.Where(fields[field[c]].offset) : csv.WhereEnd();
        };
        // An empty cell of an optional column takes the command line's value.
        const auto number = [&](Column c, double& value) {
            const std::string_view cell = text(c);
            if (files::HeaderKey(cell).empty()) {
                if (c == DikeNormal) throw files::FileError(where(c) + "the section has no dike_normal");
                return;
            }
            if (files::ParseNumber(cell, '.', value) || (comma && files::ParseNumber(cell, ',', value)))
                return;
            throw files::FileError(where(c) + "'" + files::Echo(cell) + "' is no number (column " +
                                   std::string(SectionColumns[c]) + ")");
        };
        Section section;
        section.name = std::string(text(Name));
        if (files::HeaderKey(section.name).empty())
            throw files::FileError(where(Name) + "the section has no name");
        for (const Section& other : sections) {
            if (other.name == section.name) {
                throw files::FileError(where(Name) + "the section '" + files::Echo(section.name) +
                                       "' is named twice");
            }
        }
        const std::string profile(text(ProfilePath));
        if (files::HeaderKey(profile).empty())
            throw files::FileError(where(ProfilePath) + "the section has no profile");
        const std::filesystem::path profilePath = utf8(profile);
        if (profilePath.is_absolute()) {
            section.profilePath = profile;
        } else {
            const std::u8string joined = (folder / profilePath).u8string();
            section.profilePath.assign(reinterpret_cast<const char*>(joined.data()), joined.size());
        }
        section.model = defaults;
        number(DikeNormal, section.model.dikeNormal);
        const std::string dam = files::HeaderKey(text(Dam));
        if (!dam.empty()) {
            if (DamTypeNumber(dam) < 0) {
                throw files::FileError(where(Dam) + "'" + files::Echo(text(Dam)) +
                                       "' is no dam type (none, caisson, wall or dam)");
            }
            section.model.dam = dam;
        }
        const bool height = !files::HeaderKey(text(DamHeight)).empty();
        number(DamHeight, section.model.damHeight);
        if (section.model.dam != "none" && !height) {
            throw files::FileError(where(DamHeight) + "the section's " + section.model.dam +
                                   " needs a dam_height");
        }
        if (section.model.dam == "none" && height) {
            throw files::FileError(where(DamHeight) + "a dam_height needs a dam (caisson, wall or dam)");
        }
        ModelParameters& p = section.model.parameters;
        number(Ag, p.Ag);
        number(Rho, p.Rho);
        number(Alpha, p.Alpha);
        number(Fc, p.Fc);
        number(RatioDepth, p.RatioDepth);
        number(MinStep, p.MinStepSize);
        sections.push_back(std::move(section));
    }
    if (sections.empty()) throw files::FileError(path + ": no section below the header");
    for (Section& section : sections) section.profile = files::ReadProfile(section.profilePath, csvOptions);
    return sections;
}

std::vector<std::vector<std::size_t>> RowsOfSections(const std::vector<Section>& sections,
                                                     const files::Series& series,
                                                     const std::string& seriesName) {
    std::vector<std::vector<std::size_t>> rows(sections.size());
    const auto& names = series.passThroughNames;
    const auto column = std::find_if(names.begin(), names.end(), [](const std::string& name) {
        return files::HeaderKey(name) == "section";
    });
    if (column == names.end()) {
        for (auto& own : rows) {
            own.resize(series.rows.size());
            for (std::size_t i = 0; i < own.size(); ++i) own[i] = i;
        }
        return rows;
    }
    std::map<std::string, std::size_t, std::less<>> index;
    for (std::size_t s = 0; s < sections.size(); ++s) index.emplace(sections[s].name, s);
    const auto& cells = series.rows.passThrough[static_cast<std::size_t>(column - names.begin())];
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const auto found = index.find(cells[i]);
        if (found == index.end()) {
            throw InputError(seriesName + ":" + std::to_string(series.rows.lines[i]) + ": the section '" +
                             files::Echo(cells[i]) + "' is not in the sections file");
        }
        rows[found->second].push_back(i);
    }
    for (std::size_t s = 0; s < sections.size(); ++s) {
        if (rows[s].empty()) {
            throw InputError(seriesName + ": no row of the series names the section '" +
                             files::Echo(sections[s].name) + "' (column " + *column + ")");
        }
    }
    return rows;
}

std::vector<SeriesRun> RunSections(std::span<const RunInput> inputs, std::span<RunTable> tables,
                                   const RunOptions& options,
                                   const std::function<void(std::size_t)>& progress) {
    // A piece: consecutive steps of one section. Pieces are small enough to
    // share out over the threads, large enough to fill the march's lanes.
    struct Piece {
        std::size_t section;
        std::size_t begin;
        std::size_t end;
        std::array<char, MessageLength> text{};
        std::size_t lostLogLines = 0;
    };
    std::size_t total = 0;
    for (const RunInput& input : inputs) total += input.Hm0.size();
    const unsigned threads = options.Log ? 1 : std::max(1u, options.Threads);
    const std::size_t pieceSteps =
        options.Log ? total : std::clamp<std::size_t>(total / (std::size_t{4} * threads), 64, 4096);
    std::vector<Piece> pieces;
    for (std::size_t s = 0; s < inputs.size(); ++s) {
        const std::size_t n = inputs[s].Hm0.size();
        for (std::size_t begin = 0; begin < n || begin == 0; begin += std::max<std::size_t>(pieceSteps, 1)) {
            pieces.push_back({s, begin, std::min(n, begin + std::max<std::size_t>(pieceSteps, 1)), {}});
            if (n == 0) break;
        }
    }

    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::mutex failure;
    std::exception_ptr error;
    const auto work = [&](bool reports) {
        try {
            for (std::size_t k = next++; k < pieces.size(); k = next++) {
                Piece& piece = pieces[k];
                const auto part = [&piece](auto span) {
                    return span.subspan(piece.begin, piece.end - piece.begin);
                };
                RunInput input = inputs[piece.section];
                input.Hm0 = part(input.Hm0);
                input.Tp = part(input.Tp);
                input.Wlev = part(input.Wlev);
                input.IncomingWaveAngle = part(input.IncomingWaveAngle);
                const RunOutput whole = tables[piece.section].Output();
                const RunOutput output{part(whole.Hm0Toe),   part(whole.TpToe),    part(whole.WaveAngleToe),
                                       part(whole.Outcomes), part(whole.Messages), part(whole.EnergyClamped)};
                RunOptions own;
                own.Log = options.Log;
                RollerModel5(input, output, MessageBuffer(piece.text.data(), piece.text.size()), own);
                // Read on the thread that ran the piece, whose log it is.
                if (options.Log) piece.lostLogLines = LostLogLines();
                done += piece.end - piece.begin;
                if (reports && progress) progress(done.load());
            }
        } catch (...) {
            const std::lock_guard lock(failure);
            if (!error) error = std::current_exception();
            next = pieces.size();
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < std::min<std::size_t>(threads, pieces.size()); ++t) {
        try {
            helpers.emplace_back(work, false);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: fewer share the pieces
        }
    }
    work(true);
    for (std::thread& helper : helpers) helper.join();
    if (error) std::rethrow_exception(error);

    std::vector<SeriesRun> runs(inputs.size());
    for (const Piece& piece : pieces) {
        const RunTable& table = tables[piece.section];
        const std::size_t n = piece.end - piece.begin;
        AddRunPart(runs[piece.section], std::span(table.outcomes).subspan(piece.begin, n),
                   std::span(table.messages).subspan(piece.begin, n),
                   TrimTrailingBlanks({piece.text.data(), piece.text.size()}));
        runs[piece.section].lostLogLines += piece.lostLogLines;
    }
    return runs;
}

}  // namespace qav::cli
