// The system calls this process may still make once its decoders are loaded: the kernel answers
// every other one with EPERM, so a decoding library taken over by a file can read and write the
// descriptors it holds, take memory and start threads, and nothing else: no socket of any kind, no
// file opened, no other process signalled, traced or started. That holds on kernels whose Landlock
// cannot wall off the network or the session's abstract sockets (Debian 12's 6.1), or has none.
//
// A list of what is allowed, not of what is refused: a call added to a later kernel, or one not
// thought of, stays shut. Written with libseccomp rather than by hand, as it knows each
// architecture's call numbers and argument layout, and refuses the calls of another ABI on the
// same kernel (i386 and x32 on x86-64), which a hand-written filter has to remember on each.
#include "decoders.h"

#include <cerrno>
#include <fcntl.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace decode {

namespace {
struct Filter
{
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    ~Filter() { seccomp_release(ctx); }
    bool ok = ctx != nullptr;

    // Allows NAME, given its arguments meet CONDITIONS. A call this architecture does not have
    // is left out: its library does not make it either.
    template<typename... C> void allow(const char *name, C... conditions)
    {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR)
            ok = ok
                && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, sizeof...(conditions), conditions...)
                    == 0;
    }
};
} // namespace

bool filterCalls()
{
    Filter f;
    // What the decoders were seen to call while reading every kind of file they take: their
    // memory, the descriptors given, time, and FFmpeg's, libde265's and dav1d's threads.
    for (const char *call : { "read", "readv", "pread64", "write", "writev", "lseek", "close",
             "dup", "fstat", "brk", "mmap", "munmap", "mremap", "mprotect", "madvise", "futex",
             "set_robust_list", "rseq", "sched_getaffinity", "sched_yield", "getpid", "gettid",
             "getrandom", "clock_gettime", "clock_nanosleep", "nanosleep", "gettimeofday",
             "sysinfo", "rt_sigprocmask", "rt_sigaction", "rt_sigreturn", "sigaltstack",
             "restart_syscall", "exit", "exit_group" })
        f.allow(call);
    // fcntl on what it holds, and its status flags alone: a lock on the family's file, no.
    f.allow("fcntl", SCMP_A1(SCMP_CMP_EQ, F_GETFL));
    f.allow("fcntl", SCMP_A1(SCMP_CMP_EQ, F_SETFL));
    f.allow("fcntl", SCMP_A1(SCMP_CMP_EQ, F_GETFD));
    // A descriptor's own size and kind, asked the way glibc asks for fstat; no path looked up.
    f.allow("newfstatat", SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
    // A thread, sharing this process and its filter; not a new process. flags is clone's first
    // argument on x86-64 and ARM64. clone3 passes them in memory, out of the filter's sight: it is
    // "not there", which sends glibc to clone.
    f.allow("clone", SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD));
    const int clone3 = seccomp_syscall_resolve_name("clone3");
    if (clone3 != __NR_SCMP_ERROR)
        f.ok = f.ok && seccomp_rule_add(f.ctx, SCMP_ACT_ERRNO(ENOSYS), clone3, 0) == 0;
    // Its own memory bound, once a picture's size is read: raised within the hard bound and
    // that brought down to it, which is all an unprivileged process may do.
    f.allow("prlimit64", SCMP_A0(SCMP_CMP_EQ, 0));
    f.allow("setrlimit");
    // Its own threads' names, as dav1d gives them.
    f.allow("prctl", SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME));
    // Signals to itself alone, as abort() sends them: a crash still ends it as one.
    const auto self = scmp_datum_t(getpid());
    f.allow("kill", SCMP_A0(SCMP_CMP_EQ, self));
    f.allow("tgkill", SCMP_A0(SCMP_CMP_EQ, self));
#ifdef __SANITIZE_ADDRESS__
    // The leak check at exit: a tracer sharing its memory, which stops the threads and reads
    // their registers, and the process's own maps and threads from /proc. In that build alone.
    f.allow("clone", SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_VM, CLONE_VM));
    for (const char *call : { "ptrace", "wait4", "getppid", "prctl", "getdents", "getdents64" })
        f.allow(call);
    constexpr scmp_datum_t writing = O_ACCMODE | O_CREAT | O_TRUNC | (O_TMPFILE & ~O_DIRECTORY);
    f.allow("open", SCMP_A1(SCMP_CMP_MASKED_EQ, writing, O_RDONLY));
    f.allow("openat", SCMP_A2(SCMP_CMP_MASKED_EQ, writing, O_RDONLY));
#endif
    // A call of another architecture's numbering is an attack, never a decoder: it ends here.
    f.ok = f.ok && seccomp_attr_set(f.ctx, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) == 0
        && seccomp_attr_set(f.ctx, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    return f.ok && seccomp_load(f.ctx) == 0;
}

} // namespace decode
