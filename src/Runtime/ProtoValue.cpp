#include "Runtime/ProtoValue.h"

#include <utility>

namespace {

const wchar_t kIndexOutOfRange[] = L"ProtoValue operator[int] out of range";
const wchar_t kKeyWrongType[] = L"ProtoValue operator[string] wrong type";
const wchar_t kIntegerWrongType[] = L"ProtoValue::integer wrong type";
const wchar_t kStringWrongType[] = L"ProtoValue::string wrong type";

}  // namespace

ProtoValue::ProtoValue(ProtoValueKind kind) : kind_(kind) {
    switch (kind) {
        case ProtoValueKind::NarrowString: payload_.narrow = new std::string(); break;
        case ProtoValueKind::String: payload_.string = new std::wstring(); break;
        case ProtoValueKind::Array: payload_.array = new ArrayType(); break;
        case ProtoValueKind::Map: payload_.map = new MapType(); break;
        default: payload_.integer = 0; break;
    }
}

ProtoValue::ProtoValue(int64_t value) : kind_(ProtoValueKind::Integer) { payload_.integer = value; }

ProtoValue::ProtoValue(const std::wstring& value) : kind_(ProtoValueKind::String) {
    payload_.string = new std::wstring(value);
}

ProtoValue::ProtoValue(const wchar_t* value) : ProtoValue(std::wstring(value ? value : L"")) {}

ProtoValue::ProtoValue(const ProtoValue& other) : kind_(other.kind_) {
    switch (other.kind_) {
        case ProtoValueKind::NarrowString: payload_.narrow = new std::string(*other.payload_.narrow); break;
        case ProtoValueKind::String: payload_.string = new std::wstring(*other.payload_.string); break;
        case ProtoValueKind::Array: payload_.array = new ArrayType(*other.payload_.array); break;
        case ProtoValueKind::Map: payload_.map = new MapType(*other.payload_.map); break;
        default: payload_ = other.payload_; break;
    }
}

ProtoValue::ProtoValue(ProtoValue&& other) noexcept { swap(other); }

ProtoValue::~ProtoValue() { Clear(); }

ProtoValue& ProtoValue::operator=(const ProtoValue& other) {
    // The copy is complete before anything of ours is freed, so `other` may
    // live inside this value.
    ProtoValue copy(other);
    swap(copy);
    return *this;
}

ProtoValue& ProtoValue::operator=(ProtoValue&& other) noexcept {
    if (this != &other) {
        // Detach other first: it may be one of our own descendants.
        ProtoValue taken;
        taken.swap(other);
        swap(taken);
    }
    return *this;
}

void ProtoValue::swap(ProtoValue& other) noexcept {
    std::swap(kind_, other.kind_);
    std::swap(payload_, other.payload_);
}

void ProtoValue::Clear() {
    switch (kind_) {
        case ProtoValueKind::NarrowString: delete payload_.narrow; break;
        case ProtoValueKind::String: delete payload_.string; break;
        case ProtoValueKind::Array: delete payload_.array; break;
        case ProtoValueKind::Map: delete payload_.map; break;
        default: break;
    }
    kind_ = ProtoValueKind::Null;
    payload_.integer = 0;
}

ProtoValue& ProtoValue::operator[](uint32_t index) {
    if (kind_ == ProtoValueKind::Null) *this = ProtoValue(ProtoValueKind::Array);
    if (kind_ == ProtoValueKind::Array) {
        ArrayType& items = *payload_.array;
        if (index < items.size()) return items[index];
        if (index == items.size()) {
            items.emplace_back();
            return items.back();
        }
    }
    throw ProtoValueException{1, kIndexOutOfRange};
}

void ProtoValue::Append(const ProtoValue& value) {
    // Copy first: `value` may be an element that the append reallocates.
    ProtoValue copy(value);
    const uint32_t n = kind_ == ProtoValueKind::Array ? static_cast<uint32_t>(payload_.array->size()) : 0;
    (*this)[n] = std::move(copy);
}

ProtoValue& ProtoValue::operator[](const std::wstring& key) {
    if (kind_ == ProtoValueKind::Null) *this = ProtoValue(ProtoValueKind::Map);
    if (kind_ != ProtoValueKind::Map) throw ProtoValueException{2, kKeyWrongType};
    return (*payload_.map)[key];
}

const ProtoValue& ProtoValue::Get(const std::wstring& key) const {
    static const ProtoValue kNull;
    if (kind_ != ProtoValueKind::Map) return kNull;
    auto it = payload_.map->find(key);
    return it == payload_.map->end() ? kNull : it->second;
}

bool ProtoValue::Has(const std::wstring& key) const {
    return kind_ == ProtoValueKind::Map && payload_.map->count(key) != 0;
}

int64_t ProtoValue::integer() const {
    if (kind_ == ProtoValueKind::Null) return 0;
    if (kind_ == ProtoValueKind::Integer) return payload_.integer;
    throw ProtoValueException{3, kIntegerWrongType};
}

const std::wstring& ProtoValue::string() const {
    static const std::wstring kEmpty;
    if (kind_ == ProtoValueKind::Null) return kEmpty;
    if (kind_ == ProtoValueKind::String) return *payload_.string;
    throw ProtoValueException{3, kStringWrongType};
}

size_t ProtoValue::Size() const {
    if (kind_ == ProtoValueKind::Array) return payload_.array->size();
    if (kind_ == ProtoValueKind::Map) return payload_.map->size();
    return 0;
}
