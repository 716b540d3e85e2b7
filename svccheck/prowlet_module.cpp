// Prowlet's four exports.
#include "module.h"

#define DLL_EXPORT extern "C" __attribute__((visibility("default")))

DLL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return prowlet::GetClassObject(rclsid, riid, ppv);
}

// The module stays loaded for the life of the process.
DLL_EXPORT HRESULT DllCanUnloadNow(void) {
    return S_FALSE;
}

DLL_EXPORT HRESULT DllRegisterServer(void) {
    return prowlet::RegisterServer();
}

DLL_EXPORT HRESULT DllUnregisterServer(void) {
    return prowlet::UnregisterServer();
}
