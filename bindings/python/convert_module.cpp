// The _convert extension module: the faithful conversion for Python. Three
// phases that never mix: bind the source and options, convert with the
// interpreter lock released, build built-in results (Document, Image and the
// datetime values are made in Python). Built against the limited API; the
// module keeps its state per module object, no process-wide globals.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <expected>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "marlune/faithful.hpp"
#include "py_ref.hpp"

namespace {

using marlune::python::PyRef;

// Per-module state: the metadata keys, created once per module object.
struct ModuleState {
    PyObject* title;
    PyObject* subject;
    PyObject* author;
    PyObject* keywords;
    PyObject* comments;
    PyObject* last_saved_by;
    PyObject* created;
    PyObject* modified;
    PyObject* sections;
    PyObject* version;
    PyObject* format;
    PyObject* distribution;
    PyObject* unmapped_characters;
};

constexpr std::size_t state_key_count = sizeof(ModuleState) / sizeof(PyObject*);
constexpr const char* state_key_names[state_key_count] = {
    "title", "subject", "author", "keywords", "comments", "last_saved_by",
    "created", "modified", "sections", "version", "format", "distribution", "unmapped_characters",
};

// The state's keys as one span; empty before the state exists.
std::span<PyObject*> state_keys(PyObject* module) {
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    if (state == nullptr) return {};
    return std::span<PyObject*>(&state->title, state_key_count);
}

// ---- (1) Bind -------------------------------------------------------------

// The name of an object's type, for messages; nothing (an exception set)
// when it cannot be had.
PyRef type_name_of(PyObject* object) { return PyRef(PyType_GetName(Py_TYPE(object))); }

// The document as the caller gave it: a path's bytes (owned by a bytes object
// held here) or the caller's buffer, held until the conversion has finished.
class BoundSource {
public:
    BoundSource() noexcept = default;
    BoundSource(const BoundSource&) = delete;
    BoundSource& operator=(const BoundSource&) = delete;
    ~BoundSource() {
        if (has_buffer_) PyBuffer_Release(&buffer_);
    }

    bool bind(PyObject* source);

    bool is_path() const noexcept { return path_bytes_.get() != nullptr; }
    std::string_view path() const noexcept { return path_; }
    std::span<const std::uint8_t> bytes() const noexcept {
        return {static_cast<const std::uint8_t*>(buffer_.buf), static_cast<std::size_t>(buffer_.len)};
    }

private:
    bool bind_buffer(PyObject* source);
    bool bind_path(PyObject* source);

    PyRef path_bytes_;
    std::string_view path_;
    Py_buffer buffer_{};
    bool has_buffer_ = false;
};

bool is_document_buffer(PyObject* source) {
    return PyBytes_Check(source) || PyByteArray_Check(source) || PyMemoryView_Check(source);
}

bool is_path_like(PyObject* source) {
    return PyUnicode_Check(source) ||
           PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(source)), "__fspath__");
}

bool BoundSource::bind(PyObject* source) {
    if (is_document_buffer(source)) return bind_buffer(source);
    if (is_path_like(source)) return bind_path(source);
    PyRef type_name = type_name_of(source);
    if (!type_name) return false;
    PyErr_Format(PyExc_TypeError,
                 "argument 'source' must be str, os.PathLike, bytes, bytearray or memoryview, not %U",
                 type_name.get());
    return false;
}

bool BoundSource::bind_buffer(PyObject* source) {
    if (PyObject_GetBuffer(source, &buffer_, PyBUF_SIMPLE) < 0) return false;
    has_buffer_ = true;
    return true;
}

// str paths are encoded as the file system expects (surrogates escaped back
// to their bytes); bytes from __fspath__ are taken as the name as stored. A
// NUL is left in place: the core refuses it with the exact function's text.
bool BoundSource::bind_path(PyObject* source) {
    PyRef fspath(PyOS_FSPath(source));
    if (!fspath) return false;
    if (PyUnicode_Check(fspath.get())) {
        path_bytes_ = PyRef(PyUnicode_EncodeFSDefault(fspath.get()));
    } else {
        path_bytes_ = PyRef(fspath.release());
    }
    if (!path_bytes_) return false;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(path_bytes_.get(), &data, &size) < 0) return false;
    path_ = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

