// SPDX-FileCopyrightText: 2026 The vemutils authors
// SPDX-License-Identifier: MIT

// vemutils._vemutils: the library's classes for Python. Every operation calls
// the library; nothing here restates a framing, file or splitting rule.
//
// Logging: the module links the real host logger (libvemlog, on log4cpp),
// as a C++ host does, and puts an appender on the "cHDLCFramer" category
// that hands each message to Python's logging under the same name. Before
// the framer can log, the category's priority is set from the Python
// logger's level, so a disabled level costs the library one priority check.

#include "crc.h"
#include "hdlc.h"
#include "properties.h"
#include "textutils.h"
#include "vemconfig.h"

#include "listing/frame.h"

#include <log4cpp/AppenderSkeleton.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

const char *const LOG_CATEGORY = "cHDLCFramer";

// ---- text and bytes at the edge ---------------------------------------------

// The bytes of a str as UTF-8, lone surrogates from surrogateescape turned
// back into the bytes they stand for.
std::string encode(const py::str &s)
{
    PyObject *b = PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogateescape");
    if (b == nullptr)
        throw py::error_already_set();
    std::string out(PyBytes_AS_STRING(b), static_cast<size_t>(PyBytes_GET_SIZE(b)));
    Py_DECREF(b);
    return out;
}

