#include "syslog.h"
#include "syslog_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <winplat/comptr.h>
#include <winplat/crt.h>
#include <winplat/winbase.h>
#include <winplat/winnls.h>
#include <winplat/winsock.h>

#include "instance_file.h"
#include "profile_document.h"
#include "settings_dialog.h"
#include "syslog_format.h"
#include "syslog_transport.h"
#include "text.h"

namespace {

constexpr char kSectionPrefix[] = "Syslog";

const sentrel::InstanceFileType kSyslogInstanceFile{
    kSectionPrefix,
    SYSLOG_INSTANCE_TYPE_TEXT,
    {"Address", "Message", "Port"},
    " Notification - Failed saving file to new notification format."};

// The Port text's value: leading blanks and a sign allowed, reading stops at the first
// character that is not a digit; empty or non-numeric text is 0. Values beyond the
// 32-bit range stop at its ends rather than wrapping.
LONG ParsePort(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<LONG>(value);
}

// Reads a little-endian 32-bit number; false when the file ends first.
bool ReadInt32(FILE* pFile, LONG& nValue) {
    unsigned char bytes[4];
    if (std::fread(bytes, 1, 4, pFile) != 4)
        return false;
    nValue = static_cast<LONG>(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                               uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
    return true;
}

// Reads a text field of nLength bytes, ending early at a NUL or at the end of the file.
// A negative stored length reads as an empty text.
std::string ReadText(FILE* pFile, LONG nLength) {
    if (nLength <= 0)
        return {};
    std::string text(static_cast<size_t>(nLength), '\0');
    size_t got = std::fread(text.data(), 1, text.size(), pFile);
    text.resize(got);
    size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

// The binary layout of a GUID: first field 32-bit and next two 16-bit, little-endian.
void GuidBytes(const GUID& guid, unsigned char out[16]) {
    out[0] = static_cast<unsigned char>(guid.Data1);
    out[1] = static_cast<unsigned char>(guid.Data1 >> 8);
    out[2] = static_cast<unsigned char>(guid.Data1 >> 16);
    out[3] = static_cast<unsigned char>(guid.Data1 >> 24);
    out[4] = static_cast<unsigned char>(guid.Data2);
    out[5] = static_cast<unsigned char>(guid.Data2 >> 8);
    out[6] = static_cast<unsigned char>(guid.Data3);
    out[7] = static_cast<unsigned char>(guid.Data3 >> 8);
    std::memcpy(out + 8, guid.Data4, 8);
}

} // namespace

SysLog::SysLog() : m_socket(INVALID_SOCKET) {}

SysLog::~SysLog() {
    UnInitialize();
}

void SysLog::Log(const std::string& strText) {
    sentrel::WriteLogText(m_pHost, strText);
}

HRESULT SysLog::Initialize(IUnknown* pSentrelUnk) {
    if (m_bInitialized)
        return S_OK;
    if (!pSentrelUnk)
        return E_FAIL;
    WSADATA wsaData;
    if (WSAStartup(0x0101, &wsaData) != 0)
        return E_FAIL;
    HRESULT hr =
        pSentrelUnk->QueryInterface(IID_ISentrelNotifyHost, reinterpret_cast<void**>(&m_pHost));
    if (FAILED(hr) || !m_pHost) {
        m_pHost = nullptr;
        WSACleanup();
        return E_FAIL;
    }
    m_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (m_socket != INVALID_SOCKET) {
        m_origin = SyslogOrigin(); // asked once: both are system calls
        m_bInitialized = true;
        return S_OK;
    }
    Log("Syslog::Initialize:Failed to create socket\r\n");
    m_pHost->Release();
    m_pHost = nullptr;
    WSACleanup();
    return E_FAIL;
}

HRESULT SysLog::UnInitialize() {
    if (m_bInitialized) {
        if (m_pHost) {
            m_pHost->Release();
            m_pHost = nullptr;
        }
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
        WSACleanup();
        m_bInitialized = false;
    }
    return S_OK;
}

std::string SysLog::CleanMessage(const std::string& strAnsi) {
    std::string out;
    out.reserve(std::min<size_t>(strAnsi.size(), SYSLOG_MAX_SEND));
    for (size_t i = 0; i < strAnsi.size() && out.size() < SYSLOG_MAX_SEND;) {
        auto c = static_cast<unsigned char>(strAnsi[i]);
        if (IsDBCSLeadByte(c) && i + 1 < strAnsi.size()) {
            if (out.size() + 2 > SYSLOG_MAX_SEND)
                break; // a lead byte that would be the last byte sent is dropped
            out += strAnsi[i];
            out += strAnsi[i + 1];
            i += 2;
        } else {
            out += strAnsi[i];
            ++i;
        }
    }
    for (char& ch : out) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c > 0x7E)
            ch = ' ';
    }
    return out;
}

