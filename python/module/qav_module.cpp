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
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "common/message.h"
#include "common/run_input.h"
#include "model/model.h"
#include "qav/version.h"
#include "tools/input_files.h"

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
    py::object real;      // numbers.Real
    py::object integral;  // numbers.Integral
    py::object bool_;     // numpy.bool_
    py::dtype status;     // '<U<longest status name>'
    py::dtype object;     // 'O'
    std::size_t statusChars = 0;
    std::array<std::u32string, Outcomes.size()> statusText;
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
// converted (numpy.asarray, then made contiguous).
Vector AsVector(const char* name, py::handle value) {
    using Doubles = py::array_t<double, py::array::c_style>;
    if (Doubles::check_(value)) {
        auto array = py::reinterpret_borrow<py::array>(value);
        if (array.ndim() != 1) NotOneDimensional(name, array);
        if ((array.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_) != 0) return ViewOf(array);
    }
    py::object converted;
    try {
        converted = shared->asarray(value, shared->float64);
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_ValueError) && !error.matches(PyExc_TypeError)) throw;
        throw py::value_error(std::string(name) + " must be a 1-D sequence of numbers: " +
                              py::str(error.value()).cast<std::string>());
    }
    auto array = py::reinterpret_borrow<py::array>(converted);
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
    if (PyLong_CheckExact(value.ptr()) ||
        (!IsBool(value) && (PyLong_Check(value.ptr()) || py::isinstance(value, shared->integral)))) {
        const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
        if (!index) throw py::error_already_set();
        int overflow = 0;
        const long long code = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (overflow == 0 && code >= 0 && code <= 3) return static_cast<int>(code);
    }
    throw py::value_error("dam_type must be 0 (none), 1 (caisson), 2 (wall) or 3 (dam), got " + Repr(value));
}

// The profile, the structure and the model parameters of a call.
struct Setting {
    Vector x;
    Vector z;
    qav::RunInput input;
};

Setting MakeSetting(py::handle profileX, py::handle profileZ, py::handle dikeNormal, py::handle damType,
                    py::handle damHeight, py::handle ag, py::handle rho, py::handle alpha, py::handle fc,
                    py::handle ratioDepth, py::handle minStepSize, py::handle invalidValue) {
    Setting s;
    s.x = AsVector("profile_x", profileX);
    s.z = AsVector("profile_z", profileZ);
    SameLengths({{"profile_x", &s.x}, {"profile_z", &s.z}});
    s.input.ProfileX = s.x.values;
    s.input.ProfileBottomLevel = s.z.values;
    s.input.DikeNormal = Real("dike_normal", dikeNormal);
    s.input.DamHeight = Real("dam_height", damHeight);
    qav::ModelParameters& p = s.input.Parameters;
    p.Ag = Real("ag", ag);
    p.Rho = Real("rho", rho);
    p.Alpha = Real("alpha", alpha);
    p.Fc = Real("fc", fc);
    p.RatioDepth = Real("ratio_depth", ratioDepth);
    p.MinStepSize = Real("min_step_size", minStepSize);
    p.InvalidValue = Real("invalid_value", invalidValue);
    s.input.DamType = DamType(damType);
    return s;
}

