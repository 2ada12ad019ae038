/*
 * The in-process COM server exports of QX_Interface_center.dll, as a Windows host sees them:
 * loaded with LoadLibraryA, no class of ours, nothing to register, and only undecorated names.
 * What a host does through the four functions is in tests/scenarios.
 *
 * usage: qx_win_host LIBRARY   (a Unix path such as /work/x.dll is taken as Z:\work\x.dll)
 */
#include <objbase.h>
#include <stdio.h>
#include <windows.h>

typedef HRESULT(__stdcall* GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT(__stdcall* ComFn)(void);

static int g_passed, g_failed;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (cond) {                                                                \
      ++g_passed;                                                              \
    } else {                                                                   \
      ++g_failed;                                                              \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                          \
  } while (0)

int main(int argc, char** argv) {
  static const CLSID any = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  char library[MAX_PATH * 4];
  void* object = (void*)1;
  HMODULE module;
  FARPROC get, can_unload, do_register;
  if (argc != 2) {
    fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
    return 2;
  }
  snprintf(library, sizeof library, "%s%s", argv[1][0] == '/' ? "Z:" : "", argv[1]);
  module = LoadLibraryA(library);
  if (module == NULL) {
    fprintf(stderr, "LoadLibraryA %s: error %lu\n", library, (unsigned long)GetLastError());
    return 2;
  }
  get = GetProcAddress(module, "DllGetClassObject");
  can_unload = GetProcAddress(module, "DllCanUnloadNow");
  do_register = GetProcAddress(module, "DllRegisterServer");
  CHECK(get != NULL && can_unload != NULL && do_register != NULL);
  if (get != NULL && can_unload != NULL && do_register != NULL) {
    CHECK(((GetClassObjectFn)(void*)get)(&any, &IID_IClassFactory, &object) ==
          CLASS_E_CLASSNOTAVAILABLE);
    CHECK(object == NULL);
    CHECK(((ComFn)(void*)can_unload)() == S_OK);
    CHECK(((ComFn)(void*)do_register)() == S_OK);
  }
  /* Exactly the seven names: the library registers nothing, so it has nothing to unregister. */
  CHECK(GetProcAddress(module, "DllUnregisterServer") == NULL);
  /* Decorated names are not exported. */
  CHECK(GetProcAddress(module, "init_handle@4") == NULL);
  CHECK(GetProcAddress(module, "_init_handle@4") == NULL);
  FreeLibrary(module);
  printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
