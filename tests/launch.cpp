#include "launch.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

pid_t launchSettle(const std::string& work, const std::string& out, const std::string& err, const char* term,
                   const std::vector<std::string>& prefix) {
    // Emptied before the fork: a caller that starts the program again must
    // never read what the last run left while the new one is still starting.
    int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    std::vector<std::string> args = prefix;
    args.push_back(FARE_SETTLE);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(work.c_str()) != 0) ::_exit(126);
        int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        if (term != nullptr)
            ::setenv("TERM", term, 1);
        else
            ::unsetenv("TERM");
        ::setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outFd);
    ::close(errFd);
    return pid;
}
