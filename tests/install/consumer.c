/*
 * A program outside the Qav tree, built against an installed Qav: it checks
 * the version text against the version the package claims, runs the model on
 * a small foreshore and checks the profile refusal of VALIDATEPROFILE.
 * QAV_EXPECTED_VERSION is set by the build (from find_package or pkg-config).
 * Exit code 0 when every check holds.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <qav.h>

#ifndef QAV_EXPECTED_VERSION
#  error "QAV_EXPECTED_VERSION must name the installed version"
#endif

static int failures = 0;

static void Check(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    char version[QAV_MESSAGE_LENGTH + 1];
    GetVersionInfo(version);
    version[QAV_MESSAGE_LENGTH] = '\0';
    for (int i = QAV_MESSAGE_LENGTH - 1; i >= 0 && version[i] == ' '; --i) version[i] = '\0';
    printf("version %s (expected %s)\n", version, QAV_EXPECTED_VERSION);
    Check(strcmp(version, QAV_EXPECTED_VERSION) == 0, "GetVersionInfo reports the installed version");

    /* A 1:50 foreshore from -6 m to -0.5 m, two storm steps near the normal. */
    const double x[] = {0.0, 100.0, 200.0, 250.0, 275.0};
    const double z[] = {-6.0, -4.0, -2.0, -1.0, -0.5};
    const double hm0[] = {1.0, 2.0}, tp[] = {5.0, 7.0}, wlev[] = {0.5, 1.5}, angle[] = {0.0, 10.0};
    const int n = 2, m = 5, damType = 0, logging = 0;
    const double damHeight = 0.0, dikeNormal = 0.0, ag = 9.81, rho = 1025.0, alpha = 1.0, fc = 0.01,
                 ratioDepth = 0.5, invalid = -999.0, minStep = 1.0;
    double hm0Toe[2], tpToe[2], angleToe[2];
    char message[QAV_MESSAGE_LENGTH];
    const int code = C_FORTRANENTRY_RollerModel5(&damType, &damHeight, &alpha, &fc, &invalid, &n, hm0, tp, wlev,
                                                 angle, &dikeNormal, &m, x, &minStep, z, &ratioDepth, &logging,
                                                 " ", 1, &ag, &rho, hm0Toe, tpToe, angleToe, message);
    printf("run: code %d, message '%s'\n", code, message);
    Check(code == 0, "the model run succeeds");
    for (int i = 0; i < n; ++i) {
        printf("step %d: hm0 %.4f m, tp %.4f s, angle %.4f deg\n", i + 1, hm0Toe[i], tpToe[i], angleToe[i]);
        Check(hm0Toe[i] > 0.0 && hm0Toe[i] <= hm0[i], "the toe wave height lies in (0, offshore Hm0]");
        Check(fabs(tpToe[i] - tp[i]) < 1e-12, "the toe peak period is the offshore one");
        Check(fabs(angleToe[i] - invalid) > 1e-12, "the toe direction is computed");
    }

    const double badX[] = {0.0, 10.0, 10.0}, badZ[] = {-2.0, -1.0, 0.0};
    const int three = 3;
    char check[QAV_MESSAGE_LENGTH];
    memset(check, ' ', sizeof check);
    Check(VALIDATEPROFILE(&three, badX, badZ, NULL, NULL, check, QAV_MESSAGE_LENGTH) == -1,
          "a profile with a repeated x is refused");

    if (failures == 0) printf("all checks passed\n");
    return failures == 0 ? 0 : 1;
}
