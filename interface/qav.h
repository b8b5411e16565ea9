/*
 * Qav: waves at the toe of a dike.
 *
 * The five functions exported by DynamicLib-Qav. Plain C, usable from C and C++.
 *
 * Conventions of every function below:
 *  - Reals are IEEE doubles, counts and switches 32-bit signed integers. A count
 *    below 1 means an empty array; an empty array may be a null pointer.
 *  - Arrays are contiguous doubles owned by the caller; the library reads or
 *    writes them only during the call.
 *  - Texts are an address plus a length in characters, blank padded, trailing
 *    blanks insignificant. The message buffer of the main entries is 1000
 *    characters; a null message buffer makes an entry return -1 and touch
 *    nothing. Any other required argument that is null gives -1 and the
 *    message "Argument <Name> is missing!".
 *  - Return codes: 0 success or accepted, -1 failure or refused, and for the
 *    hydraulic check also 1 for a calm series (Hm0 almost zero).
 *  - Safe to call from several threads at once; each thread has its own
 *    diagnostic log settings.
 */
#ifndef QAV_H
#define QAV_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(QAV_BUILDING_LIBRARY)
#    define QAV_API __declspec(dllexport)
#  else
#    define QAV_API __declspec(dllimport)
#  endif
#else
#  define QAV_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Number of characters of the message buffer of the main entries. */
#define QAV_MESSAGE_LENGTH 1000

/*
 * Runs the model over a time series, every argument by reference.
 *
 * DamType            0 no dam, 1 caisson, 2 wall, 3 dam
 * DamHeight          crest height of the dam (m, datum of Wlev)
 * ModelParameters    7 doubles: Ag (m/s2), Rho (kg/m3), Alpha (-), Fc (-),
 *                    RatioDepth (-), InvalidValue (marker), MinStepSize (m)
 * NumberOfTimeSteps  N; below 1 counts as 0 (and the run fails)
 * Hm0, Tp, Wlev, IncomingWaveAngle
 *                    N doubles each: offshore significant wave height (m),
 *                    peak period (s), water level (m), wave direction (deg)
 * DikeNormal         direction of the dike normal (deg)
 * NumberOfProfilePoints  M; below 1 counts as 0
 * ProfileX, ProfileBottomLevel
 *                    M doubles each: cross-shore position (m, increasing
 *                    towards the dike) and bottom level (m, datum of Wlev)
 * Logging            non-zero appends a diagnostic log to LogFileName
 * LogFileName        LogFileNameLength characters, blank padded
 * Hm0Toe, TpToe, WaveAngleToe
 *                    N doubles each, written: Hm0 (m), Tp (s) and wave
 *                    direction (deg) at the dike toe, InvalidValue where a
 *                    step could not be computed
 * ErrorMessage       1000 characters, written blank padded, no NUL
 * LogFileNameLength  characters of LogFileName used
 * ErrorMessageLength not read; the buffer is always 1000 characters
 *
 * Returns 0 when the run succeeded, -1 when it failed (refused set-up, no
 * time steps, or too many failed time steps).
 */
QAV_API int FORTRANENTRY_ROLLERMODEL5(
    const int* DamType, const double* DamHeight, const double* ModelParameters,
    const int* NumberOfTimeSteps, const double* Hm0, const double* Tp,
    const double* Wlev, const double* IncomingWaveAngle, const double* DikeNormal,
    const int* NumberOfProfilePoints, const double* ProfileX,
    const double* ProfileBottomLevel, const int* Logging, const char* LogFileName,
    double* Hm0Toe, double* TpToe, double* WaveAngleToe, char* ErrorMessage,
    int64_t LogFileNameLength, int64_t ErrorMessageLength);

/*
 * The same model run with the seven model parameters as separate values and
 * a C text for the message. Arguments as for FORTRANENTRY_ROLLERMODEL5; Ag,
 * Rho, Alpha, Fc, RatioDepth, InvalidValue and MinStepSize are given one by
 * one. ErrorMessage must hold at least 1000 bytes; it is returned with its
 * trailing blanks removed and a NUL at index min(L, 999), L the length of the
 * message without trailing blanks.
 *
 * Returns 0 when the run succeeded, -1 when it failed.
 */
QAV_API int C_FORTRANENTRY_RollerModel5(
    const int* DamType, const double* DamHeight, const double* Alpha,
    const double* Fc, const double* InvalidValue, const int* NumberOfTimeSteps,
    const double* Hm0, const double* Tp, const double* Wlev,
    const double* IncomingWaveAngle, const double* DikeNormal,
    const int* NumberOfProfilePoints, const double* ProfileX,
    const double* MinStepSize, const double* ProfileBottomLevel,
    const double* RatioDepth, const int* Logging, const char* LogFileName,
    int64_t LogFileNameLength, const double* Ag, const double* Rho,
    double* Hm0Toe, double* TpToe, double* WaveAngleToe, char* ErrorMessage);

/*
 * Checks a profile without running the model.
 *
 * NumberOfProfilePoints  M; below 1 counts as 0
 * ProfileX, ProfileBottomLevel  M doubles each (m)
 * Reserved1, Reserved2   accepted and never read
 * ErrorMessage           ErrorMessageLength characters; a refusal adds or
 *                        writes its reason, an accepted profile leaves it as is
 *
 * Returns 0 when the profile is accepted, -1 when it is refused.
 */
QAV_API int VALIDATEPROFILE(const int* NumberOfProfilePoints, const double* ProfileX,
                            const double* ProfileBottomLevel, const void* Reserved1,
                            const void* Reserved2, char* ErrorMessage,
                            int64_t ErrorMessageLength);

/*
 * Checks a series of offshore hydraulic conditions without running the model.
 *
 * NumberOfTimeSteps  N; below 1 gives 0 and leaves the message untouched
 * Hm0, Tp, Wlev, IncomingWaveAngle  N doubles each (m, s, m, deg)
 * InvalidValue       the marker of a missing value
 * ErrorMessage       ErrorMessageLength characters
 *
 * Returns 0 when every step is acceptable, 1 when a step is calm (Hm0 almost
 * zero, message "Hm0 is (almost) zero"), -1 when a step is refused (the
 * message of the first refused step).
 */
QAV_API int VALIDATEHYDRAULICDATA(const int* NumberOfTimeSteps, const double* Hm0,
                                  const double* Tp, const double* Wlev,
                                  const double* IncomingWaveAngle,
                                  const double* InvalidValue, char* ErrorMessage,
                                  int64_t ErrorMessageLength);

/*
 * Writes the library version "major.minor.build.revision" into VersionText,
 * left-aligned and blank padded to exactly 1000 characters, no NUL. A null
 * buffer is ignored.
 */
QAV_API void GetVersionInfo(char* VersionText);

#ifdef __cplusplus
}
#endif

#endif /* QAV_H */
