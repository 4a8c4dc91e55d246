#include "drivers/Driver.h"

#include "shell/Log.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\Driver";

void SysFile::Bind(const XmlNode& node) {
    BindAttribute(node, L"sha256", sha256);
    BindText(node, fileName);
}

// The schema allows a "platform" attribute here; it is deliberately not bound, so an INF file
// always suits the running platform.
void InfFile::Bind(const XmlNode& node) {
    BindAttribute(node, L"sha256", sha256);
    BindText(node, fileName);
}

void Driver::Bind(const XmlNode& node) {
    BindAttribute(node, L"bootload", bootload);
    BindChildren(node, sysFiles);
    BindChild(node, infFile);
}

// This build binds driver elements but cannot yet install, remove, repair, upgrade or verify
// drivers: every machine operation below says so in the log and fails with
// ERROR_CALL_NOT_IMPLEMENTED, so that a document with drivers never reports work it did not do.
namespace {
DWORD NotSupported(const char* operation, const std::wstring& infName) {
    LOG(LogLevel::Error, "%s: driver elements are not supported by this build (INF %S)", operation,
        infName.c_str());
    return ERROR_CALL_NOT_IMPLEMENTED;
}
} // namespace

DWORD Driver::Install() { return NotSupported("Driver::Install", infFile.fileName); }
DWORD Driver::UnInstall() { return NotSupported("Driver::UnInstall", infFile.fileName); }
DWORD Driver::Repair() { return NotSupported("Driver::Repair", infFile.fileName); }
DWORD Driver::Upgrade() { return NotSupported("Driver::Upgrade", infFile.fileName); }
DWORD Driver::Verify() { return NotSupported("Driver::Verify", infFile.fileName); }
