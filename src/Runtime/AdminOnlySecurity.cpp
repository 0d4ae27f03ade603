#include "Runtime/AdminOnlySecurity.h"

#include <sddl.h>

namespace {

bool IsAdministratorsOrSystem(PSID sid) {
    return sid && ::IsValidSid(sid) &&
           (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinLocalSystemSid));
}

// The object's descriptor with what `what` asks for; freed when it goes.
struct Descriptor {
    PSECURITY_DESCRIPTOR sd = nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    Descriptor(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION what) {
        if (::GetSecurityInfo(object, type, what, &owner, nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS) {
            sd = nullptr;
            owner = nullptr;
            dacl = nullptr;
        }
    }
    ~Descriptor() {
        if (sd) ::LocalFree(sd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

}  // namespace

SECURITY_ATTRIBUTES* AdminOnlyAttributes() {
    // Built once and kept for the process: it never changes.
    static SECURITY_ATTRIBUTES attributes = [] {
        SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)",
                                                                    SDDL_REVISION_1, &sa.lpSecurityDescriptor,
                                                                    nullptr)) {
            sa.lpSecurityDescriptor = nullptr;
        }
        return sa;
    }();
    return attributes.lpSecurityDescriptor ? &attributes : nullptr;
}

bool IsAdminOnly(HANDLE object, SE_OBJECT_TYPE type, bool ownerOnly) {
    const Descriptor d(object, type, ownerOnly ? OWNER_SECURITY_INFORMATION
                                               : OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    if (ownerOnly) return IsAdministratorsOrSystem(d.owner);
    // No access list at all admits everyone.
    if (!IsAdministratorsOrSystem(d.owner) || !d.dacl) return false;
    for (DWORD i = 0; i < d.dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(d.dacl, i, &ace)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        // Denials only take away; whatever else grants must be ours.
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
        if (!IsAdministratorsOrSystem(sid)) return false;
    }
    return true;
}
