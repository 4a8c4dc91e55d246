// One policy element: its values go into HKLM\SOFTWARE\Norvex\Coravel\<kind>\<key>.
#include "policy/CPolicy.h"

#include "policy/PolicyCommon.h"
#include "shell/Log.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\CPolicy";

void CPolicy::Bind(const XmlNode& node) {
    BindAttribute(node, L"key", key);
    BindChildrenWith(node, CPolicyData::ElementName(), values, [] { return std::make_unique<CPolicyData>(); });
}

std::wstring CPolicy::KeyPath() const {
    return PolicyKeyPath(kind_, key);
}

DWORD CPolicy::Install() {
    FunctionScope scope(kLogModule, "CPolicy::Install");
    const std::wstring keyPath = KeyPath();
    LOG(LogLevel::Detail, "Installing Policy: %S.", key.c_str());
    // A failed value ends this policy, never the configuration.
    for (const auto& value : values) {
        value->SetKeyPath(keyPath);
        if (value->Install() != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Failed to install Policy: %S.", key.c_str());
            break;
        }
    }
    return scope.Result(ERROR_SUCCESS);
}

DWORD CPolicy::UnInstall() {
    for (const auto& value : values) value->UnInstall();
    return ERROR_SUCCESS;
}

DWORD CPolicy::Verify() {
    const std::wstring keyPath = KeyPath();
    DWORD result = ERROR_SUCCESS;
    for (const auto& value : values) {
        value->SetKeyPath(keyPath);
        const DWORD valueResult = value->Verify();
        if (valueResult != ERROR_SUCCESS) result = valueResult;
    }
    return result;
}
