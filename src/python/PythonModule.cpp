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
        if (!py::detail::get_object_handle(self, py::detail::get_type_info(typeid(UpdateValidatorManagerWrapperAptArgs))))
            throw py::type_error("UpdateValidatorAptArgs.__init__() has not been called");
        return (self->*function)(std::forward<Args>(args)...);
    };
}

const char* const initDoc =
    "Takes the apt command-line arguments of the pending operation (a list of str or bytes)\n"
    "and learns the installed and the offered versions.";

// The binding library ignores a second __init__ in silence, which would
// leave the first arguments and verdict in place: it is a TypeError.
void refuseSecondInit(py::class_<UpdateValidatorManagerWrapperAptArgs>& type)
{
    const py::object construct = type.attr("__init__");
    type.attr("__init__") = py::cpp_function(
        [construct, type](py::handle self, py::args args, py::kwargs kwargs) {
            if (py::isinstance(self, type)
                && reinterpret_cast<py::detail::instance*>(self.ptr())
                       ->get_value_and_holder(py::detail::get_type_info(typeid(UpdateValidatorManagerWrapperAptArgs)))
                       .holder_constructed())
                throw py::type_error("UpdateValidatorAptArgs.__init__() was called already: make a new "
                                     "UpdateValidatorAptArgs for other apt arguments");
            construct(self, *args, **kwargs);
        },
        // Not named "__init__": the binding library would take it for a
        // constructor and again ignore a second call before it runs.
        py::is_method(type), py::name("init"), initDoc);
}

void registerClass(py::module_& module)
{
    py::class_<UpdateValidatorManagerWrapperAptArgs> type(
        module, "UpdateValidatorAptArgs",
        "Decides whether a pending apt operation may update this Orvel system.");
    type.def(py::init<const std::vector<std::string>&>(),
             initDoc)
        .def("validate", method(&UpdateValidatorManagerWrapperAptArgs::validate),
             "True when the update is linear and every offered hotfix is allowed.")
        .def("initLogger", method(&UpdateValidatorManagerWrapperAptArgs::initLogger),
             "Logs from now on to the file at the given path, at and above the level\n"
             "(0 debug, 10 info, 20 warning, 30 error).")
        .def("get_invalid_sources", method(&UpdateValidatorManagerWrapperAptArgs::getInvalidSourcesList),
             "Repository URLs that offer a version refused by the latest validate(), each once.")
        .def("get_refusals", method(&UpdateValidatorManagerWrapperAptArgs::getRefusalsList),
             "Why the latest validate() refused: one dict per refused version, with the keys\n"
             "check, rule, version, installed, message (str), sources (list of str) and sources_known\n"
             "(False when apt could not list the sources).");
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
