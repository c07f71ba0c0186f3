// Runs a command and writes its peak resident memory in KiB to a file:
//   peak_memory FILE COMMAND [ARGUMENT...]
// Exits with the command's status. A test cannot measure this for its own
// children, whose peak includes the test's memory from before the exec.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: peak_memory FILE COMMAND [ARGUMENT...]\n");
        return 2;
    }
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (FILE* file = std::fopen(argv[1], "w")) {
        std::fprintf(file, "%ld\n", usage.ru_maxrss);
        std::fclose(file);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
