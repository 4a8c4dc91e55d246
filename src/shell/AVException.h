#pragma once
// The program's exception, raised only for failures of the environment (a missing library or
// function, an SDDL text that does not convert, a privilege that cannot be enabled, an unknown
// policy identifier, an exclusion text that does not parse). main makes its code the exit code.
#include <windows.h>
#include <stdexcept>
#include <string>

class AVException : public std::exception {
public:
    AVException(std::string message, DWORD code, unsigned line, std::string sourceFile)
        : message_(std::move(message)), code_(code), line_(line), sourceFile_(std::move(sourceFile)) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const { return message_; }
    DWORD Code() const { return code_; }
    unsigned Line() const { return line_; }
    const std::string& SourceFile() const { return sourceFile_; }

private:
    std::string message_;
    DWORD code_;
    unsigned line_;
    std::string sourceFile_;
};
