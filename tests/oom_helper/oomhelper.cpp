// Preloaded and imported as `oomhelper`: call(mode, start, func, args, kwargs) calls func with
// allocation number `start` refused ("one"), every one from there ("sticky") or C++ operator new
// number `start` alone ("cxx"; start < 0 refuses none); counts() then gives (allocations,
// refused). A fatal signal writes the native stack, by shared object, to standard error.
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

bool armed = false, sticky = false, cxx_only = false;
long long start = LLONG_MAX, counted = 0, refused = 0;
PyMemAllocatorEx original[3];

bool refuse(bool cxx = false) noexcept {
    if (!armed || (cxx_only && !cxx)) return false;
    const bool fail = sticky ? counted >= start : counted == start;
    ++counted;
    return refused += fail, fail;
}

PyMemAllocatorEx* of(void* c) { return static_cast<PyMemAllocatorEx*>(c); }
// Each hook hands the call to the original allocator of its domain, unless it is refused.
#define PASS(f, ...) (refuse() ? nullptr : of(c)->f(of(c)->ctx, __VA_ARGS__))
void* malloc_(void* c, size_t n) { return PASS(malloc, n); }
void* calloc_(void* c, size_t k, size_t n) { return PASS(calloc, k, n); }
void* realloc_(void* c, void* p, size_t n) { return PASS(realloc, p, n); }
void free_(void* c, void* p) { of(c)->free(of(c)->ctx, p); }

void report_crash(int sig) {
    static const char head[] = "\noomhelper: fatal signal, native stack:\n";
    void* frames[128];
    if (write(2, head, sizeof head - 1) > 0)
        backtrace_symbols_fd(frames, backtrace(frames, 128), 2);
    raise(sig);  // the handler was reset on entry
}

PyObject* call(PyObject*, PyObject* a) {
    const char* mode;
    PyObject *func, *args, *kwargs;
    if (!PyArg_ParseTuple(a, "sLOO!O", &mode, &start, &func, &PyTuple_Type, &args, &kwargs))
        return nullptr;
    sticky = !std::strcmp(mode, "sticky"), cxx_only = !std::strcmp(mode, "cxx");
    start = start < 0 ? LLONG_MAX : start, counted = refused = 0, armed = true;
    PyObject* result = PyObject_Call(func, args, kwargs == Py_None ? nullptr : kwargs);
    return armed = false, result;
}

PyObject* counts(PyObject*, PyObject*) { return Py_BuildValue("(LL)", counted, refused); }

PyMethodDef methods[] = {
    {"call", call, METH_VARARGS, nullptr}, {"counts", counts, METH_NOARGS, nullptr}, {}};
PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "oomhelper", nullptr, -1, methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_oomhelper() {
    for (int d = 0; d < 3; ++d) {  // raw, mem, object
        PyMem_GetAllocator(static_cast<PyMemAllocatorDomain>(d), &original[d]);
        PyMemAllocatorEx hook = {&original[d], malloc_, calloc_, realloc_, free_};
        PyMem_SetAllocator(static_cast<PyMemAllocatorDomain>(d), &hook);
    }
    static char stack[1 << 16];
    stack_t ss = {stack, 0, sizeof stack};
    sigaltstack(&ss, nullptr);
    void* warm[4];
    backtrace(warm, 4);  // loads the unwinder now, not inside the handler
    struct sigaction sa = {};
    sa.sa_handler = report_crash;
    sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) sigaction(sig, &sa, nullptr);
    return PyModule_Create(&definition);
}

// Replaced process-wide: the array and nothrow forms call these.
void* operator new(std::size_t size) {
    if (refuse(true)) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
