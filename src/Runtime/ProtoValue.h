#pragma once
// ProtoValue: a dynamic, tree-shaped value (null, integer, string, array or
// map keyed by wide strings) with deep copies. Indexing a null value turns it
// into an array or a map; misuse throws ProtoValueException. Not thread-safe:
// one thread owns a value at a time.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class ProtoValueKind : int32_t {
    Null = 0,
    Integer = 1,
    Scalar = 2,        // inline 8-byte scalar; kept for completeness
    NarrowString = 3,  // owned 8-bit string; kept for completeness
    String = 4,
    Array = 5,
    Map = 6,
};

struct ProtoValueException {
    int32_t code;
    std::wstring message;
};

class ProtoValue {
public:
    using ArrayType = std::vector<ProtoValue>;
    using MapType = std::map<std::wstring, ProtoValue>;  // keys ordered by code unit, case-sensitive

    ProtoValue() = default;
    explicit ProtoValue(ProtoValueKind kind);
    ProtoValue(int64_t value);               // NOLINT: implicit, so that v["code"] = 404 reads naturally
    ProtoValue(int32_t value) : ProtoValue(static_cast<int64_t>(value)) {}  // NOLINT
    ProtoValue(const std::wstring& value);   // NOLINT
    ProtoValue(const wchar_t* value);        // NOLINT
    ProtoValue(const ProtoValue& other);
    ProtoValue(ProtoValue&& other) noexcept;
    ~ProtoValue();

    // Deep-copies `other` first, then swaps, so assigning a value to itself or
    // to one of its own descendants is safe.
    ProtoValue& operator=(const ProtoValue& other);
    ProtoValue& operator=(ProtoValue&& other) noexcept;

    void Clear();
    ProtoValueKind Kind() const { return kind_; }
    bool IsNull() const { return kind_ == ProtoValueKind::Null; }

    // Array access: a null becomes an empty array; index == length appends a
    // null; anything else throws code 1.
    ProtoValue& operator[](uint32_t index);
    ProtoValue& operator[](int index) { return (*this)[static_cast<uint32_t>(index)]; }
    void Append(const ProtoValue& value);

    // Map access: a null becomes an empty map; a missing key is inserted as
    // null; a value of another kind throws code 2.
    ProtoValue& operator[](const std::wstring& key);
    ProtoValue& operator[](const wchar_t* key) { return (*this)[std::wstring(key)]; }

    // Read-only lookups: never insert, never throw. Get returns a shared null
    // when the key is missing or this is not a map.
    const ProtoValue& Get(const std::wstring& key) const;
    bool Has(const std::wstring& key) const;

    // Null reads as 0 / ""; other kinds than Integer / String throw code 3.
    int64_t integer() const;
    const std::wstring& string() const;

    // Element count of an array or map; 0 for other kinds.
    size_t Size() const;
    // The map or array itself, or null for other kinds (for iteration).
    const MapType* AsMap() const { return kind_ == ProtoValueKind::Map ? payload_.map : nullptr; }
    const ArrayType* AsArray() const { return kind_ == ProtoValueKind::Array ? payload_.array : nullptr; }

    void swap(ProtoValue& other) noexcept;

private:
    union Payload {
        int64_t integer;
        uint64_t scalar;
        std::string* narrow;
        std::wstring* string;
        ArrayType* array;
        MapType* map;
    };

    ProtoValueKind kind_ = ProtoValueKind::Null;
    Payload payload_ = {0};
};
