// Type libraries. A module embeds its library as resource "TYPELIB" 1, a UTF-8 text of
// one directive per line:
//
//   library TELLUMOLib
//   uuid {C89F80C3-B3F1-11D4-804A-0001025EB176}
//   version 1.0
//   lcid 1033
//   helpstring Tellumo 1.0 Type Library
//   coclass SysLog {C89F80D2-B3F1-11D4-804A-0001025EB176} SysLog Class
//   interface ISentrelNotification {5512E7A0-8B31-11D4-803D-0001025EB176} Initialize Notify
//
// LoadTypeLibEx reads it from a module file (or from a file holding the text itself);
// RegisterTypeLib enters it under HKEY_CLASSES_ROOT\TypeLib and \Interface.

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include <winplat/comptr.h>
#include <winplat/oleauto.h>
#include <winplat/utf.h>
#include <winplat/winbase.h>

#include "com/unknown_object.h"
#include "ansi.h"
#include "store.h"

using namespace winplat::registry;

namespace {

// Asked of an ITypeLib to learn whether it is one of ours, whose types can be listed.
constexpr IID kIidTypeLibDescription = {
    0x6B1E43D2, 0x0C55, 0x4E7A, {0x9A, 0x41, 0x3F, 0x12, 0xD8, 0x57, 0x6E, 0x0B}};

// The standard automation marshaler that proxies every automation interface.
constexpr char kAutomationProxy[] = "{00020424-0000-0000-C000-000000000046}";

struct TypeDescription {
    bool isInterface = false;
    std::string name;
    GUID guid{};
    std::string doc;
    std::vector<std::string> methods;
};

struct LibraryDescription {
    std::string name;
    GUID guid{};
    WORD major = 1;
    WORD minor = 0;
    LCID lcid = 0;
    std::string helpstring;
    std::vector<TypeDescription> types;
};

// The braced text form of a GUID, both ways.
bool ParseGuid(std::string_view text, GUID& guid) {
    return IIDFromString(winplat::Utf16FromUtf8(text).c_str(), &guid) == S_OK;
}

std::string GuidText(const GUID& g) {
    OLECHAR text[GUID_STRING_CHARS + 1];
    StringFromGUID2(g, text, GUID_STRING_CHARS + 1);
    return winplat::Utf8FromUtf16(text);
}

std::string VersionText(WORD major, WORD minor) {
    char text[16];
    std::snprintf(text, sizeof text, "%x.%x", major, minor);
    return text;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Splits off the first word of s.
std::string_view Word(std::string_view& s) {
    s = Trim(s);
    size_t end = s.find_first_of(" \t");
    std::string_view word = s.substr(0, end);
    s = end == std::string_view::npos ? std::string_view() : Trim(s.substr(end));
    return word;
}

bool ParseNumber(std::string_view text, DWORD limit, DWORD& out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        base = 16, text.remove_prefix(2);
    if (text.empty())
        return false;
    uint64_t value = 0;
    for (char c : text) {
        int d = HexDigit(c);
        if (d < 0 || d >= base)
            return false;
        value = value * base + d;
        if (value > limit)
            return false;
    }
    out = static_cast<DWORD>(value);
    return true;
}

bool ParseLibrary(std::string_view text, LibraryDescription& lib, std::string& error) {
    bool haveName = false, haveGuid = false;
    size_t lineNo = 0;
    auto fail = [&](const std::string& what) {
        error = "line " + std::to_string(lineNo) + ": " + what;
        return false;
    };
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNo;
        if (line.empty() || line.front() == '#')
            continue;
        std::string_view rest = line;
        std::string_view directive = Word(rest);
        if (directive == "library") {
            std::string_view name = Word(rest);
            if (haveName || name.empty() || !rest.empty())
                return fail("\"library\" takes one name, once");
            lib.name = name;
            haveName = true;
        } else if (directive == "uuid") {
            if (haveGuid || !ParseGuid(rest, lib.guid))
                return fail("\"uuid\" takes one {GUID}, once");
            haveGuid = true;
        } else if (directive == "version") {
            size_t dot = rest.find('.');
            DWORD major, minor;
            if (dot == std::string_view::npos || !ParseNumber(rest.substr(0, dot), 0xFFFF, major) ||
                !ParseNumber(rest.substr(dot + 1), 0xFFFF, minor))
                return fail("\"version\" takes MAJOR.MINOR");
            lib.major = static_cast<WORD>(major);
            lib.minor = static_cast<WORD>(minor);
        } else if (directive == "lcid") {
            DWORD lcid;
            if (!ParseNumber(rest, 0xFFFFFFFF, lcid))
                return fail("\"lcid\" takes a number");
            lib.lcid = lcid;
        } else if (directive == "helpstring") {
            lib.helpstring = rest;
        } else if (directive == "coclass" || directive == "interface") {
            TypeDescription type;
            type.isInterface = directive == "interface";
            type.name = Word(rest);
            if (type.name.empty() || !ParseGuid(Word(rest), type.guid))
                return fail("\"" + std::string(directive) + "\" takes a name and a {GUID}");
            if (type.isInterface) {
                while (!rest.empty())
                    type.methods.emplace_back(Word(rest));
            } else {
                type.doc = rest;
            }
            lib.types.push_back(std::move(type));
        } else {
            return fail("unknown directive \"" + std::string(directive.substr(0, 40)) + "\"");
        }
    }
    if (!haveName || !haveGuid)
        return fail("a type library needs \"library\" and \"uuid\"");
    std::u16string check;
    if (!Utf8ToUtf16(lib.name, check) || !Utf8ToUtf16(lib.helpstring, check))
        return fail("text is not valid UTF-8");
    for (const TypeDescription& type : lib.types)
        if (!Utf8ToUtf16(type.name, check) || !Utf8ToUtf16(type.doc, check))
            return fail("text is not valid UTF-8");
    return true;
}

BSTR MakeBstr(const std::string& utf8) {
    std::u16string text;
    Utf8ToUtf16(utf8, text);
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

class TypeLib final
    : public winplat::UnknownObject<ITypeLib, IID_ITypeLib, kIidTypeLibDescription> {
public:
    explicit TypeLib(LibraryDescription lib) : m_lib(std::move(lib)) {}

    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) override {
        if (!ppTLibAttr)
            return E_INVALIDARG;
        auto* attr = static_cast<TLIBATTR*>(CoTaskMemAlloc(sizeof(TLIBATTR)));
        if (!attr)
            return E_OUTOFMEMORY;
        *attr = TLIBATTR{m_lib.guid, m_lib.lcid, SYS_WIN32, m_lib.major, m_lib.minor, 0};
        *ppTLibAttr = attr;
        return S_OK;
    }

    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) override {
        CoTaskMemFree(pTLibAttr);
    }

    HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                               DWORD* pdwHelpContext,
                                               BSTR* pBstrHelpFile) override {
        const std::string* name;
        const std::string* doc;
        if (index == -1) {
            name = &m_lib.name;
            doc = &m_lib.helpstring;
        } else if (index >= 0 && static_cast<size_t>(index) < m_lib.types.size()) {
            name = &m_lib.types[index].name;
            doc = &m_lib.types[index].doc;
        } else {
            return TYPE_E_ELEMENTNOTFOUND;
        }
        if (pBstrName)
            *pBstrName = MakeBstr(*name);
        if (pBstrDocString)
            *pBstrDocString = MakeBstr(*doc);
        if (pdwHelpContext)
            *pdwHelpContext = 0;
        if (pBstrHelpFile)
            *pBstrHelpFile = nullptr;
        return S_OK;
    }

    const LibraryDescription& Description() const { return m_lib; }

private:
    LibraryDescription m_lib;
};

std::string PosixPathOf(const std::string& ansi) {
    // A code-page character takes at most three bytes of UTF-8.
    std::string posix(3 * ansi.size() + 1, '\0');
    if (!WinplatToPosixPath(ansi.c_str(), posix.data(), static_cast<DWORD>(posix.size())))
        return {};
    posix.resize(std::strlen(posix.c_str()));
    return posix;
}

