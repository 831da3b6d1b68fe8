#pragma once

#include <memory>

namespace lock {

// An open lock on a file, let go as it is destroyed, or by the system if the process dies first.
class ScreenClaim
{
public:
    explicit ScreenClaim(int fd);
    ~ScreenClaim();
    ScreenClaim(const ScreenClaim &) = delete;
    ScreenClaim &operator=(const ScreenClaim &) = delete;

private:
    int m_fd;
};

// The claim of one locked lesson on its display, held for as long as it lives. A second locked
// start while one runs would show on top while the first kept the keyboard's grab: the child's
// keys would change a lesson nobody sees. The first keeps the screen rather than handing it over:
// it has the keys and the child's lesson, and a second start is most often a menu entry pressed
// twice. Gives nullptr where another locked lesson holds the claim; a claim that cannot be
// written (no runtime folder) lets the lesson start, as the grab still keeps two apart on X11.
std::unique_ptr<ScreenClaim> claimLockedScreen();

} // namespace lock
