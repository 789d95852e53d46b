// The _marlune extension module: argument binding, result objects and the
// translation of reader errors into Python exceptions. The only file that
// knows Python; the conversion itself lives in the core library. Written for
// the limited API of 3.12, so one build serves every later interpreter.
#define PY_SSIZE_T_CLEAN
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030C0000
#endif
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "marlune/markdown.hpp"
#include "py_ref.hpp"

namespace {

using marlune::python::PyRef;

// The first interpreter to import the module owns it; others are refused.
std::atomic<std::int64_t> owner_interpreter_id{-1};
// The module of the owning interpreter, kept for the life of the process.
PyObject* cached_module = nullptr;
// Raised for faults of the module itself; derived from BaseException so that
// ordinary `except Exception` handlers do not swallow a broken invariant.
PyObject* internal_fault_type = nullptr;

void raise_internal_fault(const char* message) {
    PyErr_SetString(internal_fault_type != nullptr ? internal_fault_type : PyExc_SystemError, message);
}

// The interpreter could not build a result object: show why, then fail as an
// internal fault.
std::nullptr_t fail_object_creation(const char* what) {
    if (PyErr_Occurred()) PyErr_Print();
    raise_internal_fault(what);
    return nullptr;
}

std::nullptr_t raise_hwp_error(const marlune::HwpError& error) {
    const std::string text = marlune::display_text(error);
    PyRef message(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (!message) return fail_object_creation("could not create the error message");
    PyErr_SetObject(PyExc_RuntimeError, message.get());
    return nullptr;
}

// The type's C-level name (tp_name, which the limited API does not expose):
// a type defined in C (its name cannot change) carries its module's name in
// front unless that is builtins; a class defined in Python keeps its bare name.
PyRef type_display_name(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    PyRef name(PyType_GetName(type));
    const bool from_c = (PyType_GetFlags(type) & Py_TPFLAGS_IMMUTABLETYPE) != 0;
    if (!name || !from_c) return name;
    PyRef module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    if (!module || !PyUnicode_Check(module.get())) return PyRef();
    if (PyUnicode_CompareWithASCIIString(module.get(), "builtins") == 0) return name;
    return PyRef(PyUnicode_FromFormat("%U.%U", module.get(), name.get()));
}

// Binds the single parameter `path` of a fast call with keywords and takes
// its UTF-8 bytes. On failure a TypeError (or the encoder's error) is set.
bool bind_path(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               std::string_view* path_bytes) {
    PyObject* path = nullptr;
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "%s() takes 1 positional argument but %zd were given", function, nargs);
        return false;
    }
    if (nargs == 1) path = args[0];
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_Size(kwnames) : 0;
    for (Py_ssize_t i = 0; i < nkw; ++i) {
        PyObject* key = PyTuple_GetItem(kwnames, i);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", function);
            return false;
        }
        if (PyUnicode_CompareWithASCIIString(key, "path") != 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
            return false;
        }
        if (path != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument 'path'", function);
            return false;
        }
        path = args[nargs + i];
    }
    if (path == nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: 'path'", function);
        return false;
    }
    if (!PyUnicode_Check(path)) {
        PyRef type_name = type_display_name(path);
        if (!type_name) return false;
        PyErr_Format(PyExc_TypeError, "%s() argument 'path' must be str, not %.200U", function, type_name.get());
        return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(path, &size);
    if (utf8 == nullptr) return false;  // UnicodeEncodeError passes through
    *path_bytes = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

// Binds `path`, runs the body and stops any C++ exception at the boundary.
template <class Body>
PyObject* guarded_call(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                       Body&& body) {
    std::string_view path;
    if (!bind_path(function, args, nargs, kwnames, &path)) return nullptr;
    try {
        return body(path);
    } catch (const std::exception& fault) {
        raise_internal_fault(fault.what());
    } catch (...) {
        raise_internal_fault("unknown internal fault");
    }
    return nullptr;
}

PyObject* markdown_result(std::string_view path) {
    auto markdown = marlune::hwp_to_markdown(path);
    if (!markdown) return raise_hwp_error(markdown.error());
    PyObject* text = PyUnicode_DecodeUTF8(markdown->data(), static_cast<Py_ssize_t>(markdown->size()), nullptr);
    if (text == nullptr) return fail_object_creation("could not create the Markdown string");
    return text;
}

PyObject* records_result(std::string_view path) {
    auto records = marlune::hwp_debug_records(path);
    if (!records) return raise_hwp_error(records.error());
    PyRef list(PyList_New(static_cast<Py_ssize_t>(records->size())));
    if (!list) return fail_object_creation("could not create the record list");
    Py_ssize_t index = 0;
    for (const auto& record : *records) {
        PyRef tuple(PyTuple_New(3));
        if (!tuple) return fail_object_creation("could not create a record tuple");
        PyObject* items[3] = {PyLong_FromLong(record.tag_id), PyLong_FromLong(record.level),
                              PyLong_FromUnsignedLongLong(record.size)};
        for (int k = 0; k < 3; ++k) PyTuple_SetItem(tuple.get(), k, items[k]);  // steals; null is allowed here
        if (items[0] == nullptr || items[1] == nullptr || items[2] == nullptr) {
            return fail_object_creation("could not create a record field");
        }
        PyList_SetItem(list.get(), index++, tuple.release());
    }
    return list.release();
}

PyObject* py_hwp_to_markdown(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded_call("hwp_to_markdown", args, nargs, kwnames, markdown_result);
}

PyObject* py_hwp_debug_records(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded_call("hwp_debug_records", args, nargs, kwnames, records_result);
}

PyMethodDef function_table[] = {
    {"hwp_to_markdown", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_hwp_to_markdown)),
     METH_FASTCALL | METH_KEYWORDS,
     "hwp_to_markdown(path)\n--\n\nHWP 파일을 Markdown 문자열로 변환한다."},
    {"hwp_debug_records", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_hwp_debug_records)),
     METH_FASTCALL | METH_KEYWORDS,
     "hwp_debug_records(path)\n--\n\n디버그용: 섹션 레코드의 (tag_id, level, size) 목록을 반환한다."},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_marlune",  // m_name
    "",          // m_doc
    0,           // m_size
    nullptr,     // m_methods: added by add_functions
    nullptr,     // m_slots
    nullptr,     // m_traverse
    nullptr,     // m_clear
    nullptr,     // m_free
};

