// udp-pacer: the schedule yardstick of `make bench`. Sends frame k at t0 + k * gap, sleeping
// with clock_nanosleep to the absolute time (TIMER_ABSTIME, CLOCK_REALTIME) and a timer slack of
// 1 ns, one plain sendto per frame: what an ideal clock-following sender can do on this machine.
// A frame whose time has passed goes out at once. With several --port options every port gets
// one frame at each tick, from a socket of its own (one thread, like one sender per flow).
//
//   udp-pacer --port P [--port P ...] --rate FPS --count N [--dst ADDR] [--size BYTES] [--tag]
//
// With --tag each frame ends in the 8-byte send-time tag (little-endian, CLOCK_REALTIME in 10 ns
// units, taken just before the send). Prints {"sent": N, "t0_ns": T, "late": L}, where L counts
// the ticks that began when the next frame was already due: the pacer itself fell behind.
#define _GNU_SOURCE
#include "reference.h"

#include <arpa/inet.h>
#include <errno.h>
#include <inttypes.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { MAX_PORTS = 64, MAX_FRAME = 1472 };

static void usage(void)
{
    fputs("usage: udp-pacer --port P [--port P ...] --rate FPS --count N [--dst ADDR]\n"
          "                 [--size BYTES] [--tag]\n",
          stderr);
    exit(2);
}

int main(int argc, char** argv)
{
    const char* destination = "127.0.0.1";
    unsigned ports[MAX_PORTS];
    size_t port_count = 0;
    size_t size = 64;
    double rate = 0;
    uint64_t count = 0;
    int tag = 0;
    for (int i = 1; i < argc; i++) {
        const int more = i + 1 < argc;
        if (!strcmp(argv[i], "--dst") && more)
            destination = argv[++i];
        else if (!strcmp(argv[i], "--port") && more && port_count < MAX_PORTS)
            ports[port_count++] = (unsigned)strtoul(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--size") && more)
            size = strtoul(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--rate") && more)
            rate = strtod(argv[++i], NULL);
        else if (!strcmp(argv[i], "--count") && more)
            count = strtoull(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--tag"))
            tag = 1;
        else
            usage();
    }
    // 60 s at most: every run of the bench is bounded.
    if (port_count == 0 || rate <= 0 || count == 0 || size < 8 || size > MAX_FRAME ||
        (double)count / rate > 60)
        usage();

    int fds[MAX_PORTS];
    for (size_t p = 0; p < port_count; p++) {
        if (ports[p] == 0 || ports[p] > 65535)
            usage();
        fds[p] = connected_udp_socket(destination, ports[p], 0);
        if (fds[p] < 0)
            usage();
    }
    // The default slack (50 us) would be most of the gap at 100k frames/s.
    if (prctl(PR_SET_TIMERSLACK, 1UL) < 0)
        die("prctl PR_SET_TIMERSLACK");

    char frame[MAX_FRAME];
    for (size_t b = 0; b < size; b++)
        frame[b] = (char)b;
    const int64_t gap = (int64_t)(1e9 / rate);
    // A little ahead, so frame 0 is on time too.
    const int64_t t0 = clock_ns(CLOCK_REALTIME) + 10000000;
    uint64_t sent = 0, late = 0;
    for (uint64_t k = 0; k < count; k++) {
        const int64_t due = t0 + (int64_t)k * gap;
        const int64_t now = clock_ns(CLOCK_REALTIME);
        // Behind schedule the sleep would return at once; skipping the call saves a system call
        // per frame, which is most of the budget at 100k frames/s.
        if (now < due) {
            struct timespec at = {.tv_sec = due / 1000000000, .tv_nsec = due % 1000000000};
            while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, NULL) == EINTR) {
            }
        } else if (now >= due + gap) {
            late++;
        }
        for (size_t p = 0; p < port_count; p++) {
            if (tag)
                write_tag(frame, size);
            if (send(fds[p], frame, size, 0) == (ssize_t)size)
                sent++;
        }
    }
    printf("{\"sent\": %" PRIu64 ", \"t0_ns\": %" PRId64 ", \"late\": %" PRIu64 "}\n", sent, t0,
           late);
    return 0;
}
