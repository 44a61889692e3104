#include "platform/DefenderFirewall.h"

#include <windows.h>

#include <netfw.h>
#include <oleauto.h>

#include "platform/WideTextWindows.h"

namespace {

constexpr long kProfiles[] = {kProfileDomain, kProfilePrivate, kProfilePublic};

// Releases a COM interface on every way out.
template <typename Interface>
class Held {
public:
    Held() = default;
    ~Held() {
        if (pointer_ != nullptr) {
            pointer_->Release();
        }
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Interface** Out() { return &pointer_; }
    void** OutVoid() { return reinterpret_cast<void**>(&pointer_); }
    Interface* operator->() const { return pointer_; }
    Interface* get() const { return pointer_; }

private:
    Interface* pointer_ = nullptr;
};

// COM for this thread while the reading lasts. A thread that has COM in
// another mode already (RPC_E_CHANGED_MODE) reads all the same.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool ok() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

// A BSTR property as UTF-8; empty when it is not set.
template <typename Getter>
std::string Text(Getter get) {
    BSTR value = nullptr;
    if (FAILED(get(&value)) || value == nullptr) {
        return "";
    }
    std::string text = Utf8(value);
    SysFreeString(value);
    return text;
}

// Windows keeps "%SystemRoot%\..." in some rules: as the program's path would read.
std::string Expanded(const std::string& path) {
    if (path.find('%') == std::string::npos) {
        return path;
    }
    wchar_t expanded[MAX_PATH * 4];
    const DWORD length = ExpandEnvironmentStringsW(Utf16(path).c_str(), expanded,
                                                   sizeof expanded / sizeof *expanded);
    return length > 0 && length <= sizeof expanded / sizeof *expanded ? Utf8(expanded) : path;
}

DefenderRule ReadRule(INetFwRule* rule) {
    DefenderRule read;
    read.name = Text([rule](BSTR* value) { return rule->get_Name(value); });
    VARIANT_BOOL enabled = VARIANT_FALSE;
    read.enabled = SUCCEEDED(rule->get_Enabled(&enabled)) && enabled != VARIANT_FALSE;
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
    read.inbound = SUCCEEDED(rule->get_Direction(&direction)) && direction == NET_FW_RULE_DIR_IN;
    NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
    read.allow = SUCCEEDED(rule->get_Action(&action)) && action == NET_FW_ACTION_ALLOW;
    LONG protocol = kProtocolAny;
    read.protocol = SUCCEEDED(rule->get_Protocol(&protocol)) ? protocol : kProtocolAny;
    read.localPorts = Text([rule](BSTR* value) { return rule->get_LocalPorts(value); });
    read.remoteAddresses = Text([rule](BSTR* value) { return rule->get_RemoteAddresses(value); });
    read.application =
        Expanded(Text([rule](BSTR* value) { return rule->get_ApplicationName(value); }));
    read.service = Text([rule](BSTR* value) { return rule->get_ServiceName(value); });
    LONG profiles = 0;
    read.profiles = SUCCEEDED(rule->get_Profiles(&profiles)) ? profiles : 0;
    return read;
}

bool ReadRules(INetFwPolicy2* policy, std::vector<DefenderRule>* rules, HRESULT* failure) {
    Held<INetFwRules> list;
    Held<IUnknown> enumerator;
    Held<IEnumVARIANT> each;
    if (FAILED(*failure = policy->get_Rules(list.Out())) ||
        FAILED(*failure = list->get__NewEnum(enumerator.Out())) ||
        FAILED(*failure = enumerator->QueryInterface(__uuidof(IEnumVARIANT), each.OutVoid()))) {
        return false;
    }
    VARIANT item;
    VariantInit(&item);
    ULONG fetched = 0;
    while (each->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        Held<INetFwRule> rule;
        if (item.vt == VT_DISPATCH && item.pdispVal != nullptr &&
            SUCCEEDED(item.pdispVal->QueryInterface(__uuidof(INetFwRule), rule.OutVoid()))) {
            rules->push_back(ReadRule(rule.get()));
        }
        VariantClear(&item);
    }
    return true;
}

bool ReadProfile(INetFwPolicy2* policy, long type, DefenderProfile* profile, HRESULT* failure) {
    const auto kind = static_cast<NET_FW_PROFILE_TYPE2>(type);
    VARIANT_BOOL enabled = VARIANT_FALSE;
    VARIANT_BOOL blockAll = VARIANT_FALSE;
    NET_FW_ACTION inbound = NET_FW_ACTION_BLOCK;
    if (FAILED(*failure = policy->get_FirewallEnabled(kind, &enabled)) ||
        FAILED(*failure = policy->get_BlockAllInboundTraffic(kind, &blockAll)) ||
        FAILED(*failure = policy->get_DefaultInboundAction(kind, &inbound))) {
        return false;
    }
    profile->type = type;
    profile->enabled = enabled != VARIANT_FALSE;
    profile->blockAllInbound = blockAll != VARIANT_FALSE;
    profile->inboundAllowedByDefault = inbound == NET_FW_ACTION_ALLOW;
    return true;
}

}  // namespace

bool ReadDefenderFirewall(DefenderFirewall* firewall, std::string* why) {
    const ComScope com;
    if (!com.ok()) {
        *why = SystemMessage(static_cast<DWORD>(com.result()));
        return false;
    }
    Held<INetFwPolicy2> policy;
    HRESULT failure = CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER,
                                       __uuidof(INetFwPolicy2), policy.OutVoid());
    LONG current = 0;
    bool read =
        SUCCEEDED(failure) && SUCCEEDED(failure = policy->get_CurrentProfileTypes(&current));
    firewall->currentProfiles = current;
    for (const long type : kProfiles) {
        DefenderProfile profile;
        read = read && ReadProfile(policy.get(), type, &profile, &failure);
        firewall->profiles.push_back(profile);
    }
    read = read && ReadRules(policy.get(), &firewall->rules, &failure);
    if (!read) {
        *why = SystemMessage(static_cast<DWORD>(failure));
    }
    return read;
}

std::string ThisProgramPath() {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, sizeof path / sizeof *path);
    return length > 0 && length < sizeof path / sizeof *path ? Utf8(path) : "";
}
