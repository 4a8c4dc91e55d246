// The configuration document's root: installs, verifies and removes the policies, and records the
// install overrides.
#include "policy/Configuration.h"

#include "operations/RegistryOperation.h"
#include "policy/CPolicy.h"
#include "policy/InstallOverrideTable.h"
#include "policy/PolicyCommon.h"
#include "shell/Log.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\Configuration";

namespace {

template <typename Policies>
DWORD VerifyAll(const Policies& policies, DWORD result) {
    for (const auto& policy : policies) {
        const DWORD policyResult = policy->Verify();
        if (policyResult != ERROR_SUCCESS) result = policyResult;
    }
    return result;
}

} // namespace

void InstallOverride::Bind(const XmlNode& node) {
    BindChildText(node, L"dwProductID", productId);
    BindChildText(node, L"ServiceStartMode", serviceStartMode);
    BindChildText(node, L"dwContentMajorVersion", contentMajorVersion);
    BindChildText(node, L"dwContentMinorVersion", contentMinorVersion);
}

void InstallOverride::Record() const {
    InstallOverrideTable::Record(L"dwProductID", productId);
    InstallOverrideTable::Record(L"Start", serviceStartMode);
    InstallOverrideTable::Record(L"dwContentMajorVersion", contentMajorVersion);
    InstallOverrideTable::Record(L"dwContentMinorVersion", contentMinorVersion);
}

DWORD InstallOverride::Install() {
    Record();
    return ERROR_SUCCESS;
}

DWORD InstallOverride::Verify() {
    // The registry values written under an override are verified against it, so the table must
    // hold the overrides before anything is compared.
    Record();
    return ERROR_SUCCESS;
}

Configuration::Configuration() = default;
Configuration::~Configuration() = default;

void Configuration::Bind(const XmlNode& node) {
    BindChildrenWith(node, L"OASPolicy", oasPolicies, [] { return std::make_unique<CPolicy>(L"OAS"); });
    BindChildrenWith(node, L"ODSPolicy", odsPolicies, [] { return std::make_unique<CPolicy>(L"ODS"); });
    BindChildrenWith(node, L"GlobalPolicy", globalPolicies, [] { return std::make_unique<CPolicy>(L"BULWARKGLOBAL"); });
    BindChild(node, installOverride);
}

DWORD Configuration::Install() {
    FunctionScope scope(kLogModule, "Configuration::Install");
    for (const auto* policies : { &oasPolicies, &odsPolicies, &globalPolicies }) {
        for (const auto& policy : *policies) {
            const DWORD result = policy->Install();
            if (result != ERROR_SUCCESS) return scope.Result(result);
        }
    }
    installOverride.Install();
    return scope.Result(ERROR_SUCCESS);
}

DWORD Configuration::UnInstall() {
    FunctionScope scope(kLogModule, "Configuration::UnInstall");
    // Everything below the policy root goes, whatever wrote it.
    RegKey root(PolicyRootKeyPath());
    root.UnInstall();
    return scope.Result(ERROR_SUCCESS);
}

DWORD Configuration::Verify() {
    FunctionScope scope(kLogModule, "Configuration::Verify");
    installOverride.Verify();
    DWORD result = VerifyAll(oasPolicies, ERROR_SUCCESS);
    result = VerifyAll(odsPolicies, result);
    result = VerifyAll(globalPolicies, result);
    return scope.Result(result);
}
