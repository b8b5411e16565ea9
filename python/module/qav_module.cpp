// The compiled module qav._qav: the model's C++ driver for Python.
//
// Arrays come in as anything numpy reads; a contiguous, aligned, native
// float64 vector is read in place, anything else is converted once. Misuse
// (a wrong shape, a non-number, an unknown dam type) raises ValueError before
// the model runs; what the model refuses comes back as each step's status and
// message. The GIL is released while the model runs.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/log.h"
#include "common/message.h"
#include "common/run_input.h"
#include "files/input_files.h"
#include "model/judgement.h"
#include "model/model.h"
#include "qav/version.h"

namespace py = pybind11;

namespace {

// Structures in front of the dike, by name; the index is the model's code.
constexpr std::array<std::string_view, 4> DamNames = {"none", "caisson", "wall", "dam"};

// Every outcome of a step, by the model's number.
constexpr std::array<qav::StepOutcome, 8> Outcomes = {
    qav::StepOutcome::NotTreated,        qav::StepOutcome::Refused,     qav::StepOutcome::Calm,
    qav::StepOutcome::AngleOutsideRange, qav::StepOutcome::NoForeshore, qav::StepOutcome::Computed,
    qav::StepOutcome::NoDirection,       qav::StepOutcome::NoGrid};

// Python objects the conversions use, taken once at import and kept for the
// life of the process (never released: the interpreter may be gone by then).
struct Shared {
    py::object asarray;
    py::object ascontiguousarray;
    py::object float64;
    py::object real;         // numbers.Real
    py::object integral;     // numbers.Integral
    py::object bool_;        // numpy.bool_
    py::object maskedArray;  // numpy.ma.MaskedArray
    py::dtype status;        // '<U<longest status name>'
    py::dtype object;        // 'O'
    py::dtype float64Type;
    py::dtype boolType;
    py::dtype uint8Type;
    std::size_t statusChars = 0;
    std::array<std::u32string, Outcomes.size()> statusText;
    // Per outcome: its position in STATUS_NAMES, and whether its name is a failed one.
    std::array<std::uint8_t, Outcomes.size()> statusIndex{};
    std::array<bool, Outcomes.size()> failedName{};
    // qav.RunResult, which run() returns (a plain tuple until the package sets
    // it), and qav._pandas_index, the index of series that are not all numpy arrays.
    py::object runResult;
    py::object pandasIndex;
};

Shared* shared = nullptr;

std::string Repr(py::handle value) { return py::repr(value).cast<std::string>(); }

// A 1-D run of doubles, with the Python object that holds its memory.
struct Vector {
    py::object owner;
    std::span<const double> values;
};

Vector ViewOf(py::array array) {
    const auto* data = static_cast<const double*>(array.data());
    const auto size = static_cast<std::size_t>(array.size());
    return {array, size == 0 ? std::span<const double>{} : std::span<const double>(data, size)};
}

[[noreturn]] void NotOneDimensional(const char* name, const py::array& array) {
    throw py::value_error(std::string(name) + " must be 1-D, got an array of shape " +
                          py::str(array.attr("shape")).cast<std::string>());
}

// value as a 1-D float64 vector: in place when it already is one, otherwise
// converted (numpy.asarray, then made contiguous). A single number is a vector
// of one where oneStep is set (a time step's condition).
Vector AsVector(const char* name, py::handle value, bool oneStep = false) {
    // A plain numpy vector of native doubles, the common case, told from its
    // header alone.
    const auto& api = py::detail::npy_api::get();
    constexpr char Foreign = std::endian::native == std::endian::little ? '>' : '<';
    if (Py_TYPE(value.ptr()) == api.PyArray_Type_) {
        const auto* header = py::detail::array_proxy(value.ptr());
        const auto* descr = py::detail::array_descriptor_proxy(header->descr);
        constexpr int Layout =
            py::detail::npy_api::NPY_ARRAY_C_CONTIGUOUS_ | py::detail::npy_api::NPY_ARRAY_ALIGNED_;
        if (header->nd == 1 && descr->type_num == py::detail::npy_api::NPY_DOUBLE_ &&
            descr->byteorder != Foreign && (header->flags & Layout) == Layout) {
            const auto size = static_cast<std::size_t>(header->dimensions[0]);
            const auto* data = reinterpret_cast<const double*>(header->data);
            return {py::reinterpret_borrow<py::object>(value),
                    size == 0 ? std::span<const double>{} : std::span<const double>(data, size)};
        }
    }
    if (py::isinstance(value, shared->maskedArray)) {
        // Masked entries are missing values: NaN, which the checks refuse as
        // they refuse any missing value (a step of a series is then refused,
        // a profile as a whole).
        py::object filled;
        try {
            filled = value.attr("astype")(shared->float64).attr("filled")(py::float_(NAN));
        } catch (py::error_already_set& error) {
            if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_TypeError)) throw;
            throw py::value_error(std::string(name) + " must be a 1-D sequence of numbers: " +
                                  py::str(error.value()).cast<std::string>());
        }
        return AsVector(name, filled);
    }
    using Doubles = py::array_t<double, py::array::c_style>;
    if (Doubles::check_(value)) {
        auto array = py::reinterpret_borrow<py::array>(value);
        if (array.ndim() != 1) NotOneDimensional(name, array);
        if ((array.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_) != 0) return ViewOf(array);
    }
    py::object converted;
    try {
        // Times, truth values, complex numbers and text would convert without a
        // word (a time as nanoseconds, True as 1): they are no numbers of the model.
        // The kind of an array, a pandas Series or an xarray DataArray is that of
        // its dtype; a list's is that of the array numpy makes of it.
        py::object plain = py::reinterpret_borrow<py::object>(value);
        if (!py::hasattr(plain, "dtype")) plain = shared->asarray(plain);
        const py::object type = plain.attr("dtype");
        const std::string kind =
            py::hasattr(type, "kind") ? py::str(type.attr("kind")).cast<std::string>() : "";
        if (kind.size() == 1 && std::string_view("bcmMUSV").find(kind[0]) != std::string_view::npos) {
            throw py::value_error(std::string(name) + " must be a 1-D sequence of numbers, got " +
                                  py::str(type).cast<std::string>() + " values");
        }
        converted = shared->asarray(plain, shared->float64);
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_TypeError)) throw;
        throw py::value_error(std::string(name) + " must be a 1-D sequence of numbers: " +
                              py::str(error.value()).cast<std::string>());
    }
    auto array = py::reinterpret_borrow<py::array>(converted);
    if (oneStep && array.ndim() == 0) array = array.reshape({py::ssize_t{1}});
    // Checked before ascontiguousarray, which would turn a scalar into 1-D.
    if (array.ndim() != 1) NotOneDimensional(name, array);
    return ViewOf(py::reinterpret_borrow<py::array>(shared->ascontiguousarray(array)));
}

