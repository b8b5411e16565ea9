/* Time to load the shared library, as a host pays it at start-up: dlopen of
 * the library (with everything it needs that is not loaded yet), then the
 * first call of the C entry, which also chooses the march for the processor.
 * Each run is a fresh process; the figures are milliseconds.
 *
 *     qav_load_time PATH-TO-DynamicLib-Qav.so [RUNS]
 */
#define _POSIX_C_SOURCE 200809L
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "qav.h"

typedef __typeof__(&C_FORTRANENTRY_RollerModel5) Entry;

static double Milliseconds(const struct timespec* from, const struct timespec* to) {
    return (double)(to->tv_sec - from->tv_sec) * 1e3 + (double)(to->tv_nsec - from->tv_nsec) / 1e6;
}

/* One process: prints the load time and the first call's time. */
static int LoadOnce(const char* path) {
    struct timespec start, loaded, called;
    clock_gettime(CLOCK_MONOTONIC, &start);
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    clock_gettime(CLOCK_MONOTONIC, &loaded);
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    const Entry entry = (Entry)dlsym(library, "C_FORTRANENTRY_RollerModel5");
    if (entry == NULL) {
        fprintf(stderr, "C_FORTRANENTRY_RollerModel5 not found\n");
        return 1;
    }
    /* The bundled foreshore's ends; one step of the storm's peak. */
    const double x[] = {0, 340}, z[] = {-8.0, -1.0};
    const int damType = 3, steps = 1, points = 2, logging = 0;
    const double damHeight = -1.0, alpha = 1.0, fc = 0.01, invalid = -999.0, dikeNormal = 270.0;
    const double minStep = 1.0, ratioDepth = 0.5, ag = 9.81, rho = 1025.0;
    const double hm0 = 3.5, tp = 9.7, wlev = 4.0, angle = 245.0;
    double toeHm0 = 0, toeTp = 0, toeAngle = 0;
    char message[QAV_MESSAGE_LENGTH];
    const int rc = entry(&damType, &damHeight, &alpha, &fc, &invalid, &steps, &hm0, &tp, &wlev, &angle, &dikeNormal,
                         &points, x, &minStep, z, &ratioDepth, &logging, " ", 1, &ag, &rho, &toeHm0, &toeTp,
                         &toeAngle, message);
    clock_gettime(CLOCK_MONOTONIC, &called);
    printf("%.3f %.3f %d\n", Milliseconds(&start, &loaded), Milliseconds(&loaded, &called), rc);
    fflush(stdout);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s PATH-TO-LIBRARY [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? atoi(argv[2]) : 20;
    printf("# dlopen ms, first call ms, its return code; one process each\n");
    fflush(stdout);
    for (int i = 0; i < runs; ++i) {
        const pid_t child = fork();
        if (child == 0) _exit(LoadOnce(argv[1]));
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    }
    return 0;
}
