/*
 * qx_interface.h - the four functions a hospital information system (the host) calls to do
 * medical-insurance business with the insurance center.
 *
 * Texts.  Every text passed in or handed out is a zero-terminated byte string in the system's
 * ANSI code page; Chinese text is GBK.
 *
 * Buffers.  The library never learns the size of a buffer it writes into.  init_handle and
 * business_handle copy a text (with its terminating zero) into the caller's buffer only when the
 * pointer is not NULL and the text already in the buffer, counted up to its first zero byte, is
 * at least as long as the text to copy; otherwise the buffer is left untouched.  So fill the
 * buffer with spaces (or any non-zero byte) up to its capacity less one, and put a zero after
 * them.  A reply that did not fit is still available: call result_handle(NULL) for its length,
 * then result_handle(buffer) with a buffer of at least that length plus one.
 *
 * Lengths.  A reply is at most 2147483647 bytes (INT_MAX, so that its length fits the int that
 * result_handle returns, and the length plus one its zero): a longer one, or one whose
 * Content-Length announces more, is refused with -4 and its message names the limit; nothing of
 * it is handed out.  qx_interface.ini is read only when it is a regular file (after links) of at
 * most 1 MB (1 048 576 bytes); anything else is a file that cannot be opened.
 *
 * Calls block the calling thread: during the exchange with the center, the IC-card work and any
 * message box or password dialog shown to the clerk.  Calls from several threads are
 * serialised: a call blocks while another one is running.
 *
 * Configuration.  qx_interface.ini in the host's current directory at the moment the library was
 * loaded, section [center], keys server, port, servlet and com (card reader port 1 to 10).
 */
#ifndef QX_INTERFACE_H_
#define QX_INTERFACE_H_

/*
 * The version of the library this header belongs to (CHANGELOG.md).  The installed library
 * carries the same version in its file name on Linux (libqx_interface.so.MAJOR.MINOR.PATCH) and
 * in its version resource on Windows; the export table does not change between versions of one
 * MAJOR.  CMake reads the version from these three lines.
 */
#define QX_INTERFACE_VERSION_MAJOR 1
#define QX_INTERFACE_VERSION_MINOR 1
#define QX_INTERFACE_VERSION_PATCH 0
#define QX_INTERFACE_VERSION_STRING "1.1.0"

#if defined(_WIN32) && !defined(_WIN64)
#define QX_CALL __stdcall
#else
#define QX_CALL
#endif

#if defined(_WIN32)
#define QX_EXPORT /* exported by name through the module definition file */
#elif defined(QX_BUILDING_LIBRARY)
#define QX_EXPORT __attribute__((visibility("default")))
#else
#define QX_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Reads qx_interface.ini, opens the connection to the center and makes the library ready for
 * business calls.  Call it once after loading, and again after config_handle.
 *
 * message: buffer for a text saying what happened (buffer rule above), or NULL.
 *   success: "初始化成功"; a missing or bad setting: which one; a file that cannot be opened:
 *   its path; a center that cannot be reached: the empty text (the clerk sees a message box).
 * Returns 1 on success, -1 on failure.  After a failure business_handle refuses to run.
 */
QX_EXPORT int QX_CALL init_handle(char* message);

/*
 * Writes new settings into section [center] of qx_interface.ini; each NULL argument leaves its
 * key as it is.  The settings take effect at the next init_handle.
 * Returns 0 when all four are NULL (nothing written), 1 when the file was written, -1 when it
 * could not be written.  The file is replaced by a new one where its folder may be written (a
 * failure leaves it unchanged); where only the file itself may be written, it is rewritten in
 * place (a failure midway may leave it part written).
 */
QX_EXPORT int QX_CALL config_handle(const char* server, const char* port, const char* servlet,
                                    const char* com);

/*
 * Runs one business call: request is the host's request XML (<Program> with a <FunctionID>).
 * Function "0" logs in and "8" fetches the user information; the library keeps what they return
 * and adds it to every later request.  The clerk may be asked for the IC card's password.
 *
 * reply: buffer for the center's reply XML, or on failure for the result XML
 *   <Program><ErrorNo>code</ErrorNo><ErrorMessage>text</ErrorMessage><ErrorType>2</ErrorType>
 *   <Exception></Exception></Program>  (buffer rule above), or NULL.
 * Returns 0 (or another non-negative status) when the center's reply was delivered, a negative
 * status code on failure.  The center reports its own business failures inside its reply.
 */
QX_EXPORT int QX_CALL business_handle(const char* request, char* reply);

/*
 * Hands out the text the last business_handle produced (the reply or the result XML).  That is
 * the last call in the process: with several threads it may be another thread's call, so such
 * hosts take the reply from business_handle's buffer.
 * buffer: NULL to learn the length only; otherwise it receives the text and its terminating
 * zero WITHOUT any length check, so it must hold at least the returned length plus one bytes.
 * Returns the length of the text in bytes (0 before the first business call).
 */
QX_EXPORT int QX_CALL result_handle(char* buffer);

#ifdef __cplusplus
}
#endif

#endif /* QX_INTERFACE_H_ */
