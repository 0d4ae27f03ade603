#pragma once
// Objects only administrators may hold: the security descriptor that makes
// them (owner Administrators, access for Administrators and SYSTEM alone),
// and the checks that an existing object is still such a one. Free
// functions; any thread.
#include <windows.h>
#include <aclapi.h>

// Owner Administrators; a protected access list with full access for
// Administrators and SYSTEM, inherited by what a folder holds. Null when it
// cannot be built.
SECURITY_ATTRIBUTES* AdminOnlyAttributes();
// Whether the object's owner is Administrators or SYSTEM (false when it
// cannot be read, or the object has none), and unless `ownerOnly` its access
// list admits nobody but Administrators and SYSTEM.
bool IsAdminOnly(HANDLE object, SE_OBJECT_TYPE type, bool ownerOnly = false);
inline bool OwnedByAdministrators(HANDLE object, SE_OBJECT_TYPE type) { return IsAdminOnly(object, type, true); }