// Any bytes as a str: invalid UTF-8 becomes lone surrogates, so it survives
// a round trip through encode.
py::str decode(const char *s, size_t n)
{
    PyObject *u = PyUnicode_DecodeUTF8(s, static_cast<Py_ssize_t>(n), "surrogateescape");
    if (u == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(u);
}

py::str decode(const char *s)
{
    return decode(s, std::strlen(s));
}

// A read-only view of any contiguous bytes-like object (bytes, bytearray,
// memoryview, array of bytes).
class Bytes {
public:
    explicit Bytes(const py::object &o)
    {
        if (PyObject_GetBuffer(o.ptr(), &mView, PyBUF_SIMPLE) != 0)
            throw py::error_already_set();
    }
    ~Bytes() { PyBuffer_Release(&mView); }
    Bytes(const Bytes &) = delete;
    Bytes &operator=(const Bytes &) = delete;

    const unsigned char *data() const { return static_cast<const unsigned char *>(mView.buf); }
    size_t size() const { return static_cast<size_t>(mView.len); }

private:
    Py_buffer mView{};
};

// A separator: one character that stands for one byte.
char separator(const py::str &sep)
{
    const std::string b = encode(sep);
    if (b.size() != 1)
        throw py::value_error("a separator is one character of one byte, got " +
                              std::string(py::repr(sep)));
    return b[0];
}

// ---- logging ----------------------------------------------------------------

// logging.getLogger("cHDLCFramer"), kept for the life of the process: log4cpp
// may outlive the interpreter, so nothing here is released at exit.
py::object &pythonLogger()
{
    static auto *logger =
        new py::object(py::module_::import("logging").attr("getLogger")(LOG_CATEGORY));
    return *logger;
}

int pythonLevel(log4cpp::Priority::Value p)
{
    if (p <= log4cpp::Priority::ERROR)
        return 40;
    if (p <= log4cpp::Priority::WARN)
        return 30;
    if (p <= log4cpp::Priority::INFO) // NOTICE and INFO
        return 20;
    return 10;
}

// Hands every event of its category to the Python logger of the same name.
class PythonAppender : public log4cpp::AppenderSkeleton {
public:
    PythonAppender() : log4cpp::AppenderSkeleton("python-logging") {}
    void close() override {}
    bool requiresLayout() const override { return false; }
    void setLayout(log4cpp::Layout *layout) override { delete layout; }

protected:
    void _append(const log4cpp::LoggingEvent &event) override
    {
        if (Py_IsInitialized() == 0)
            return;
        py::gil_scoped_acquire gil;
        try {
            pythonLogger().attr("log")(pythonLevel(event.priority), event.message);
        } catch (py::error_already_set &e) {
            // A failing handler must not unwind through the framer.
            e.discard_as_unraisable(__func__);
        }
    }
};

void routeLogToPython()
{
    log4cpp::Category &category = log4cpp::Category::getInstance(LOG_CATEGORY);
    category.removeAllAppenders();
    category.addAppender(new PythonAppender()); // the category owns it
    category.setAdditivity(false);
}

// Lets through to log4cpp exactly what the Python logger would take now.
void followPythonLevel(log4cpp::Category &category)
{
    py::object &logger = pythonLogger();
    log4cpp::Priority::Value p = log4cpp::Priority::WARN;
    if (logger.attr("isEnabledFor")(10).cast<bool>())
        p = log4cpp::Priority::DEBUG;
    else if (logger.attr("isEnabledFor")(20).cast<bool>())
        p = log4cpp::Priority::INFO;
    if (category.getPriority() != p)
        category.setPriority(p);
}

// ---- framing ----------------------------------------------------------------

// One cHDLC with the counts of what it did not deliver.
class Framer final : public cHDLC {
public:
    Framer() = default;

    py::bytes frame(const py::object &payload)
    {
        Bytes src(payload);
        if (src.size() > static_cast<size_t>(INT32_MAX / 2 - 3))
            throw py::value_error("payload too long to frame");
        std::string out(2 * src.size() + 6, '\0');
        int n = 0;
        frameData(const_cast<unsigned char *>(src.data()), static_cast<int>(src.size()),
                  reinterpret_cast<unsigned char *>(out.data()), &n);
        out.resize(static_cast<size_t>(n));
        return py::bytes(out);
    }

    // The counts follow the receiver itself: a run discarded on reaching
    // its buffer's size is dropped there, and the tail it collects after
    // that fails its check at the flag like any other.
    py::list feed(const py::object &data)
    {
        Bytes in(data);
        followPythonLevel(category());
        py::list payloads;
        const unsigned long discards = mReceiver.discards();
        for (size_t i = 0; i < in.size(); ++i) {
            if (!mReceiver.take(in.data()[i]))
                continue;
            if (mReceiver.delivered()) {
                payloads.append(py::bytes(reinterpret_cast<const char *>(mReceiver.payload()),
                                          static_cast<size_t>(mReceiver.payloadLength())));
                ++mFrames;
            } else if (mReceiver.checkFailed()) {
                ++mCrcErrors;
            }
        }
        mDropped += mReceiver.discards() - discards;
        return payloads;
    }

    void discard() { mReceiver.reset(); }

    unsigned long frames() const { return mFrames; }
    unsigned long crcErrors() const { return mCrcErrors; }
    unsigned long dropped() const { return mDropped; }

private:
    frame::Receiver mReceiver{*this};
    unsigned long mFrames = 0;
    unsigned long mCrcErrors = 0;
    unsigned long mDropped = 0;
};

Framer *makeFramer()
{
    // The constructor logs "Creating Framer": the level must be right first.
    followPythonLevel(log4cpp::Category::getInstance(LOG_CATEGORY));
    return new Framer();
}

unsigned short crcRegister(const Bytes &data, unsigned short crc)
{
    for (size_t i = 0; i < data.size(); ++i)
        crc = cCrc::ccitt_crc16(data.data()[i], crc);
    return crc;
}

// ---- properties -------------------------------------------------------------

using Table = std::map<std::string, std::string>;

// The table of a cProperties, for the mapping views the class itself does
// not offer. An explicit instantiation may name a private member; the
// compiler still checks its name and type against properties.h.
Table cProperties::*tableMember();
template <Table cProperties::*M> struct TableAccess {
    friend Table cProperties::*tableMember() { return M; }
};
template struct TableAccess<&cProperties::mTable>;

const Table &tableOf(const cProperties &p)
{
    return p.*tableMember();
}

// Runs load with std::cout writing into a string, so that a failure's
// console message reaches no terminal from a Python process; returns that
// text. The library's own behaviour for C++ hosts is unchanged.
template <typename Load> std::string quietly(Load load, bool &ok)
{
    std::ostringstream text;
    std::streambuf *const old = std::cout.rdbuf(text.rdbuf());
    try {
        ok = load();
    } catch (...) {
        std::cout.rdbuf(old);
        throw;
    }
    std::cout.rdbuf(old);
    return text.str();
}

// The path as the bytes the OS takes (str, bytes or os.PathLike).
std::string fsPath(const py::object &path)
{
    py::bytes b = py::module_::import("os").attr("fsencode")(path);
    std::string s = b;
    if (s.find('\0') != std::string::npos)
        throw py::value_error("embedded null byte in path");
    return s;
}

// Raises the OSError subclass of errno, naming path.
[[noreturn]] void raiseOSError(int err, const py::object &path)
{
    errno = err;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
    throw py::error_already_set();
}

// Raises the OSError (FileNotFoundError, PermissionError, IsADirectoryError,
// ...) that reading path would meet, naming the path.
void checkReadable(const std::string &file, const py::object &path)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        raiseOSError(errno, path);
    struct stat st {};
    const bool dir = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    if (dir) // opens, but a read would fail
        raiseOSError(EISDIR, path);
}