std::optional<marlune::TableMode> table_mode(std::string_view name) {
    if (name == "auto") return marlune::TableMode::Auto;
    if (name == "html") return marlune::TableMode::Html;
    if (name == "pipe") return marlune::TableMode::Pipe;
    return std::nullopt;
}

// The tables option by name; ValueError for any other.
bool set_table_mode(const char* name, marlune::ConvertOptions* options) {
    const auto mode = table_mode(name);
    if (!mode) {
        PyErr_Format(PyExc_ValueError, "tables must be 'auto', 'html' or 'pipe', not '%s'", name);
        return false;
    }
    options->tables = *mode;
    return true;
}

// The equations option by name; ValueError for any other.
bool set_equation_mode(const char* name, marlune::ConvertOptions* options) {
    const std::string_view mode = name;
    if (mode != "latex" && mode != "script") {
        PyErr_Format(PyExc_ValueError, "equations must be 'latex' or 'script', not '%s'", name);
        return false;
    }
    options->equations = mode == "latex" ? marlune::EquationMode::Latex : marlune::EquationMode::Script;
    return true;
}

// Options into the core's struct; CPython's own messages for wrong keywords
// and types. source is positional-only, everything else keyword-only.
bool bind_arguments(PyObject* args, PyObject* kwargs, PyObject** source, marlune::ConvertOptions* options,
                    const char* format = "O|$spppz#pspp:parse") {
    static const char* keywords[] = {"", "tables", "notes", "headers", "collect_images", "image_prefix", "metadata",
                                     "equations", "emphasis", "placeholders", nullptr};
    const char* tables = "auto";
    int notes = 1;
    int headers = 0;
    int collect_images = 0;
    const char* prefix = "";
    Py_ssize_t prefix_size = 0;
    int metadata = 1;
    const char* equations = "latex";
    int emphasis = 1;
    int placeholders = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), source,
                                     &tables, &notes, &headers, &collect_images, &prefix, &prefix_size,
                                     &metadata, &equations, &emphasis, &placeholders)) {
        return false;
    }
    if (!set_table_mode(tables, options) || !set_equation_mode(equations, options)) return false;
    options->notes = notes != 0;
    options->headers = headers != 0;
    options->collect_images = collect_images != 0;
    options->metadata = metadata != 0;
    options->emphasis = emphasis != 0;
    options->placeholders = placeholders != 0;
    if (prefix != nullptr) options->image_prefix.assign(prefix, static_cast<std::size_t>(prefix_size));
    return true;
}

// ---- (2) Convert ----------------------------------------------------------

// Releases the interpreter lock for its lifetime; reattaches even when the
// core throws, before any handler touches Python.
class LockReleased {
public:
    LockReleased() noexcept : state_(PyEval_SaveThread()) {}
    LockReleased(const LockReleased&) = delete;
    LockReleased& operator=(const LockReleased&) = delete;
    ~LockReleased() { PyEval_RestoreThread(state_); }

private:
    PyThreadState* state_;
};

// The code point of the UTF-8 sequence at text[k] and the sequence's length;
// nothing when it is ill-formed (a stray or missing continuation byte, an
// overlong form, a surrogate, a value past U+10FFFF).
std::optional<std::pair<char32_t, std::size_t>> utf8_code_point(std::string_view text, std::size_t k) noexcept {
    const auto lead = static_cast<std::uint8_t>(text[k]);
    if (lead < 0x80) return std::pair{char32_t{lead}, std::size_t{1}};
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC0 || lead >= 0xF8 || text.size() - k < length) return std::nullopt;
    char32_t point = lead & (0x7FU >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<std::uint8_t>(text[k + i]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        point = (point << 6) | (next & 0x3FU);
    }
    constexpr char32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) return std::nullopt;
    return std::pair{point, length};
}

