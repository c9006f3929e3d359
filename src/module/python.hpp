// The one include of the interpreter's headers, and the few places where the
// supported CPython versions (3.6 to 3.15) differ.
#pragma once
#pragma GCC system_header  // the interpreter's headers are not ours to keep warning-free

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <frameobject.h>

// Fast calls: the vectorcall protocol came in 3.8 (under underscored names) and
// became public in 3.9; the method-descriptor flag lets the interpreter call a
// method without making a bound-method object first.
#if PY_VERSION_HEX >= 0x03090000
#define YOL_HAVE_VECTORCALL 1
#define YOL_TPFLAGS_VECTORCALL Py_TPFLAGS_HAVE_VECTORCALL
#define YOL_VECTORCALL_NARGS(n) PyVectorcall_NARGS(n)
#elif PY_VERSION_HEX >= 0x03080000
#define YOL_HAVE_VECTORCALL 1
#define YOL_TPFLAGS_VECTORCALL _Py_TPFLAGS_HAVE_VECTORCALL
#define YOL_VECTORCALL_NARGS(n) PyVectorcall_NARGS(n)
#else
#define YOL_HAVE_VECTORCALL 0
#endif

// One-argument and argument-less calls came in 3.9.
#if PY_VERSION_HEX < 0x03090000
static inline PyObject *PyObject_CallOneArg(PyObject *callable, PyObject *argument) {
    return PyObject_CallFunctionObjArgs(callable, argument, nullptr);
}
static inline PyObject *PyObject_CallNoArgs(PyObject *callable) {
    return PyObject_CallFunctionObjArgs(callable, nullptr);
}
#endif

// The exception being raised, taken off the thread and given back: one object
// from 3.12 on, where the (type, value, traceback) triple is deprecated.
#if PY_VERSION_HEX >= 0x030C0000
struct YolRaised {
    PyObject *exception = nullptr;
};
static inline YolRaised yol_take_raised() { return YolRaised{PyErr_GetRaisedException()}; }
static inline void yol_restore_raised(YolRaised &raised) {
    PyErr_SetRaisedException(raised.exception);
    raised.exception = nullptr;
}
static inline PyObject *yol_raised_value(const YolRaised &raised) { return raised.exception; }
static inline void yol_clear_raised(YolRaised &raised) { Py_CLEAR(raised.exception); }
#else
struct YolRaised {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
};
static inline YolRaised yol_take_raised() {
    YolRaised raised;
    PyErr_Fetch(&raised.type, &raised.value, &raised.traceback);
    PyErr_NormalizeException(&raised.type, &raised.value, &raised.traceback);
    if (raised.value && raised.traceback)
        PyException_SetTraceback(raised.value, raised.traceback);
    return raised;
}
static inline void yol_restore_raised(YolRaised &raised) {
    PyErr_Restore(raised.type, raised.value, raised.traceback);
    raised = YolRaised();
}
static inline PyObject *yol_raised_value(const YolRaised &raised) { return raised.value; }
static inline void yol_clear_raised(YolRaised &raised) {
    Py_CLEAR(raised.type);
    Py_CLEAR(raised.value);
    Py_CLEAR(raised.traceback);
}
#endif

#if PY_VERSION_HEX < 0x030900B1
static inline PyInterpreterState *yol_current_interpreter() { return PyThreadState_Get()->interp; }
#else
static inline PyInterpreterState *yol_current_interpreter() { return PyInterpreterState_Get(); }
#endif

// Since 3.12 the interpreter counts C recursion apart from Python frames, and
// only the Python frames against sys.getrecursionlimit(): the recursion
// guard counts the module's bodies against that limit itself.
#if PY_VERSION_HEX >= 0x030C0000
#define YOL_OWN_RECURSION_COUNT 1
#else
#define YOL_OWN_RECURSION_COUNT 0
#endif

// From 3.8 on an iterator over a dict also refuses a dict that has as many
// entries as when the walk started but other ones: it counts the entries it
// gives against that size.
#define YOL_DICT_ITERATION_COUNTS_ENTRIES (PY_VERSION_HEX >= 0x03080000)

// The version tag of `type` while it is valid, else 0. The interpreter gives a
// type a new tag after any change to it or to a base, and never reuses one.
static inline unsigned yol_type_version(PyTypeObject *type) {
#if PY_VERSION_HEX < 0x030C0000
    return PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
#else
    return type->tp_version_tag;
#endif
}