void SameLengths(std::initializer_list<std::pair<const char*, const Vector*>> vectors) {
    const std::size_t first = vectors.begin()->second->values.size();
    bool same = true;
    for (const auto& [name, vector] : vectors) same = same && vector->values.size() == first;
    if (same) return;
    std::string listing;
    for (const auto& [name, vector] : vectors) {
        if (!listing.empty()) listing += ", ";
        listing += std::string(name) + "=" + std::to_string(vector->values.size());
    }
    throw py::value_error("arrays must have equal lengths, got " + listing);
}

bool IsBool(py::handle value) { return PyBool_Check(value.ptr()) || py::isinstance(value, shared->bool_); }

// A real number: float, int, or a numpy number; never a bool or a string.
double Real(const char* name, py::handle value) {
    PyObject* object = value.ptr();
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    if (PyLong_CheckExact(object) ||
        (!IsBool(value) && (PyLong_Check(object) || py::isinstance(value, shared->real)))) {
        const double number = PyFloat_AsDouble(object);
        if (number == -1.0 && PyErr_Occurred()) throw py::error_already_set();
        return number;
    }
    throw py::value_error(std::string(name) + " must be a real number, got " + Repr(value));
}

// A whole number: int or a numpy integer (never a bool, a float or a
// string), when it fits in a long long.
std::optional<long long> WholeNumber(py::handle value) {
    if (!PyLong_CheckExact(value.ptr()) &&
        (IsBool(value) || (!PyLong_Check(value.ptr()) && !py::isinstance(value, shared->integral)))) {
        return std::nullopt;
    }
    const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0) return std::nullopt;
    return number;
}

int DamType(py::handle value) {
    if (py::isinstance<py::str>(value)) {
        std::string key = value.cast<std::string>();
        const auto first = key.find_first_not_of(" \t\r\n");
        const auto last = key.find_last_not_of(" \t\r\n");
        key = first == std::string::npos ? std::string() : key.substr(first, last - first + 1);
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) {
            return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        });
        for (std::size_t i = 0; i < DamNames.size(); ++i) {
            if (DamNames[i] == key) return static_cast<int>(i);
        }
        throw py::value_error("dam_type must be one of ['caisson', 'dam', 'none', 'wall'] or 0 to 3, got " +
                              Repr(value));
    }
    if (const auto code = WholeNumber(value); code && *code >= 0 && *code <= 3)
        return static_cast<int>(*code);
    throw py::value_error("dam_type must be 0 (none), 1 (caisson), 2 (wall) or 3 (dam), got " + Repr(value));
}

// The profile, the structure and the model parameters of a call.
struct Setting {
    Vector x;
    Vector z;
    qav::RunInput input;
};

using qav::Argument;

// The Python name of an entry argument, from the argument list.
const char* PythonName(Argument argument) { return qav::InfoOf(argument).pythonName; }

// The positional arguments of the compiled run and transect, in the order of
// qav.run's signature, each the entry argument it fills; run then takes
// threads and progress, transect stops before log_file.
constexpr Argument CallArguments[] = {Argument::ProfileX,    Argument::ProfileBottomLevel,
                                      Argument::Hm0,         Argument::Tp,
                                      Argument::Wlev,        Argument::IncomingWaveAngle,
                                      Argument::DikeNormal,  Argument::DamType,
                                      Argument::DamHeight,   Argument::Ag,
                                      Argument::Rho,         Argument::Alpha,
                                      Argument::Fc,          Argument::RatioDepth,
                                      Argument::MinStepSize, Argument::InvalidValue,
                                      Argument::LogFileName};
constexpr const char* RunOwnArguments[] = {"threads", "progress"};
constexpr auto CallCount = static_cast<Py_ssize_t>(std::size(CallArguments));
constexpr Py_ssize_t ThreadsAt = CallCount, ProgressAt = CallCount + 1;
constexpr Py_ssize_t RunArgumentCount = CallCount + static_cast<Py_ssize_t>(std::size(RunOwnArguments));
constexpr Py_ssize_t TransectArgumentCount = CallCount - 1;

constexpr Py_ssize_t PositionOf(Argument argument) {
    Py_ssize_t at = 0;
    while (at < CallCount && CallArguments[at] != argument) ++at;
    return at;
}
static_assert(PositionOf(Argument::LogFileName) == TransectArgumentCount);
static_assert(std::all_of(std::begin(CallArguments), std::end(CallArguments),
                          [](Argument a) { return qav::InfoOf(a).pythonName != nullptr; }));

// Positional arguments read by the entry argument they fill.
struct CallArgs {
    PyObject* const* args;
    py::handle operator[](Argument argument) const { return args[PositionOf(argument)]; }
};

// The settings of qav.xr's block, a value per section (or per step), in the
// order of the block's table.
constexpr Argument BlockSettings[] = {Argument::DikeNormal, Argument::DamType,    Argument::DamHeight,
                                      Argument::Ag,         Argument::Rho,        Argument::Alpha,
                                      Argument::Fc,         Argument::RatioDepth, Argument::MinStepSize};
constexpr std::size_t Settings = std::size(BlockSettings);

constexpr std::size_t SettingOf(Argument argument) {
    std::size_t k = 0;
    while (k < Settings && BlockSettings[k] != argument) ++k;
    return k;
}

