// Test helper: fails memory allocations on demand, around exactly one call.
//
// Loaded twice into a test interpreter: through LD_PRELOAD, so that its
// operator new and delete replace the C++ runtime's for the whole process
// (pemrik's std::string and std::vector included), and then imported as the
// extension module `oomhelper`, which hooks the interpreter's three allocator
// domains (raw, mem, object) with PyMem_SetAllocator.
//
// oomhelper.call(sticky, start, func, args, kwargs) counts every allocation
// made during func(*args, **kwargs) and refuses number `start` (and, when
// sticky, every later one); start < 0 refuses none. Nothing else runs while
// allocations fail: the window opens just before the call and closes just
// after it. Returns (completed, result or exception, allocations, refused).
//
// A crash (segfault, abort, ...) writes the native stack with the name of the
// shared object of each frame to standard error, so that a test can tell the
// interpreter's own faults from the module's.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

namespace {

struct Window {
    bool armed = false;
    bool sticky = false;
    long long start = LLONG_MAX;
    long long count = 0;
    long long refused = 0;
};
Window window;

bool refuse() noexcept {
    if (!window.armed) return false;
    const long long n = window.count++;
    const bool fail = window.sticky ? n >= window.start : n == window.start;
    window.refused += fail;
    return fail;
}

// --- the interpreter's allocators --------------------------------------

PyMemAllocatorEx original[3];
const PyMemAllocatorDomain domains[3] = {PYMEM_DOMAIN_RAW, PYMEM_DOMAIN_MEM, PYMEM_DOMAIN_OBJ};

void* hook_malloc(void* ctx, size_t size) {
    auto* a = static_cast<PyMemAllocatorEx*>(ctx);
    return refuse() ? nullptr : a->malloc(a->ctx, size);
}
void* hook_calloc(void* ctx, size_t n, size_t size) {
    auto* a = static_cast<PyMemAllocatorEx*>(ctx);
    return refuse() ? nullptr : a->calloc(a->ctx, n, size);
}
void* hook_realloc(void* ctx, void* p, size_t size) {
    auto* a = static_cast<PyMemAllocatorEx*>(ctx);
    return refuse() ? nullptr : a->realloc(a->ctx, p, size);
}
void hook_free(void* ctx, void* p) {
    auto* a = static_cast<PyMemAllocatorEx*>(ctx);
    a->free(a->ctx, p);
}

bool hooks_installed = false;

void install_hooks() {
    if (hooks_installed) return;
    for (int d = 0; d < 3; ++d) {
        PyMem_GetAllocator(domains[d], &original[d]);
        PyMemAllocatorEx hook = {&original[d], hook_malloc, hook_calloc, hook_realloc, hook_free};
        PyMem_SetAllocator(domains[d], &hook);
    }
    hooks_installed = true;
}

// --- crash reports --------------------------------------------------------

void report_crash(int sig) {
    static const char head[] = "\noomhelper: fatal signal, native stack:\n";
    ssize_t ignored = write(2, head, sizeof head - 1);
    (void)ignored;
    void* frames[128];
    int n = backtrace(frames, 128);
    backtrace_symbols_fd(frames, n, 2);
    static const char tail[] = "oomhelper: end of native stack\n";
    ignored = write(2, tail, sizeof tail - 1);
    signal(sig, SIG_DFL);
    raise(sig);
}

void install_crash_report() {
    static char stack[1 << 16];
    stack_t ss = {};
    ss.ss_sp = stack;
    ss.ss_size = sizeof stack;
    sigaltstack(&ss, nullptr);
    void* warm[4];
    backtrace(warm, 4);  // loads the unwinder now, not inside the handler
    struct sigaction sa = {};
    sa.sa_handler = report_crash;
    sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) sigaction(sig, &sa, nullptr);
}

// --- the module -----------------------------------------------------------

PyObject* call(PyObject*, PyObject* a) {
    int sticky;
    long long start;
    PyObject *func, *args, *kwargs;
    if (!PyArg_ParseTuple(a, "pLOO!O", &sticky, &start, &func, &PyTuple_Type, &args, &kwargs))
        return nullptr;
    if (kwargs == Py_None) kwargs = nullptr;
    install_hooks();
    window = Window{true, static_cast<bool>(sticky), start < 0 ? LLONG_MAX : start, 0, 0};
    PyObject* result = PyObject_Call(func, args, kwargs);
    window.armed = false;
    PyObject* value = result;
    if (!value) {
#if PY_VERSION_HEX >= 0x030C0000
        value = PyErr_GetRaisedException();
#else
        PyObject *type, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        Py_XDECREF(type);
        Py_XDECREF(traceback);
#endif
        if (!value) value = Py_NewRef(Py_None);  // NULL with nothing set: reported as None
    }
    return Py_BuildValue("(ONLL)", result ? Py_True : Py_False, value, window.count, window.refused);
}

PyMethodDef methods[] = {
    {"call", call, METH_VARARGS, "call(sticky, start, func, args, kwargs)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "oomhelper", nullptr, -1, methods,
                          nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_oomhelper() {
    install_crash_report();
    return PyModule_Create(&definition);
}

// --- the C++ runtime's allocation functions, replaced process-wide ----------

void* operator new(std::size_t size) {
    if (refuse()) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (refuse()) return nullptr;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return ::operator new(size, tag);
}
void* operator new(std::size_t size, std::align_val_t align) {
    if (refuse()) throw std::bad_alloc();
    const auto al = static_cast<std::size_t>(align);
    if (void* p = std::aligned_alloc(al, (size + al - 1) / al * al + (size ? 0 : al))) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) { return ::operator new(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
