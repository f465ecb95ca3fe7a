// Runs a command as a test program runs: in the folder of its own that test_process.cpp, linked in
// here too, gives every test program (home, runtime and temporary folders), removed once the
// command ends. Script tests run under it, so scripts and test programs share one set-up.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <command> [arguments]\n", argv[0]);
        return 2;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        ::execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return 1;
    }
    // Returning (not exiting from a signal) lets the folder be removed.
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
