// udp-mmsg-receiver: the receiving yardstick of `make bench`. Listens on one or more UDP ports,
// takes frames in batches of 64 with recvmmsg, and keeps for every frame the kernel's receive
// time (SO_TIMESTAMPNS, so our own scheduling delay does not count) and the 8-byte send-time
// tag in the frame's last 8 bytes (little-endian, 10 ns units, CLOCK_REALTIME).
//
//   udp-mmsg-receiver [--bind ADDR] --port P[:GAP_NS] [--port ...] [--expect N]
//                     [--max-seconds S] [--tag]
//
// Prints "listening on P1 P2 ..." once every socket is bound (port 0 lets the system pick),
// receives until SIGINT/SIGTERM, N frames in all, or S seconds (default 60), then prints one JSON
// object: per port and over all ports the frame count, kernel drops, one-way latency
// (receive time - tag; with --tag) and lateness against the schedule (with a gap).
//
// Lateness of frame k is rx_k - (t0 + k * gap). The receiver does not know when the sender
// started, so t0 is estimated as the minimum over k of rx_k - k * gap: the least late frame
// counts as on time. k is the arrival index; a lost frame shifts the later ones by one gap.
#define _GNU_SOURCE
#include "reference.h"

#include <arpa/inet.h>
#include <errno.h>
#include <inttypes.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { BATCH = 64, MAX_PORTS = 64, MAX_FRAME = 2048, RCVBUF = 4 * 1024 * 1024 };

struct port_state {
    int fd;
    uint16_t port;
    int64_t gap_ns; // 0: no schedule known, no lateness
    uint64_t frames;
    uint64_t bytes;
    uint32_t drops; // kernel's count of datagrams dropped on a full receive queue
    size_t capacity;
    int64_t* rx_ns; // kernel receive time per frame
    int64_t* tag_ns; // send-time tag per frame, in ns
};

static volatile sig_atomic_t stop_requested = 0;

static void on_stop_signal(int signo)
{
    (void)signo;
    stop_requested = 1;
}

static int open_port(const char* address, uint16_t port)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (fd < 0)
        die("socket");
    int size = RCVBUF;
    // FORCE goes past net.core.rmem_max (we run as root); without the capability, ask politely.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) < 0 &&
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) < 0)
        die("setsockopt SO_RCVBUF");
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) < 0)
        die("setsockopt SO_TIMESTAMPNS");
    if (setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) < 0)
        die("setsockopt SO_RXQ_OVFL");
    struct sockaddr_in local = {.sin_family = AF_INET, .sin_port = htons(port)};
    if (inet_pton(AF_INET, address, &local.sin_addr) != 1) {
        fprintf(stderr, "udp-mmsg-receiver: not an IPv4 address: %s\n", address);
        exit(2);
    }
    if (bind(fd, (struct sockaddr*)&local, sizeof local) < 0)
        die("bind");
    return fd;
}

static uint16_t bound_port(int fd)
{
    struct sockaddr_in local;
    socklen_t length = sizeof local;
    if (getsockname(fd, (struct sockaddr*)&local, &length) < 0)
        die("getsockname");
    return ntohs(local.sin_port);
}

static void record(struct port_state* p, int64_t rx, int64_t tag, size_t length)
{
    if (p->frames == p->capacity) {
        p->capacity = p->capacity ? p->capacity * 2 : 65536;
        p->rx_ns = realloc(p->rx_ns, p->capacity * sizeof *p->rx_ns);
        p->tag_ns = realloc(p->tag_ns, p->capacity * sizeof *p->tag_ns);
        if (!p->rx_ns || !p->tag_ns)
            die("realloc");
    }
    p->rx_ns[p->frames] = rx;
    p->tag_ns[p->frames] = tag;
    p->frames++;
    p->bytes += length;
}

