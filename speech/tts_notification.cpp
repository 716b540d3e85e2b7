#include "tts_notification.h"
#include "speech_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <strings.h>

#include <winplat/comptr.h>
#include <winplat/crt.h>
#include <winplat/winbase.h>

#include "instance_file.h"
#include "profile_document.h"
#include "settings_dialog.h"
#include "text.h"

namespace {

constexpr char kSectionPrefix[] = "TextSpeech";
constexpr char kClsidText[] = "{44440FAF-3359-11D5-8075-00E0295E9283}";
constexpr char kCrLf[] = "\r\n";

// The leading decimal integer of a value, as atoi reads it (0 when there is none);
// values beyond the int range stop at its ends rather than overflowing.
int LeadingInt(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int>(value);
}

// The line number of a key that reads "Message" and a decimal number without leading
// zeros (letter case aside), as "Message%d" produces it; 0 for any other key.
long long MessageLineNumber(const std::string& key) {
    constexpr size_t kPrefix = 7; // "Message"
    if (key.size() <= kPrefix || key.size() > kPrefix + 10 ||
        strncasecmp(key.c_str(), "Message", kPrefix) != 0 || key[kPrefix] == '0')
        return 0;
    long long number = 0;
    for (size_t i = kPrefix; i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9')
            return 0;
        number = number * 10 + (key[i] - '0');
    }
    return number;
}

// The section as the document files it: under its name lower-cased the document's way.
const CProfileSection* FindSection(const CProfileDocument& doc, const std::string& name) {
    std::string lower = name;
    _mbslwr(reinterpret_cast<unsigned char*>(lower.data()));
    auto it = doc.Sections().find(lower);
    return it == doc.Sections().end() ? nullptr : it->second.get();
}

// The binary layout of the class identifier that starts a version 6 record.
void ClsidBytes(unsigned char out[16]) {
    const GUID& g = CLSID_TTSNotification;
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(g.Data1 >> (8 * i));
    out[4] = static_cast<unsigned char>(g.Data2);
    out[5] = static_cast<unsigned char>(g.Data2 >> 8);
    out[6] = static_cast<unsigned char>(g.Data3);
    out[7] = static_cast<unsigned char>(g.Data3 >> 8);
    std::memcpy(out + 8, g.Data4, 8);
}

// Reads up to four bytes into a little-endian 32-bit value preset to 0; what the file
// delivers lands in the low bytes.
int ReadInt32(FILE* pFile) {
    unsigned char bytes[4] = {};
    size_t got = std::fread(bytes, 1, 4, pFile);
    uint32_t value = 0;
    for (size_t i = 0; i < got; ++i)
        value |= uint32_t(bytes[i]) << (8 * i);
    return static_cast<int>(value);
}

} // namespace

// CSpeechVoice

CSpeechVoice::~CSpeechVoice() {
    // A voice made on demand by Speak, on an object never initialised, goes here too.
    if (m_pVoice)
        m_pVoice->Release();
}

bool CSpeechVoice::CreateVoice() {
    if (m_bCreated && m_pVoice)
        return true; // one voice per holder, never a second reference
    if (FAILED(CoInitialize(nullptr)))
        return false;
    ISpVoice* pVoice = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SpVoice, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_ISpVoice,
                                reinterpret_cast<void**>(&pVoice))) ||
        !pVoice) {
        m_pVoice = nullptr;
        return false;
    }
    m_pVoice = pVoice;
    m_bCreated = true;
    return true;
}

void CSpeechVoice::ReleaseVoice() {
    if (m_bCreated && m_pVoice) {
        m_pVoice->Release();
        m_pVoice = nullptr;
        m_bCreated = false;
    }
}

HRESULT CSpeechVoice::Speak(const OLECHAR* pwszText, DWORD dwFlags) {
    if (!m_bCreated && !CreateVoice())
        return E_FAIL;
    if (!m_pVoice)
        return E_FAIL;
    return m_pVoice->Speak(pwszText, dwFlags, nullptr);
}

// Rate and volume never create the voice: only a voice that exists can be set.
HRESULT CSpeechVoice::SetRate(int nRate) {
    if (!m_pVoice)
        return E_FAIL;
    if (nRate < GetMinRate() || nRate > GetMaxRate())
        nRate = 0;
    return m_pVoice->SetRate(nRate);
}

HRESULT CSpeechVoice::SetVolume(int nVolume) {
    if (!m_pVoice)
        return E_FAIL;
    if (nVolume < GetMinVolume() || nVolume > GetMaxVolume())
        nVolume = GetMaxVolume();
    return m_pVoice->SetVolume(static_cast<USHORT>(nVolume));
}

// TTSNotification

TTSNotification::~TTSNotification() {
    UnInitialize();
}

void TTSNotification::Log(const std::u16string& text) {
    if (!m_pHost)
        return;
    winplat::Bstr bstr(text);
    m_pHost->WriteLog(1, bstr.Get());
}