// The UTF-16 code units of well-formed UTF-8, nothing for ill-formed. Made
// while the lock is released, they become a str with far less work under
// the lock than decoding the UTF-8 there: Hangul takes two bytes here
// against three.
std::optional<std::u16string> utf16_units(std::string_view text) {
    std::u16string units;
    bool well_formed = true;
    units.resize_and_overwrite(text.size(), [&](char16_t* out, std::size_t) {
        std::size_t written = 0;
        for (std::size_t k = 0; k < text.size();) {
            const auto decoded = utf8_code_point(text, k);
            if (!decoded) {
                well_formed = false;
                return std::size_t{0};
            }
            const auto [point, length] = *decoded;
            if (point >= 0x10000) {
                out[written++] = static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
                out[written++] = static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
            } else {
                out[written++] = static_cast<char16_t>(point);
            }
            k += length;
        }
        return written;
    });
    if (!well_formed) return std::nullopt;
    return units;
}

// A conversion's result, its Markdown already in UTF-16 when well-formed.
struct Conversion {
    marlune::ConvertedDocument document;
    std::optional<std::u16string> markdown_units;
};

marlune::Result<Conversion> run_conversion(const BoundSource& source, const marlune::ConvertOptions& options) {
    LockReleased unlocked;
    auto converted = source.is_path() ? marlune::convert_file(source.path(), options)
                                      : marlune::convert_bytes(source.bytes(), options);
    if (!converted) return std::unexpected(std::move(converted.error()));
    auto units = utf16_units(converted->markdown);
    // The UTF-8 text is not needed once its units are made: released here,
    // it is not held beside them and the str built from them.
    if (units) std::string().swap(converted->markdown);
    return Conversion{std::move(*converted), std::move(units)};
}

// ---- (3) Build ------------------------------------------------------------

// Text read from a document: ill-formed UTF-8 becomes U+FFFD, never an error.
PyObject* document_text(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

// The Markdown as a str: from its UTF-16 units when they were made.
PyObject* markdown_text(const Conversion& conversion) {
    if (!conversion.markdown_units) return document_text(conversion.document.markdown);
    const std::u16string& units = *conversion.markdown_units;
    int byte_order = std::endian::native == std::endian::little ? -1 : 1;
    return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(units.data()),
                                 static_cast<Py_ssize_t>(units.size() * sizeof(char16_t)), "strict", &byte_order);
}

bool set_item(PyObject* dict, PyObject* key, PyObject* value) {
    PyRef owned(value);
    return owned && PyDict_SetItem(dict, key, owned.get()) == 0;
}

bool set_text(PyObject* dict, PyObject* key, const std::optional<std::string>& text) {
    return !text || set_item(dict, key, document_text(*text));
}

bool set_time(PyObject* dict, PyObject* key, const std::optional<std::int64_t>& microseconds) {
    return !microseconds || set_item(dict, key, PyLong_FromLongLong(*microseconds));
}

bool set_count(PyObject* dict, PyObject* key, const std::optional<std::uint32_t>& count) {
    return !count || set_item(dict, key, PyLong_FromUnsignedLong(*count));
}

PyObject* metadata_dict(PyObject* module, const marlune::tree::Metadata& metadata) {
    const auto* keys = static_cast<ModuleState*>(PyModule_GetState(module));
    PyRef dict(PyDict_New());
    if (!dict) return nullptr;
    PyObject* d = dict.get();
    const bool built = set_text(d, keys->title, metadata.title) && set_text(d, keys->subject, metadata.subject) &&
                       set_text(d, keys->author, metadata.author) &&
                       set_text(d, keys->keywords, metadata.keywords) &&
                       set_text(d, keys->comments, metadata.comments) &&
                       set_text(d, keys->last_saved_by, metadata.last_saved_by) &&
                       set_time(d, keys->created, metadata.created) &&
                       set_time(d, keys->modified, metadata.modified) &&
                       set_item(d, keys->sections, PyLong_FromUnsignedLong(metadata.sections)) &&
                       set_item(d, keys->version, document_text(metadata.version)) &&
                       set_item(d, keys->format, document_text(metadata.format)) &&
                       (!metadata.distribution || set_item(d, keys->distribution, Py_NewRef(Py_True))) &&

                       set_count(d, keys->unmapped_characters, metadata.unmapped_characters);
    return built ? dict.release() : nullptr;
}

