// The machine's adapters from the management service: the rows of
// Win32_NetworkAdapterConfiguration in the order it gives them.
#include "platform/adapters.h"

#include <objbase.h>
#include <wbemidl.h>
#include <windows.h>

#include "platform/syserror.h"

namespace platform {
namespace {

// Raised as the management service's own errors are: its HRESULT as a
// negative number, the source object, the system's text.
[[noreturn]] void fail(HRESULT hr, const char* source) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString description = text ? QString::fromWCharArray(text).trimmed() : QString();
    if (text) ::LocalFree(text);
    if (description.isEmpty())
        description = QStringLiteral("WMI error 0x%1").arg(static_cast<quint32>(hr), 8, 16, QLatin1Char('0'));
    throw Error(static_cast<long>(hr), QString::fromLatin1(source), description);
}

// Releases a COM interface when the scope ends.
template <class T>
struct Ref {
    T* p = nullptr;
    ~Ref() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
};

struct Variant {
    VARIANT v;
    Variant() { ::VariantInit(&v); }
    ~Variant() { ::VariantClear(&v); }
};

struct Bstr {
    BSTR s;
    explicit Bstr(const wchar_t* text) : s(::SysAllocString(text)) {}
    ~Bstr() { ::SysFreeString(s); }
};

// COM for this thread for the length of one query. A thread that already
// joined another apartment (a window's thread) keeps it.
struct ComScope {
    bool mine = false;
    ComScope() {
        const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(hr))
            mine = true;
        else if (hr != RPC_E_CHANGED_MODE)
            fail(hr, "SWbemLocator");
    }
    ~ComScope() {
        if (mine) ::CoUninitialize();
    }
};

QString textOf(const VARIANT& v) {
    return v.vt == VT_BSTR && v.bstrVal ? QString::fromWCharArray(v.bstrVal, ::SysStringLen(v.bstrVal)) : QString();
}

}  // namespace

std::vector<NetworkAdapterConfiguration> SystemAdapters() {
    ComScope com;
    Ref<IWbemLocator> locator;
    HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    reinterpret_cast<void**>(&locator.p));
    if (FAILED(hr)) fail(hr, "SWbemLocator");
    Ref<IWbemServices> services;
    Bstr ns(L"ROOT\\CIMV2");
    hr = locator->ConnectServer(ns.s, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services.p);
    if (FAILED(hr)) fail(hr, "SWbemLocator");
    // Impersonation on this one proxy instead of a process-wide security
    // set-up, which belongs to the program and may be taken already.
    hr = ::CoSetProxyBlanket(services.p, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) fail(hr, "SWbemServices");

    Bstr lang(L"WQL");
    Bstr query(L"SELECT Description, IPEnabled, MACAddress FROM Win32_NetworkAdapterConfiguration");
    Ref<IEnumWbemClassObject> rows;
    hr = services->ExecQuery(lang.s, query.s, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                             &rows.p);
    if (FAILED(hr)) fail(hr, "SWbemServices");

    std::vector<NetworkAdapterConfiguration> found;
    for (;;) {
        Ref<IWbemClassObject> row;
        ULONG got = 0;
        hr = rows->Next(static_cast<LONG>(WBEM_INFINITE), 1, &row.p, &got);
        if (FAILED(hr)) fail(hr, "SWbemObjectSet");
        if (got == 0) break;
        // Each value as the service gives it: the adapter's state as the IP
        // helper sees it plays no part, and the address text is kept as it
        // is, whatever its case, form or value.
        NetworkAdapterConfiguration a;
        Variant description, enabled, mac;
        if (SUCCEEDED(row->Get(L"Description", 0, &description.v, nullptr, nullptr)))
            a.Description = textOf(description.v);
        if (SUCCEEDED(row->Get(L"IPEnabled", 0, &enabled.v, nullptr, nullptr)))
            a.IPEnabled = enabled.v.vt == VT_BOOL && enabled.v.boolVal != VARIANT_FALSE;
        if (SUCCEEDED(row->Get(L"MACAddress", 0, &mac.v, nullptr, nullptr)) && mac.v.vt == VT_BSTR)
            a.MACAddress = textOf(mac.v);
        found.push_back(std::move(a));
    }
    return found;
}

}  // namespace platform
