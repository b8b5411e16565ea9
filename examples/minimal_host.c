/*
 * The smallest useful host of DynamicLib-Qav: checks a profile and two time
 * steps, runs the model through the C entry and prints the toe conditions.
 * Exits with the run's return code (0 succeeded, 1 when it failed).
 */
#include <stdio.h>
#include <string.h>

#include "qav.h"

int main(void) {
    /* Foreshore from 8 m below datum to the toe at 2 m below datum (m). */
    const double x[] = {0.0, 200.0, 400.0};
    const double z[] = {-8.0, -5.0, -2.0};
    const int points = 3;
    /* Two time steps: Hm0 (m), Tp (s), water level (m), wave direction (deg). */
    const double hm0[] = {2.0, 3.0}, tp[] = {7.0, 9.0}, wlev[] = {1.0, 2.5}, angle[] = {260.0, 250.0};
    const int steps = 2;
    const double dikeNormal = 270.0;
    const int damType = 0; /* no dam: DamHeight is not read */
    const double damHeight = 0.0;
    /* Model parameters, the defaults of qav. */
    const double ag = 9.81, rho = 1025.0, alpha = 1.0, fc = 0.01, ratioDepth = 0.5, minStepSize = 1.0;
    const double invalid = -999.0;
    const int logging = 0;

    char message[QAV_MESSAGE_LENGTH];
    char version[QAV_MESSAGE_LENGTH + 1];
    GetVersionInfo(version); /* 1000 characters, blank padded, no NUL */
    version[QAV_MESSAGE_LENGTH] = '\0';
    version[strcspn(version, " ")] = '\0';
    printf("DynamicLib-Qav %s\n", version);

    /* The checks append their reason to a blank-padded buffer of the given length. */
    memset(message, ' ', sizeof message);
    if (VALIDATEPROFILE(&points, x, z, NULL, NULL, message, sizeof message) != 0) {
        printf("profile refused: %.*s\n", (int)sizeof message, message);
        return 1;
    }
    memset(message, ' ', sizeof message);
    if (VALIDATEHYDRAULICDATA(&steps, hm0, tp, wlev, angle, &invalid, message, sizeof message) == -1) {
        printf("conditions refused: %.*s\n", (int)sizeof message, message);
        return 1;
    }

    double hm0Toe[2], tpToe[2], angleToe[2];
    const int code = C_FORTRANENTRY_RollerModel5(
        &damType, &damHeight, &alpha, &fc, &invalid, &steps, hm0, tp, wlev, angle, &dikeNormal, &points, x,
        &minStepSize, z, &ratioDepth, &logging, "", 0, &ag, &rho, hm0Toe, tpToe, angleToe, message);
    for (int i = 0; i < steps; ++i) {
        printf("step %d: Hm0 %.3f m, Tp %.1f s, direction %.1f deg at the toe\n", i + 1, hm0Toe[i], tpToe[i],
               angleToe[i]);
    }
    printf("return code %d, message \"%s\"\n", code, message); /* NUL-terminated by the C entry */
    return code == 0 ? 0 : 1;
}
