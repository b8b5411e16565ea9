/*
 * A small host program: reads a profile and a series of offshore conditions
 * from two CSV files, calls the C entry of DynamicLib-Qav and prints the wave
 * conditions at the dike toe.
 *
 * usage: qav_example_host PROFILE.csv SERIES.csv [DIKE_NORMAL]
 *   PROFILE.csv  columns x,z (m)
 *   SERIES.csv   columns hm0,tp,wlev,angle (m, s, m, deg)
 * Lines that do not start with a number (headers, # comments) are skipped.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qav.h"

enum { MaxRows = 10000, MaxColumns = 4 };

/* Reads up to MaxRows rows of `columns` numbers; returns the row count or -1. */
static int ReadTable(const char* path, int columns, double* values) {
    FILE* file = fopen(path, "r");
    if (file == NULL) {
        fprintf(stderr, "cannot open %s\n", path);
        return -1;
    }
    char line[512];
    int rows = 0;
    while (rows < MaxRows && fgets(line, sizeof line, file) != NULL) {
        double row[MaxColumns];
        int read = sscanf(line, "%lf,%lf,%lf,%lf", &row[0], &row[1], &row[2], &row[3]);
        if (read < columns) continue;
        memcpy(values + (size_t)rows * columns, row, sizeof(double) * (size_t)columns);
        ++rows;
    }
    fclose(file);
    return rows;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s PROFILE.csv SERIES.csv [DIKE_NORMAL]\n", argv[0]);
        return 2;
    }
    static double profile[MaxRows * 2];
    static double series[MaxRows * 4];
    const int m = ReadTable(argv[1], 2, profile);
    const int n = ReadTable(argv[2], 4, series);
    if (m < 0 || n < 0) return 2;

    static double x[MaxRows], z[MaxRows], hm0[MaxRows], tp[MaxRows], wlev[MaxRows], angle[MaxRows];
    static double hm0Toe[MaxRows], tpToe[MaxRows], angleToe[MaxRows];
    for (int i = 0; i < m; ++i) {
        x[i] = profile[2 * i];
        z[i] = profile[2 * i + 1];
    }
    for (int i = 0; i < n; ++i) {
        hm0[i] = series[4 * i];
        tp[i] = series[4 * i + 1];
        wlev[i] = series[4 * i + 2];
        angle[i] = series[4 * i + 3];
    }

    const int damType = 0, logging = 0;
    const double damHeight = 0.0, dikeNormal = argc > 3 ? atof(argv[3]) : 0.0;
    const double ag = 9.81, rho = 1025.0, alpha = 1.0, fc = 0.01, ratioDepth = 0.5, invalid = -999.0,
                 minStep = 1.0;
    char message[QAV_MESSAGE_LENGTH + 1];
    char version[QAV_MESSAGE_LENGTH + 1];
    GetVersionInfo(version);
    version[QAV_MESSAGE_LENGTH] = '\0';
    for (int i = QAV_MESSAGE_LENGTH - 1; i >= 0 && version[i] == ' '; --i) version[i] = '\0';

    const int code = C_FORTRANENTRY_RollerModel5(&damType, &damHeight, &alpha, &fc, &invalid, &n, hm0, tp, wlev,
                                                 angle, &dikeNormal, &m, x, &minStep, z, &ratioDepth, &logging,
                                                 " ", 1, &ag, &rho, hm0Toe, tpToe, angleToe, message);

    printf("DynamicLib-Qav %s: %d profile points, %d time steps, dike normal %.1f deg\n", version, m, n,
           dikeNormal);
    printf("%5s %8s %8s %8s %8s %10s %10s %10s\n", "step", "hm0", "tp", "wlev", "angle", "hm0_toe", "tp_toe",
           "angle_toe");
    for (int i = 0; i < n; ++i) {
        printf("%5d %8.3f %8.3f %8.3f %8.2f %10.4f %10.4f %10.4f\n", i + 1, hm0[i], tp[i], wlev[i], angle[i],
               hm0Toe[i], tpToe[i], angleToe[i]);
    }
    printf("return code %d%s%s\n", code, message[0] != '\0' ? ", message: " : "", message);
    return code == 0 ? 0 : 1;
}
