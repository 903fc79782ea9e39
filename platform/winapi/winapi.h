#pragma once

// The subset of the Windows API that the program calls, provided on POSIX.
// Only platform/winapi includes the POSIX headers behind these calls.

#include "TickCounter.h"

#include <cstddef>
#include <cstdint>

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int BOOL;
typedef int32_t HRESULT;
typedef void *HANDLE;
typedef void *HWND;
typedef void *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef void *HKEY;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef wchar_t WCHAR;
typedef wchar_t *LPWSTR;
typedef const wchar_t *LPCWSTR;
typedef void (*FARPROC)();
typedef uint32_t ULONG;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)
#define E_INVALIDARG ((HRESULT)0x80070057L)

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2

#define CSIDL_SYSTEMX86 0x0029

#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define SW_HIDE 0
#define SW_SHOW 5

#define CREATE_NO_WINDOW 0x08000000

#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define FILE_MAP_WRITE 0x0002
#define FILE_MAP_READ 0x0004
#define FILE_MAP_ALL_ACCESS 0xF001F

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_BAD_FORMAT 11
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_PROC_NOT_FOUND 127
#define ERROR_ALREADY_EXISTS 183

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000
#define WAIT_TIMEOUT 0x00000102
#define WAIT_FAILED 0xFFFFFFFF
#define STILL_ACTIVE 259

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

struct SYSTEMTIME
{
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
typedef SYSTEMTIME *LPSYSTEMTIME;

struct SHELLEXECUTEINFOW
{
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void *lpIDList;
    LPCWSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIconOrMonitor;
    HANDLE hProcess;
};

DWORD GetCurrentProcessId();
DWORD GetLastError();
void SetLastError(DWORD error);

// Named mappings are POSIX shared-memory objects, owner-only. With INVALID_HANDLE_VALUE the call
// creates the object or opens an existing one (GetLastError() is then ERROR_ALREADY_EXISTS).
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow, size_t bytes);
BOOL UnmapViewOfFile(LPCVOID base);
// Closing a mapping handle removes the object's name; closing a process handle releases it.
BOOL CloseHandle(HANDLE handle);

// Monotonic milliseconds, 32 bits, wrapping; while read often it advances in steps of about ten
// milliseconds, like the counter it stands in for.
inline DWORD GetTickCount()
{
    return TickCounter::read();
}

// True while a tracer is attached (TracerPid in /proc/self/status).
BOOL IsDebuggerPresent();

// "X.dll" loads libX.so from the executable's folder, then through the library path.
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

// Per-thread apartment count: the first call on a thread gives S_OK, later ones S_FALSE,
// a different apartment kind RPC_E_CHANGED_MODE.
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();

// CSIDL_SYSTEMX86 is $TARN_SYSTEMX86_DIR; without it the call fails and the buffer stays as it was.
BOOL SHGetSpecialFolderPathA(HWND owner, LPSTR path, int csidl, BOOL create);

// Starts lpFile (backslashes turned into slashes) without a shell; lpParameters are split by the
// Windows command-line rules.
BOOL ShellExecuteExW(SHELLEXECUTEINFOW *info);

struct STARTUPINFOA
{
    DWORD cb;
};
typedef STARTUPINFOA *LPSTARTUPINFOA;

struct PROCESS_INFORMATION
{
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
typedef PROCESS_INFORMATION *LPPROCESS_INFORMATION;

// Splits the command line by the Windows rules and starts the program without a shell. A first token
// without an extension that names no file also tries the name with ".exe". CREATE_NO_WINDOW puts the
// standard streams on /dev/null. The child is reaped when it ends, whether or not its handle is kept.
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation);

// Waits until the process behind a handle from CreateProcessA or ShellExecuteExW has ended.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// STILL_ACTIVE while it runs; then its exit status, or 128 + the signal that ended it.
BOOL GetExitCodeProcess(HANDLE process, DWORD *exitCode);
