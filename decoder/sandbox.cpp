#include "decoders.h"

#include <csignal>
#include <fcntl.h>
#include <linux/landlock.h>
#include <malloc.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace decode {

namespace {
void limit(int resource, rlim_t value)
{
    const rlimit bound { value, value };
    setrlimit(resource, &bound);
}

// Address space for a sound's decoding (the longest part at the highest rate, and the decoders'
// own, with room to spare), and the most any file may have: a picture's decoding grows with its
// size, up to a photo of 134 megapixels (see heif.cpp), which a 108-megapixel phone's fits in.
constexpr rlim_t soundMemory = rlim_t(1) << 30;
constexpr rlim_t mostMemory = rlim_t(4) << 30;
} // namespace

bool allowMemory(size_t bytes)
{
    if (bytes > mostMemory - soundMemory)
        return false;
#ifndef __SANITIZE_ADDRESS__
    // The hard bound comes down too, so that nothing decoded later may raise it again.
    limit(RLIMIT_AS, soundMemory + bytes);
#endif
    return true;
}

bool confine()
{
#ifndef __SANITIZE_ADDRESS__ // which reserves terabytes of address space for its shadow
    // One malloc arena for all threads: glibc reserves 64 MiB of address space for each thread's
    // own, which with a decoder's thread for each core would pass the bound unused.
    mallopt(M_ARENA_MAX, 1);
    const rlimit memory { soundMemory, mostMemory };
    setrlimit(RLIMIT_AS, &memory);
#endif
    // Seconds of processor time far past what any real file takes.
    limit(RLIMIT_CPU, 20);
    limit(RLIMIT_FSIZE, 0); // writes only to the pipes it was given
    std::signal(SIGXFSZ, SIG_IGN); // a write to a file fails, rather than ending it
    limit(RLIMIT_CORE, 0);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    // Landlock: every kind of file access this kernel can refuse, refused, with no exception.
    const long abi
        = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1)
        return false;
    landlock_ruleset_attr rules {};
    rules.handled_access_fs = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;
    if (abi >= 2)
        rules.handled_access_fs |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rules.handled_access_fs |= 1ULL << 14; // truncating a file, unnamed in older headers
    const long ruleset = syscall(SYS_landlock_create_ruleset, &rules, sizeof rules, 0);
    if (ruleset < 0)
        return false;
#ifdef __SANITIZE_ADDRESS__
    // The leak check at exit reads this process's threads from /proc: in that build alone.
    landlock_path_beneath_attr proc { LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR,
        open("/proc", O_PATH | O_CLOEXEC) };
    syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &proc, 0);
    close(proc.parent_fd);
#endif
    const bool done = syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    close(int(ruleset));
    return done;
}

} // namespace decode
