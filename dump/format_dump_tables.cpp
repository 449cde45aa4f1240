// The whole-line kernels of a build without vector code: the table kernel alone.
#include "dump/format_dump.h"

namespace {

constexpr DumpKernel TableKernel = {"tables", PutLinesByTable};

} // namespace

const DumpKernel* GetDumpKernels() {
    return &TableKernel;
}
