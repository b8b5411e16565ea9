/*
 * A Windows host of DynamicLib-Qav.dll that links nothing of it: the DLL is
 * loaded with LoadLibrary and its five exports are found with GetProcAddress,
 * as desktop programs load it.
 *
 * usage: loader_consumer EXPECTED_VERSION     (beside DynamicLib-Qav.dll)
 *
 * Checks, in order: the five exports answer; the diagnostic log lands at a
 * Windows path (drive letter, backslashes, blanks); GetVersionInfo reads the
 * version resource of the DLL's own file, also for a renamed copy in a folder
 * whose name is outside the ANSI code page, a copy whose resource says another
 * version, and one whose resource is unreadable; a thread that used the log
 * may end after the DLL was unloaded. Exits non-zero at the first fault.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qav.h"

#define CHECK(condition)                                                          \
    do {                                                                          \
        if (!(condition)) {                                                       \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            exit(1);                                                              \
        }                                                                         \
    } while (0)

/* The exports' types, taken from the header so that they cannot drift. */
typedef __typeof__(&FORTRANENTRY_ROLLERMODEL5) ReferenceEntry;
typedef __typeof__(&C_FORTRANENTRY_RollerModel5) CEntry;
typedef __typeof__(&VALIDATEPROFILE) ProfileCheck;
typedef __typeof__(&VALIDATEHYDRAULICDATA) SeriesCheck;
typedef __typeof__(&GetVersionInfo) VersionQuery;

static FARPROC Export(HMODULE library, const char* name) {
    FARPROC function = GetProcAddress(library, name);
    if (function == NULL) {
        fprintf(stderr, "export %s not found (error %lu)\n", name, GetLastError());
        exit(1);
    }
    return function;
}

static HMODULE Load(const wchar_t* path) {
    HMODULE library = LoadLibraryW(path);
    if (library == NULL) {
        /* 126: a DLL it depends on is missing; 193: not a 64-bit DLL. */
        fprintf(stderr, "LoadLibrary(%ls) failed with error %lu\n", path, GetLastError());
        exit(2);
    }
    return library;
}

/* The version text of the DLL at `library`, blank padding checked and cut. */
static const char* VersionOf(HMODULE library) {
    static char text[QAV_MESSAGE_LENGTH + 1];
    VersionQuery getVersion = (VersionQuery)(void*)Export(library, "GetVersionInfo");
    memset(text, '#', sizeof text);
    getVersion(text);
    CHECK(text[QAV_MESSAGE_LENGTH] == '#'); /* exactly 1000 characters written */
    int length = QAV_MESSAGE_LENGTH;
    while (length > 0 && text[length - 1] == ' ') --length;
    for (int i = 0; i < length; ++i) CHECK(text[i] == '.' || (text[i] >= '0' && text[i] <= '9'));
    text[length] = '\0';
    return text;
}

/* The folder of this program, with a trailing backslash. */
static void ProgramFolder(wchar_t* folder, DWORD size) {
    DWORD length = GetModuleFileNameW(NULL, folder, size);
    CHECK(length > 0 && length < size);
    while (length > 0 && folder[length - 1] != L'\\') --length;
    folder[length] = L'\0';
}

/* Copies the DLL to `copy` and, when `major` is not negative, writes another
 * file version into the copy's fixed version information; a `major` of -2
 * destroys its signature instead. */
static void CopyWithVersion(const wchar_t* original, const wchar_t* copy, int major, int minor, int build,
                            int revision) {
    CHECK(CopyFileW(original, copy, FALSE));
    if (major == -1) return;
    FILE* file = _wfopen(copy, L"r+b");
    CHECK(file != NULL);
    static unsigned char image[4 << 20];
    size_t size = fread(image, 1, sizeof image, file);
    CHECK(size > 0 && size < sizeof image);
    /* The fixed information follows the key L"VS_VERSION_INFO" of the
     * resource (the signature's bytes alone occur in the code too). */
    const wchar_t key[] = L"VS_VERSION_INFO";
    size_t at = 0;
    while (at + sizeof key <= size && memcmp(image + at, key, sizeof key) != 0) ++at;
    CHECK(at + sizeof key <= size);
    const unsigned char signature[4] = {0xBD, 0x04, 0xEF, 0xFE}; /* VS_FFI_SIGNATURE */
    while (at + 16 <= size && memcmp(image + at, signature, 4) != 0) ++at;
    CHECK(at + 16 <= size);
    if (major == -2) {
        memset(image + at, 0, 4);
    } else {
        DWORD ms = ((DWORD)major << 16) | (DWORD)minor, ls = ((DWORD)build << 16) | (DWORD)revision;
        memcpy(image + at + 8, &ms, 4);
        memcpy(image + at + 12, &ls, 4);
    }
    CHECK(fseek(file, 0, SEEK_SET) == 0);
    CHECK(fwrite(image, 1, size, file) == size);
    CHECK(fclose(file) == 0);
}