// Takes every frame already queued on the socket, 64 per call. Returns the number taken.
static uint64_t drain(struct port_state* p)
{
    static char buffers[BATCH][MAX_FRAME];
    static char controls[BATCH][CMSG_SPACE(sizeof(struct timespec)) + CMSG_SPACE(sizeof(uint32_t))];
    struct mmsghdr messages[BATCH];
    struct iovec vectors[BATCH];
    uint64_t taken = 0;
    for (;;) {
        for (int i = 0; i < BATCH; i++) {
            vectors[i].iov_base = buffers[i];
            vectors[i].iov_len = MAX_FRAME;
            memset(&messages[i], 0, sizeof messages[i]);
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_control = controls[i];
            messages[i].msg_hdr.msg_controllen = sizeof controls[i];
        }
        int count = recvmmsg(p->fd, messages, BATCH, MSG_DONTWAIT, NULL);
        if (count < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return taken;
            die("recvmmsg");
        }
        for (int i = 0; i < count; i++) {
            int64_t rx = 0;
            struct msghdr* header = &messages[i].msg_hdr;
            for (struct cmsghdr* c = CMSG_FIRSTHDR(header); c; c = CMSG_NXTHDR(header, c)) {
                if (c->cmsg_level != SOL_SOCKET)
                    continue;
                if (c->cmsg_type == SCM_TIMESTAMPNS) {
                    struct timespec ts;
                    memcpy(&ts, CMSG_DATA(c), sizeof ts);
                    rx = (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
                } else if (c->cmsg_type == SO_RXQ_OVFL) {
                    memcpy(&p->drops, CMSG_DATA(c), sizeof p->drops);
                }
            }
            size_t length = messages[i].msg_len;
            int64_t tag = 0;
            if (length >= 8) {
                uint64_t raw;
                memcpy(&raw, buffers[i] + length - 8, sizeof raw); // x86: little-endian
                tag = (int64_t)raw * 10;
            }
            record(p, rx, tag, length);
        }
        taken += (uint64_t)count;
        if (count < BATCH)
            return taken;
    }
}

static int compare_i64(const void* a, const void* b)
{
    int64_t x = *(const int64_t*)a, y = *(const int64_t*)b;
    return (x > y) - (x < y);
}

// Nearest-rank percentile of a sorted array.
static int64_t percentile(const int64_t* sorted, size_t n, double p)
{
    size_t rank = (size_t)(p / 100.0 * (double)n + 0.999999);
    if (rank < 1)
        rank = 1;
    return sorted[(rank > n ? n : rank) - 1];
}

static void print_distribution(const char* name, int64_t* values, size_t n, int with_mean)
{
    qsort(values, n, sizeof *values, compare_i64);
    double sum = 0;
    for (size_t i = 0; i < n; i++)
        sum += (double)values[i];
    printf("\"%s\": {\"p50\": %" PRId64 ", \"p99\": %" PRId64 ", \"max\": %" PRId64, name,
           percentile(values, n, 50), percentile(values, n, 99), values[n - 1]);
    if (with_mean)
        printf(", \"mean\": %.0f", sum / (double)n);
    printf("}");
}

// Lateness of one port's frames, appended to `out` (room for p->frames values).
static size_t lateness(const struct port_state* p, int64_t* out)
{
    if (p->gap_ns <= 0 || p->frames == 0)
        return 0;
    int64_t t0 = INT64_MAX;
    for (uint64_t k = 0; k < p->frames; k++) {
        int64_t candidate = p->rx_ns[k] - (int64_t)k * p->gap_ns;
        if (candidate < t0)
            t0 = candidate;
    }
    for (uint64_t k = 0; k < p->frames; k++)
        out[k] = p->rx_ns[k] - (t0 + (int64_t)k * p->gap_ns);
    return p->frames;
}

static size_t latency(const struct port_state* p, int64_t* out)
{
    for (uint64_t k = 0; k < p->frames; k++)
        out[k] = p->rx_ns[k] - p->tag_ns[k];
    return p->frames;
}

static void print_statistics(const struct port_state* p, size_t n, const char* label, int tags,
                             int64_t* scratch, int64_t* late, size_t late_count)
{
    uint64_t frames = 0, bytes = 0, drops = 0;
    int64_t first = INT64_MAX, last = INT64_MIN;
    size_t lat_count = 0;
    for (size_t i = 0; i < n; i++) {
        frames += p[i].frames;
        bytes += p[i].bytes;
        drops += p[i].drops;
        if (p[i].frames) {
            if (p[i].rx_ns[0] < first)
                first = p[i].rx_ns[0];
            if (p[i].rx_ns[p[i].frames - 1] > last)
                last = p[i].rx_ns[p[i].frames - 1];
        }
        if (tags)
            lat_count += latency(&p[i], scratch + lat_count);
    }
    printf("%s\"frames\": %" PRIu64 ", \"bytes\": %" PRIu64 ", \"drops\": %" PRIu64, label,
           frames, bytes, drops);
    if (frames)
        printf(", \"first_rx_ns\": %" PRId64 ", \"last_rx_ns\": %" PRId64, first, last);
    if (late_count) {
        printf(", ");
        print_distribution("lateness_ns", late, late_count, 0);
    }
    if (lat_count) {
        printf(", ");
        print_distribution("latency_ns", scratch, lat_count, 1);
    }
}

static void usage(void)
{
    fputs("usage: udp-mmsg-receiver [--bind ADDR] --port P[:GAP_NS] [--port ...] [--expect N]\n"
          "                         [--max-seconds S] [--tag]\n",
          stderr);
    exit(2);
}

int main(int argc, char** argv)
{
    const char* address = "127.0.0.1";
    struct port_state ports[MAX_PORTS];
    size_t port_count = 0;
    uint64_t expect = 0;
    double max_seconds = 60;
    int tags = 0;
    memset(ports, 0, sizeof ports);
    for (int i = 1; i < argc; i++) {
        const int more = i + 1 < argc;
        if (!strcmp(argv[i], "--bind") && more) {
            address = argv[++i];
        } else if (!strcmp(argv[i], "--port") && more && port_count < MAX_PORTS) {
            char* rest = NULL;
            ports[port_count].port = (uint16_t)strtoul(argv[++i], &rest, 10);
            if (*rest == ':')
                ports[port_count].gap_ns = strtoll(rest + 1, NULL, 10);
            port_count++;
        } else if (!strcmp(argv[i], "--expect") && more) {
            expect = strtoull(argv[++i], NULL, 10);
        } else if (!strcmp(argv[i], "--max-seconds") && more) {
            max_seconds = strtod(argv[++i], NULL);
        } else if (!strcmp(argv[i], "--tag")) {
            tags = 1;
        } else {
            usage();
        }
    }
    if (port_count == 0)
        usage();

    // No SA_RESTART: a signal must end the poll() below at once.
    struct sigaction action = {.sa_handler = on_stop_signal};
    sigaction(SIGINT, &action, NULL);
    sigaction(SIGTERM, &action, NULL);

    struct pollfd polls[MAX_PORTS];
    printf("listening on");
    for (size_t i = 0; i < port_count; i++) {
        ports[i].fd = open_port(address, ports[i].port);
        ports[i].port = bound_port(ports[i].fd);
        polls[i] = (struct pollfd){.fd = ports[i].fd, .events = POLLIN};
        printf(" %u", ports[i].port);
    }
    printf("\n");
    fflush(stdout);

    const int64_t deadline = clock_ns(CLOCK_MONOTONIC) + (int64_t)(max_seconds * 1e9);
    uint64_t total = 0;
    while (!stop_requested && (expect == 0 || total < expect) && clock_ns(CLOCK_MONOTONIC) < deadline) {
        int ready = poll(polls, port_count, 100);
        if (ready < 0 && errno != EINTR)
            die("poll");
        for (size_t i = 0; ready > 0 && i < port_count; i++) {
            if (polls[i].revents & POLLIN)
                total += drain(&ports[i]);
        }
    }
    // Frames already queued when the stop came have arrived; take them too.
    for (size_t i = 0; i < port_count; i++)
        total += drain(&ports[i]);

    int64_t* scratch = malloc((total + 1) * sizeof *scratch);
    int64_t* late = malloc((total + 1) * sizeof *late);
    if (!scratch || !late)
        die("malloc");
    size_t late_all = 0;
    printf("{\"ports\": [");
    for (size_t i = 0; i < port_count; i++) {
        size_t n = lateness(&ports[i], late + late_all);
        printf("%s{\"port\": %u, \"gap_ns\": %" PRId64 ", ", i ? ", " : "", ports[i].port,
               ports[i].gap_ns);
        print_statistics(&ports[i], 1, "", tags, scratch, late + late_all, n);
        printf("}");
        late_all += n;
    }
    printf("], \"all\": {");
    print_statistics(ports, port_count, "", tags, scratch, late, late_all);
    printf("}}\n");
    free(late);
    free(scratch);
    return 0;
}