PyObject* image_tuple(const marlune::tree::BinaryItem& item) {
    PyRef name(document_text(item.name));
    PyRef media_type(document_text(item.media_type));
    PyRef data(PyBytes_FromStringAndSize(item.data.data(), static_cast<Py_ssize_t>(item.data.size())));
    if (!name || !media_type || !data) return nullptr;
    return PyTuple_Pack(3, name.get(), media_type.get(), data.get());
}

PyObject* image_list(const std::vector<marlune::tree::BinaryItem>& images) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(images.size())));
    if (!list) return nullptr;
    Py_ssize_t index = 0;
    for (const auto& item : images) {
        PyObject* tuple = image_tuple(item);
        if (tuple == nullptr || PyList_SetItem(list.get(), index++, tuple) < 0) return nullptr;
    }
    return list.release();
}

PyObject* text_list(const std::vector<std::string>& texts) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    if (!list) return nullptr;
    Py_ssize_t index = 0;
    for (const std::string& text : texts) {
        PyObject* item = document_text(text);
        if (item == nullptr || PyList_SetItem(list.get(), index++, item) < 0) return nullptr;
    }
    return list.release();
}

PyObject* document_tuple(PyObject* module, const Conversion& conversion) {
    const marlune::ConvertedDocument& document = conversion.document;
    PyRef markdown(markdown_text(conversion));
    if (!markdown) return nullptr;
    PyRef metadata(metadata_dict(module, document.metadata));
    if (!metadata) return nullptr;
    PyRef images(image_list(document.images));
    if (!images) return nullptr;
    return PyTuple_Pack(3, markdown.get(), metadata.get(), images.get());
}

// The one mapping of a reader error to Python: RuntimeError with the same text
// the exact function gives.
std::nullptr_t raise_hwp_error(const marlune::HwpError& error) {
    const std::string text = marlune::display_text(error);
    PyRef message(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (message) PyErr_SetObject(PyExc_RuntimeError, message.get());
    return nullptr;
}

// Runs body, turning any C++ exception into a Python one: none crosses the
// C API boundary.
template <class Body>
PyObject* guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& fault) {
        PyErr_Format(PyExc_SystemError, "marlune internal fault: %s", fault.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "marlune internal fault");
    }
    return nullptr;
}

// The source bound, converted without the interpreter lock, and the result
// built by build; a reader error raises RuntimeError.
template <class Build>
PyObject* convert_source(PyObject* source_object, const marlune::ConvertOptions& options, Build build) {
    BoundSource source;
    if (!source.bind(source_object)) return nullptr;
    auto converted = run_conversion(source, options);
    if (!converted) return raise_hwp_error(converted.error());
    return build(*converted);
}

PyObject* py_parse(PyObject* module, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* source_object = nullptr;
        marlune::ConvertOptions options;
        if (!bind_arguments(args, kwargs, &source_object, &options)) return nullptr;
        return convert_source(source_object, options, [module](const Conversion& conversion) {
            return document_tuple(module, conversion);
        });
    });
}

// The text pieces of the document's tree, for tests that check a rendering
// of the Markdown against them; parse's options.
PyObject* py_texts(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* source_object = nullptr;
        marlune::ConvertOptions options;
        if (!bind_arguments(args, kwargs, &source_object, &options, "O|$spppz#pspp:texts")) return nullptr;
        options.collect_texts = true;
        return convert_source(source_object, options, [](const Conversion& conversion) {
            return text_list(conversion.document.texts);
        });
    });
}