class Properties {
public:
    explicit Properties(const py::object &path)
    {
        const std::string file = fsPath(path);
        checkReadable(file, path);
        bool ok = false;
        const std::string message = quietly([&] { return mTable.load(file.c_str()); }, ok);
        if (!ok) {
            // Gone or unreadable between the check and the load.
            PyErr_SetObject(PyExc_OSError, py::make_tuple(EIO, message, path).ptr());
            throw py::error_already_set();
        }
    }

    // The stored value, or null when key is absent (a NUL never is in a key).
    const char *find(const py::str &key)
    {
        const std::string k = encode(key);
        if (k.find('\0') != std::string::npos)
            return nullptr;
        return mTable.getString(k.c_str(), nullptr);
    }

    py::object get(const py::str &key, const py::object &def)
    {
        const char *v = find(key);
        return v ? py::object(decode(v)) : def;
    }

    py::object getInt(const py::str &key, const py::object &def)
    {
        if (find(key) == nullptr)
            return def;
        return py::int_(mTable.getInt(encode(key).c_str(), 0));
    }

    py::str item(const py::str &key)
    {
        const char *v = find(key);
        if (v == nullptr)
            throw py::key_error(std::string(py::repr(key)));
        return decode(v);
    }

    bool contains(const py::object &key)
    {
        return py::isinstance<py::str>(key) && find(key.cast<py::str>()) != nullptr;
    }

    size_t size() const { return tableOf(mTable).size(); }

    py::list keys() const
    {
        py::list out;
        for (const auto &kv : tableOf(mTable))
            out.append(decode(kv.first.data(), kv.first.size()));
        return out;
    }

    py::list values() const
    {
        py::list out;
        for (const auto &kv : tableOf(mTable))
            out.append(decode(kv.second.data(), kv.second.size()));
        return out;
    }

    py::list items() const
    {
        py::list out;
        for (const auto &kv : tableOf(mTable))
            out.append(py::make_tuple(decode(kv.first.data(), kv.first.size()),
                                      decode(kv.second.data(), kv.second.size())));
        return out;
    }

private:
    cProperties mTable;
};

// ---- configuration ----------------------------------------------------------

bool configLoad(const py::object &path)
{
    const std::string file = fsPath(path);
    bool ok = false;
    quietly([&] { return cConfig::load(file.c_str()); }, ok);
    return ok;
}

