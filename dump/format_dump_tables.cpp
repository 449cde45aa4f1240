// The whole-line kernels of a build without vector code: the table kernel alone.
#include "dump/format_dump.h"

namespace {

constexpr DumpKernel TableKernel = {"tables", PutLinesByTable};

} // namespace

const DumpKernel* GetDumpKernels(std::uint32_t* count) {
    *count = 1;
    return &TableKernel;
}
