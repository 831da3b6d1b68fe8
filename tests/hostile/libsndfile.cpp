// A decoding library taken over by the file it was asked to read, as the tests' own stand-in for
// libsndfile: once asked to open a file it tries the one reach NUMERI_HOSTILE names, and says on
// standard error whether it got through. The decoding process must refuse every one of them.
//   NUMERI_HOSTILE="read PATH" | "create PATH" | "tcp PORT" | "unix PATH" | "kill PID" | "fork" |
//                  "exec PATH"
// Then it says the file is not its own, so the process goes on to its other decoders.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sndfile.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// -1 with errno where the call was refused.
int reachOut(int family, int type, const void *to, size_t length)
{
    const int s = socket(family, type, 0);
    return s < 0 ? -1 : connect(s, static_cast<const sockaddr *>(to), socklen_t(length));
}

int reach(const std::string &what, const std::string &arg)
{
    if (what == "read")
        return open(arg.c_str(), O_RDONLY);
    if (what == "create")
        return open(arg.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (what == "tcp") {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(uint16_t(std::stoi(arg)));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return reachOut(AF_INET, SOCK_STREAM, &to, sizeof to);
    }
    if (what == "unix") {
        sockaddr_un to {};
        to.sun_family = AF_UNIX;
        std::strncpy(to.sun_path, arg.c_str(), sizeof to.sun_path - 1);
        return reachOut(AF_UNIX, SOCK_STREAM, &to, sizeof to);
    }
    if (what == "kill")
        return kill(pid_t(std::stol(arg)), SIGUSR2);
    if (what == "fork") {
        const pid_t child = fork();
        if (child == 0)
            _exit(0);
        if (child > 0)
            waitpid(child, nullptr, 0);
        return child;
    }
    if (what == "exec") {
        char *const argv[] = { const_cast<char *>(arg.c_str()), nullptr };
        return execv(arg.c_str(), argv); // where it returns, it was refused
    }
    errno = EINVAL;
    return -1;
}
} // namespace

extern "C" {

SNDFILE *sf_open_fd(int fd, int, SF_INFO *, int close_desc)
{
    if (const char *order = std::getenv("NUMERI_HOSTILE")) {
        const std::string line = order;
        const size_t space = line.find(' ');
        const std::string what = line.substr(0, space);
        const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (reach(what, arg) < 0)
            std::fprintf(stderr, "hostile: %s refused: %d\n", what.c_str(), errno);
        else
            std::fprintf(stderr, "hostile: %s got through\n", what.c_str());
    }
    if (close_desc)
        close(fd);
    return nullptr;
}

int sf_error(SNDFILE *)
{
    return SF_ERR_UNRECOGNISED_FORMAT;
}

sf_count_t sf_readf_float(SNDFILE *, float *, sf_count_t)
{
    return 0;
}

int sf_close(SNDFILE *)
{
    return 0;
}
}