// convert's arguments from a vectorcall: the source by position only, then
// tables, notes, headers, equations, emphasis and placeholders by position or keyword, refused in CPython's own
// wording. Parsing them here rather than through a tuple and a dict keeps
// the work done under the interpreter lock small.
bool bind_convert_arguments(PyObject* const* args, Py_ssize_t positional, PyObject* keyword_names,
                            PyObject** source, marlune::ConvertOptions* options) {
    static constexpr const char* names[] = {"source", "tables", "notes", "headers", "equations", "emphasis",
                                            "placeholders"};
    constexpr Py_ssize_t count = std::size(names);
    if (positional > count) {
        PyErr_Format(PyExc_TypeError, "convert() takes at most %zd arguments (%zd given)", count, positional);
        return false;
    }
    PyObject* values[count] = {};
    std::copy_n(args, positional, values);
    const Py_ssize_t keywords = keyword_names == nullptr ? 0 : PyTuple_Size(keyword_names);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* name = PyTuple_GetItem(keyword_names, k);
        if (name == nullptr) return false;
        Py_ssize_t slot = 0;
        while (slot < count && PyUnicode_CompareWithASCIIString(name, names[slot]) != 0) ++slot;
        if (slot == 0) {
            PyErr_SetString(PyExc_TypeError,
                            "convert() got some positional-only arguments passed as keyword arguments: 'source'");
            return false;
        }
        if (slot == count) {
            PyErr_Format(PyExc_TypeError, "convert() got an unexpected keyword argument '%U'", name);
            return false;
        }
        if (values[slot] != nullptr) {
            PyErr_Format(PyExc_TypeError, "argument for convert() given by name ('%s') and position (%zd)",
                         names[slot], slot + 1);
            return false;
        }
        values[slot] = args[positional + k];
    }
    if (positional < 1) {
        PyErr_SetString(PyExc_TypeError, "convert() missing required argument 'source' (pos 1)");
        return false;
    }
    *source = values[0];
    for (const auto& [slot, set_mode] : {std::pair{1, &set_table_mode}, std::pair{4, &set_equation_mode}}) {
        PyObject* mode = values[slot];
        if (mode == nullptr) continue;
        if (!PyUnicode_Check(mode)) {
            PyRef type_name = type_name_of(mode);
            if (type_name) {
                PyErr_Format(PyExc_TypeError, "convert() argument '%s' must be str, not %U", names[slot],
                             type_name.get());
            }
            return false;
        }
        const char* name = PyUnicode_AsUTF8AndSize(mode, nullptr);
        if (name == nullptr || !set_mode(name, options)) return false;
    }
    for (const auto& [slot, flag] :
         {std::pair{2, &options->notes}, std::pair{3, &options->headers}, std::pair{5, &options->emphasis},
          std::pair{6, &options->placeholders}}) {
        if (values[slot] == nullptr) continue;
        const int truth = PyObject_IsTrue(values[slot]);
        if (truth < 0) return false;
        *flag = truth != 0;
    }
    return true;
}

// The Markdown alone, for marlune.convert without a picture folder: options
// may come positionally, no metadata or pictures read or built, so that as
// little as can be runs under the interpreter lock.
PyObject* py_convert(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* keyword_names) {
    return guarded([&]() -> PyObject* {
        PyObject* source_object = nullptr;
        marlune::ConvertOptions options;
        options.metadata = false;
        if (!bind_convert_arguments(args, nargs, keyword_names, &source_object, &options)) return nullptr;
        return convert_source(source_object, options, [](const Conversion& conversion) {
            return markdown_text(conversion);
        });
    });
}

// The translator on its own, for scripts held elsewhere.
PyObject* py_equation_to_latex(PyObject*, PyObject* script) {
    return guarded([&]() -> PyObject* {
        if (!PyUnicode_Check(script)) {
            PyRef type_name = type_name_of(script);
            if (type_name) {
                PyErr_Format(PyExc_TypeError, "equation_to_latex() argument must be str, not %U", type_name.get());
            }
            return nullptr;
        }
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(script, &size);
        if (text == nullptr) return nullptr;
        const std::string latex = marlune::equation_to_latex(std::string_view(text, static_cast<std::size_t>(size)));
        return PyUnicode_FromStringAndSize(latex.data(), static_cast<Py_ssize_t>(latex.size()));
    });
}

// For tests: the stored size from which compressed HWP sections are walked
// as they inflate; returns the size it replaces.
PyObject* py_set_streamed_section_bytes(PyObject*, PyObject* bytes) {
    const std::size_t size = PyLong_AsSize_t(bytes);
    if (size == static_cast<std::size_t>(-1) && PyErr_Occurred() != nullptr) return nullptr;
    return PyLong_FromSize_t(marlune::set_streamed_section_bytes(size));
}

