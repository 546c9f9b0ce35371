// Resource requests of the host executable, served from the language module first.
#include "module/language/RedirectedLoad.h"

extern "C" int LoadStringW(HINSTANCE instance, UINT id, WCHAR* buffer, int capacity) {
    return redirectedLoad(coredll::LoadStringW, 0, instance, id, buffer, capacity);
}

extern "C" HMENU LoadMenuW(HINSTANCE instance, const WCHAR* name) {
    return redirectedLoad(coredll::LoadMenuW, HMENU(nullptr), instance, name);
}

extern "C" HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    return redirectedLoad(coredll::LoadResource, HGLOBAL(nullptr), module, resource);
}

extern "C" HWND CreateDialogIndirectParamW(HINSTANCE instance, const void* dialogTemplate,
                                           HWND parent, void* dialogProc, LPARAM initParam) {
    return redirectedLoad(coredll::CreateDialogIndirectParamW, HWND(nullptr), instance,
                          dialogTemplate, parent, dialogProc, initParam);
}

// Only -1 means the dialog could not be made; 0 is a result the dialog chose.
extern "C" INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, const void* dialogTemplate,
                                           HWND parent, void* dialogProc, LPARAM initParam) {
    return redirectedLoad(coredll::DialogBoxIndirectParamW, INT_PTR(-1), instance,
                          dialogTemplate, parent, dialogProc, initParam);
}