// Sets a block setting of a run.
void SetSetting(qav::RunInput& input, Argument argument, double value) {
    switch (argument) {
        case Argument::DikeNormal:
            input.DikeNormal = value;
            break;
        case Argument::DamType:
            input.DamType = static_cast<int>(value);
            break;
        case Argument::DamHeight:
            input.DamHeight = value;
            break;
        default:
            *qav::ParameterField(input.Parameters, argument) = value;
    }
}

// A tuple of the Python names of arguments.
template <std::size_t N>
py::tuple NamesOf(const Argument (&arguments)[N]) {
    py::list names;
    for (const Argument argument : arguments) names.append(PythonName(argument));
    return py::tuple(names);
}

Setting MakeSetting(CallArgs at) {
    const auto real = [&](Argument argument) { return Real(PythonName(argument), at[argument]); };
    Setting s;
    s.x = AsVector(PythonName(Argument::ProfileX), at[Argument::ProfileX]);
    s.z = AsVector(PythonName(Argument::ProfileBottomLevel), at[Argument::ProfileBottomLevel]);
    SameLengths({{PythonName(Argument::ProfileX), &s.x}, {PythonName(Argument::ProfileBottomLevel), &s.z}});
    s.input.ProfileX = s.x.values;
    s.input.ProfileBottomLevel = s.z.values;
    s.input.DikeNormal = real(Argument::DikeNormal);
    const py::handle damType = at[Argument::DamType], damHeight = at[Argument::DamHeight];
    s.input.DamType = DamType(damType);
    // A dam's crest has no default, and a crest without a dam is a mistake.
    if (damHeight.is_none() && s.input.DamType != 0) {
        throw py::value_error("dam_type " + Repr(damType) +
                              " needs dam_height, the crest height of the dam (m, datum of wlev)");
    }
    if (!damHeight.is_none() && s.input.DamType == 0) {
        throw py::value_error(
            "dam_height needs a dam_type of 'caisson', 'wall' or 'dam': without a dam there is "
            "no crest, got dam_height=" +
            Repr(damHeight));
    }
    s.input.DamHeight = damHeight.is_none() ? 0.0 : real(Argument::DamHeight);
    for (const Argument parameter : qav::ParameterArray) {
        *qav::ParameterField(s.input.Parameters, parameter) = real(parameter);
    }
    return s;
}

