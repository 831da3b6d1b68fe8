// A decoding library taken over by the file it was asked to read, as the tests' own stand-in for
// libsndfile: once asked to open a file it tries the one reach NUMERI_HOSTILE names, and says on
// standard error whether it got through. The decoding process must refuse every one of them.
//   NUMERI_HOSTILE="read PATH" | "create PATH" | "tcp PORT" | "udp PORT" | "unix PATH" |
//                  "abstract NAME" | "kill PID" | "fork" | "exec PATH"
// Then it says the file is not its own, so the process goes on to its other decoders.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstddef>
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
const char stolen[] = "the family's secrets";

sockaddr_in local(const std::string &port)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(std::stoi(port)));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

// -1 with errno where the call was refused.
int reachUnix(const std::string &name, bool abstract)
{
    sockaddr_un to {};
    to.sun_family = AF_UNIX;
    const size_t at = abstract ? 1 : 0; // an abstract name begins with a zero byte
    std::memcpy(to.sun_path + at, name.data(), std::min(name.size(), sizeof to.sun_path - 2));
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + at + name.size());
    if (s < 0 || connect(s, reinterpret_cast<sockaddr *>(&to), length) != 0)
        return -1;
    return int(send(s, stolen, sizeof stolen, 0));
}

int reach(const std::string &what, const std::string &arg)
{
    if (what == "read")
        return open(arg.c_str(), O_RDONLY);
    if (what == "create")
        return open(arg.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (what == "tcp") {
        const sockaddr_in to = local(arg);
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        if (s < 0 || connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0)
            return -1;
        return int(send(s, stolen, sizeof stolen, 0));
    }
    if (what == "udp") {
        const sockaddr_in to = local(arg);
        const int s = socket(AF_INET, SOCK_DGRAM, 0);
        return s < 0 ? -1
                     : int(sendto(s, stolen, sizeof stolen, 0,
                         reinterpret_cast<const sockaddr *>(&to), sizeof to));
    }
    if (what == "unix" || what == "abstract")
        return reachUnix(arg, what == "abstract");
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
