#pragma once
// The folder the package is downloaded into and run from: "KorvelQixarInstaller"
// in the common application data folder, made so that only administrators
// can write it, so that nobody else can plant a DLL beside the package or a
// link among its files. Its place is fixed: a later run resumes a partial
// download there. When that folder cannot be had (a user made it first and
// keeps it from being removed), a fresh one of this run's own is used beside
// it instead and removed again on Release. Main thread only.
#include <windows.h>

#include <string>

#include "Runtime/AdminOnlySecurity.h"
#include "Runtime/FileSystem.h"
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
    // volume keeps owners) stay. When it cannot be had, a new empty folder
    // "KorvelQixarInstaller.<pid>.<tick>" is made beside it, checked and held
    // the same way (nothing resumes) and kept until Release, also when prepared
    // again. False, logged, when neither can be had.
    // `parent` empty: the common application data folder.
    bool Prepare(const std::wstring& parent = L"");
    // Lets the folder go; a fresh one goes with all it holds.
    void Release() {
        held_.reset();
        if (fresh_) DeleteDirectoryTree(path_);
        fresh_ = false;
    }
    ~CStagingFolder() { Release(); }
    // Empty until prepared.
    const std::wstring& Path() const { return path_; }

private:
    bool VolumeKeepsDescriptors(const std::wstring& base) const;
    bool RemoveStrangers(const std::wstring& folder) const;

    const SecurityCheck adminOnly_;
    std::wstring path_;
    bool ownersKept_ = true;
    bool fresh_ = false;  // path_ was made by this run and goes on Release
    kv::UniqueKernelHandle held_;  // the folder stays what was checked while held
};
