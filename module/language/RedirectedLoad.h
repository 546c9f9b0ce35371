// The one pattern of every redirected resource request: the host
// executable's resources come from the language module first, and from the
// host executable when the language module answers with `failure`. Any
// other module's requests, and all requests without a language module, go
// to COREDLL unchanged.
#pragma once

#include "module/frame/ModuleState.h"
#include "module/frame/coredll.h"

template <typename Result, typename... Args>
Result redirectedLoad(Result (*load)(HINSTANCE, Args...), Result failure, HINSTANCE instance,
                      Args... args) {
    HMODULE language = moduleState.languageModule;
    // The host's handle is asked afresh each time rather than remembered.
    if (language && instance == coredll::GetModuleHandleW(nullptr)) {
        Result result = load(language, args...);
        if (result != failure) return result;
    }
    return load(instance, args...);
}