py::str Latin1(std::string_view text) {
    return py::reinterpret_steal<py::str>(
        PyUnicode_DecodeLatin1(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

// A new 1-D array of n items of type descr, made through numpy's C API: for
// the short calls of a probabilistic host, the making of the result arrays is
// most of the cost a call adds to the model's.
py::array NewArray(const py::dtype& descr, std::size_t n) {
    const auto& api = py::detail::npy_api::get();
    const Py_intptr_t dims[1] = {static_cast<Py_intptr_t>(n)};
    descr.inc_ref();  // stolen by PyArray_NewFromDescr
    PyObject* array =
        api.PyArray_NewFromDescr_(api.PyArray_Type_, descr.ptr(), 1, dims, nullptr, nullptr, 0, nullptr);
    if (array == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::array>(array);
}

// The status names of the steps as a numpy unicode array.
py::array StatusArray(std::span<const qav::StepOutcome> outcomes) {
    py::array status = NewArray(shared->status, outcomes.size());
    auto* out = static_cast<char32_t*>(status.mutable_data());
    const std::size_t width = shared->statusChars;
    std::memset(static_cast<void*>(out), 0, outcomes.size() * width * sizeof(char32_t));
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const std::u32string& text = shared->statusText[static_cast<std::size_t>(outcomes[i])];
        std::memcpy(static_cast<void*>(out + i * width), text.data(), text.size() * sizeof(char32_t));
    }
    return status;
}

// The messages of the steps as a numpy object array of str; steps with the
// same text as the step before share its str (most steps write none, or the
// same one).
py::array ObjectArray(std::span<const std::string> texts) {
    py::array array = NewArray(shared->object, texts.size());
    auto** items = static_cast<PyObject**>(array.mutable_data());
    PyObject* last = nullptr;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyObject* text = nullptr;
        if (last != nullptr && texts[i] == texts[i - 1]) {
            Py_INCREF(last);
            text = last;
        } else {
            text = Latin1(texts[i]).release().ptr();
        }
        Py_XDECREF(items[i]);
        items[i] = text;
        last = text;
    }
    return array;
}

// Switches the calling thread's log off when it goes, even on an exception.
struct LogOffAfter {
    ~LogOffAfter() { qav::InitLog(0, ""); }
};

// threads=None: every core, as qav run uses.
unsigned ThreadCount(py::handle threadCount) {
    // Asked once: the count is read from the system, too slow for every short call.
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (threadCount.is_none()) return cores;
    if (const auto count = WholeNumber(threadCount); count && *count >= 1 && *count <= 4096) {
        return static_cast<unsigned>(*count);
    }
    throw py::value_error("threads must be a whole number from 1 to 4096 or None (every core), got " +
                          Repr(threadCount));
}

// The per-step outcomes and messages of a run, kept by each thread between
// its calls when the run is short (a host's one-step calls then allocate none).
struct StepRecords {
    static constexpr std::size_t Kept = 1024;
    std::vector<qav::StepOutcome> outcomes;
    std::vector<std::string> messages;
    std::vector<std::string> notes;
};

// A long run goes in pieces of about a tenth of a second each, the GIL
// released while a piece runs and taken between pieces: a pending signal
// (Ctrl-C) then raises its exception (KeyboardInterrupt) within a second, and a
// progress callback hears of the steps done. A time step's result does not
// depend on the steps beside it nor on the threads, so the pieces give the
// numbers of one call; the run's code and last message are those of the
// whole. One Pacer serves a call of the module (a run, or a block of sections).
class Pacer {
public:
    // progress: None, or a callable (steps done, steps in all) called between pieces.
    Pacer(py::object progress, std::size_t total) : progress_(std::move(progress)), total_(total) {}

    // Runs input into output (whose Outcomes it needs) with the GIL held on
    // entry; returns the run's code. Raises what a signal handler raises.
    int Run(const qav::RunInput& input, const qav::RunOutput& output, qav::MessageBuffer message,
            qav::RunOptions options) {
        const std::size_t n = input.Hm0.size();
        // Threads take their share of the steps only when the share is worth a thread's start.
        options.Threads = static_cast<unsigned>(
            std::clamp<std::size_t>(n / MinStepsPerThread, 1, std::max(1u, options.Threads)));
        if (n <= FirstPiece && progress_.is_none()) {
            int code = 0;
            {
                py::gil_scoped_release release;
                code = qav::RollerModel5(input, output, message, options);
            }
            Done(n);
            return code;
        }
        std::size_t failures = 0;
        std::string last;
        for (std::size_t begin = 0; begin < n;) {
            const std::size_t count = std::min(n - begin, NextPiece(options.Threads));
            const qav::RunInput partInput = Part(input, begin, count);
            const qav::RunOutput partOutput = Part(output, begin, count);
            const auto start = std::chrono::steady_clock::now();
            int code = 0;
            {
                py::gil_scoped_release release;
                code = qav::RollerModel5(partInput, partOutput, message, options);
            }
            Timed(count, std::chrono::steady_clock::now() - start);
            if (!message.Trimmed().empty()) last.assign(message.Trimmed());
            const auto outcomes = partOutput.Outcomes;
            const bool refused =
                code != 0 && std::all_of(outcomes.begin(), outcomes.end(), [](qav::StepOutcome o) {
                    return o == qav::StepOutcome::NotTreated;
                });
            if (refused) {
                // The set-up was refused: the rest of the steps are refused alike, at once.
                {
                    py::gil_scoped_release release;
                    const std::size_t rest = n - begin - count;
                    qav::RollerModel5(Part(input, begin + count, rest), Part(output, begin + count, rest),
                                      message, options);
                }
                Done(n - begin);
                return -1;
            }
            for (const qav::StepOutcome outcome : outcomes) failures += qav::IsFailure(outcome) ? 1 : 0;
            begin += count;
            Done(count);
        }
        message.Replace(last);
        return qav::RunReturnCode(failures, n);
    }

private:
    void Done(std::size_t steps) {
        done_ += steps;
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (!progress_.is_none()) progress_(done_, total_);
    }

    static constexpr std::size_t FirstPiece = 256;
    static constexpr std::size_t MinStepsPerThread = 256;
    static constexpr double PieceSeconds = 0.1;

    std::size_t NextPiece(unsigned threads) const {
        if (stepsPerSecond_ <= 0.0) return FirstPiece * threads;
        const double steps = stepsPerSecond_ * PieceSeconds;
        return static_cast<std::size_t>(std::clamp(steps, double(MinStepsPerThread * threads), 1e9));
    }

    void Timed(std::size_t steps, std::chrono::steady_clock::duration took) {
        const double seconds = std::chrono::duration<double>(took).count();
        if (seconds > 0.0) stepsPerSecond_ = static_cast<double>(steps) / seconds;
    }

    static qav::RunInput Part(qav::RunInput input, std::size_t begin, std::size_t count) {
        input.Hm0 = input.Hm0.subspan(begin, count);
        input.Tp = input.Tp.subspan(begin, count);
        input.Wlev = input.Wlev.subspan(begin, count);
        input.IncomingWaveAngle = input.IncomingWaveAngle.subspan(begin, count);
        return input;
    }

    template <typename T>
    static std::span<T> Part(std::span<T> values, std::size_t begin, std::size_t count) {
        return values.empty() ? values : values.subspan(begin, count);
    }

    static qav::RunOutput Part(const qav::RunOutput& output, std::size_t begin, std::size_t count) {
        return {Part(output.Hm0Toe, begin, count),       Part(output.TpToe, begin, count),
                Part(output.WaveAngleToe, begin, count), Part(output.Outcomes, begin, count),
                Part(output.Messages, begin, count),     Part(output.EnergyClamped, begin, count)};
    }

    py::object progress_;
    std::size_t total_;
    std::size_t done_ = 0;
    double stepsPerSecond_ = 0.0;
};

// The RunResult of a run: the package's class, built as a tuple of the class
// is (tuple.__new__), without a call through Python.
py::object MakeRunResult(std::initializer_list<py::handle> fields) {
    PyObject* type = shared->runResult.ptr();
    const auto n = static_cast<Py_ssize_t>(fields.size());
    PyObject* result = type != nullptr ? reinterpret_cast<PyTypeObject*>(type)->tp_alloc(
                                             reinterpret_cast<PyTypeObject*>(type), n)
                                       : PyTuple_New(n);
    if (result == nullptr) throw py::error_already_set();
    Py_ssize_t i = 0;
    for (const py::handle field : fields) PyTuple_SET_ITEM(result, i++, field.inc_ref().ptr());
    return py::reinterpret_steal<py::object>(result);
}

// qav.run's work, its arguments positional (CallArguments): log_file is bytes
// or None, then threads (None: every core) and progress (None or a callable of
// the steps done and in all).
py::object Run(PyObject* const* args) {
    const CallArgs at{args};
    const py::handle hm0 = at[Argument::Hm0], tp = at[Argument::Tp], wlev = at[Argument::Wlev],
                     angle = at[Argument::IncomingWaveAngle], logFile = at[Argument::LogFileName];
    const auto* ndarray = py::detail::npy_api::get().PyArray_Type_;
    py::object index = py::none();
    if (shared->pandasIndex && (Py_TYPE(hm0.ptr()) != ndarray || Py_TYPE(tp.ptr()) != ndarray ||
                                Py_TYPE(wlev.ptr()) != ndarray || Py_TYPE(angle.ptr()) != ndarray)) {
        index = shared->pandasIndex(hm0, tp, wlev, angle);
    }
    const Vector h = AsVector(PythonName(Argument::Hm0), hm0, true);
    const Vector t = AsVector(PythonName(Argument::Tp), tp, true);
    const Vector w = AsVector(PythonName(Argument::Wlev), wlev, true);
    const Vector a = AsVector(PythonName(Argument::IncomingWaveAngle), angle, true);
    SameLengths({{PythonName(Argument::Hm0), &h},
                 {PythonName(Argument::Tp), &t},
                 {PythonName(Argument::Wlev), &w},
                 {PythonName(Argument::IncomingWaveAngle), &a}});
    Setting setting = MakeSetting(at);
    qav::RunInput& input = setting.input;
    input.Hm0 = h.values;
    input.Tp = t.values;
    input.Wlev = w.values;
    input.IncomingWaveAngle = a.values;
    std::string logName;
    if (!logFile.is_none()) logName = logFile.cast<std::string>();
    qav::RunOptions options;
    options.Threads = ThreadCount(py::handle(args[ThreadsAt]));

    const std::size_t n = h.values.size();
    py::array hm0Toe = NewArray(shared->float64Type, n);
    py::array tpToe = NewArray(shared->float64Type, n);
    py::array angleToe = NewArray(shared->float64Type, n);
    py::array clamped = NewArray(shared->boolType, n);
    py::array flags = NewArray(shared->uint8Type, n);
    thread_local StepRecords kept;
    StepRecords own;
    StepRecords& records = n <= StepRecords::Kept ? kept : own;
    records.outcomes.resize(n);
    records.messages.resize(n);
    const std::span<qav::StepOutcome> outcomes(records.outcomes.data(), n);
    const std::span<std::string> messages(records.messages.data(), n);
    qav::RunOutput output;
    if (n > 0) {
        output.Hm0Toe = {static_cast<double*>(hm0Toe.mutable_data()), n};
        output.TpToe = {static_cast<double*>(tpToe.mutable_data()), n};
        output.WaveAngleToe = {static_cast<double*>(angleToe.mutable_data()), n};
        output.Outcomes = outcomes;
        output.Messages = messages;
        // numpy's bool is one byte holding 0 or 1.
        output.EnergyClamped = {static_cast<std::uint8_t*>(clamped.mutable_data()), n};
    }
    std::array<char, qav::MessageLength> text;
    qav::MessageBuffer message(text.data(), text.size());
    int code = -1;
    if (logName.empty()) {
        // The thread's log off, as a C entry called without a log sets it.
        qav::InitLog(0, "");
        Pacer pacer(py::reinterpret_borrow<py::object>(args[ProgressAt]), n);
        code = pacer.Run(input, output, message, options);
    } else {
        // The log a host's call writes: the interface header, then the run,
        // in one piece so that the log holds one run.
        py::gil_scoped_release release;
        const LogOffAfter off;
        if (qav::InitLog(1, logName)) qav::LogInterfaceHeader(input, QAV_VERSION_TEXT);
        code = qav::RollerModel5(input, output, message, options);
    }
    // The library's judgement: each step's flags and note, the run's findings.
    auto* stepFlags = static_cast<std::uint8_t*>(flags.mutable_data());
    const auto* clampedSteps = static_cast<const std::uint8_t*>(clamped.data());
    py::list findings;
    records.notes.resize(n);
    {
        py::gil_scoped_release release;
        for (std::size_t i = 0; i < n; ++i) {
            stepFlags[i] = qav::JudgeStep(input, i, outcomes[i], clampedSteps[i] != 0);
            records.notes[i].clear();
            if (stepFlags[i] != 0)
                records.notes[i] = qav::StepNote(input, i, stepFlags[i], qav::Door::Python);
        }
    }
    qav::RunJudge judge(input);
    judge.AddSteps(input, 0);
    for (const qav::Finding& finding : judge.Findings(qav::Door::Python))
        findings.append(Latin1(finding.text));
    return MakeRunResult({hm0Toe, tpToe, angleToe, py::int_(code), Latin1(message.Trimmed()),
                          StatusArray(outcomes), ObjectArray(messages), clamped, index, flags,
                          ObjectArray(std::span<const std::string>(records.notes.data(), n)), findings});
}

// Python's entry of Run, called with its arguments in place (no argument
// list built, no overload looked up).
PyObject* RunEntry(PyObject*, PyObject* const* args, Py_ssize_t count) {
    if (count != RunArgumentCount) {
        PyErr_Format(PyExc_TypeError, "run() takes %zd positional arguments (%zd given)", RunArgumentCount,
                     count);
        return nullptr;
    }
    try {
        return Run(args).release().ptr();
    } catch (py::error_already_set& error) {
        error.restore();
    } catch (const py::builtin_exception& error) {
        error.set_error();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    }
    return nullptr;
}

// The model over a block of sections x time steps, for qav.xr: profiles x
// and z (sections x points, a shorter profile padded with NaN at the end),
// loads (sections x steps), and the settings (BlockSettings x sections x 1,
// or x steps where a setting changes along the steps).
// Returns float64 (5, sections, steps): Hm0, Tp and angle at the toe (NaN
// where the step failed), the position of the step's status in STATUS_NAMES
// and the step's flags; and the run findings, a list of (section's position,
// text). A section's steps run in one call as run() runs them (in pieces, see
// Pacer), split where its settings change.

py::tuple ToeBlock(
    const py::array_t<double, py::array::c_style>& x, const py::array_t<double, py::array::c_style>& z,
    const py::array_t<double, py::array::c_style>& hm0, const py::array_t<double, py::array::c_style>& tp,
    const py::array_t<double, py::array::c_style>& wlev, const py::array_t<double, py::array::c_style>& angle,
    const py::array_t<double, py::array::c_style>& settings, py::handle threadCount, py::object progress) {
    if (x.ndim() != 2 || z.ndim() != 2 || x.shape(0) != z.shape(0) || x.shape(1) != z.shape(1)) {
        throw py::value_error("x and z must be arrays of equal shape (sections, points)");
    }
    const auto sections = static_cast<std::size_t>(x.shape(0));
    const auto points = static_cast<std::size_t>(x.shape(1));
    for (const auto* load : {&hm0, &tp, &wlev, &angle}) {
        if (load->ndim() != 2 || static_cast<std::size_t>(load->shape(0)) != sections ||
            load->shape(1) != hm0.shape(1)) {
            throw py::value_error("the loads must be arrays of equal shape (sections, steps)");
        }
    }
    const auto steps = static_cast<std::size_t>(hm0.shape(1));
    if (settings.ndim() != 3 || static_cast<std::size_t>(settings.shape(0)) != Settings ||
        static_cast<std::size_t>(settings.shape(1)) != sections ||
        (settings.shape(2) != 1 && static_cast<std::size_t>(settings.shape(2)) != steps)) {
        throw py::value_error("the settings must be an array of shape (" + std::to_string(Settings) +
                              ", sections, 1 or steps)");
    }
    const auto stride = static_cast<std::size_t>(settings.shape(2));
    const double* set = settings.data();
    const auto setting = [&](std::size_t k, std::size_t s, std::size_t i) {
        return set[(k * sections + s) * stride + (stride == 1 ? 0 : i)];
    };
    for (std::size_t s = 0; s < sections; ++s) {
        for (std::size_t i = 0; i < stride; ++i) {
            const double code = setting(SettingOf(Argument::DamType), s, i);
            if (!(code == 0.0 || code == 1.0 || code == 2.0 || code == 3.0)) {
                throw py::value_error("dam_type must be 0 (none), 1 (caisson), 2 (wall) or 3 (dam), got " +
                                      py::str(py::float_(code)).cast<std::string>());
            }
        }
    }
    qav::RunOptions options;
    options.Threads = ThreadCount(threadCount);
    py::array_t<double> result(
        {py::ssize_t{5}, static_cast<py::ssize_t>(sections), static_cast<py::ssize_t>(steps)});
    double* out = result.mutable_data();
    std::vector<qav::StepOutcome> outcomes(steps);
    std::vector<std::uint8_t> clamped(steps);
    std::vector<std::pair<std::size_t, std::string>> said;
    std::array<char, qav::MessageLength> text;
    Pacer pacer(std::move(progress), sections * steps);
    qav::InitLog(0, "");
    for (std::size_t s = 0; s < sections; ++s) {
        const double* xs = x.data() + s * points;
        const double* zs = z.data() + s * points;
        std::size_t keep = points;
        while (keep > 0 && std::isnan(xs[keep - 1]) && std::isnan(zs[keep - 1])) --keep;
        const std::size_t row = s * steps;
        // Runs of steps with the same settings (bit for bit), each one call.
        for (std::size_t begin = 0; begin < steps;) {
            std::size_t end = stride == 1 ? steps : begin + 1;
            const auto same = [&](std::size_t i) {
                for (std::size_t k = 0; k < Settings; ++k) {
                    const double a = setting(k, s, begin), b = setting(k, s, i);
                    if (std::memcmp(&a, &b, sizeof a) != 0) return false;
                }
                return true;
            };
            while (end < steps && same(end)) ++end;
            const std::size_t count = end - begin;
            qav::RunInput input;
            input.ProfileX = {xs, keep};
            input.ProfileBottomLevel = {zs, keep};
            for (std::size_t k = 0; k < Settings; ++k)
                SetSetting(input, BlockSettings[k], setting(k, s, begin));
            input.Hm0 = {hm0.data() + row + begin, count};
            input.Tp = {tp.data() + row + begin, count};
            input.Wlev = {wlev.data() + row + begin, count};
            input.IncomingWaveAngle = {angle.data() + row + begin, count};
            double* hm0Toe = out + row + begin;
            double* tpToe = hm0Toe + sections * steps;
            double* angleToe = tpToe + sections * steps;
            double* status = angleToe + sections * steps;
            double* flags = status + sections * steps;
            qav::RunOutput output;
            output.Hm0Toe = {hm0Toe, count};
            output.TpToe = {tpToe, count};
            output.WaveAngleToe = {angleToe, count};
            output.Outcomes = {outcomes.data(), count};
            output.EnergyClamped = {clamped.data(), count};
            pacer.Run(input, output, qav::MessageBuffer(text.data(), text.size()), options);
            // The findings of the steps with these settings, each text once a section.
            qav::RunJudge judge(input);
            judge.AddSteps(input, begin);
            for (qav::Finding& finding : judge.Findings(qav::Door::Python)) {
                const bool known = std::any_of(said.begin(), said.end(), [&](const auto& f) {
                    return f.first == s && f.second == finding.text;
                });
                if (!known) said.emplace_back(s, std::move(finding.text));
            }
            for (std::size_t i = 0; i < count; ++i) {
                const auto k = static_cast<std::size_t>(outcomes[i]);
                flags[i] = qav::JudgeStep(input, i, outcomes[i], clamped[i] != 0);
                if (shared->failedName[k]) {
                    hm0Toe[i] = tpToe[i] = angleToe[i] = std::numeric_limits<double>::quiet_NaN();
                }
                status[i] = shared->statusIndex[k];
            }
            begin = end;
        }
    }
    py::list findings;
    for (const auto& [section, text] : said) findings.append(py::make_tuple(section, Latin1(text)));
    return py::make_tuple(result, findings);
}

// qav.transect's work, its arguments positional (CallArguments up to log_file).
py::tuple Trace(const py::args& args) {
    if (py::len(args) != static_cast<std::size_t>(TransectArgumentCount)) {
        throw py::type_error("transect() takes " + std::to_string(TransectArgumentCount) +
                             " positional arguments (" + std::to_string(py::len(args)) + " given)");
    }
    const CallArgs at{reinterpret_cast<PyTupleObject*>(args.ptr())->ob_item};
    const auto real = [&](Argument argument) { return Real(PythonName(argument), at[argument]); };
    const std::array<double, 4> step = {real(Argument::Hm0), real(Argument::Tp), real(Argument::Wlev),
                                        real(Argument::IncomingWaveAngle)};
    Setting setting = MakeSetting(at);
    qav::RunInput& input = setting.input;
    input.Hm0 = {&step[0], 1};
    input.Tp = {&step[1], 1};
    input.Wlev = {&step[2], 1};
    input.IncomingWaveAngle = {&step[3], 1};
    qav::Transect transect;
    {
        py::gil_scoped_release release;
        qav::InitLog(0, "");
        transect = qav::TraceTimeStep(input);
    }
    constexpr std::size_t Columns = sizeof(qav::TransectPoint) / sizeof(double);
    static_assert(Columns == 9 && std::is_standard_layout_v<qav::TransectPoint>);
    py::array_t<double> points(
        {static_cast<py::ssize_t>(transect.points.size()), static_cast<py::ssize_t>(Columns)});
    if (!transect.points.empty()) {
        std::memcpy(points.mutable_data(), transect.points.data(),
                    transect.points.size() * sizeof(qav::TransectPoint));
    }
    const qav::StepResult& toe = transect.toe;
    const int code = transect.setupCode != 0 || qav::IsFailure(toe.Outcome) ? -1 : 0;
    const std::uint8_t flags = qav::JudgeStep(input, 0, toe.Outcome, toe.EnergyClamped);
    qav::RunJudge judge(input);
    judge.AddSteps(input, 0);
    py::list findings;
    for (const qav::Finding& finding : judge.Findings(qav::Door::Python))
        findings.append(Latin1(finding.text));
    return py::make_tuple(code, Latin1(qav::OutcomeName(toe.Outcome)), Latin1(transect.message), toe.Hm0Toe,
                          toe.TpToe, toe.WaveAngleToe, toe.EnergyClamped, points, flags,
                          Latin1(qav::StepNote(input, 0, flags, qav::Door::Python)), findings);
}

// The summary of a run's results: codes are the steps' positions in
// STATUS_NAMES, flags their flags, hm0Toe their toe heights.
py::str RunSummaryText(const py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>& codes,
                       const py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>& flags,
                       const py::array_t<double, py::array::c_style | py::array::forcecast>& hm0Toe) {
    const auto n = static_cast<std::size_t>(codes.size());
    if (static_cast<std::size_t>(flags.size()) != n || static_cast<std::size_t>(hm0Toe.size()) != n) {
        throw py::value_error("codes, flags and hm0_toe must have equal lengths");
    }
    std::vector<qav::StepOutcome> outcomes(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t code = codes.data()[i];
        const auto found = std::find(shared->statusIndex.begin(), shared->statusIndex.end(), code);
        if (code < 0 || found == shared->statusIndex.end()) throw py::value_error("unknown status code");
        outcomes[i] = Outcomes[static_cast<std::size_t>(found - shared->statusIndex.begin())];
    }
    qav::RunJudge judge{qav::RunInput{}};
    judge.AddSteps(qav::RunInput{}, 0, outcomes, {flags.data(), n}, {hm0Toe.data(), n});
    return Latin1(judge.Summary().Text(qav::Door::Python));
}

py::tuple ValidateProfile(py::handle x, py::handle z) {
    const Vector xs = AsVector("x", x);
    const Vector zs = AsVector("z", z);
    SameLengths({{"x", &xs}, {"z", &zs}});
    std::string text(qav::MessageLength, ' ');
    qav::MessageBuffer message(text.data(), text.size());
    int code = -1;
    {
        py::gil_scoped_release release;
        qav::InitLog(0, "");
        code = qav::ValidateProfile(xs.values, zs.values, message);
    }
    return py::make_tuple(code, Latin1(message.Trimmed()));
}

py::tuple ValidateSeries(py::handle hm0, py::handle tp, py::handle wlev, py::handle angle,
                         py::handle invalidValue) {
    const Vector h = AsVector("hm0", hm0);
    const Vector t = AsVector("tp", tp);
    const Vector w = AsVector("wlev", wlev);
    const Vector a = AsVector("angle", angle);
    SameLengths({{"hm0", &h}, {"tp", &t}, {"wlev", &w}, {"angle", &a}});
    const double invalid = Real("invalid_value", invalidValue);
    std::string text(qav::MessageLength, ' ');
    qav::MessageBuffer message(text.data(), text.size());
    int code = -1;
    {
        py::gil_scoped_release release;
        qav::InitLog(0, "");
        code = qav::ValidateSeries(h.values, t.values, w.values, a.values, invalid, message);
    }
    return py::make_tuple(code, Latin1(message.Trimmed()));
}

// The reading rules of a call of read_profile or read_series, as qav's
// options give them: separator 0 (found from the file), ',', ';' or '\t';
// decimal 0 (auto), 1 ('.' only) or 2 (',' as well); columns (input, name in
// the file); missing values of a series an error or the invalid value.
qav::files::CsvOptions CsvOptionsOf(int separator, int decimal,
                                    const std::vector<std::pair<std::string, std::string>>& columns,
                                    bool missingAsInvalid, double invalidValue) {
    qav::files::CsvOptions options;
    options.separator = static_cast<char>(separator);
    options.decimal = decimal == 1   ? qav::files::Decimal::Point
                      : decimal == 2 ? qav::files::Decimal::Comma
                                     : qav::files::Decimal::Auto;
    options.columns = columns;
    options.missing =
        missingAsInvalid ? qav::files::MissingValues::Invalid : qav::files::MissingValues::Error;
    options.invalidValue = invalidValue;
    return options;
}

py::array_t<double> ArrayOf(const std::vector<double>& values) {
    py::array_t<double> array(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), array.mutable_data());
    return array;
}

// A profile file read by qav's reader (qav::files), with its errors (qav.InputError).
py::tuple ReadProfileFile(const py::bytes& pathBytes, int separator, int decimal,
                          const std::vector<std::pair<std::string, std::string>>& columns) {
    const std::string path = pathBytes;
    qav::files::Profile profile;
    {
        py::gil_scoped_release release;
        profile = qav::files::ReadProfile(path, CsvOptionsOf(separator, decimal, columns, false, 0.0));
    }
    return py::make_tuple(ArrayOf(profile.x), ArrayOf(profile.z));
}

// A series file read whole by qav's reader: the four inputs.
py::tuple ReadSeriesFile(const py::bytes& pathBytes, int separator, int decimal,
                         const std::vector<std::pair<std::string, std::string>>& columns,
                         bool missingAsInvalid, double invalidValue) {
    const std::string path = pathBytes;
    qav::files::Series series;
    {
        py::gil_scoped_release release;
        series = qav::files::ReadSeries(
            path, CsvOptionsOf(separator, decimal, columns, missingAsInvalid, invalidValue));
    }
    const qav::files::SeriesBlock& rows = series.rows;
    return py::make_tuple(ArrayOf(rows.hm0), ArrayOf(rows.tp), ArrayOf(rows.wlev), ArrayOf(rows.angle));
}

void Initialise() {
    shared = new Shared();
    const py::module_ numpy = py::module_::import("numpy");
    const py::module_ numbers = py::module_::import("numbers");
    shared->asarray = numpy.attr("asarray");
    shared->ascontiguousarray = numpy.attr("ascontiguousarray");
    shared->float64 = numpy.attr("float64");
    shared->bool_ = numpy.attr("bool_");
    shared->maskedArray = py::module_::import("numpy.ma").attr("MaskedArray");
    shared->real = numbers.attr("Real");
    shared->integral = numbers.attr("Integral");
    for (std::size_t i = 0; i < Outcomes.size(); ++i) {
        const std::string_view name = qav::OutcomeName(Outcomes[i]);
        shared->statusText[i].assign(name.begin(), name.end());
        shared->statusChars = std::max(shared->statusChars, name.size());
    }
    shared->status = py::dtype("<U" + std::to_string(shared->statusChars));
    shared->object = py::dtype("O");
    shared->float64Type = py::dtype::of<double>();
    shared->boolType = py::dtype::of<bool>();
    shared->uint8Type = py::dtype::of<std::uint8_t>();
    std::vector<std::string_view> names;
    for (std::size_t i = 0; i < Outcomes.size(); ++i) {
        const std::string_view name = qav::OutcomeName(Outcomes[i]);
        const auto found = std::find(names.begin(), names.end(), name);
        shared->statusIndex[i] = static_cast<std::uint8_t>(found - names.begin());
        if (found == names.end()) names.push_back(name);
    }
    for (std::size_t i = 0; i < Outcomes.size(); ++i) {
        for (std::size_t k = 0; k < Outcomes.size(); ++k) {
            if (qav::IsFailure(Outcomes[k]) &&
                qav::OutcomeName(Outcomes[k]) == qav::OutcomeName(Outcomes[i])) {
                shared->failedName[i] = true;
            }
        }
    }
}

}  // namespace