static const int n = 3, m = 3, damType = 0, logOn = 1, logOff = 0;
static const double hm0[] = {1.0, 0.0, 2.0}, tp[] = {8.0, 6.0, 9.0}, wlev[] = {0.0, 0.0, 1.0};
static const double angle[] = {0.0, 0.0, 10.0};
static const double x[] = {0.0, 100.0, 200.0}, z[] = {-8.0, -6.0, -4.0};
static const double damHeight = 0.0, dikeNormal = 0.0;
static const double parameters[7] = {9.81, 1025.0, 1.0, 0.01, 0.5, -999.0, 1.0};

/* Checks the exports and the log at a Windows path. */
static void CheckExports(HMODULE library, const char* expected, const char* folder) {
    ReferenceEntry referenceEntry = (ReferenceEntry)(void*)Export(library, "FORTRANENTRY_ROLLERMODEL5");
    CEntry cEntry = (CEntry)(void*)Export(library, "C_FORTRANENTRY_RollerModel5");
    ProfileCheck profileCheck = (ProfileCheck)(void*)Export(library, "VALIDATEPROFILE");
    SeriesCheck seriesCheck = (SeriesCheck)(void*)Export(library, "VALIDATEHYDRAULICDATA");

    /* The log in a folder with a blank in its name, the name blank padded. */
    char logFolder[MAX_PATH], logName[300];
    snprintf(logFolder, sizeof logFolder, "%sqav log", folder);
    CreateDirectoryA(logFolder, NULL);
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\entry log.txt", logFolder);
    DeleteFileA(path);
    memset(logName, ' ', sizeof logName);
    memcpy(logName, path, strlen(path));
    CHECK(path[1] == ':' && strchr(path, '\\') != NULL);

    char message[QAV_MESSAGE_LENGTH];
    double hm0Toe[3], tpToe[3], angleToe[3];
    CHECK(referenceEntry(&damType, &damHeight, parameters, &n, hm0, tp, wlev, angle, &dikeNormal, &m, x, z,
                         &logOn, logName, hm0Toe, tpToe, angleToe, message, sizeof logName,
                         QAV_MESSAGE_LENGTH) == 0);
    CHECK(hm0Toe[0] > 0.5 && hm0Toe[0] < 1.5 && hm0Toe[1] == 0.0 && tpToe[1] == 6.0);

    FILE* log = fopen(path, "r");
    CHECK(log != NULL);
    char line[256], versionLine[256];
    snprintf(versionLine, sizeof versionLine, "DynamicLib-Qav.dll: VERSION %s\n", expected);
    CHECK(fgets(line, sizeof line, log) != NULL && strncmp(line, "Start Interface Logging:", 24) == 0);
    CHECK(fgets(line, sizeof line, log) != NULL && strcmp(line, versionLine) == 0);
    int finished = 0;
    while (fgets(line, sizeof line, log) != NULL) finished |= strncmp(line, "Entry Log Interface Finished at", 31) == 0;
    fclose(log);
    CHECK(finished);

    double hm0ToeC[3], tpToeC[3], angleToeC[3];
    CHECK(cEntry(&damType, &damHeight, &parameters[2], &parameters[3], &parameters[5], &n, hm0, tp, wlev, angle,
                 &dikeNormal, &m, x, &parameters[6], z, &parameters[4], &logOff, " ", 1, &parameters[0],
                 &parameters[1], hm0ToeC, tpToeC, angleToeC, message) == 0);
    CHECK(memcmp(hm0Toe, hm0ToeC, sizeof hm0Toe) == 0 && memcmp(angleToe, angleToeC, sizeof angleToe) == 0);
    CHECK(strcmp(message, "Hm0 is (almost) zero") == 0);

    memset(message, ' ', sizeof message);
    CHECK(profileCheck(&m, x, z, NULL, NULL, message, QAV_MESSAGE_LENGTH) == 0);
    const double backwards[] = {0.0, 100.0, 50.0};
    CHECK(profileCheck(&m, backwards, z, NULL, NULL, message, QAV_MESSAGE_LENGTH) == -1 && message[0] != ' ');
    CHECK(seriesCheck(&n, hm0, tp, wlev, angle, &parameters[5], message, QAV_MESSAGE_LENGTH) == 1);
}

