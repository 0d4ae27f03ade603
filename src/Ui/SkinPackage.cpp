#include "Ui/SkinPackage.h"
#include "Runtime/Log.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\Ui\\SkinPackage";
}

CSkinPackage& CSkinPackage::Instance() {
    static CSkinPackage package;
    return package;
}

bool CSkinPackage::EnsureOpen() {
    if (archive_.IsOpen()) return true;
    HINSTANCE module = instance_ ? instance_ : ::GetModuleHandleW(nullptr);
    HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(kResourceId), kResourceType);
    HGLOBAL loaded = res ? ::LoadResource(module, res) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = res ? ::SizeofResource(module, res) : 0;
    if (bytes == nullptr || size == 0) {
        KV_LOG(kToConsole | kToFile, Error, L"CSkinPackage::EnsureOpen resource ZIPRES %d not found (%u)", kResourceId,
               ::GetLastError());
        return false;
    }
    return OpenFromBytes(bytes, size);
}

bool CSkinPackage::OpenFromBytes(const void* data, size_t size) {
    Close();
    const auto* p = static_cast<const uint8_t*>(data);
    buffer_.assign(p, p + size);
    if (!archive_.Open(buffer_.data(), buffer_.size())) {
        KV_LOG(kToConsole | kToFile, Error, L"CSkinPackage::OpenFromBytes the skin package is damaged");
        buffer_.clear();
        return false;
    }
    return true;
}

bool CSkinPackage::ReadFile(const std::wstring& name, std::vector<uint8_t>& out) {
    out.clear();
    if (!EnsureOpen()) return false;
    return archive_.Read(name, out);
}

std::vector<std::wstring> CSkinPackage::Names() {
    if (!EnsureOpen()) return {};
    return archive_.Names();
}

void CSkinPackage::Close() {
    archive_.Close();
    buffer_.clear();
    buffer_.shrink_to_fit();
}
