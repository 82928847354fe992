// A child that ignores SIGTERM, for tests of stopping: it says so on its error stream, creates
// a file named after its last argument plus ".ready" (if it has arguments) so that a test can
// see it is ready, and then waits to be killed (or gives up by itself after a minute, so it can
// never be left behind).
#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    std::signal(SIGTERM, SIG_IGN);
    std::fputs("ignoring SIGTERM\n", stderr);
    std::fflush(stderr);
    if (argc > 1) {
        std::string marker = std::string(argv[argc - 1]) + ".ready";
        if (std::FILE *file = std::fopen(marker.c_str(), "w"))
            std::fclose(file);
    }
    for (int i = 0; i < 600; ++i)
        ::usleep(100000);
    return 0;
}