/* A host thread that uses the log and lives on after the DLL is unloaded. */
struct Worker {
    HMODULE library;
    HANDLE called, release;
    int code;
    char logName[MAX_PATH];
};

static DWORD WINAPI WorkerMain(void* argument) {
    struct Worker* worker = argument;
    ReferenceEntry referenceEntry = (ReferenceEntry)(void*)Export(worker->library, "FORTRANENTRY_ROLLERMODEL5");
    char message[QAV_MESSAGE_LENGTH];
    double hm0Toe[3], tpToe[3], angleToe[3];
    worker->code = referenceEntry(&damType, &damHeight, parameters, &n, hm0, tp, wlev, angle, &dikeNormal, &m,
                                  x, z, &logOn, worker->logName, hm0Toe, tpToe, angleToe, message,
                                  (int64_t)strlen(worker->logName), QAV_MESSAGE_LENGTH);
    SetEvent(worker->called);
    WaitForSingleObject(worker->release, INFINITE);
    return 0;
}

int main(int argc, char** argv) {
    CHECK(argc == 2);
    const char* expected = argv[1];

    wchar_t folder[MAX_PATH];
    ProgramFolder(folder, MAX_PATH);
    char folderA[MAX_PATH];
    CHECK(WideCharToMultiByte(CP_ACP, 0, folder, -1, folderA, MAX_PATH, NULL, NULL) > 0);
    wchar_t original[MAX_PATH];
    _snwprintf(original, MAX_PATH, L"%lsDynamicLib-Qav.dll", folder);

    HMODULE library = Load(original);
    CHECK(strcmp(VersionOf(library), expected) == 0);
    CheckExports(library, expected, folderA);

    /* Copies under another name, loaded beside the original: each reads its
     * own file. The folder's name has a Greek capital omega. */
    wchar_t copies[MAX_PATH], renamed[MAX_PATH], patched[MAX_PATH], broken[MAX_PATH];
    _snwprintf(copies, MAX_PATH, L"%lsQav copies \x03A9", folder);
    CreateDirectoryW(copies, NULL);
    _snwprintf(renamed, MAX_PATH, L"%ls\\Renamed-Qav.dll", copies);
    _snwprintf(patched, MAX_PATH, L"%ls\\Patched-Qav.dll", copies);
    _snwprintf(broken, MAX_PATH, L"%ls\\Broken-Qav.dll", copies);
    CopyWithVersion(original, renamed, -1, 0, 0, 0);
    CopyWithVersion(original, patched, 7, 6, 5, 4);
    CopyWithVersion(original, broken, -2, 0, 0, 0);
    HMODULE renamedLibrary = Load(renamed), patchedLibrary = Load(patched), brokenLibrary = Load(broken);
    CHECK(strcmp(VersionOf(renamedLibrary), expected) == 0);
    CHECK(strcmp(VersionOf(patchedLibrary), "7.6.5.4") == 0);
    CHECK(strcmp(VersionOf(brokenLibrary), "0.0.0.0") == 0);
    CHECK(strcmp(VersionOf(library), expected) == 0);
    FreeLibrary(renamedLibrary);
    FreeLibrary(patchedLibrary);
    FreeLibrary(brokenLibrary);

    /* A thread whose log settings live in the DLL ends after the DLL is gone. */
    struct Worker worker = {library, CreateEventW(NULL, TRUE, FALSE, NULL), CreateEventW(NULL, TRUE, FALSE, NULL),
                            -2, ""};
    snprintf(worker.logName, sizeof worker.logName, "%sworker.log", folderA);
    DeleteFileA(worker.logName);
    HANDLE thread = CreateThread(NULL, 0, WorkerMain, &worker, 0, NULL);
    CHECK(thread != NULL);
    CHECK(WaitForSingleObject(worker.called, 60000) == WAIT_OBJECT_0);
    CHECK(worker.code == 0 && GetFileAttributesA(worker.logName) != INVALID_FILE_ATTRIBUTES);
    /* The C++ runtime keeps the DLL loaded while a thread still has to
     * release its log settings; the thread must end cleanly either way. */
    CHECK(FreeLibrary(library));
    SetEvent(worker.release);
    CHECK(WaitForSingleObject(thread, 60000) == WAIT_OBJECT_0);
    DWORD threadCode = 1;
    CHECK(GetExitCodeThread(thread, &threadCode) && threadCode == 0);
    CloseHandle(thread);

    /* Loaded again, it answers as before. */
    library = Load(original);
    CheckExports(library, expected, folderA);
    FreeLibrary(library);

    printf("loader consumer: five exports, the log at %sqav log\\, version %s from the resource\n", folderA,
           expected);
    return 0;
}
