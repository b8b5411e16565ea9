// The CSV reading of profiles and series: any bytes, any reading options.
// A series read in blocks must give exactly what it gives read whole, and
// every message must stay short and free of raw control bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "files/input_files.h"

namespace {

using namespace qav::files;

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "contract broken: %s\n", what);
        std::abort();
    }
}

void RequireFitMessage(const std::string& message) {
    Require(message.size() < 4096, "a message stays short");
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        Require(byte >= 0x20 && byte != 0x7F, "a message holds no control byte");
    }
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Reads the text as a series in blocks of blockRows; returns the error text,
// empty when it read through.
std::string ReadInBlocks(const std::string& text, const CsvOptions& options, std::size_t blockRows,
                         std::size_t blockBytes, SeriesBlock& all, std::vector<std::string>& names) {
    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    Require(file != nullptr, "fmemopen");
    std::string error;
    try {
        SeriesReader reader(file, "s.csv", options);
        names = reader.PassThroughNames();
        all.passThrough.assign(names.size(), {});
        SeriesBlock block;
        while (reader.ReadBlock(block, blockRows, blockBytes)) {
            Require(block.size() <= blockRows || blockRows == 0, "a block holds at most its rows");
            Require(block.tp.size() == block.size() && block.wlev.size() == block.size() &&
                        block.angle.size() == block.size() && block.lines.size() == block.size(),
                    "a block's columns are of one length");
            Require(block.passThrough.size() == names.size(), "one text column per pass-through name");
            for (std::size_t i = 0; i < block.size(); ++i) {
                all.hm0.push_back(block.hm0[i]);
                all.tp.push_back(block.tp[i]);
                all.wlev.push_back(block.wlev[i]);
                all.angle.push_back(block.angle[i]);
                all.lines.push_back(block.lines[i]);
                for (std::size_t c = 0; c < names.size(); ++c) {
                    Require(block.passThrough[c].size() == block.size(), "a text per row");
                    all.passThrough[c].push_back(block.passThrough[c][i]);
                }
            }
        }
        Require(reader.RowsRead() == all.size(), "every row read is handed out");
    } catch (const FileError& e) {
        error = e.what();
        RequireFitMessage(error);
    }
    std::fclose(file);
    return error;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    CsvOptions options;
    static constexpr char Separators[] = {0, ',', ';', '\t'};
    options.separator = Separators[in.ConsumeIntegralInRange<int>(0, 3)];
    options.decimal = static_cast<Decimal>(in.ConsumeIntegralInRange<int>(0, 2));
    options.missing = in.ConsumeBool() ? MissingValues::Invalid : MissingValues::Error;
    options.invalidValue = in.ConsumeBool() ? -999.0 : 0.5;
    if (in.ConsumeBool()) options.columns = {{"hm0", "Hs m"}, {"x", "\"X\""}};
    const std::size_t blockRows = in.ConsumeIntegralInRange<std::size_t>(1, 9);
    const std::size_t blockBytes = in.ConsumeIntegralInRange<std::size_t>(1, 4096);
    const std::size_t bufferBytes = in.ConsumeIntegralInRange<std::size_t>(1, 16);
    const std::string text = in.ConsumeRemainingBytesAsString();
    if (text.empty()) return 0;  // fmemopen takes no empty buffer

    SeriesBlock blocks;
    SeriesBlock whole;
    std::vector<std::string> blockNames;
    std::vector<std::string> wholeNames;
    CsvOptions smallBuffer = options;
    smallBuffer.bufferBytes = bufferBytes;
    const std::string blockError = ReadInBlocks(text, smallBuffer, blockRows, blockBytes, blocks, blockNames);
    const std::size_t max = std::numeric_limits<std::size_t>::max();
    // Read whole with the usual buffer, the blocks through a buffer of a few
    // bytes: every line end, quote and byte order mark may fall on its edge.
    const std::string wholeError = ReadInBlocks(text, options, max, max, whole, wholeNames);
    Require(blockError == wholeError, "blocks fail as the whole does");
    if (blockError.empty()) {
        Require(blocks.size() == whole.size() && blocks.size() > 0, "blocks hold the rows of the whole");
        Require(blockNames == wholeNames && blocks.passThrough == whole.passThrough, "the same other columns");
        for (std::size_t i = 0; i < whole.size(); ++i) {
            Require(SameBits(blocks.hm0[i], whole.hm0[i]) && SameBits(blocks.tp[i], whole.tp[i]) &&
                        SameBits(blocks.wlev[i], whole.wlev[i]) && SameBits(blocks.angle[i], whole.angle[i]),
                    "the same numbers");
            Require(blocks.lines[i] == whole.lines[i], "the same lines");
            Require(i == 0 || whole.lines[i] > whole.lines[i - 1], "rows in file order, each on its own line");
            for (const double v : {whole.hm0[i], whole.tp[i], whole.wlev[i], whole.angle[i]}) {
                Require(!std::isnan(v), "a missing value is an error or the invalid value, never NaN");
            }
        }
    }

    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
    Require(file != nullptr, "fmemopen");
    try {
        const Profile profile = ReadProfile(file, "p.csv", options);
        Require(profile.x.size() == profile.z.size() && profile.lines.size() == profile.x.size() &&
                    !profile.x.empty(),
                "a profile has a line, an x and a z per point");
        for (std::size_t i = 0; i < profile.x.size(); ++i) {
            Require(!std::isnan(profile.x[i]) && !std::isnan(profile.z[i]), "a profile point has two numbers");
        }
    } catch (const FileError& e) {
        RequireFitMessage(e.what());
    }
    std::fclose(file);
    return 0;
}
