// SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
// SPDX-License-Identifier: LGPL-2.1-or-later

// The Python 3.7 extension module "orvelupdatechecks". Its initialisation is
// written out rather than taken from the binding library's macro, so that the
// import messages and the registration are exactly ours.

#include "UpdateValidatorManagerWrapperAptArgs.h"

#include <pybind11/stl.h>

#include <cstdio>
#include <exception>

namespace py = pybind11;

namespace {

// Binds a method of the wrapper. An instance made by __new__ alone, whose
// __init__ never ran, has only uninitialised memory behind it, and the
// binding library hands that to us as if it were a wrapper. Only a
// constructed wrapper is registered with the binding library, so the call
// is a TypeError instead of a crash.
template <typename Result, typename... Args>
auto method(Result (UpdateValidatorManagerWrapperAptArgs::*function)(Args...))
{
    return [function](UpdateValidatorManagerWrapperAptArgs* self, Args... args) -> Result {
        if (!py::detail::get_object_handle(self,
                                           py::detail::get_type_info(typeid(UpdateValidatorManagerWrapperAptArgs))))
            throw py::type_error("UpdateValidatorAptArgs.__init__() has not been called");
        return (self->*function)(std::forward<Args>(args)...);
    };
}

const char* const initDoc = "__init__(self, args: Sequence[Union[str, bytes]], /) -> None\n"
                            "\n"
                            "Takes the apt arguments of the pending operation: apt's configuration options\n"
                            "as apt-cache takes them (-o Key=Value, -c FILE, -t RELEASE, ...), each a str or\n"
                            "bytes (bytes reach apt as they are).\n"
                            "\n"
                            "The constructor already does the work of asking: it reads the installed release\n"
                            "and asks apt, through apt-cache and apt-get, for the offered versions and the\n"
                            "releases of the configured sources (some tens of milliseconds, up to 30 seconds\n"
                            "per query when apt hangs). No logger exists yet, so what goes wrong then (apt's\n"
                            "errors included) is logged nowhere; it still shows in validate()'s answer and\n"
                            "in get_refusals() (rule \"versions-unknown\", with apt's first error line in\n"
                            "\"apt_error\"). A failing apt raises nothing: the update is refused.\n"
                            "\n"
                            "Arguments are positional only: a call with keywords raises TypeError.\n"
                            "Raises TypeError for arguments that are not a list of str or bytes, and when\n"
                            "called a second time on the same object (make a new one for other arguments).\n"
                            "\n"
                            "Every method holds the interpreter lock while it runs, apt's queries included:\n"
                            "other Python threads (a GUI, a watchdog) wait until it returns.";

// The binding library ignores a second __init__ in silence, which would
// leave the first arguments and verdict in place: it is a TypeError.
void refuseSecondInit(py::class_<UpdateValidatorManagerWrapperAptArgs>& type)
{
    const py::object construct = type.attr("__init__");
    type.attr("__init__") = py::cpp_function(
        [construct, type](py::handle self, py::object args) {
            if (py::isinstance(self, type)
                && reinterpret_cast<py::detail::instance*>(self.ptr())
                       ->get_value_and_holder(py::detail::get_type_info(typeid(UpdateValidatorManagerWrapperAptArgs)))
                       .holder_constructed())
                throw py::type_error("UpdateValidatorAptArgs.__init__() was called already: make a new "
                                     "UpdateValidatorAptArgs for other apt arguments");
            construct(self, args);
        },
        // Not named "__init__": the binding library would take it for a
        // constructor and again ignore a second call before it runs.
        py::is_method(type), py::name("init"), py::arg("args"), py::pos_only(), initDoc);
}

void registerClass(py::module_& module)
{
    // The signatures are written in the docstrings: the generated ones
    // would name the binding's own types (handle, arg0).
    py::options options;
    options.disable_function_signatures();
    py::class_<UpdateValidatorManagerWrapperAptArgs> type(
        module, "UpdateValidatorAptArgs",
        "UpdateValidatorAptArgs(args: Sequence[Union[str, bytes]])\n"
        "\n"
        "Decides whether a pending apt operation may update this Orvel system: every\n"
        "offered version must keep the design and major version of the installed\n"
        "release, and every hotfix repository must belong to the installed or to an\n"
        "offered regular release. See __init__ for what construction already runs.");
    type.def(py::init<const std::vector<std::string>&>(), py::arg("args"), py::pos_only(), initDoc)
        .def("validate", method(&UpdateValidatorManagerWrapperAptArgs::validate),
             "validate(self) -> bool\n"
             "\n"
             "True when the update is linear and every offered hotfix is allowed. False\n"
             "too when a check could not be made (apt failed, the installed release is\n"
             "unknown): get_refusals() says which. The first call takes the sources from\n"
             "what apt answered to the constructor; each later call asks apt again.\n"
             "Raises nothing for a failing apt. Holds the interpreter lock throughout.")
        .def("initLogger", method(&UpdateValidatorManagerWrapperAptArgs::initLogger), py::arg("path"), py::arg("level"),
             py::pos_only(),
             "initLogger(self, path: Union[str, bytes], level: int, /) -> None\n"
             "\n"
             "Logs from now on (what validate() does; the constructor has run already) to\n"
             "the file at path, appending timestamped lines at and above level. The levels\n"
             "are this library's own, not those of Python's logging module:\n"
             "0 debug, 10 info, 20 warning, 30 error (logging.DEBUG is 10, logging.INFO 20).\n"
             "A file that cannot be opened loses the lines in silence; nothing is raised.")
        .def("get_invalid_sources", method(&UpdateValidatorManagerWrapperAptArgs::getInvalidSourcesList),
             "get_invalid_sources(self) -> List[str]\n"
             "\n"
             "Repository URLs that offer a version refused by the latest validate(), each\n"
             "once. Runs nothing.")
        .def("get_refusals", method(&UpdateValidatorManagerWrapperAptArgs::getRefusalsList),
             "get_refusals(self) -> List[Dict[str, Union[str, bool, List[str]]]]\n"
             "\n"
             "Why the latest validate() refused: one dict per refused version, with the keys\n"
             "check (\"linear\" or \"hotfix\"), rule (\"major-version-changed\",\n"
             "\"design-version-changed\", \"hotfix-not-allowed\", \"versions-unknown\",\n"
             "\"installed-version-unknown\"), version, installed, message (str), sources\n"
             "(list of str: URLs), package_files (list of str: the same sources as\n"
             "\"URL suite/component\"), sources_known (False when apt could not list the\n"
             "sources) and\n"
             "apt_error (apt's first error line for \"versions-unknown\", else \"\").\n"
             "Runs nothing.");
    refuseSecondInit(type);
}

} // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_orvelupdatechecks()
{
    int major = 0;
    int minor = 0;
    if (std::sscanf(Py_GetVersion(), "%i.%i", &major, &minor) != 2) {
        PyErr_SetString(PyExc_ImportError, "Can't parse Python version.");
        return nullptr;
    }
    if (major != PY_MAJOR_VERSION || minor != PY_MINOR_VERSION) {
        PyErr_Format(PyExc_ImportError,
                     "Python version mismatch: module was compiled for version %i.%i, "
                     "while the interpreter is running version %i.%i.",
                     PY_MAJOR_VERSION, PY_MINOR_VERSION, major, minor);
        return nullptr;
    }

    py::detail::get_internals();
    static PyModuleDef definition{};
    py::module_ module;
    try {
        module = py::module_::create_extension_module("orvelupdatechecks", nullptr, &definition);
    } catch (py::error_already_set& error) {
        error.restore();
        return nullptr;
    }
    // From here a failure releases the module with its handle.
    try {
        module.doc() = "Python bindings for liborvelupdatechecks";
        registerClass(module);
        return module.release().ptr();
    } catch (py::error_already_set& error) {
        PyErr_SetString(PyExc_ImportError, error.what());
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_ImportError, error.what());
    }
    return nullptr;
}
