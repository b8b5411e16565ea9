// qav's command line: subcommands, options and values drawn from the input,
// over small fixture files and a series file made of the input's tail. Every
// file a command may write lies in a scratch folder: a path option always
// comes with one of its paths, and a raw value never starts with '-' nor
// holds a '/'. A run ends with an exit code 0, 1 or 2, and any exception
// other than a usage or input error is a finding.
#include <CLI/CLI.hpp>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/errors.h"
#include "files/input_files.h"

namespace {

std::string scratch;

void Write(const std::string& name, const std::string& text) {
    std::ofstream(scratch + "/" + name, std::ios::binary) << text;
}

std::string In(const char* name) { return scratch + "/" + name; }

// Groups of arguments the input picks from; "@" is a raw value of the input.
const std::vector<std::vector<std::string>>& Vocabulary() {
    static const std::vector<std::vector<std::string>> words = [] {
        std::vector<std::vector<std::string>> w = {
            {"run"}, {"transect"}, {"validate"}, {"--help"}, {"-q"}, {"--quiet"},
            {"--profile", In("p.csv")}, {"--profile", In("p_euro.csv")}, {"--profile", In("missing.csv")},
            {"--profile", In(".")},
            {"--series", In("s.csv")}, {"--series", In("s_euro.csv")}, {"--series", In("fuzz.csv")},
            {"--series", "/dev/null"},
            {"-o", In("out.csv")}, {"--output", In("out.csv")}, {"-o", In(".")}, {"--svg", In("t.svg")},
            {"--log", In("run.log")}, {"--log", In("nowhere/run.log")},
            {"--dike-normal"}, {"--dam-height"}, {"--ag"}, {"--rho"}, {"--alpha"}, {"--fc"}, {"--invalid-value"},
            {"--hm0"}, {"--tp"}, {"--wlev"}, {"--angle"},
            {"270"}, {"0"}, {"-1"}, {"-999"}, {"nan"}, {"inf"}, {"1e308"}, {"2.5"}, {"x"},
            {"--dam", "none"}, {"--dam", "caisson"}, {"--dam", "wall"}, {"--dam", "dam"}, {"--dam", "tower"},
            {"--threads", "1"}, {"--threads", "2"}, {"--threads", "3"}, {"--threads", "0"},
            {"--min-step-size", "1"}, {"--min-step-size", "0.25"}, {"--min-step-size", "70"},
            {"--min-step-size", "0"}, {"--ratio-depth", "0.5"}, {"--ratio-depth", "0.3"}, {"--ratio-depth", "-1"},
            {"--separator", ","}, {"--separator", ";"}, {"--separator", "tab"}, {"--separator", "|"},
            {"--decimal", "."}, {"--decimal", ","}, {"--missing", "error"}, {"--missing", "invalid"},
            {"--missing"}, {"--column"}, {"--column", "hm0=Hs"}, {"--column", "x=X"}, {"--column", "hm0=h"},
            {"--block-rows", "1"}, {"--block-rows", "2"}, {"--block-rows", "0"},
            {"@"}, {"@"}, {"@"}};
        return w;
    }();
    return words;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/qav-fuzz-cli-XXXXXX";
    if (::mkdtemp(name) == nullptr) std::abort();
    scratch = name;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    });
    Write("p.csv", "x,z\n0,-5\n20,-4.5\n40,-4\n60,-3\n80,-2.5\n");
    Write("p_euro.csv", "\xEF\xBB\xBFsep=;\r\n\"X\";\"z\"\r\n0;-5\r\n40;-4,5\r\n80;-2,5\r\n");
    Write("s.csv", "time,hm0,tp,wlev,angle\nt1,1,5,0.5,270\nt2,0,6,1,265\nt3,1.5,-6,1,265\nt4,2,7,1.5,90\n");
    Write("s_euro.csv", "Hs;tp;wlev;angle;note\n1,2;5;0,5;270;a\nNA;6;1;265;\"b;c\"\n");
    // The tables go nowhere; messages stay on standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const auto& words = Vocabulary();
    std::vector<std::string> args = {"qav"};
    const int count = in.ConsumeIntegralInRange<int>(0, 16);
    for (int i = 0; i < count; ++i) {
        for (const std::string& word : words[in.ConsumeIntegralInRange<std::size_t>(0, words.size() - 1)]) {
            if (word != "@") {
                args.push_back(word);
                continue;
            }
            std::string raw = in.ConsumeRandomLengthString(24);
            if (raw.empty() || raw.front() == '-' || raw.find('/') != std::string::npos) raw = "1";
            args.push_back(raw);
        }
    }
    Write("fuzz.csv", in.ConsumeRemainingBytesAsString());

    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    int exitCode = qav::cli::ExitSuccess;
    {
        CLI::App app{"qav"};
        app.name("qav");
        app.require_subcommand(1);
        qav::cli::AddRunCommand(app, exitCode);
        qav::cli::AddTransectCommand(app, exitCode);
        qav::cli::AddValidateCommand(app, exitCode);
        try {
            app.parse(static_cast<int>(argv.size()), argv.data());
        } catch (const CLI::ParseError&) {
            exitCode = qav::cli::ExitBadInput;
        } catch (const qav::cli::InputError&) {
            exitCode = qav::cli::ExitBadInput;
        } catch (const qav::files::FileError&) {
            exitCode = qav::cli::ExitBadInput;
        } catch (const std::bad_alloc&) {
            exitCode = qav::cli::ExitBadInput;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "contract broken: an unexpected exception: %s\n", e.what());
            std::abort();
        }
    }
    if (exitCode < 0 || exitCode > 2) {
        std::fprintf(stderr, "contract broken: exit code %d\n", exitCode);
        std::abort();
    }
    for (const char* name : {"out.csv", "t.svg", "run.log"}) std::remove(In(name).c_str());
    return 0;
}