// For tests: the run size HWPX sections are parsed in, larger elements as
// skeletons; returns the size it replaces.
PyObject* py_set_hwpx_run_bytes(PyObject*, PyObject* bytes) {
    const std::size_t size = PyLong_AsSize_t(bytes);
    if (size == static_cast<std::size_t>(-1) && PyErr_Occurred() != nullptr) return nullptr;
    return PyLong_FromSize_t(marlune::set_hwpx_run_bytes(size));
}

PyMethodDef module_functions[] = {
    {"convert", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_convert)), METH_FASTCALL | METH_KEYWORDS,
     "convert(source, /, tables='auto', notes=True, headers=False, equations='latex', emphasis=True, "
     "placeholders=True)\n--\n\n"
     "Converts an HWP or HWPX document (a path, or its bytes) and returns its Markdown only; the\n"
     "document's properties and pictures are not read. The interpreter lock is released while\n"
     "converting."},
    {"parse", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_parse)), METH_VARARGS | METH_KEYWORDS,
     "parse(source, /, *, tables='auto', notes=True, headers=False, collect_images=False, image_prefix='', "
     "metadata=True, equations='latex', emphasis=True, placeholders=True)\n--\n\n"
     "Converts an HWP or HWPX document (a path, or its bytes) and returns (markdown, metadata, images):\n"
     "metadata a dict with times as integer microseconds since the epoch, images a list of\n"
     "(name, media_type, data) tuples (empty unless collect_images). metadata=False leaves out the\n"
     "document's own properties, which are then not read. The interpreter lock is\n"
     "released while converting."},
    {"texts", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_texts)), METH_VARARGS | METH_KEYWORDS,
     "texts(source, /, *, tables='auto', notes=True, headers=False, collect_images=False, image_prefix='', "
     "metadata=True, equations='latex', emphasis=True, placeholders=True)\n--\n\n"
     "The text pieces the document's tree holds (paragraph texts cut at note marks, picture captions)\n"
     "from the parts the options render: what a reader of the Markdown must see. For tests."},
    {"equation_to_latex", py_equation_to_latex, METH_O,
     "equation_to_latex(script, /)\n--\n\n"
     "The equation editor's script (\"{a} over {b}\") as LaTeX (\"\\\\frac{a}{b}\"), on one line."},
    {"_set_streamed_section_bytes", py_set_streamed_section_bytes, METH_O,
     "_set_streamed_section_bytes(size, /)\n--\n\n"
     "For tests: compressed HWP sections stored in at least size bytes are walked as they inflate\n"
     "(0: every one); returns the size it replaces. The output is the same either way."},
    {"_set_hwpx_run_bytes", py_set_hwpx_run_bytes, METH_O,
     "_set_hwpx_run_bytes(size, /)\n--\n\n"
     "For tests: HWPX sections are parsed in runs of about size bytes, a larger element as a\n"
     "skeleton whose rest is parsed as it is walked; returns the size it replaces. The output is\n"
     "the same either way."},
    {nullptr, nullptr, 0, nullptr},
};

int module_exec(PyObject* module) {
    auto keys = state_keys(module);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        keys[i] = PyUnicode_InternFromString(state_key_names[i]);
        if (keys[i] == nullptr) return -1;
    }
    return 0;
}

int module_traverse(PyObject* module, visitproc visit, void* arg) {
    for (PyObject* key : state_keys(module)) Py_VISIT(key);
    return 0;
}

int module_clear(PyObject* module) {
    for (PyObject*& key : state_keys(module)) Py_CLEAR(key);
    return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "marlune._convert",
    "The faithful conversion of HWP and HWPX documents; see marlune.convert and marlune.parse.",
    sizeof(ModuleState),
    module_functions,
    module_slots,
    module_traverse,
    module_clear,
    module_free,
};

}  // namespace

PyMODINIT_FUNC PyInit__convert(void) { return PyModuleDef_Init(&module_definition); }
