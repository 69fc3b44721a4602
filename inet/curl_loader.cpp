// The network library is loaded on first use, not at start: linking it pulls some thirty
// shared libraries into every run, which costs a local listing several times its own work.
// These definitions stand in for the library's functions that the program calls; each loads
// the library once and forwards to its own function.

#define CURL_DISABLE_TYPECHECK 1  // the checking macros would rename the definitions below
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>

namespace {

struct CurlApi {
    bool ok = false;
    CURLcode (*global_init)(long);
    CURL* (*easy_init)();
    void (*easy_cleanup)(CURL*);
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
    const char* (*easy_strerror)(CURLcode);
    CURLcode (*easy_pause)(CURL*, int);
    CURLHcode (*easy_header)(CURL*, const char*, size_t, unsigned int, int, curl_header**);
    CURLM* (*multi_init)();
    CURLMcode (*multi_cleanup)(CURLM*);
    CURLMcode (*multi_add_handle)(CURLM*, CURL*);
    CURLMcode (*multi_remove_handle)(CURLM*, CURL*);
    CURLMcode (*multi_perform)(CURLM*, int*);
    CURLMcode (*multi_poll)(CURLM*, curl_waitfd*, unsigned int, int, int*);
    CURLMcode (*multi_wakeup)(CURLM*);
    CURLMsg* (*multi_info_read)(CURLM*, int*);
    const char* (*multi_strerror)(CURLMcode);
    curl_slist* (*slist_append)(curl_slist*, const char*);
    void (*slist_free_all)(curl_slist*);
    CURLU* (*url)();
    void (*url_cleanup)(CURLU*);
    CURLUcode (*url_get)(CURLU*, CURLUPart, char**, unsigned int);
    CURLUcode (*url_set)(CURLU*, CURLUPart, const char*, unsigned int);
    void (*free)(void*);
};

template <typename Fn>
bool Bind(void* lib, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(lib, name));
    return fn != nullptr;
}

// The library's functions, or null when it cannot be loaded (the first call then fails as the
// library itself fails without memory or initialisation).
const CurlApi* Api() {
    static const CurlApi api = [] {
        CurlApi a{};
        void* lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!lib) return a;
        a.ok = Bind(lib, "curl_global_init", a.global_init) &&
               Bind(lib, "curl_easy_init", a.easy_init) &&
               Bind(lib, "curl_easy_cleanup", a.easy_cleanup) &&
               Bind(lib, "curl_easy_setopt", a.easy_setopt) &&
               Bind(lib, "curl_easy_getinfo", a.easy_getinfo) &&
               Bind(lib, "curl_easy_strerror", a.easy_strerror) &&
               Bind(lib, "curl_easy_pause", a.easy_pause) &&
               Bind(lib, "curl_easy_header", a.easy_header) &&
               Bind(lib, "curl_multi_init", a.multi_init) &&
               Bind(lib, "curl_multi_cleanup", a.multi_cleanup) &&
               Bind(lib, "curl_multi_add_handle", a.multi_add_handle) &&
               Bind(lib, "curl_multi_remove_handle", a.multi_remove_handle) &&
               Bind(lib, "curl_multi_perform", a.multi_perform) &&
               Bind(lib, "curl_multi_poll", a.multi_poll) &&
               Bind(lib, "curl_multi_wakeup", a.multi_wakeup) &&
               Bind(lib, "curl_multi_info_read", a.multi_info_read) &&
               Bind(lib, "curl_multi_strerror", a.multi_strerror) &&
               Bind(lib, "curl_slist_append", a.slist_append) &&
               Bind(lib, "curl_slist_free_all", a.slist_free_all) && Bind(lib, "curl_url", a.url) &&
               Bind(lib, "curl_url_cleanup", a.url_cleanup) &&
               Bind(lib, "curl_url_get", a.url_get) && Bind(lib, "curl_url_set", a.url_set) &&
               Bind(lib, "curl_free", a.free);
        return a;  // the library stays loaded for the rest of the run
    }();
    return api.ok ? &api : nullptr;
}

}  // namespace

