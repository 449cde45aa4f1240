// The Linux entry: set the platform layer up, then run the report.
#include "platform/posix/posix.h"
#include "report/key_report.h"

int main() {
    PrepareProcess();
    RunKeyReport();
}
