#pragma once
// Move-only owners of libcurl easy and multi handles and string lists, in the
// family of Runtime/Handles.h (kept here so that only the HTTP engine needs
// curl's headers).
#include <curl/curl.h>

#include "Runtime/Handles.h"

namespace kv {

struct CurlEasyTraits {
    using Type = CURL*;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::curl_easy_cleanup(h); }
};

struct CurlMultiTraits {
    using Type = CURLM*;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::curl_multi_cleanup(h); }
};

struct CurlSlistTraits {
    using Type = curl_slist*;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { ::curl_slist_free_all(h); }
};

using UniqueCurl = UniqueHandle<CurlEasyTraits>;
using UniqueCurlSlist = UniqueHandle<CurlSlistTraits>;
using UniqueCurlMulti = UniqueHandle<CurlMultiTraits>;

}  // namespace kv