void TTSNotification::LogLine(BSTR bstrPath, const char* pszText) {
    if (!m_pHost)
        return;
    Log(std::u16string(bstrPath ? bstrPath : u"", SysStringLen(bstrPath)));
    sentrel::WriteLogText(m_pHost, pszText);
    Log(u"\r\n");
}

HRESULT TTSNotification::InterfaceSupportsErrorInfo(REFIID riid) {
    return sentrel::NotifierSupportsErrorInfo(riid);
}

HRESULT TTSNotification::Initialize(IUnknown* pSentrelUnk) {
    if (m_bInitialized)
        return S_OK;
    if (!pSentrelUnk)
        return E_FAIL;
    HRESULT hr =
        pSentrelUnk->QueryInterface(IID_ISentrelNotifyHost, reinterpret_cast<void**>(&m_pHost));
    if (FAILED(hr) || !m_pHost) {
        m_pHost = nullptr;
        return E_FAIL;
    }
    if (m_voice.CreateVoice()) {
        // Marked only now: after a failed voice the object stays uninitialised and a later
        // Initialize tries again.
        m_bInitialized = true;
        return S_OK;
    }
    char first[255];
    char second[255];
    LoadResourceText(IDS_SAPI_ERROR_1, first, sizeof first);
    LoadResourceText(IDS_SAPI_ERROR_2, second, sizeof second);
    sentrel::WriteLogText(m_pHost, std::string(first) + second);
    m_pHost->Release();
    m_pHost = nullptr;
    return E_FAIL;
}

HRESULT TTSNotification::UnInitialize() {
    if (m_bInitialized) {
        m_voice.ReleaseVoice();
        if (m_pHost) {
            m_pHost->Release();
            m_pHost = nullptr;
        }
        m_bInitialized = false;
    }
    return S_OK;
}

HRESULT TTSNotification::Notify(BSTR bstrNotificationPathName) {
    if (SysStringLen(bstrNotificationPathName) == 0) {
        // An empty path silences the voice: what it says or still has queued is dropped.
        m_voice.Speak(u" ", SPF_ASYNC | SPF_PURGEBEFORESPEAK);
        return S_OK;
    }
    int nRate = 0;
    int nVolume = 0;
    std::string strMessage;
    if (FAILED(LoadSpeechInstance(bstrNotificationPathName, &nRate, &nVolume, strMessage))) {
        LogLine(bstrNotificationPathName, " - Failed to load notification from disk.");
        return S_OK; // nothing is prepared, expanded or spoken for an instance not loaded
    }
    if (!m_pHost)
        return S_OK;
    LogLine(bstrNotificationPathName, " - Preparing to Speak");

    winplat::Bstr text = winplat::Bstr::Adopt(sentrel::BstrFromAnsi(strMessage));
    HRESULT hr = m_pHost->ExpandVariables(text.InOut());
    if (FAILED(hr))
        return hr;
    m_voice.SetRate(nRate);
    m_voice.SetVolume(nVolume);
    // The voice speaks on the platform's thread; this call only queues the text.
    m_voice.Speak(text.Get() ? text.Get() : u"", SPF_ASYNC);
    LogLine(bstrNotificationPathName, " - Speaking has completed");
    return S_OK;
}

HRESULT TTSNotification::LoadSpeechInstance(BSTR bstrPath, int* pnRate, int* pnVolume,
                                            std::string& strMessage) {
    static const sentrel::InstanceFileType kType = {
        kSectionPrefix,
        kClsidText,
        {"SpeakRate", "VolumnRate"},
        "  Notification - Failed saving file to new notification format."};
    sentrel::InstanceReader reader;
    reader.readKeys = [&](const CProfileDocument& doc, const std::string& strSection) {
        std::string strRate;
        std::string strVolume;
        doc.GetValue(strSection.c_str(), "SpeakRate", "", strRate);
        doc.GetValue(strSection.c_str(), "VolumnRate", "", strVolume);
        *pnRate = LeadingInt(strRate);
        *pnVolume = LeadingInt(strVolume);
        std::string strLines;
        if (!doc.GetValue(strSection.c_str(), "NO_OF_MESSAGE_LINES", "", strLines))
            return;
        const long long nLines = LeadingInt(strLines);
        // Lines 1..n in order, each present one followed by CR LF unless it is line n. The
        // keys are gathered from the section rather than asked for one by one, so that a
        // huge line count costs no more than the lines the file really holds.
        std::map<long long, const std::string*> lines;
        if (const CProfileSection* pSection = FindSection(doc, strSection))
            for (size_t i = 0; i < pSection->keys.size(); ++i) {
                long long number = MessageLineNumber(pSection->keys[i]);
                if (number >= 1 && number <= nLines)
                    lines.emplace(number, &pSection->values[i]); // the first entry wins
            }
        for (const auto& [number, pValue] : lines) {
            strMessage += *pValue;
            if (number < nLines)
                strMessage += kCrLf;
        }
    };
    reader.readVersion6 = [&](const std::string&) {
        return SUCCEEDED(ReadVersion6SpeechInstance(bstrPath, pnRate, pnVolume, strMessage));
    };
    reader.writeInstance = [&](const std::string&) {
        return SUCCEEDED(SaveSpeechInstance(bstrPath, *pnRate, *pnVolume, strMessage));
    };
    const sentrel::InstanceRead read =
        sentrel::ReadInstanceFile(kType, sentrel::AnsiFromBstr(bstrPath), m_pHost, reader);
    return read == sentrel::InstanceRead::Failed ? E_FAIL : S_OK;
}

