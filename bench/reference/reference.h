// What the three yardsticks of `make bench` share: the clock in nanoseconds, failing with the
// system's reason, a UDP socket connected to the receiver, and the send-time tag a Roamnode
// trigger reads. Header only: each yardstick stays one program of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

static inline int64_t clock_ns(clockid_t clock)
{
    struct timespec ts;
    clock_gettime(clock, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

static inline void die(const char* what)
{
    perror(what);
    exit(1);
}

// A UDP socket bound to `src_port` (0: the system's choice) and connected to destination:port;
// -1 when `destination` is not an IPv4 address. Fails the program on any other error.
static inline int connected_udp_socket(const char* destination, unsigned port, unsigned src_port)
{
    struct sockaddr_in remote = {.sin_family = AF_INET, .sin_port = htons((uint16_t)port)};
    if (inet_pton(AF_INET, destination, &remote.sin_addr) != 1)
        return -1;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        die("socket");
    struct sockaddr_in local = {.sin_family = AF_INET, .sin_port = htons((uint16_t)src_port)};
    if (bind(fd, (struct sockaddr*)&local, sizeof local) < 0)
        die("bind");
    if (connect(fd, (struct sockaddr*)&remote, sizeof remote) < 0)
        die("connect");
    return fd;
}

// The last 8 bytes of the frame: the system clock now, in 10 ns units, little-endian (the
// machine's order on x86, as the trigger reads it).
static inline void write_tag(char* frame, size_t size)
{
    const uint64_t stamp = (uint64_t)(clock_ns(CLOCK_REALTIME) / 10);
    memcpy(frame + size - 8, &stamp, sizeof stamp);
}
