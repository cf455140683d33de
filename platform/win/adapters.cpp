// The machine's adapters from the management service: the rows of
// Win32_NetworkAdapterConfiguration in the order it gives them.
#include "platform/adapters.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <objbase.h>
#include <wbemidl.h>
#include <windows.h>

#include <set>

#include "platform/syserror.h"
#include "platform/win/wmiadapters.h"

namespace platform {
namespace win {

std::vector<NetworkAdapterConfiguration> AdaptersFromRows(const std::vector<WmiAdapterRow>& rows) {
    std::vector<NetworkAdapterConfiguration> out;
    for (const WmiAdapterRow& row : rows) {
        NetworkAdapterConfiguration a;
        a.Description = row.description;
        a.IPEnabled = row.ipEnabled;
        if (row.macAddress) {
            QString mac = row.macAddress->trimmed().toUpper();
            mac.replace(QLatin1Char('-'), QLatin1Char(':'));
            static const QString hex = QStringLiteral("0123456789ABCDEF");
            bool ok = mac.size() == 17;
            for (int i = 0; ok && i < 17; ++i)
                ok = (i % 3 == 2) ? mac[i] == QLatin1Char(':') : hex.contains(mac[i]);
            if (ok && mac != QStringLiteral("00:00:00:00:00:00")) a.MACAddress = mac;
        }
        out.push_back(std::move(a));
    }
    return out;
}

}  // namespace win

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

// The addresses of adapters that are not up: the management service of some
// systems (wine's among them) calls every adapter with IP bound enabled,
// even one that is down and so has no address to work with. None when the
// system cannot say.
std::set<QString> downAdapters() {
    std::set<QString> down;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buf;
    ULONG r = ERROR_BUFFER_OVERFLOW;
    for (int tries = 0; tries < 3 && r == ERROR_BUFFER_OVERFLOW; ++tries) {
        buf.resize(size);
        r = ::GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                   nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &size);
    }
    if (r != NO_ERROR) return down;
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()); a; a = a->Next) {
        if (a->PhysicalAddressLength != 6 || a->OperStatus == IfOperStatusUp) continue;
        QString mac;
        for (int i = 0; i < 6; ++i)
            mac += QStringLiteral("%1%2").arg(i ? QStringLiteral(":") : QString()).arg(a->PhysicalAddress[i], 2, 16, QLatin1Char('0'));
        down.insert(mac.toUpper());
    }
    return down;
}

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

    std::vector<win::WmiAdapterRow> found;
    for (;;) {
        Ref<IWbemClassObject> row;
        ULONG got = 0;
        hr = rows->Next(static_cast<LONG>(WBEM_INFINITE), 1, &row.p, &got);
        if (FAILED(hr)) fail(hr, "SWbemObjectSet");
        if (got == 0) break;
        win::WmiAdapterRow r;
        Variant description, enabled, mac;
        if (SUCCEEDED(row->Get(L"Description", 0, &description.v, nullptr, nullptr)))
            r.description = textOf(description.v);
        if (SUCCEEDED(row->Get(L"IPEnabled", 0, &enabled.v, nullptr, nullptr)))
            r.ipEnabled = enabled.v.vt == VT_BOOL && enabled.v.boolVal != VARIANT_FALSE;
        if (SUCCEEDED(row->Get(L"MACAddress", 0, &mac.v, nullptr, nullptr)) && mac.v.vt == VT_BSTR)
            r.macAddress = textOf(mac.v);
        found.push_back(std::move(r));
    }
    auto out = win::AdaptersFromRows(found);
    const std::set<QString> down = downAdapters();
    for (auto& a : out)
        if (a.MACAddress && down.count(*a.MACAddress)) a.IPEnabled = false;
    return out;
}

}  // namespace platform