// Appends name to the module's __all__, creating the list when missing.
int append_to_all(PyObject* module, PyObject* name) {
    PyRef all_ref(PyObject_GetAttrString(module, "__all__"));
    if (!all_ref) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
    }
    if (!all_ref) {
        all_ref = PyRef(PyList_New(0));
        if (!all_ref || PyObject_SetAttrString(module, "__all__", all_ref.get()) < 0) return -1;
    }
    return PyList_Append(all_ref.get(), name);
}

int add_functions(PyObject* module) {
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef& row : function_table) {
        PyRef function(PyCFunction_NewEx(&row, module, module_name.get()));
        if (!function) return -1;
        PyRef name(PyObject_GetAttrString(function.get(), "__name__"));
        if (!name || append_to_all(module, name.get()) < 0) return -1;
        if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return -1;
    }
    return 0;
}

}  // namespace

PyMODINIT_FUNC PyInit__marlune(void) {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    const std::int64_t id = PyInterpreterState_GetID(interpreter);
    if (id == -1) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "could not determine the interpreter id");
        return nullptr;
    }
    std::int64_t expected = -1;
    if (!owner_interpreter_id.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError, "marlune._marlune does not support subinterpreters");
        return nullptr;
    }
    if (cached_module != nullptr) return Py_NewRef(cached_module);

    if (internal_fault_type == nullptr) {
        internal_fault_type = PyErr_NewExceptionWithDoc(
            "marlune._marlune.InternalFault",
            "An internal fault of the converter (a broken invariant), never a property of the document.",
            PyExc_BaseException, nullptr);
        if (internal_fault_type == nullptr) return nullptr;
    }
    PyRef module(PyModule_Create2(&module_definition, 1013));
    if (!module) return nullptr;
    if (add_functions(module.get()) < 0) return nullptr;
    if (cached_module == nullptr) cached_module = module.release();
    return Py_NewRef(cached_module);
}