py::str Latin1(std::string_view text) {
    return py::reinterpret_steal<py::str>(
        PyUnicode_DecodeLatin1(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

// The status names of the steps as a numpy unicode array.
py::array StatusArray(std::span<const qav::StepOutcome> outcomes) {
    py::array status(shared->status, py::array::ShapeContainer{static_cast<py::ssize_t>(outcomes.size())});
    auto* out = static_cast<char32_t*>(status.mutable_data());
    const std::size_t width = shared->statusChars;
    std::memset(static_cast<void*>(out), 0, outcomes.size() * width * sizeof(char32_t));
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const std::u32string& text = shared->statusText[static_cast<std::size_t>(outcomes[i])];
        std::memcpy(static_cast<void*>(out + i * width), text.data(), text.size() * sizeof(char32_t));
    }
    return status;
}

py::array ObjectArray(const std::vector<std::string>& texts) {
    py::array array(shared->object, py::array::ShapeContainer{static_cast<py::ssize_t>(texts.size())});
    auto** items = static_cast<PyObject**>(array.mutable_data());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyObject* old = items[i];
        items[i] = Latin1(texts[i]).release().ptr();
        Py_XDECREF(old);
    }
    return array;
}

// Switches the calling thread's log off when it goes, even on an exception.
struct LogOffAfter {
    ~LogOffAfter() { qav::InitLog(0, ""); }
};

py::tuple Run(py::handle profileX, py::handle profileZ, py::handle hm0, py::handle tp, py::handle wlev,
              py::handle angle, py::handle dikeNormal, py::handle damType, py::handle damHeight,
              py::handle ag, py::handle rho, py::handle alpha, py::handle fc, py::handle ratioDepth,
              py::handle minStepSize, py::handle invalidValue, py::handle logFile, py::handle threadCount) {
    const Vector h = AsVector("hm0", hm0);
    const Vector t = AsVector("tp", tp);
    const Vector w = AsVector("wlev", wlev);
    const Vector a = AsVector("angle", angle);
    SameLengths({{"hm0", &h}, {"tp", &t}, {"wlev", &w}, {"angle", &a}});
    Setting setting = MakeSetting(profileX, profileZ, dikeNormal, damType, damHeight, ag, rho, alpha, fc,
                                  ratioDepth, minStepSize, invalidValue);
    qav::RunInput& input = setting.input;
    input.Hm0 = h.values;
    input.Tp = t.values;
    input.Wlev = w.values;
    input.IncomingWaveAngle = a.values;
    std::string logName;
    if (!logFile.is_none()) logName = logFile.cast<std::string>();
    unsigned threads = 0;
    if (PyLong_Check(threadCount.ptr()) && !IsBool(threadCount)) {
        int overflow = 0;
        const long long count = PyLong_AsLongLongAndOverflow(threadCount.ptr(), &overflow);
        if (overflow == 0 && count >= 1 && count <= 4096) threads = static_cast<unsigned>(count);
    }
    if (threads == 0) {
        throw py::value_error("threads must be a whole number from 1 to 4096, got " + Repr(threadCount));
    }

    const std::size_t n = h.values.size();
    const auto count = static_cast<py::ssize_t>(n);
    py::array_t<double> hm0Toe(count);
    py::array_t<double> tpToe(count);
    py::array_t<double> angleToe(count);
    py::array_t<bool> clamped(count);
    std::vector<qav::StepOutcome> outcomes(n);
    std::vector<std::string> messages(n);
    qav::RunOutput output;
    if (n > 0) {
        output.Hm0Toe = {hm0Toe.mutable_data(), n};
        output.TpToe = {tpToe.mutable_data(), n};
        output.WaveAngleToe = {angleToe.mutable_data(), n};
        output.Outcomes = outcomes;
        output.Messages = messages;
        // numpy's bool is one byte holding 0 or 1.
        output.EnergyClamped = {reinterpret_cast<std::uint8_t*>(clamped.mutable_data()), n};
    }
    std::string text(qav::MessageLength, ' ');
    qav::MessageBuffer message(text.data(), text.size());
    qav::RunOptions options;
    options.Threads = threads;
    int code = -1;
    {
        py::gil_scoped_release release;
        if (logName.empty()) {
            // The thread's log off, as a C entry called without a log sets it.
            qav::InitLog(0, "");
            code = qav::RollerModel5(input, output, message, options);
        } else {
            // The log a host's call writes: the interface header, then the run.
            const LogOffAfter off;
            if (qav::InitLog(1, logName)) qav::LogInterfaceHeader(input, QAV_VERSION_TEXT);
            code = qav::RollerModel5(input, output, message, options);
        }
    }
    return py::make_tuple(hm0Toe, tpToe, angleToe, code, Latin1(message.Trimmed()), StatusArray(outcomes),
                          ObjectArray(messages), clamped);
}

py::tuple Trace(py::handle profileX, py::handle profileZ, py::handle hm0, py::handle tp, py::handle wlev,
                py::handle angle, py::handle dikeNormal, py::handle damType, py::handle damHeight,
                py::handle ag, py::handle rho, py::handle alpha, py::handle fc, py::handle ratioDepth,
                py::handle minStepSize, py::handle invalidValue) {
    const std::array<double, 4> step = {Real("hm0", hm0), Real("tp", tp), Real("wlev", wlev),
                                        Real("angle", angle)};
    Setting setting = MakeSetting(profileX, profileZ, dikeNormal, damType, damHeight, ag, rho, alpha, fc,
                                  ratioDepth, minStepSize, invalidValue);
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
    return py::make_tuple(code, Latin1(qav::OutcomeName(toe.Outcome)), Latin1(transect.message), toe.Hm0Toe,
                          toe.TpToe, toe.WaveAngleToe, toe.EnergyClamped, points);
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
    shared->real = numbers.attr("Real");
    shared->integral = numbers.attr("Integral");
    for (std::size_t i = 0; i < Outcomes.size(); ++i) {
        const std::string_view name = qav::OutcomeName(Outcomes[i]);
        shared->statusText[i].assign(name.begin(), name.end());
        shared->statusChars = std::max(shared->statusChars, name.size());
    }
    shared->status = py::dtype("<U" + std::to_string(shared->statusChars));
    shared->object = py::dtype("O");
}

}  // namespace

PYBIND11_MODULE(_qav, m) {
    Initialise();
    m.doc() = "The compiled core of the qav package (use the functions of qav, not these).";
    m.def("run", &Run, "Runs the model; see qav.run.");
    m.def("transect", &Trace, "Traces one time step; see qav.transect.");
    m.def("validate_profile", &ValidateProfile, "Checks a profile; see qav.validate_profile.");
    m.def("validate_series", &ValidateSeries, "Checks a series; see qav.validate_series.");
    py::register_exception<qav::files::FileError>(m, "InputError", PyExc_ValueError);
    m.def("read_profile", &ReadProfileFile, "Reads a profile file; see qav.read_profile.");
    m.def("read_series", &ReadSeriesFile, "Reads a series file; see qav.read_series.");
    m.def(
        "version", [] { return std::string(QAV_VERSION_TEXT); }, "The library version.");
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