// The library text: the module's TYPELIB 1 resource, or the file itself when it is not a
// module.
HRESULT ReadDescription(const std::string& ansiPath, std::string& text) {
    std::string posix = PosixPathOf(ansiPath);
    int fd = posix.empty() ? -1 : open(posix.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return TYPE_E_CANTLOADLIBRARY;
    char magic[4] = {};
    bool isModule = read(fd, magic, 4) == 4 && std::memcmp(magic,
                                                           "\x7F"
                                                           "ELF",
                                                           4) == 0;
    if (!isModule) {
        lseek(fd, 0, SEEK_SET);
        char buffer[4096];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        close(fd);
        return n < 0 ? TYPE_E_CANTLOADLIBRARY : S_OK;
    }
    close(fd);
    // A module already loaded is only counted up; one that is not is loaded for the read.
    HMODULE hModule = LoadLibraryA(ansiPath.c_str());
    if (!hModule)
        return TYPE_E_CANTLOADLIBRARY;
    HRESULT hr = TYPE_E_CANTLOADLIBRARY;
    if (HRSRC hResource = FindResourceA(hModule, MAKEINTRESOURCEA(1), "TYPELIB")) {
        const void* data = LockResource(LoadResource(hModule, hResource));
        if (data) {
            text.assign(static_cast<const char*>(data), SizeofResource(hModule, hResource));
            hr = S_OK;
        }
    }
    FreeLibrary(hModule);
    return hr;
}

std::vector<BYTE> Text(std::string_view utf8) {
    std::u16string text;
    Utf8ToUtf16(utf8, text);
    return Utf16Bytes(text, true);
}

// A REG_SZ value's text without its terminators.
std::string TextOf(const Value* value) {
    if (!value || value->type != REG_SZ)
        return {};
    std::u16string text = BytesToUtf16(value->data);
    while (!text.empty() && text.back() == u'\0')
        text.pop_back();
    return Utf16ToUtf8(text);
}

} // namespace

WINPLAT_API HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib) {
    if (!pptlib)
        return E_POINTER;
    *pptlib = nullptr;
    if (!szFile)
        return E_INVALIDARG;
    std::u16string file(szFile);
    std::string text;
    if (HRESULT hr = ReadDescription(Utf16ToAnsi(file), text); FAILED(hr))
        return hr;
    LibraryDescription lib;
    std::string error;
    if (!ParseLibrary(text, lib, error))
        return TYPE_E_INVDATAREAD;
    winplat::ComPtr<ITypeLib> typeLib(new (std::nothrow) TypeLib(std::move(lib)));
    if (!typeLib)
        return E_OUTOFMEMORY;
    if (regkind == REGKIND_REGISTER) {
        size_t slash = file.find_last_of(u"\\/");
        std::u16string folder = slash == std::u16string::npos ? u"" : file.substr(0, slash);
        if (HRESULT hr = RegisterTypeLib(typeLib.Get(), file.c_str(), folder.c_str()); FAILED(hr))
            return hr;
    }
    *pptlib = typeLib.Detach();
    return S_OK;
}

