/* peakrss PROGRAM [ARG...]: runs PROGRAM and, once it has ended, prints on stderr the largest
 * resident memory it reached, as "peak_kib=N". A child keeps across exec the resident size it had
 * when forked, so forked straight from a large process its peak would be that process's: forked
 * from this small one, the figure is the program's own. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: peakrss PROGRAM [ARG...]\n");
        return 2;
    }
    const pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid)
        return 1;
    fprintf(stderr, "peak_kib=%ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
