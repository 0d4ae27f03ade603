#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Runtime/ProtoValue.h"

namespace {

// Runs `action`, which must throw ProtoValueException; returns it.
template <typename F>
ProtoValueException Thrown(F action) {
    try {
        action();
    } catch (const ProtoValueException& e) {
        return e;
    }
    ADD_FAILURE() << "no ProtoValueException";
    return {0, L""};
}

}  // namespace

TEST(ProtoValue, ChainedKeyIndexingBuildsNestedMaps) {
    ProtoValue v;
    v[L"process"][L"total"] = 5;
    EXPECT_EQ(v.Kind(), ProtoValueKind::Map);
    EXPECT_EQ(v[L"process"].Kind(), ProtoValueKind::Map);
    EXPECT_EQ(v[L"process"][L"total"].integer(), 5);
    EXPECT_EQ(v.Size(), 1u);
}

TEST(ProtoValue, NumberIndexingGrowsByOneAndThrowsBeyondTheEnd) {
    ProtoValue v;
    v[0] = 1;
    EXPECT_EQ(v.Kind(), ProtoValueKind::Array);
    EXPECT_EQ(v.Size(), 1u);
    EXPECT_TRUE(v[1].IsNull());  // appends a null
    EXPECT_EQ(v.Size(), 2u);
    const ProtoValueException e = Thrown([&] { v[3]; });
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(e.message, L"ProtoValue operator[int] out of range");
    EXPECT_EQ(v.Size(), 2u);
}

TEST(ProtoValue, WrongKindsThrowTheirCodes) {
    ProtoValue n(int64_t{7});
    ProtoValueException e = Thrown([&] { n[L"a"]; });
    EXPECT_EQ(e.code, 2);
    EXPECT_EQ(e.message, L"ProtoValue operator[string] wrong type");
    e = Thrown([&] { n[0]; });  // an integer indexed by number: code 1, not 2
    EXPECT_EQ(e.code, 1);

    ProtoValue map(ProtoValueKind::Map);
    e = Thrown([&] { map.integer(); });
    EXPECT_EQ(e.code, 3);
    EXPECT_EQ(e.message, L"ProtoValue::integer wrong type");
    e = Thrown([&] { map.string(); });
    EXPECT_EQ(e.code, 3);
    EXPECT_EQ(e.message, L"ProtoValue::string wrong type");
    e = Thrown([&] { ProtoValue(L"text").integer(); });
    EXPECT_EQ(e.code, 3);
    e = Thrown([&] { ProtoValue(ProtoValueKind::Array)[L"k"]; });
    EXPECT_EQ(e.code, 2);
}

TEST(ProtoValue, NullReadsAsZeroAndEmpty) {
    ProtoValue v;
    EXPECT_EQ(v.integer(), 0);
    EXPECT_EQ(v.string(), L"");
    EXPECT_TRUE(v.IsNull());  // reading does not change the kind
}

TEST(ProtoValue, GetAndHasNeverInsertButIndexingDoes) {
    ProtoValue v;
    v[L"present"] = L"x";
    EXPECT_TRUE(v.Get(L"missing").IsNull());
    EXPECT_FALSE(v.Has(L"missing"));
    EXPECT_EQ(v.Size(), 1u);
    EXPECT_TRUE(v[L"missing"].IsNull());
    EXPECT_TRUE(v.Has(L"missing"));
    EXPECT_EQ(v.Size(), 2u);
    // On other kinds: a shared null, no exception.
    ProtoValue n(int64_t{1});
    EXPECT_TRUE(n.Get(L"a").IsNull());
    EXPECT_FALSE(n.Has(L"a"));
    EXPECT_TRUE(ProtoValue().Get(L"a").IsNull());
}

TEST(ProtoValue, KeysAreCaseSensitiveAndIteratedInCodeUnitOrder) {
    ProtoValue v;
    v[L"code"] = 1;
    v[L"Code"] = 2;
    v[L"b"] = 3;
    v[L"a"] = 4;
    EXPECT_EQ(v.Size(), 4u);
    EXPECT_EQ(v[L"code"].integer(), 1);
    EXPECT_EQ(v[L"Code"].integer(), 2);
    std::vector<std::wstring> keys;
    for (const auto& entry : *v.AsMap()) keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"Code", L"a", L"b", L"code"}));
}

TEST(ProtoValue, CopiesAreDeep) {
    ProtoValue a;
    a[L"m"][L"s"] = L"one";
    a[L"list"].Append(ProtoValue(int64_t{1}));
    ProtoValue b(a);
    ProtoValue c;
    c = a;
    a[L"m"][L"s"] = L"changed";
    a[L"list"].Append(ProtoValue(int64_t{2}));
    EXPECT_EQ(b[L"m"][L"s"].string(), L"one");
    EXPECT_EQ(c[L"m"][L"s"].string(), L"one");
    EXPECT_EQ(b[L"list"].Size(), 1u);
    EXPECT_EQ(c[L"list"].Size(), 1u);
}

TEST(ProtoValue, AssigningToSelfOrFromADescendantIsSafe) {
    ProtoValue v;
    v[L"child"][L"leaf"] = L"value";
    v = v;
    EXPECT_EQ(v[L"child"][L"leaf"].string(), L"value");
    // The source lives inside the target: it must be copied before the old
    // content is freed.
    v = v[L"child"];
    EXPECT_EQ(v[L"leaf"].string(), L"value");
    EXPECT_FALSE(v.Has(L"child"));

    ProtoValue list;
    list[0] = L"first";
    list.Append(list[0]);  // appending an element of itself (the array may move)
    EXPECT_EQ(list.Size(), 2u);
    EXPECT_EQ(list[1].string(), L"first");

    ProtoValue moved;
    moved[L"a"][L"b"] = 3;
    moved = std::move(moved[L"a"]);
    EXPECT_EQ(moved[L"b"].integer(), 3);
}

TEST(ProtoValue, AppendTurnsANonArrayIntoAOneElementArray) {
    ProtoValue v;
    v.Append(ProtoValue(L"x"));
    EXPECT_EQ(v.Kind(), ProtoValueKind::Array);
    EXPECT_EQ(v.Size(), 1u);
    ProtoValue s(L"text");
    EXPECT_EQ(Thrown([&] { s.Append(ProtoValue(int64_t{1})); }).code, 1);
}

TEST(ProtoValue, ClearAndKindConstruction) {
    ProtoValue v(ProtoValueKind::String);
    EXPECT_EQ(v.string(), L"");
    v.Clear();
    EXPECT_TRUE(v.IsNull());
    EXPECT_EQ(ProtoValue(ProtoValueKind::Integer).integer(), 0);
    EXPECT_EQ(ProtoValue(ProtoValueKind::Map).Size(), 0u);
    ProtoValue big(int64_t{-9000000000LL});
    EXPECT_EQ(big.integer(), -9000000000LL);
}