WINPLAT_API HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
    if (!ptlib || !szFullPath)
        return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    if (HRESULT hr = ptlib->GetLibAttr(&attr); FAILED(hr))
        return hr;
    TLIBATTR lib = *attr;
    ptlib->ReleaseTLibAttr(attr);
    winplat::Bstr name, doc;
    if (HRESULT hr = ptlib->GetDocumentation(-1, name.Put(), doc.Put(), nullptr, nullptr);
        FAILED(hr))
        return hr;
    std::string description = Utf16ToUtf8(doc.Length() ? doc.Str() : name.Str());
    // Interfaces can be listed only from a library of our own making.
    std::vector<std::pair<std::string, std::string>> interfaces; // {IID}, name
    winplat::ComPtr<ITypeLib> ours;
    if (SUCCEEDED(ptlib->QueryInterface(kIidTypeLibDescription, ours.PutVoid())))
        for (const TypeDescription& type : static_cast<TypeLib*>(ours.Get())->Description().types)
            if (type.isInterface)
                interfaces.emplace_back(GuidText(type.guid), type.name);

    std::string libId = GuidText(lib.guid);
    std::string version = VersionText(lib.wMajorVerNum, lib.wMinorVerNum);
    std::string path = Utf16ToUtf8(szFullPath);
    std::string helpDir = szHelpDir ? Utf16ToUtf8(szHelpDir) : std::string();
    LONG rc = WriteRegistry([&](Tree& tree, bool& changed) {
        auto set = [&](const KeyPath& at, const char* valueName, const std::string& text) {
            Key* key = CreateKey(tree, kClassesRoot, at, changed);
            if (key->SetValue(valueName, REG_SZ, Text(text)))
                changed = true;
        };
        KeyPath versionKey = {"TypeLib", libId, version};
        auto below = [&](KeyPath base, std::initializer_list<const char*> names) {
            for (const char* n : names)
                base.emplace_back(n);
            return base;
        };
        set(versionKey, "", description);
        set(below(versionKey, {"FLAGS"}), "", std::to_string(lib.wLibFlags));
        // The locale key is the library's LCID in hexadecimal ("409" for 1033, "0" for neutral).
        char locale[16];
        std::snprintf(locale, sizeof locale, "%x", static_cast<unsigned>(lib.lcid));
        set(below(versionKey, {locale, "win32"}), "", path);
        set(below(versionKey, {"HELPDIR"}), "", helpDir);
        for (const auto& [iid, interfaceName] : interfaces) {
            KeyPath key = {"Interface", iid};
            set(key, "", interfaceName);
            set(below(key, {"ProxyStubClsid"}), "", kAutomationProxy);
            set(below(key, {"ProxyStubClsid32"}), "", kAutomationProxy);
            set(below(key, {"TypeLib"}), "", libId);
            set(below(key, {"TypeLib"}), "Version", version);
        }
        return ERROR_SUCCESS;
    });
    return rc == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

WINPLAT_API HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                                      SYSKIND syskind) {
    std::string libId = GuidText(libID);
    std::string version = VersionText(wVerMajor, wVerMinor);
    std::vector<KeyPath> deleted;
    LONG rc = WriteRegistry([&](Tree& tree, bool& changed) {
        deleted.clear();
        KeyPath libKey = {"TypeLib", libId};
        KeyPath versionKey = {"TypeLib", libId, version};
        if (!FindKey(tree, kClassesRoot, versionKey))
            return ERROR_FILE_NOT_FOUND;
        // The interfaces this library version entered: their TypeLib key names it.
        if (Key* interfaces = FindKey(tree, kClassesRoot, {"Interface"})) {
            std::vector<std::string> mine;
            for (const auto& [iid, key] : interfaces->subkeys) {
                const Key* typeLib = key->FindSubkey("TypeLib");
                if (typeLib && FoldEqual(TextOf(typeLib->FindValue("")), libId) &&
                    FoldEqual(TextOf(typeLib->FindValue("Version")), version))
                    mine.push_back(iid);
            }
            for (const std::string& iid : mine) {
                interfaces->subkeys.erase(iid);
                deleted.push_back({"Interface", iid});
            }
        }
        EraseKey(tree, kClassesRoot, versionKey);
        deleted.push_back(versionKey);
        Key* lib = FindKey(tree, kClassesRoot, libKey);
        if (lib && lib->subkeys.empty()) {
            EraseKey(tree, kClassesRoot, libKey);
            deleted.push_back(libKey);
        }
        changed = true;
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    for (const KeyPath& path : deleted)
        NoteKeyDeleted(kClassesRoot, path);
    return S_OK;
}
