#pragma once
// The argument list of a TraceMessage call, as a stand-in for the platform receives it: pairs of
// (pointer, size) ended by a null pointer.
#include <windows.h>
#include <cstdarg>
#include <string>
#include <vector>

inline std::vector<std::string> CollectTraceArguments(va_list args) {
    std::vector<std::string> arguments;
    for (;;) {
        const void* data = va_arg(args, PVOID);
        if (data == nullptr) break;
        const SIZE_T size = va_arg(args, SIZE_T);
        arguments.emplace_back(static_cast<const char*>(data), size);
    }
    return arguments;
}
