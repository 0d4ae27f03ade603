#include "App/FolderPicker.h"

#include <shlobj.h>

#include "Runtime/Handles.h"
#include "Runtime/Paths.h"
#include "Ui/UiTexts.h"

namespace {

int CALLBACK BrowseCallback(HWND hwnd, UINT message, LPARAM param, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        std::wstring initial = reinterpret_cast<const wchar_t*>(data);
        if (initial.empty()) {
            wchar_t current[MAX_PATH] = {};
            ::GetCurrentDirectoryW(MAX_PATH, current);
            initial = current;
        }
        ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(initial.c_str()));
    } else if (message == BFFM_SELCHANGED) {
        wchar_t path[MAX_PATH] = {};
        if (::SHGetPathFromIDListW(reinterpret_cast<LPCITEMIDLIST>(param), path)) {
            ::SendMessageW(hwnd, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
        }
    }
    return 0;
}

}  // namespace

std::wstring BrowseForFolder(HWND owner, const std::wstring& initial) {
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    const std::wstring title = UiText(L"picker.title");
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    info.lpfn = &BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(initial.c_str());
    const kv::UniqueCoTaskMem chosen(::SHBrowseForFolderW(&info));
    if (!chosen) return {};
    wchar_t path[MAX_PATH] = {};
    std::wstring result;
    if (::SHGetPathFromIDListW(static_cast<LPCITEMIDLIST>(chosen.get()), path) && path[0]) {
        result = path;
        if (!EndsWithSeparator(result)) result += L'\\';
    }
    return result;
}