HRESULT TTSNotification::ReadVersion6SpeechInstance(BSTR bstrPath, int* pnRate, int* pnVolume,
                                                    std::string& strMessage) {
    std::string strPath = sentrel::AnsiFromBstr(bstrPath);
    FILE* pFile = _fsopen(strPath.c_str(), "rb", _SH_DENYWR);
    if (!pFile)
        return E_FAIL;
    unsigned char signature[16];
    unsigned char expected[16];
    ClsidBytes(expected);
    if (std::fread(signature, 1, 16, pFile) != 16 || std::memcmp(signature, expected, 16) != 0) {
        std::fclose(pFile);
        return E_FAIL;
    }
    *pnRate = ReadInt32(pFile);
    *pnVolume = ReadInt32(pFile);
    strMessage.clear();
    const int nLength = ReadInt32(pFile);
    if (nLength > 0) {
        // Whole pieces of 1023 bytes, then the rest. A record that ends before its length
        // says is broken: nothing of its message is kept.
        int nLeft = nLength;
        char chunk[TTS_V6_CHUNK + 1];
        while (nLeft > 0) {
            const int nChunk = nLeft >= TTS_V6_CHUNK ? TTS_V6_CHUNK : nLeft;
            if (std::fread(chunk, 1, static_cast<size_t>(nChunk), pFile) !=
                static_cast<size_t>(nChunk)) {
                strMessage.clear();
                std::fclose(pFile);
                return E_FAIL;
            }
            chunk[nChunk] = '\0';
            strMessage += chunk; // as a terminated text: a NUL ends the piece
            nLeft -= nChunk;
        }
    }
    std::fclose(pFile);
    return S_OK;
}

HRESULT TTSNotification::SaveSpeechInstance(BSTR bstrPath, int nRate, int nVolume,
                                            const std::string& strMessage) {
    std::string strPath = sentrel::AnsiFromBstr(bstrPath);
    CProfileDocument doc;
    const std::string strSection = InstanceSectionName(kSectionPrefix, strPath.c_str());
    doc.SetValue(strSection.c_str(), "CLSID", kClsidText);
    doc.SetValue(strSection.c_str(), "SpeakRate", std::to_string(nRate).c_str());
    doc.SetValue(strSection.c_str(), "VolumnRate", std::to_string(nVolume).c_str());
    // One line per CR LF pair; a lone CR or LF stays inside its line.
    int nLines = 0;
    size_t start = 0;
    for (;;) {
        size_t end = strMessage.find(kCrLf, start);
        std::string line = strMessage.substr(start, end == std::string::npos ? end : end - start);
        char key[32];
        std::snprintf(key, sizeof key, "Message%d", ++nLines);
        doc.SetValue(strSection.c_str(), key, line.c_str());
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    doc.SetValue(strSection.c_str(), "NO_OF_MESSAGE_LINES", std::to_string(nLines).c_str());
    auto logLine = [&](const std::string& strText) { LogLine(bstrPath, strText.c_str()); };
    if (!sentrel::SaveInstanceDocument(doc, strPath, logLine)) {
        LogLine(bstrPath, " Text To Speach Notification - Failed saving file.");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT TTSNotification::GetIcon(HINSTANCE* phInstance, unsigned int* pnIconId) {
    *phInstance = sentrel::ComponentModule::GetModuleInstance();
    *pnIconId = TTS_ICON;
    return S_OK;
}

namespace {

// The settings dialog the configuration methods run, for a new instance or an edit.
auto SettingsDialogOf(TTSNotification* pNotifier) {
    return [pNotifier](const std::string& strDirectory, const std::string* pstrName) {
        return CSpeechSettingsDialog(pNotifier, strDirectory, pstrName);
    };
}

} // namespace

HRESULT TTSNotification::NewInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) {
    return sentrel::RunSettingsDialog(bstrDirectory, pbstrName, false, true,
                                      SettingsDialogOf(this));
}

HRESULT TTSNotification::EditInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) {
    return sentrel::RunSettingsDialog(bstrDirectory, pbstrName, true, true, SettingsDialogOf(this));
}

// The web configuration methods are in speech_web.cpp.
