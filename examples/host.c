/*
 * A small host program: reads a profile and a series of offshore conditions
 * from two CSV files, calls the C entry of DynamicLib-Qav and prints the wave
 * conditions at the dike toe.
 *
 * usage: qav_example_host PROFILE.csv SERIES.csv [DIKE_NORMAL]
 *   PROFILE.csv  columns x,z (m)
 *   SERIES.csv   columns hm0,tp,wlev,angle (m, s, m, deg)
 * Comment lines ('#') and blank lines may stand above the header line, which
 * is skipped; below it every line that is not blank must hold the numbers of
 * one row, or the program stops naming the file and line: no row is dropped
 * unnoticed (a spreadsheet's "#N/A" or "5x" is an error, not a comment).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qav.h"

enum { MaxRows = 10000, MaxColumns = 4 };

/* Reads one line ending in \n, \r\n or \r (as spreadsheets write them) into
 * line, without its end; returns 0 at the end of the file, -1 for a line longer
 * than the buffer, else 1. */
static int ReadLine(FILE* file, char* line, size_t size) {
    size_t length = 0;
    int c = getc(file);
    if (c == EOF) return 0;
    while (c != EOF && c != '\n' && c != '\r') {
        if (length + 1 == size) return -1;
        line[length++] = (char)c;
        c = getc(file);
    }
    if (c == '\r') {
        c = getc(file);
        if (c != '\n' && c != EOF) ungetc(c, file);
    }
    line[length] = '\0';
    return 1;
}

/* Reads the rows of `columns` comma-separated numbers into values; returns the
 * row count, or -1 after a message on stderr. */
static int ReadTable(const char* path, int columns, double* values) {
    FILE* file = fopen(path, "r");
    if (file == NULL) {
        fprintf(stderr, "cannot open %s\n", path);
        return -1;
    }
    char line[512];
    int rows = 0, lineNumber = 0, headerRead = 0, failed = 0;
    int status = 0;
    while (!failed && (status = ReadLine(file, line, sizeof line)) != 0) {
        ++lineNumber;
        if (status < 0) {
            fprintf(stderr, "%s:%d: the line is longer than %d characters\n", path, lineNumber, (int)sizeof line - 1);
            failed = 1;
            break;
        }
        const char* text = line;
        if (lineNumber == 1 && strncmp(text, "\xEF\xBB\xBF", 3) == 0) text += 3; /* UTF-8 byte order mark */
        text += strspn(text, " \t");
        if (*text == '\0') continue;
        if (!headerRead) {
            headerRead = *text != '#';
            continue;
        }
        double row[MaxColumns];
        int end = -1;
        if (columns == 2) {
            sscanf(text, "%lf ,%lf %n", &row[0], &row[1], &end);
        } else {
            sscanf(text, "%lf ,%lf ,%lf ,%lf %n", &row[0], &row[1], &row[2], &row[3], &end);
        }
        if (end < 0 || text[end] != '\0') {
            fprintf(stderr, "%s:%d: expected %d numbers separated by ',', got: %s\n", path, lineNumber, columns, text);
            failed = 1;
        } else if (rows == MaxRows) {
            fprintf(stderr, "%s:%d: more than %d rows\n", path, lineNumber, MaxRows);
            failed = 1;
        } else {
            memcpy(values + (size_t)rows * columns, row, sizeof(double) * (size_t)columns);
            ++rows;
        }
    }
    fclose(file);
    if (!failed && rows == 0) {
        fprintf(stderr, "%s: no rows of numbers below the header\n", path);
        failed = 1;
    }
    return failed ? -1 : rows;
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
