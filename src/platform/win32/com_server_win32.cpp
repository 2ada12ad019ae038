// The standard exports of an in-process COM server. The library registers no class of its own:
// there is nothing to hand out, nothing to register, and nothing that keeps it loaded.
//   DllGetClassObject   CLASS_E_CLASSNOTAVAILABLE for every class, *ppv null
//   DllCanUnloadNow     S_OK (no object of ours is alive between calls)
//   DllRegisterServer   S_OK, writes nothing
// Linked into the interface DLL only (never into the platform library: a DLL export from a static
// library is never pulled into the link) and exported through its module definition file.
#include <objbase.h>
#include <windows.h>

extern "C" {

HRESULT __stdcall DllGetClassObject(REFCLSID /*clsid*/, REFIID /*iid*/, void** object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  *object = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT __stdcall DllCanUnloadNow() { return S_OK; }

HRESULT __stdcall DllRegisterServer() { return S_OK; }

}  // extern "C"
