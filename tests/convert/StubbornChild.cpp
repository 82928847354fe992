// A child that ignores SIGTERM, for tests of stopping: it says so on its error stream and then
// waits to be killed (or gives up by itself after a minute, so it can never be left behind).
#include <csignal>
#include <cstdio>
#include <unistd.h>

int main()
{
    std::signal(SIGTERM, SIG_IGN);
    std::fputs("ignoring SIGTERM\n", stderr);
    std::fflush(stderr);
    for (int i = 0; i < 600; ++i)
        ::usleep(100000);
    return 0;
}
