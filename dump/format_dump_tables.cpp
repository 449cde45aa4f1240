// The whole-line kernels of a build without vector code: the table kernel alone.
#include "dump/dump_kernel.h"

DumpKernelList GetDumpKernels() {
    return {&TableKernel, 1};
}
