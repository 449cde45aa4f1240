// Linked into the program in the coverage build only, with --wrap=_exit and --wrap=raise.
//
// The program ends through _exit (ExitProcess) or a signal raised again with its default
// action, and neither runs the exit-time write of gcc's coverage counters: without this
// every run would count as never made. Each of the two calls writes the counters first, then
// goes on as usual.
extern "C" {

void __gcov_dump();
[[noreturn]] void __real__exit(int status);
int __real_raise(int signal);

[[noreturn]] void __wrap__exit(int status) {
    __gcov_dump();
    __real__exit(status);
}

int __wrap_raise(int signal) {
    __gcov_dump();
    return __real_raise(signal);
}

} // extern "C"