py::object configGet(const py::str &key, const py::object &def)
{
    const std::string k = encode(key);
    if (k.find('\0') != std::string::npos)
        return def;
    const char *v = cConfig::getString(k.c_str(), nullptr);
    return v ? py::object(decode(v)) : def;
}

py::object configGetInt(const py::str &key, const py::object &def)
{
    const std::string k = encode(key);
    if (k.find('\0') != std::string::npos || cConfig::getString(k.c_str(), nullptr) == nullptr)
        return def;
    return py::int_(cConfig::getInt(k.c_str(), 0));
}

// ---- splitting --------------------------------------------------------------

// Runs one of the parseList forms over a writable copy of s.
template <typename Parse> py::list split(const py::str &s, Parse parse)
{
    std::string text = encode(s);
    if (text.find('\0') != std::string::npos)
        throw py::value_error("embedded null character");
    char **list = parse(text.data());
    py::list out;
    try {
        for (char **t = list; *t != nullptr; ++t)
            out.append(decode(*t));
    } catch (...) {
        delete[] list;
        throw;
    }
    delete[] list;
    return out;
}

} // namespace

PYBIND11_MODULE(_vemutils, m)
{
    m.doc() = "The vemutils library: FCS-16, the HDLC-like framer, properties files, "
              "the process configuration and in-place splitting.";

    // The docstrings open with their Python signatures.
    py::options options;
    options.disable_function_signatures();

    routeLogToPython();

    m.attr("INIT_CRC") = cCrc::INIT_CRC;
    m.attr("GOOD_CRC") = cCrc::GOOD_CRC;
    m.attr("MAX_PAYLOAD") = frame::MAX_PAYLOAD;

    m.def(
        "fcs",
        [](const py::object &data) {
            Bytes b(data);
            return static_cast<unsigned short>(~crcRegister(b, cCrc::INIT_CRC));
        },
        py::arg("data"),
        "fcs(data: bytes) -> int\n\n"
        "The FCS-16 of data as a frame carries it (sent low byte first):\n"
        "fcs(b\"123456789\") == 0x906E.");
    m.def(
        "crc16",
        [](const py::object &data, long crc) {
            if (crc < 0 || crc > 0xFFFF)
                throw py::value_error("crc is a 16-bit register, 0 to 0xFFFF");
            Bytes b(data);
            return crcRegister(b, static_cast<unsigned short>(crc));
        },
        py::arg("data"), py::arg("crc") = cCrc::INIT_CRC,
        "crc16(data: bytes, crc: int = 0xFFFF) -> int\n\n"
        "The CRC register after running data through it from crc, with no final\n"
        "complement: crc16(b\"abc\") == 0x61DA. Over a whole frame, data and both\n"
        "FCS bytes, an intact one ends at GOOD_CRC (0xF0B8).");

    py::class_<Framer>(m, "Framer",
                       "Framer()\n\n"
                       "One HDLC-like framer (cHDLC): builds frames and receives a byte\n"
                       "stream, keeping the frame being received across feed() calls.\n"
                       "Frames carry 0 to 1021 payload bytes. One framer receives one\n"
                       "stream: feed it the chunks in order. Logs to the logging logger\n"
                       "'cHDLCFramer'.")
        .def(py::init(&makeFramer))
        .def("frame", &Framer::frame, py::arg("payload"),
             "frame(payload: bytes) -> bytes\n\n"
             "The whole frame for payload: 7E, payload and FCS (low byte first)\n"
             "stuffed, 7E. The receive state is not touched.")
        .def("feed", &Framer::feed, py::arg("data"),
             "feed(data: bytes) -> list[bytes]\n\n"
             "Receives data, a chunk of any size of the link's byte stream, and\n"
             "returns the payloads of the intact frames it completes, in order.\n"
             "A frame cut across chunks is completed by a later call. Frames\n"
             "failing the check add to crc_errors, overlong ones to dropped.")
        .def("reset", &Framer::discard,
             "reset() -> None\n\nDiscards any partly received frame and pending escape.")
        .def_property_readonly("frames", &Framer::frames,
                               "Intact frames delivered by feed() so far.")
        .def_property_readonly("crc_errors", &Framer::crcErrors,
                               "Frames that ended at a flag but failed the FCS check.")
        .def_property_readonly("dropped", &Framer::dropped,
                               "Frames discarded silently on reaching 1024 unstuffed bytes.");

    py::class_<Properties>(m, "Properties",
                           "Properties(path)\n\n"
                           "A key=value file loaded by the library's rules: the first '#'\n"
                           "starts a comment, the key ends at the first '=', nothing is\n"
                           "trimmed, the first occurrence of a key wins and lines over 255\n"
                           "characters are not used. Keys and values are str decoded as\n"
                           "UTF-8 with surrogateescape. Raises FileNotFoundError (or another\n"
                           "OSError) naming the path when the file cannot be read.")
        .def(py::init<const py::object &>(), py::arg("path"))
        .def("get", &Properties::get, py::arg("key"), py::arg("default") = py::none(),
             "get(key: str, default=None) -> str | None")
        .def("get_int", &Properties::getInt, py::arg("key"), py::arg("default") = 0,
             "get_int(key: str, default=0) -> int\n\n"
             "The value read like strtol(value, NULL, 10), saturated to 32 bits:\n"
             "'12abc' gives 12, '0x10' and '' give 0; default when key is absent.")
        .def("__getitem__", &Properties::item, py::arg("key"),
             "p[key] -> str: the value of key; KeyError when it is absent.")
        .def("__contains__", &Properties::contains, py::arg("key"), "key in p")
        .def("__len__", &Properties::size, "len(p): the number of keys.")
        .def(
            "__iter__", [](const Properties &p) { return py::iter(p.keys()); },
            "Keys in the table's order: bytes compared unsigned.")
        .def("keys", &Properties::keys, "keys() -> list[str], in the table's order")
        .def("values", &Properties::values, "values() -> list[str], in the table's order")
        .def("items", &Properties::items, "items() -> list[tuple[str, str]], in the table's order");

    py::class_<cConfig>(m, "Config",
                        "The process-wide configuration (cConfig): one properties file\n"
                        "loaded once; before that every lookup returns its default.")
        .def_static("load", &configLoad, py::arg("path"),
                    "load(path) -> bool\n\n"
                    "Loads path as the configuration. False when a configuration is\n"
                    "already loaded (path not opened) or the file cannot be read.")
        .def_static("get", &configGet, py::arg("key"), py::arg("default") = py::none(),
                    "get(key: str, default=None) -> str | None")
        .def_static("get_int", &configGetInt, py::arg("key"), py::arg("default") = 0,
                    "get_int(key: str, default=0) -> int");

    m.def(
        "split",
        [](const py::str &s, const py::str &sep) {
            const char c = separator(sep);
            return split(s, [c](char *t) { return cArgParser::parseList(t, c); });
        },
        py::arg("s"), py::arg("sep"),
        "split(s: str, sep: str) -> list[str]\n\n"
        "Splits at every sep: empty tokens kept, nothing trimmed, always one\n"
        "token more than separators (split('', ',') == ['']).");
    m.def(
        "split",
        [](const py::str &s, const py::str &sep1, const py::str &sep2) {
            const char c1 = separator(sep1);
            const char c2 = separator(sep2);
            return split(s, [c1, c2](char *t) { return cArgParser::parseList(t, c1, c2); });
        },
        py::arg("s"), py::arg("sep1"), py::arg("sep2"),
        "split(s: str, sep1: str, sep2: str) -> list[str]\n\n"
        "Splits a command word off at sep1, the rest at sep2, skipping\n"
        "whitespace before each token: split('cmd a,,b', ' ', ',') ==\n"
        "['cmd', 'a', '', 'b']; a blank s gives [].");
}