// Up to 3.11 every dict carries a version tag that changes whenever the dict
// does, from a counter of the whole process: no two states of any two dicts
// share a tag. From 3.12 it is deprecated, and later gone.
#if PY_VERSION_HEX < 0x030C0000
#define YOL_DICT_VERSION_TAGS 1
static inline uint64_t yol_dict_version(PyObject *dict) { return reinterpret_cast<PyDictObject *>(dict)->ma_version_tag; }
#else
#define YOL_DICT_VERSION_TAGS 0
#endif

// Whether an attribute known to be in the instance dictionary is read from
// the dictionary itself. On 3.12 the attributes are kept inline until the
// dictionary is made, which moves them out and ends the specialised loads of
// attributes and methods: there they are read by the generic lookup. 3.11
// keeps them inline too, but specialises no load on a class with a lookup of
// its own, which the module's classes have there: the first read makes the
// dictionary. From 3.13 on the dictionary shares the inline values.
#define YOL_READ_INSTANCE_DICT (PY_VERSION_HEX < 0x030C0000 || PY_VERSION_HEX >= 0x030D0000)

// From 3.12 on the attributes of an instance whose class manages its
// dictionary lie in an array of its own, each at the place that the keys
// shared by the class's instances give its name: on 3.12 until the
// dictionary is made, from 3.13 on until the dictionary (which shares the
// array) outgrows it. Those keys only ever grow, and every such array has
// room for all of them: a name keeps its place while the class keeps its
// keys. They are read where the layouts are known, those of 3.12 to 3.14
// (Include/internal/pycore_dict.h and pycore_object.h), each fixed for its
// series; later interpreters take the dictionary.
#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030F0000 && !defined(Py_GIL_DISABLED)
#define YOL_INLINE_VALUES 1
struct YolSharedKeys {
    Py_ssize_t refcnt;
    uint8_t log2_size, log2_index_bytes, kind;
    uint32_t version;
    Py_ssize_t usable, entry_count;
    char indices[];  // then the entries, each a key and an unused value
};
// The keys that a heap type keeps for its instances.
static inline const void *yol_cached_keys(PyTypeObject *heap_type) {
    return reinterpret_cast<PyHeapTypeObject *>(heap_type)->ht_cached_keys;
}
// The keys shared by the instances of `type`, or nullptr.
static inline const void *yol_shared_keys(PyTypeObject *type) {
#if PY_VERSION_HEX >= 0x030D0000
    constexpr unsigned long wanted = Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_HEAPTYPE | Py_TPFLAGS_INLINE_VALUES;
#else
    constexpr unsigned long wanted = Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_HEAPTYPE;
#endif
    if ((type->tp_flags & wanted) != wanted)
        return nullptr;
    const YolSharedKeys *keys = static_cast<const YolSharedKeys *>(yol_cached_keys(type));
    constexpr uint8_t kSplitKeys = 2;
    return keys && keys->kind == kSplitKeys ? keys : nullptr;
}
// The place of `name` (the very object) among shared keys, or -1.
static inline Py_ssize_t yol_shared_key_place(const void *shared, PyObject *name) {
    const YolSharedKeys *keys = static_cast<const YolSharedKeys *>(shared);
    PyObject *const *entries =
        reinterpret_cast<PyObject *const *>(keys->indices + (size_t(1) << keys->log2_index_bytes));
    for (Py_ssize_t place = 0; place < keys->entry_count; ++place)
        if (entries[2 * place] == name)
            return place;
    return -1;
}
// The attribute at `place` of `object`, an instance of a class with shared
// keys (borrowed), or nullptr when it has none there or its array no longer
// holds its attributes.
static inline PyObject *yol_inline_value(PyObject *object, Py_ssize_t place) {
#if PY_VERSION_HEX >= 0x030D0000
    struct Values {
        uint8_t capacity, size, embedded, valid;
        PyObject *values[1];
    };
    // The array follows the object's own fields.
    const Values *values = reinterpret_cast<const Values *>(reinterpret_cast<char *>(object) + Py_TYPE(object)->tp_basicsize);
    return values->valid && place < values->capacity ? values->values[place] : nullptr;
#else
    // The word before the collector's header holds the array's address less
    // one, or the dictionary once it is made.
    const uintptr_t tagged = reinterpret_cast<const uintptr_t *>(object)[-3];
    return tagged & 1 ? reinterpret_cast<PyObject *const *>(tagged + 1)[place] : nullptr;
#endif
}
#else
#define YOL_INLINE_VALUES 0
#endif

#if PY_VERSION_HEX < 0x030B0000
// Where the instance dictionary of `object` is kept, or nullptr; a positive
// offset, which most classes have, is read without the call.
static inline PyObject **yol_dict_pointer(PyObject *object) {
    const Py_ssize_t offset = Py_TYPE(object)->tp_dictoffset;
    return offset > 0 ? reinterpret_cast<PyObject **>(reinterpret_cast<char *>(object) + offset)
                      : _PyObject_GetDictPtr(object);
}
#endif