extern "C" {

CURLcode curl_global_init(long flags) {
    const CurlApi* a = Api();
    return a ? a->global_init(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init() {
    const CurlApi* a = Api();
    return a ? a->easy_init() : nullptr;
}

void curl_easy_cleanup(CURL* handle) {
    if (const CurlApi* a = Api()) a->easy_cleanup(handle);
}

// The value's type follows from the option's number, as the library itself reads it.
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
    const CurlApi* a = Api();
    if (!a) return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, option);
    CURLcode result;
    if (option < CURLOPTTYPE_OBJECTPOINT) {
        result = a->easy_setopt(handle, option, va_arg(args, long));
    } else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB) {
        result = a->easy_setopt(handle, option, va_arg(args, curl_off_t));
    } else {
        result = a->easy_setopt(handle, option, va_arg(args, void*));  // data and functions
    }
    va_end(args);
    return result;
}

CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
    const CurlApi* a = Api();
    if (!a) return CURLE_FAILED_INIT;
    va_list args;
    va_start(args, info);
    void* out = va_arg(args, void*);  // always where the answer goes
    va_end(args);
    return a->easy_getinfo(handle, info, out);
}

const char* curl_easy_strerror(CURLcode code) {
    const CurlApi* a = Api();
    return a ? a->easy_strerror(code) : "the network library could not be loaded";
}

CURLcode curl_easy_pause(CURL* handle, int bitmask) {
    const CurlApi* a = Api();
    return a ? a->easy_pause(handle, bitmask) : CURLE_FAILED_INIT;
}

CURLHcode curl_easy_header(CURL* handle, const char* name, size_t index, unsigned int origin,
                           int request, curl_header** hout) {
    const CurlApi* a = Api();
    return a ? a->easy_header(handle, name, index, origin, request, hout) : CURLHE_NOT_BUILT_IN;
}

CURLM* curl_multi_init() {
    const CurlApi* a = Api();
    return a ? a->multi_init() : nullptr;
}

CURLMcode curl_multi_cleanup(CURLM* multi) {
    const CurlApi* a = Api();
    return a ? a->multi_cleanup(multi) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* handle) {
    const CurlApi* a = Api();
    return a ? a->multi_add_handle(multi, handle) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* handle) {
    const CurlApi* a = Api();
    return a ? a->multi_remove_handle(multi, handle) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_perform(CURLM* multi, int* running) {
    const CurlApi* a = Api();
    return a ? a->multi_perform(multi, running) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_poll(CURLM* multi, curl_waitfd extra[], unsigned int count, int timeout_ms,
                          int* ret) {
    const CurlApi* a = Api();
    return a ? a->multi_poll(multi, extra, count, timeout_ms, ret) : CURLM_BAD_HANDLE;
}

CURLMcode curl_multi_wakeup(CURLM* multi) {
    const CurlApi* a = Api();
    return a ? a->multi_wakeup(multi) : CURLM_BAD_HANDLE;
}

CURLMsg* curl_multi_info_read(CURLM* multi, int* queued) {
    const CurlApi* a = Api();
    return a ? a->multi_info_read(multi, queued) : nullptr;
}

const char* curl_multi_strerror(CURLMcode code) {
    const CurlApi* a = Api();
    return a ? a->multi_strerror(code) : "the network library could not be loaded";
}

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
    const CurlApi* a = Api();
    return a ? a->slist_append(list, text) : nullptr;
}

void curl_slist_free_all(curl_slist* list) {
    if (const CurlApi* a = Api()) a->slist_free_all(list);
}

CURLU* curl_url() {
    const CurlApi* a = Api();
    return a ? a->url() : nullptr;
}

void curl_url_cleanup(CURLU* url) {
    if (const CurlApi* a = Api()) a->url_cleanup(url);
}

CURLUcode curl_url_get(CURLU* url, CURLUPart part, char** out, unsigned int flags) {
    const CurlApi* a = Api();
    return a ? a->url_get(url, part, out, flags) : CURLUE_OUT_OF_MEMORY;
}

CURLUcode curl_url_set(CURLU* url, CURLUPart part, const char* text, unsigned int flags) {
    const CurlApi* a = Api();
    return a ? a->url_set(url, part, text, flags) : CURLUE_OUT_OF_MEMORY;
}

void curl_free(void* p) {
    if (const CurlApi* a = Api()) a->free(p);
}

}  // extern "C"
