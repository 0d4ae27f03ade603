#pragma once
// Move-only owners of libcurl easy and multi handles and string lists, in the
// family of Runtime/Handles.h (kept here so that only the HTTP engine needs
// curl's headers).
#include <curl/curl.h>

#include "Runtime/Handles.h"

namespace kv {

using UniqueCurl = UniqueHandle<NullEmptyTraits<CURL*, &::curl_easy_cleanup>>;
using UniqueCurlSlist = UniqueHandle<NullEmptyTraits<curl_slist*, &::curl_slist_free_all>>;
using UniqueCurlMulti = UniqueHandle<NullEmptyTraits<CURLM*, &::curl_multi_cleanup>>;

}  // namespace kv
