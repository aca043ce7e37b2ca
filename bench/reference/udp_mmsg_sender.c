// udp-mmsg-sender: the sending yardstick of `make bench`. Sends UDP frames in batches of 64 with
// one sendmmsg call, as fast as the kernel takes them or paced to a rate. With --tag every frame
// ends in the 8-byte send-time tag a Roamnode trigger reads (little-endian, CLOCK_REALTIME in
// 10 ns units, the time taken when the batch is sent), so it can feed a trigger with latency on.
//
//   udp-mmsg-sender --port P [--dst ADDR] [--src-port P] [--size BYTES] [--rate FPS]
//                   [--count N] [--duration-ms MS] [--tag]
//
// Stops after N frames or MS milliseconds, whichever comes first (at most 60 s without either),
// and prints {"sent": N, "seconds": S, "pps": R}: S runs from the first send to the end of the
// last one. Paced (--rate), batch b goes out when its last frame is due, at t0 + (64b + 63) / rate.
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

enum { BATCH = 64, MAX_FRAME = 1472, SNDBUF = 4 * 1024 * 1024 };

static void sleep_until(int64_t monotonic)
{
    struct timespec ts = {.tv_sec = monotonic / 1000000000, .tv_nsec = monotonic % 1000000000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL) == EINTR) {
    }
}

static void usage(void)
{
    fputs("usage: udp-mmsg-sender --port P [--dst ADDR] [--src-port P] [--size BYTES]\n"
          "                       [--rate FPS] [--count N] [--duration-ms MS] [--tag]\n",
          stderr);
    exit(2);
}

int main(int argc, char** argv)
{
    const char* destination = "127.0.0.1";
    unsigned port = 0, src_port = 0;
    size_t size = 64;
    double rate = 0;
    uint64_t count = 0;
    int64_t duration_ms = 0;
    int tag = 0;
    for (int i = 1; i < argc; i++) {
        const int more = i + 1 < argc;
        if (!strcmp(argv[i], "--dst") && more)
            destination = argv[++i];
        else if (!strcmp(argv[i], "--port") && more)
            port = (unsigned)strtoul(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--src-port") && more)
            src_port = (unsigned)strtoul(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--size") && more)
            size = strtoul(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--rate") && more)
            rate = strtod(argv[++i], NULL);
        else if (!strcmp(argv[i], "--count") && more)
            count = strtoull(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--duration-ms") && more)
            duration_ms = strtoll(argv[++i], NULL, 10);
        else if (!strcmp(argv[i], "--tag"))
            tag = 1;
        else
            usage();
    }
    if (port == 0 || port > 65535 || src_port > 65535 || size < 8 || size > MAX_FRAME)
        usage();
    if (count == 0 && duration_ms == 0)
        duration_ms = 60000;
    if (duration_ms == 0 || duration_ms > 60000)
        duration_ms = 60000;

    const int fd = connected_udp_socket(destination, port, src_port);
    if (fd < 0) {
        fprintf(stderr, "udp-mmsg-sender: not an IPv4 address: %s\n", destination);
        return 2;
    }
    int buffer = SNDBUF;
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &buffer, sizeof buffer) < 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    prctl(PR_SET_TIMERSLACK, 1UL);

    // One buffer per frame of a batch, so each could carry its own tag.
    static char frames[BATCH][MAX_FRAME];
    struct iovec vectors[BATCH];
    struct mmsghdr messages[BATCH];
    memset(messages, 0, sizeof messages);
    for (int i = 0; i < BATCH; i++) {
        for (size_t b = 0; b < size; b++)
            frames[i][b] = (char)b;
        vectors[i] = (struct iovec){.iov_base = frames[i], .iov_len = size};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }

    const int64_t gap_ns = rate > 0 ? (int64_t)(1e9 / rate) : 0;
    const int64_t start = clock_ns(CLOCK_MONOTONIC);
    const int64_t deadline = start + duration_ms * 1000000;
    uint64_t sent = 0;
    int64_t last = start;
    while ((count == 0 || sent < count) && last < deadline) {
        uint64_t batch = BATCH;
        if (count != 0 && count - sent < batch)
            batch = count - sent;
        if (gap_ns > 0)
            sleep_until(start + (int64_t)(sent + batch - 1) * gap_ns);
        if (tag) {
            for (uint64_t i = 0; i < batch; i++)
                write_tag(frames[i], size);
        }
        int done = sendmmsg(fd, messages, (unsigned)batch, 0);
        // A full queue, or a receiver not there yet (ICMP on the connected socket): try again.
        if (done < 0 && errno != ENOBUFS && errno != EAGAIN && errno != EINTR &&
            errno != ECONNREFUSED)
            die("sendmmsg");
        if (done > 0)
            sent += (uint64_t)done;
        last = clock_ns(CLOCK_MONOTONIC);
    }
    const double seconds = (double)(last - start) / 1e9;
    printf("{\"sent\": %" PRIu64 ", \"seconds\": %.6f, \"pps\": %.0f}\n", sent, seconds,
           seconds > 0 ? (double)sent / seconds : 0.0);
    return 0;
}