// The instance dictionary of `object` (a new reference), made if need be; or
// nullptr, with an exception set only when making it failed.
static inline PyObject *yol_instance_dict(PyObject *object) {
#if PY_VERSION_HEX >= 0x030B0000
    return Py_TYPE(object)->tp_dictoffset ? PyObject_GenericGetDict(object, nullptr) : nullptr;
#else
    PyObject **dict = yol_dict_pointer(object);
    if (!dict || !*dict)
        return nullptr;
    Py_INCREF(*dict);
    return *dict;
#endif
}

// From 3.12 on the interpreter specialises method loads on classes whose
// attribute lookup is its own __getattr__ hook, and on no other: the classes
// keep that hook there, and their __getattr__ is called through it.
#define YOL_KEEP_GETATTR_HOOK (PY_VERSION_HEX >= 0x030C0000)

#if PY_VERSION_HEX < 0x03070000
// Releases `held` after a failure, with the exception set aside while its
// finaliser may run.
static inline void yol_release_after_failure(PyObject *held) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Py_XDECREF(held);
    PyErr_Restore(type, value, traceback);
}

// What the descriptor `on_class` gives `object`, as the generic lookup takes
// it: 1 with the value in `found`; 0 when it raised AttributeError, which is
// cleared; -1 on any other error. Takes over the reference to `on_class`.
static inline int yol_descriptor_value(descrgetfunc get, PyObject *on_class, PyObject *object, PyObject **found) {
    PyObject *value = get(on_class, object, reinterpret_cast<PyObject *>(Py_TYPE(object)));
    if (!value && !PyErr_ExceptionMatches(PyExc_AttributeError)) {
        yol_release_after_failure(on_class);
        return -1;
    }
    if (!value)
        PyErr_Clear();
    Py_DECREF(on_class);
    *found = value;
    return value ? 1 : 0;
}
#endif

// Generic attribute lookup (type members, then the instance dictionary)
// without the __getattr__ fallback: 1 with a new reference in `found_value`,
// 0 when the attribute does not exist, -1 with an exception set.
static inline int yol_generic_getattr_found(PyObject *object, PyObject *name, PyObject **found_value) {
#if PY_VERSION_HEX >= 0x03070000
    *found_value = _PyObject_GenericGetAttrWithDict(object, name, nullptr, 1);
    return *found_value ? 1 : PyErr_Occurred() ? -1 : 0;
#else
    // The generic lookup of 3.6 spelled out, so that a miss raises nothing:
    // a data descriptor of the type, then the instance dictionary, then any
    // other attribute of the type.
    PyTypeObject *type = Py_TYPE(object);
    if (!type->tp_dict && PyType_Ready(type) < 0)
        return -1;
    PyObject *on_class = _PyType_Lookup(type, name);
    descrgetfunc get = nullptr;
    if (on_class) {
        Py_INCREF(on_class);  // the descriptor's own code may take it off the class
        get = Py_TYPE(on_class)->tp_descr_get;
        if (get && Py_TYPE(on_class)->tp_descr_set)
            return yol_descriptor_value(get, on_class, object, found_value);
    }
    PyObject **dict = yol_dict_pointer(object);
    if (dict && *dict) {
        PyObject *value = PyDict_GetItemWithError(*dict, name);
        if (value) {
            Py_INCREF(value);
            Py_XDECREF(on_class);
            *found_value = value;
            return 1;
        }
        if (PyErr_Occurred()) {
            yol_release_after_failure(on_class);
            return -1;
        }
    }
    if (!on_class)
        return 0;
    if (!get) {
        *found_value = on_class;
        return 1;
    }
    return yol_descriptor_value(get, on_class, object, found_value);
#endif
}

// The same: a new reference, or nullptr with no exception set when the
// attribute does not exist, or with one on error.
static inline PyObject *yol_generic_getattr_optional(PyObject *object, PyObject *name) {
#if PY_VERSION_HEX >= 0x03070000
    return _PyObject_GenericGetAttrWithDict(object, name, nullptr, 1);
#else
    PyObject *found = nullptr;
    return yol_generic_getattr_found(object, name, &found) > 0 ? found : nullptr;
#endif
}

// Stamps of the dicts that a fast path reads (the module namespace, the
// namespaces and class dicts of a standard module): a stamp of `dict` that
// differs from every stamp read before whenever the dict has changed since,
// so that a value borrowed from it stays valid while the stamp is the same.
// Up to 3.11 it is the dict's version tag; from 3.12 on (the tag is
// deprecated there and gone later) one dict watcher counts the changes of
// every dict watched here, so that a change of any of them changes the stamps
// of all. A dict that could not be watched (the interpreter has no watcher
// left) makes every stamp read afterwards a new one.
#if PY_VERSION_HEX >= 0x030C0000
inline uint64_t yol_watched_dict_changes = 0;
inline bool yol_every_dict_watched = true;

