// Linked into the program in the coverage build only, with --wrap=_exit and --wrap=raise.
// The program ends through _exit (ExitProcess) or a signal raised again with its default
// action, and neither runs the exit-time write of gcc's coverage counters: each of the two
// calls writes them first. They are written once a process, a later write skipped; a raise
// that returns (a stop, continued) zeroes them after the write, which makes the next write
// count what runs from there on.
extern "C" {

void __gcov_dump();
void __gcov_reset();
[[noreturn]] void __real__exit(int status);
int __real_raise(int signal);

[[noreturn]] void __wrap__exit(int status) {
    __gcov_dump();
    __real__exit(status);
}

int __wrap_raise(int signal) {
    __gcov_dump();
    const int result = __real_raise(signal);
    __gcov_reset();
    return result;
}

} // extern "C"