PYBIND11_MODULE(_qav, m) {
    Initialise();
    m.doc() = "The compiled core of the qav package (use the functions of qav, not these).";
    static PyMethodDef runDefinition = {
        "run", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&RunEntry)), METH_FASTCALL,
        "Runs the model; see qav.run."};
    m.add_object("run", py::reinterpret_steal<py::object>(
                            PyCFunction_NewEx(&runDefinition, nullptr, m.attr("__name__").ptr())));
    m.def(
        "set_run_result",
        [](py::object type, py::object pandasIndex) {
            if (!PyType_Check(type.ptr()) ||
                !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type.ptr()), &PyTuple_Type)) {
                throw py::type_error("the result of run() must be a class of tuples");
            }
            shared->runResult = std::move(type);
            shared->pandasIndex = std::move(pandasIndex);
        },
        "The class run() returns its results in (qav.RunResult), and the function that finds the "
        "pandas index of the series (qav._pandas_index).");
    m.def("toe_block", &ToeBlock, "The model over a block of sections x time steps; see qav.xr.",
          py::arg("x"), py::arg("z"), py::arg("hm0"), py::arg("tp"), py::arg("wlev"), py::arg("angle"),
          py::arg("settings"), py::arg("threads"), py::arg("progress"));
    m.def("transect", &Trace, "Traces one time step; see qav.transect.");
    // The compiled run's and the block's positional arguments, by name, for
    // the package to pass them in that order.
    py::list runArguments(NamesOf(CallArguments));
    for (const char* name : RunOwnArguments) runArguments.append(name);
    m.attr("RUN_ARGUMENTS") = py::tuple(runArguments);
    m.attr("BLOCK_SETTINGS") = NamesOf(BlockSettings);
    m.def("run_summary", &RunSummaryText, "The summary of a run's results; see qav.RunResult.");
    py::list flagNames;
    py::list flagMasks;
    for (const qav::StepFlagName& flag : qav::StepFlagNames) {
        flagNames.append(Latin1(flag.name));
        flagMasks.append(flag.mask);
    }
    m.attr("FLAG_NAMES") = py::tuple(flagNames);
    m.attr("FLAG_MASKS") = py::tuple(flagMasks);
    m.def("validate_profile", &ValidateProfile, "Checks a profile; see qav.validate_profile.");
    m.def("validate_series", &ValidateSeries, "Checks a series; see qav.validate_series.");
    py::register_exception<qav::files::FileError>(m, "InputError", PyExc_ValueError);
    m.def("read_profile", &ReadProfileFile, "Reads a profile file; see qav.read_profile.");
    m.def("read_series", &ReadSeriesFile, "Reads a series file; see qav.read_series.");
    m.def(
        "version", [] { return std::string(QAV_VERSION_TEXT); }, "The library version.");
    m.def(
        "lost_log_lines", [] { return qav::LostLogLines(); },
        "The lines the calling thread's last logged run could not write to its log.");
    m.def(
        "march_path", [] { return std::string(qav::MarchPathInUse()); },
        "The march the calling thread's runs take on this processor.");
    py::list statusNames;
    for (const qav::StepOutcome outcome : Outcomes) {
        const py::str name = Latin1(qav::OutcomeName(outcome));
        if (!statusNames.contains(name)) statusNames.append(name);
    }
    m.attr("STATUS_NAMES") = py::tuple(statusNames);
    py::list failures;
    for (const qav::StepOutcome outcome : Outcomes) {
        const py::str name = Latin1(qav::OutcomeName(outcome));
        if (qav::IsFailure(outcome) && !failures.contains(name)) failures.append(name);
    }
    m.attr("FAILED_STATUS_NAMES") = py::tuple(failures);
    py::dict dams;
    for (std::size_t i = 0; i < DamNames.size(); ++i) dams[Latin1(DamNames[i])] = static_cast<int>(i);
    m.attr("DAM_TYPES") = dams;
    m.attr("MESSAGE_LENGTH") = qav::MessageLength;
}