HRESULT SysLog::Notify(BSTR bstrNotificationPathName) {
    if (!m_bInitialized)
        return E_FAIL;
    Log("SysLog::Notify Processing...\r\n");

    LONG nPort = SYSLOG_DEFAULT_PORT;
    std::string strAddress;
    std::string strMessage;
    // An optional key with a value it does not take fails the alert: sending in another
    // format, or unencrypted when TLS was meant, would be worse than not sending.
    SyslogOptions options;
    bool bOptionsGood = true;
    if (FAILED(LoadInstance(bstrNotificationPathName, nPort, strAddress, strMessage, &options,
                            &bOptionsGood)) ||
        !bOptionsGood) {
        Log("Syslog::Notify:Failed to load instance data\r\n");
        return E_FAIL;
    }

    // Whatever ExpandVariables answers, the text it leaves in the BSTR is the message.
    winplat::Bstr text = winplat::Bstr::Adopt(sentrel::BstrFromAnsi(strMessage));
    m_pHost->ExpandVariables(text.InOut());
    UINT cch = text.Length();
    if (cch > SYSLOG_MAX_SEND) {
        char warning[160];
        std::snprintf(warning, sizeof warning,
                      "SysLog::Notify:Warning data truncated - message is > %d characters in "
                      "length (%d characters).\r\n",
                      SYSLOG_MAX_SEND, static_cast<int>(cch));
        Log(warning);
    }
    std::string strPayload = CleanMessage(sentrel::AnsiFromBstr(text.Get()));

    // A port outside 1..65535 is refused rather than wrapped to its low 16 bits.
    if (nPort < 1 || nPort > 65535) {
        Log("Syslog::SendTo failed\r\n");
        return E_FAIL;
    }
    if (options.format != SyslogFormat::Raw) {
        StampSyslogTime(m_origin);
        strPayload = FrameSyslogMessage(options, m_origin, strPayload);
    }
    uint32_t nAddress = inet_addr(strAddress.c_str());
    bool bSent;
    if (options.transport == SyslogTransport::Udp) {
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_port = htons(static_cast<u_short>(nPort));
        destination.sin_addr.s_addr = nAddress;
        bSent = sendto(m_socket, strPayload.data(), static_cast<int>(strPayload.size()), 0,
                       reinterpret_cast<const sockaddr*>(&destination),
                       sizeof destination) != SOCKET_ERROR;
    } else {
        bSent = nAddress != INADDR_NONE && SendStream(options, nAddress, nPort, strPayload);
    }
    if (!bSent) {
        Log("Syslog::SendTo failed\r\n");
        return E_FAIL;
    }
    Log("SysLog::Notify Processing... Complete.\r\n");
    return S_OK;
}

bool SysLog::SendStream(const SyslogOptions& options, uint32_t nAddress, LONG nPort,
                        const std::string& strMessage) {
    SyslogStreamTarget target;
    target.nAddress = nAddress;
    target.nPort = static_cast<uint16_t>(nPort);
    target.bTls = options.transport == SyslogTransport::Tls;
    target.strServerName = options.strServerName;
    target.bVerify = options.bVerify;
    if (!options.strCAFile.empty()) {
        char szPosix[MAX_PATH];
        if (!WinplatToPosixPath(options.strCAFile.c_str(), szPosix, sizeof szPosix))
            return false;
        target.strCAFile = szPosix;
    }
    return SendSyslogStream(target, OctetCounted(strMessage));
}

HRESULT SysLog::LoadSyslogInstance(BSTR bstrPath, LONG& nPort, std::string& strAddress,
                                   std::string& strMessage) {
    return LoadInstance(bstrPath, nPort, strAddress, strMessage, nullptr, nullptr);
}

HRESULT SysLog::LoadInstance(BSTR bstrPath, LONG& nPort, std::string& strAddress,
                             std::string& strMessage, SyslogOptions* pOptions,
                             bool* pbOptionsGood) {
    sentrel::InstanceReader reader;
    reader.readKeys = [&](const CProfileDocument& doc, const std::string& strSection) {
        std::string strPort;
        doc.GetValue(strSection.c_str(), "Address", "", strAddress);
        doc.GetValue(strSection.c_str(), "Message", "", strMessage);
        doc.GetValue(strSection.c_str(), "Port", "", strPort);
        nPort = ParsePort(strPort);
        if (pOptions && pbOptionsGood)
            *pbOptionsGood = ReadSyslogOptions(doc, strSection, *pOptions);
    };
    // A file without a section is a version 6 record, converted in place.
    reader.readVersion6 = [&](const std::string&) {
        return ReadVersion6SyslogInstance(bstrPath, nPort, strAddress, strMessage);
    };
    reader.writeInstance = [&](const std::string&) {
        return SUCCEEDED(SaveSyslogInstance(bstrPath, nPort, strAddress, strMessage));
    };
    sentrel::InstanceRead read = sentrel::ReadInstanceFile(
        kSyslogInstanceFile, sentrel::AnsiFromBstr(bstrPath), m_pHost, reader);
    return read == sentrel::InstanceRead::Failed ? E_FAIL : S_OK;
}

