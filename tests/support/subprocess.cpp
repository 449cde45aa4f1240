// Runs the built program as a child process on pipes or a pseudo-terminal, killed if it hangs,
// and collects its output and how it ended.
#include "tests/support/subprocess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

const char* ProgramPath() {
    return KEYREPORT_PROGRAM;
}

void ExecProgram(const char* program, const std::vector<std::string>& programArguments) {
    const char* runUnder = std::getenv("KEYREPORT_RUN_UNDER");
    std::istringstream split(runUnder != nullptr ? runUnder : "");
    std::vector<std::string> words{std::istream_iterator<std::string>(split), {}};
    words.push_back(program);
    words.insert(words.end(), programArguments.begin(), programArguments.end());
    std::vector<char*> arguments;
    for (std::string& word : words) {
        arguments.push_back(word.data());
    }
    arguments.push_back(nullptr);
    execvp(arguments[0], arguments.data());
    _exit(127);
}

TempFolder MakeTempFolder() {
    char path[] = "/tmp/keyreport-test-XXXXXX";
    if (mkdtemp(path) == nullptr) {
        std::abort();
    }
    chmod(path, 0755); // reachable by an unprivileged run too
    return TempFolder{path};
}

void RemoveTempFolder(const TempFolder& folder) {
    std::error_code ignored;
    std::filesystem::permissions(folder.path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(folder.path, ignored);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

namespace {

constexpr auto RunLimit = std::chrono::seconds(20);

void DropPrivileges() {
    if (geteuid() != 0) {
        return;
    }
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
        _exit(125);
    }
}

// Whether the user nobody can start program: a checkout in a folder of mode 700, as root's
// home is on Debian, hides it.
bool NobodyCanRun(const std::string& program) {
    const pid_t child = fork();
    if (child == 0) {
        DropPrivileges();
        _exit(access(program.c_str(), X_OK) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Fills the pipe that fd writes to, non-blocking from now on; returns the bytes it took.
std::size_t FillPipe(int fd) {
    fcntl(fd, F_SETFL, O_NONBLOCK);
    std::size_t filled = 0;
    while (write(fd, "", 1) == 1) {
        ++filled;
    }
    return filled;
}

// Whether the process sleeps in poll, as the program does while a full pipe drains (its key
// wait polls without sleeping), by the kernel function it sleeps in.
bool WaitsInPoll(pid_t process) {
    std::string function;
    std::ifstream("/proc/" + std::to_string(process) + "/wchan") >> function;
    return function.find("poll") != std::string::npos;
}

[[noreturn]] void StartChild(const RunOptions& options, const std::string& program, int input[2],
                             int output[2], int error[2]) {
    if (chdir(options.folder.c_str()) != 0) {
        _exit(126);
    }
    dup2(options.inputPath.empty() ? input[0] : open(options.inputPath.c_str(), O_RDONLY),
         STDIN_FILENO);
    dup2(options.output == Output::FullDevice ? open("/dev/full", O_WRONLY) : output[1],
         STDOUT_FILENO);
    dup2(error[1], STDERR_FILENO);
    for (int fd = 3; fd < 256; ++fd) {
        close(fd);
    }
    if (options.output == Output::Closed) {
        close(STDOUT_FILENO);
    }
    signal(SIGPIPE, SIG_DFL);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    for (const std::string& setting : options.environment) {
        putenv(strdup(setting.c_str())); // kept until the exec
    }
    if (options.unprivileged) {
        DropPrivileges();
    }
    ExecProgram(program.c_str(), options.arguments);
}

} // namespace

RunResult RunProgram(const RunOptions& options) {
    std::string program = options.program.empty() ? ProgramPath() : options.program;
    // An unprivileged run of a program nobody cannot reach runs a copy of it from a temporary
    // folder. A coverage build's copy writes its counters there too (GCOV_PREFIX), as the
    // build's own folders are out of reach as well; there they are lost, but the run's
    // standard error stays free of the counters' complaints.
    TempFolder copy;
    RunOptions settings = options;
    if (options.unprivileged && geteuid() == 0 && !NobodyCanRun(program)) {
        copy = MakeTempFolder();
        const std::string copied =
            copy.path + "/" + std::filesystem::path(program).filename().string();
        std::filesystem::copy_file(program, copied);
        program = copied;
        const std::string counters = copy.path + "/counters";
        mkdir(counters.c_str(), 0);
        chmod(counters.c_str(), 0777); // writable by nobody, whatever the file mode mask
        settings.environment.push_back("GCOV_PREFIX=" + counters);
    }
    int input[2], output[2], error[2];
    if (pipe(input) != 0 || pipe(output) != 0 || pipe(error) != 0) {
        std::abort();
    }
    const std::size_t filler = options.output == Output::FullPipe ? FillPipe(output[1]) : 0;
    const pid_t child = fork();
    if (child == 0) {
        StartChild(settings, program, input, output, error);
    }
    close(input[0]);
    close(output[1]);
    close(error[1]);
    signal(SIGPIPE, SIG_IGN);
    if (options.output == Output::NoReader) {
        close(output[0]);
        output[0] = -1;
    }
    close(input[1]);

    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + RunLimit;
    pollfd streams[2] = {{output[0], POLLIN, 0}, {error[0], POLLIN, 0}};
    std::string* into[2] = {&result.output, &result.error};
    // A full output is left full until the run waits for room, or, had it not waited, ends.
    bool holdOutput = options.output == Output::FullPipe;
    while (streams[0].fd >= 0 || streams[1].fd >= 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL); // a hung run fails its test instead of the suite
            break;
        }
        holdOutput = holdOutput && streams[1].fd >= 0 && !WaitsInPoll(child);
        streams[0].events = holdOutput ? 0 : POLLIN;
        if (poll(streams, 2, 100) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t got = read(streams[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                into[i]->append(chunk, static_cast<std::size_t>(got));
            } else {
                close(streams[i].fd);
                streams[i].fd = -1;
            }
        }
    }
    for (const pollfd& stream : streams) {
        close(stream.fd); // none for one already closed (-1)
    }
    waitpid(child, &result.status, 0);
    RemoveTempFolder(copy); // nothing without a copy
    result.output.erase(0, filler);
    return result;
}

int ExitCodeOf(const RunResult& result) {
    return WIFEXITED(result.status) ? WEXITSTATUS(result.status) : -1;
}
