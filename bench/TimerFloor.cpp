// The cost of the status window's 50 ms timer alone: a process that does nothing but wait
// for 50 ms, as often as the timer fires over a run (160 times for 8 s of audio). Run it
// through bench_run to see the CPU that the waking alone takes on this machine.
// Usage: bench_timer_floor [waits, default 160]
#include <sys/select.h>

#include <cstdlib>

int main(int argc, char** argv) {
    const int waits = argc > 1 ? std::atoi(argv[1]) : 160;
    for (int i = 0; i < waits; ++i) {
        timeval wait{0, 50000};
        select(0, nullptr, nullptr, nullptr, &wait);
    }
    return 0;
}
