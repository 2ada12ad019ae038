// The vendor's card-reader library as a binary interface: the file name it is loaded by, the
// calling convention of its entry points and their types. The interface library calls it
// (card_library.h); the simulated reader and the in-process double implement it, and compile
// against these types so that a signature that drifts from the library's fails to build.
#ifndef QX_CARD_CARD_ABI_H_
#define QX_CARD_CARD_ABI_H_

// The entry points use the Windows API convention on 32-bit Windows (the called function removes
// its arguments) and the C convention everywhere else.
#if defined(_WIN32) && !defined(_WIN64)
#define QX_CARD_CALL __stdcall
#else
#define QX_CARD_CALL
#endif

namespace qx::card {

// The six entry points of the card-reader library the system calls. All texts are zero-terminated
// ANSI (GBK) byte strings; a negative result is a failure.
extern "C" {
using ICResetFunction = int(QX_CARD_CALL*)(void);
using ICStartFunction = int(QX_CARD_CALL*)(int port);
// value: a 100-byte buffer filled with zeros by the caller; the library writes at most 99 bytes.
using ICGetFunction = int(QX_CARD_CALL*)(const char* name, char* value);
using ICPutFunction = int(QX_CARD_CALL*)(const char* name, const char* value);
using ICExecuteFunction = int(QX_CARD_CALL*)(int port);
// text: a 1024-byte buffer for the description of the library's last failure.
using ICGeterrMsgFunction = int(QX_CARD_CALL*)(char* text);
}

// File name of the card-reader library, found by the platform's usual library search (the
// interface library carries no RUNPATH: on POSIX the system's search finds the vendor's).
#if defined(_WIN32)
inline constexpr char kCardLibraryName[] = "qxic.dll";
#else
inline constexpr char kCardLibraryName[] = "libqxic.so";
#endif

}  // namespace qx::card

#endif  // QX_CARD_CARD_ABI_H_
