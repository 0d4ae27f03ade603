#include "Http/CurlListener.h"

#include "Runtime/LiveTokens.h"

namespace {

// Never destroyed: a listener with static storage may still give up its
// token at exit.
kv::LiveTokens<CurlListener>& Listeners() {
    static auto* listeners = new kv::LiveTokens<CurlListener>();
    return *listeners;
}

}  // namespace

CurlListener::CurlListener() : token_(Listeners().Issue(this)) {}

CurlListener::~CurlListener() { Listeners().Drop(token_); }

CurlListener* CurlListener::Find(uintptr_t token) { return Listeners().Find(token); }
