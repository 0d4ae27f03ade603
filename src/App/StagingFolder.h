#pragma once
// The folder the package is downloaded into and run from: "KorvelQixarInstaller"
// in the common application data folder, made so that only administrators
// can write it, so that nobody else can plant a DLL beside the package or a
// link among its files. Its place is fixed: a later run resumes a partial
// download there. Main thread only.
#include <windows.h>

#include <string>

#include "Runtime/AdminOnlySecurity.h"
#include "Runtime/Handles.h"

class CStagingFolder {
public:
    // Reads an object's owner and access list (IsAdminOnly); tests inject their own.
    using SecurityCheck = bool (*)(HANDLE object, SE_OBJECT_TYPE type, bool ownerOnly);
    explicit CStagingFolder(SecurityCheck adminOnly = IsAdminOnly) : adminOnly_(adminOnly) {}

    // Checks the folder (admin-only, no link on the way) and holds it until
    // Release; one that fails is removed (a link as itself) and made again,
    // unless its volume keeps no access lists at all. Of what it holds, only
    // plain files with one name (owned by Administrators or SYSTEM where the
    // volume keeps owners) stay. False, logged, when it cannot be had.
    // `parent` empty: the common application data folder.
    bool Prepare(const std::wstring& parent = L"");
    void Release() { held_.reset(); }
    // Empty until prepared.
    const std::wstring& Path() const { return path_; }

private:
    bool VolumeKeepsDescriptors(const std::wstring& base) const;
    bool RemoveStrangers(const std::wstring& folder) const;

    const SecurityCheck adminOnly_;
    std::wstring path_;
    bool ownersKept_ = true;
    kv::UniqueKernelHandle held_;  // the folder stays what was checked while held
};
