// The four exported functions. Each is a shim around the one interface object: it takes the
// process-wide lock (a call from another thread waits until the running one returns), calls
// into C++ inside a catch-all, and maps what escapes to the documented failure result. The
// interface object is constructed when the library is loaded, so the configuration path is the
// host's current directory at that moment.
#include <mutex>
#include <new>

#include "interface/insurance_interface.h"
#include "platform/env.h"
#include "qx_interface.h"

namespace {

std::recursive_mutex g_lock;
qx::InsuranceInterface g_interface(qx::platform::DefaultEnv());

}  // namespace

extern "C" {

QX_EXPORT int QX_CALL init_handle(char* message) {
  try {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    return g_interface.InitHandle(message);
  } catch (...) {
    return -1;
  }
}

QX_EXPORT int QX_CALL config_handle(const char* server, const char* port, const char* servlet,
                                    const char* com) {
  try {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    return g_interface.ConfigHandle(server, port, servlet, com);
  } catch (...) {
    return -1;
  }
}

QX_EXPORT int QX_CALL business_handle(const char* request, char* reply) {
  try {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    return g_interface.BusinessHandle(request, reply);
  } catch (...) {
    return -1;
  }
}

QX_EXPORT int QX_CALL result_handle(char* buffer) {
  try {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    return g_interface.ResultHandle(buffer);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