bool SysLog::ReadVersion6SyslogInstance(BSTR bstrPath, LONG& nPort, std::string& strAddress,
                                        std::string& strMessage) {
    std::string strPath = sentrel::AnsiFromBstr(bstrPath);
    FILE* pFile = _fsopen(strPath.c_str(), "rb", _SH_DENYWR);
    if (!pFile)
        return false;
    unsigned char signature[16];
    unsigned char expected[16];
    GuidBytes(SYSLOG_INSTANCE_TYPE, expected);
    if (std::fread(signature, 1, 16, pFile) != 16 || std::memcmp(signature, expected, 16) != 0) {
        std::fclose(pFile);
        return false;
    }
    ReadInt32(pFile, nPort); // a file that ends here keeps the preset port
    LONG nAddress = 0;
    ReadInt32(pFile, nAddress);
    if (nAddress < 0 || nAddress > SYSLOG_V6_MAX_ADDRESS) {
        std::fclose(pFile);
        return false;
    }
    strAddress = ReadText(pFile, nAddress);
    LONG nMessage = 0;
    ReadInt32(pFile, nMessage);
    if (nMessage > SYSLOG_V6_MAX_MESSAGE)
        nMessage = SYSLOG_V6_MAX_MESSAGE;
    strMessage = ReadText(pFile, nMessage);
    std::fclose(pFile);
    return true;
}

HRESULT SysLog::SaveSyslogInstance(BSTR bstrPath, LONG nPort, const std::string& strAddress,
                                   const std::string& strMessage, BSTR bstrKeepFrom) {
    std::string strPath = sentrel::AnsiFromBstr(bstrPath);
    CProfileDocument doc;
    std::string strSection = InstanceSectionName(kSectionPrefix, strPath.c_str());
    doc.SetValue(strSection.c_str(), "CLSID", SYSLOG_INSTANCE_TYPE_TEXT);
    doc.SetValue(strSection.c_str(), "Address", strAddress.c_str());
    doc.SetValue(strSection.c_str(), "Message", strMessage.c_str());
    doc.SetValue(strSection.c_str(), "Port", std::to_string(nPort).c_str());
    // The keys that neither the dialog nor the web pages show (format, transport, ...)
    // stay as they were in the syslog instance this save replaces (or renames).
    std::string strOldPath = bstrKeepFrom ? sentrel::AnsiFromBstr(bstrKeepFrom) : strPath;
    std::string strOldSection = InstanceSectionName(kSectionPrefix, strOldPath.c_str());
    CProfileDocument old;
    std::string strClsid;
    if (old.Load(strOldPath.c_str()) == CProfileDocument::LOADED &&
        old.GetValue(strOldSection.c_str(), "CLSID", "", strClsid) &&
        strClsid == SYSLOG_INSTANCE_TYPE_TEXT) {
        std::string strValue;
        for (const char* pszKey : SYSLOG_OPTIONAL_KEYS)
            if (old.GetValue(strOldSection.c_str(), pszKey, "", strValue))
                doc.SetValue(strSection.c_str(), pszKey, strValue.c_str());
    }
    auto logLine = [&](const std::string& strText) {
        Log(strPath);
        Log(strText);
        Log("\r\n");
    };
    if (!sentrel::SaveInstanceDocument(doc, strPath, logLine)) {
        Log(strPath);
        Log(" Syslog Notification - Failed saving file.");
        Log("\r\n");
        return E_FAIL;
    }
    return S_OK;
}

namespace {

// The settings dialog the configuration methods run, for a new instance or an edit.
auto SettingsDialogOf(SysLog* pNotifier) {
    return [pNotifier](const std::string& strDirectory, const std::string* pstrName) {
        return CSyslogSettingsDialog(pNotifier, strDirectory, pstrName);
    };
}

} // namespace

HRESULT SysLog::NewInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) {
    return sentrel::RunSettingsDialog(bstrDirectory, pbstrName, false, false,
                                      SettingsDialogOf(this));
}

HRESULT SysLog::EditInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) {
    return sentrel::RunSettingsDialog(bstrDirectory, pbstrName, true, false,
                                      SettingsDialogOf(this));
}

HRESULT SysLog::GetIcon(HINSTANCE* phInstance, unsigned int* pnIconId) {
    *phInstance = sentrel::ComponentModule::GetModuleInstance();
    *pnIconId = SYSLOG_ICON;
    return S_OK;
}

// The web configuration methods are in syslog_web.cpp.
