/* A consumer written in C: the public header compiles as C and all five
 * exports link and answer. Exits non-zero on the first wrong answer. */
#include <stdio.h>
#include <string.h>

#include "qav.h"

#define EXPECT(condition)                                              \
    do {                                                               \
        if (!(condition)) {                                            \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
            return 1;                                                  \
        }                                                              \
    } while (0)

int main(void) {
    char text[QAV_MESSAGE_LENGTH];
    GetVersionInfo(text);
    EXPECT(memcmp(text, "25.1.1.0 ", 9) == 0 && text[QAV_MESSAGE_LENGTH - 1] == ' ');

    const int n = 2, m = 3, damType = 0, logging = 0;
    const double hm0[] = {1.0, 0.0}, tp[] = {8.0, 6.0}, wlev[] = {0.0, 0.0}, angle[] = {0.0, 0.0};
    const double x[] = {0.0, 100.0, 200.0}, z[] = {-8.0, -6.0, -4.0};
    const double damHeight = 0.0, dikeNormal = 0.0, parameters[7] = {9.81, 1025.0, 1.0, 0.01, 0.5, -999.0, 1.0};
    double hm0Toe[2], tpToe[2], angleToe[2];

    EXPECT(FORTRANENTRY_ROLLERMODEL5(&damType, &damHeight, parameters, &n, hm0, tp, wlev, angle, &dikeNormal, &m,
                                     x, z, &logging, " ", hm0Toe, tpToe, angleToe, text, 1,
                                     QAV_MESSAGE_LENGTH) == 0);
    EXPECT(hm0Toe[0] > 0.5 && hm0Toe[0] < 1.5 && hm0Toe[1] == 0.0 && tpToe[1] == 6.0);

    double hm0ToeC[2], tpToeC[2], angleToeC[2];
    EXPECT(C_FORTRANENTRY_RollerModel5(&damType, &damHeight, &parameters[2], &parameters[3], &parameters[5], &n,
                                       hm0, tp, wlev, angle, &dikeNormal, &m, x, &parameters[6], z, &parameters[4],
                                       &logging, " ", 1, &parameters[0], &parameters[1], hm0ToeC, tpToeC,
                                       angleToeC, text) == 0);
    EXPECT(memcmp(hm0Toe, hm0ToeC, sizeof hm0Toe) == 0 && strcmp(text, "Hm0 is (almost) zero") == 0);

    memset(text, ' ', sizeof text);
    EXPECT(VALIDATEPROFILE(&m, x, z, NULL, NULL, text, QAV_MESSAGE_LENGTH) == 0);
    EXPECT(VALIDATEHYDRAULICDATA(&n, hm0, tp, wlev, angle, &parameters[5], text, QAV_MESSAGE_LENGTH) == 1);
    EXPECT(memcmp(text, "Hm0 is (almost) zero ", 21) == 0);
    puts("all five exports answered");
    return 0;
}
