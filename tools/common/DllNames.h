// The two libraries of the interface: the module and the one it forwards to.
#pragma once

namespace velmark {

constexpr const char* kVelmarkDllName = "VELMARK.dll";
constexpr const char* kCoredllDllName = "COREDLL.dll";

}  // namespace velmark