inline int yol_count_watched_dict_change(PyDict_WatchEvent, PyObject *, PyObject *, PyObject *) {
    ++yol_watched_dict_changes;
    return 0;
}

inline void yol_watch_dict(PyObject *dict) {
    static int watcher = -1;
    if (watcher < 0)
        watcher = PyDict_AddWatcher(yol_count_watched_dict_change);
    if (watcher < 0 || PyDict_Watch(watcher, dict) < 0) {
        PyErr_Clear();
        yol_every_dict_watched = false;
    }
    ++yol_watched_dict_changes;
}

inline uint64_t yol_dict_stamp(PyObject *) {
    return yol_every_dict_watched ? yol_watched_dict_changes : ++yol_watched_dict_changes;
}

// Whether every dict given to yol_watch_dict is watched: while it is, a stamp
// read twice without a change in between is the same.
inline bool yol_dicts_watched() { return yol_every_dict_watched; }
#else
inline void yol_watch_dict(PyObject *) {}

inline bool yol_dicts_watched() { return true; }

inline uint64_t yol_dict_stamp(PyObject *dict) { return reinterpret_cast<PyDictObject *>(dict)->ma_version_tag; }
#endif

// The dict behind a class's read-only __dict__ proxy, where assigning or
// deleting a class attribute stores or removes the entry: a new reference.
static inline PyObject *yol_type_dict(PyTypeObject *type) {
#if PY_VERSION_HEX >= 0x030C0000
    return PyType_GetDict(type);
#else
    Py_XINCREF(type->tp_dict);
    return type->tp_dict;
#endif
}

// The interpreter's optimisation level (-O): a global flag up to 3.11, kept in
// step with the configuration (and deprecated) in 3.12 and 3.13, and read
// from the configuration from 3.14 on, where it is fixed at start-up.
static inline bool yol_optimisation_on() {
#if PY_VERSION_HEX >= 0x030E0000
    static int level = -1;
    if (level < 0 && PyConfig_GetInt("optimization_level", &level) < 0) {
        PyErr_Clear();
        level = 0;
    }
    return level != 0;
#else
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return Py_OptimizeFlag != 0;
#pragma GCC diagnostic pop
#endif
}

// How many more levels of recursion the running thread may enter before the
// interpreter raises RecursionError, read without entering any. From 3.12 on
// the interpreter keeps its counts to itself: a fifth of
// sys.getrecursionlimit() stands for what is left, which keeps every walk
// bounded by it well inside the limit.
static inline int yol_recursion_headroom(PyThreadState *thread) {
#if PY_VERSION_HEX >= 0x030C0000
    (void)thread;
    return Py_GetRecursionLimit() / 5;
#elif PY_VERSION_HEX >= 0x030B0000
    return thread->recursion_remaining;
#else
    return Py_GetRecursionLimit() - thread->recursion_depth;
#endif
}

// The audit event that the interpreter's open() raises before it opens
// `path` with `flags` for reading ("r"): audit hooks came in 3.8. 0, or -1
// with the hook's exception set.
static inline int yol_audit_open_for_reading(PyObject *path, int flags) {
#if PY_VERSION_HEX >= 0x03080000
    return PySys_Audit("open", "Osi", path, "r", flags);
#else
    (void)path;
    (void)flags;
    return 0;
#endif
}

// From 3.11 on locale.getdefaultlocale() warns at each call that it is
// deprecated (and it is to go).
#if PY_VERSION_HEX >= 0x030B0000
#define YOL_GETDEFAULTLOCALE_WARNS 1
#else
#define YOL_GETDEFAULTLOCALE_WARNS 0
#endif

// From 3.15 the language that locale.getdefaultlocale() reports keeps the
// locale's modifier ("de_DE@euro", "sr_RS@latin").
#if PY_VERSION_HEX >= 0x030F0000
#define YOL_LANGUAGE_KEEPS_MODIFIER 1
#else
#define YOL_LANGUAGE_KEEPS_MODIFIER 0
#endif

// Up to 3.11 a str made through the old wide-character API must be made ready
// before its characters are read (0, or -1 with MemoryError set); since 3.12
// every str is.
static inline int yol_unicode_ready(PyObject *str) {
#if PY_VERSION_HEX < 0x030C0000
    return PyUnicode_READY(str);
#else
    (void)str;
    return 0;
#endif
}
