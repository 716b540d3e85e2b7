// SysLog: sends an instance's message, expanded by the host, as one UDP datagram.
#pragma once

#include <string>

#include <sentrel/notification.h>

#include "component.h"
#include "notification_interfaces.h"
#include "syslog_format.h"

// {C89F80D2-B3F1-11D4-804A-0001025EB176}
inline constexpr CLSID CLSID_SysLog = {
    0xC89F80D2, 0xB3F1, 0x11D4, {0x80, 0x4A, 0x00, 0x01, 0x02, 0x5E, 0xB1, 0x76}};
// The instance type of syslog instance files, and the signature of the version 6 format.
inline constexpr GUID SYSLOG_INSTANCE_TYPE = {
    0x69DD7B00, 0xB669, 0x11D4, {0x80, 0x4A, 0x00, 0x01, 0x02, 0x5E, 0xB1, 0x76}};
inline constexpr char SYSLOG_INSTANCE_TYPE_TEXT[] = "{69DD7B00-B669-11D4-804A-0001025EB176}";

inline constexpr LONG SYSLOG_DEFAULT_PORT = 514;
inline constexpr int SYSLOG_MAX_SEND = 959;      // bytes of message text sent
inline constexpr int SYSLOG_V6_MAX_ADDRESS = 127; // version 6 record limits
inline constexpr int SYSLOG_V6_MAX_MESSAGE = 1023;
inline constexpr UINT SYSLOG_ICON = 201;

class SysLog : public sentrel::ComObjectRoot<ISentrelNotification, ISentrelNotificationConfig,
                                             ISentrelNotificationWeb> {
public:
    SysLog();
    virtual ~SysLog();

    // ISentrelNotification
    HRESULT STDMETHODCALLTYPE Initialize(IUnknown* pSentrelUnk) override;
    HRESULT STDMETHODCALLTYPE UnInitialize() override;
    HRESULT STDMETHODCALLTYPE Notify(BSTR bstrNotificationPathName) override;

    // ISentrelNotificationConfig
    HRESULT STDMETHODCALLTYPE NewInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) override;
    HRESULT STDMETHODCALLTYPE EditInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) override;
    HRESULT STDMETHODCALLTYPE GetIcon(HINSTANCE* phInstance, unsigned int* pnIconId) override;

    // ISentrelNotificationWeb
    HRESULT STDMETHODCALLTYPE GetNewPage(BSTR bstrDirectory, BSTR* pbstrHtml) override;
    HRESULT STDMETHODCALLTYPE GetEditPage(BSTR bstrInstancePath, BSTR* pbstrHtml) override;
    HRESULT STDMETHODCALLTYPE ApplyPostedForm(BSTR bstrDirectory, BSTR bstrFormData) override;

    // Instance files. Port, address and message are in/out: the caller presets them.
    HRESULT LoadSyslogInstance(BSTR bstrPath, LONG& nPort, std::string& strAddress,
                               std::string& strMessage);
    // Writes the instance anew. The optional keys (Format, Transport, ...) of the syslog
    // instance at bstrKeepFrom, by default the file being replaced, are carried over: a
    // dialog that renames an instance passes the old path.
    HRESULT SaveSyslogInstance(BSTR bstrPath, LONG nPort, const std::string& strAddress,
                               const std::string& strMessage, BSTR bstrKeepFrom = nullptr);
    bool ReadVersion6SyslogInstance(BSTR bstrPath, LONG& nPort, std::string& strAddress,
                                    std::string& strMessage);

    // The bytes that go on the wire for a message: at most 959 bytes, never half a
    // double-byte character, every byte outside 0x20..0x7E turned into a blank.
    static std::string CleanMessage(const std::string& strAnsi);

private:
    // One WriteLog call at level 1, while the host reference is held.
    void Log(const std::string& strText);
    // LoadSyslogInstance that also reads the optional keys when pOptions is given;
    // *pbOptionsGood turns false when one of them holds a value it does not take.
    HRESULT LoadInstance(BSTR bstrPath, LONG& nPort, std::string& strAddress,
                         std::string& strMessage, SyslogOptions* pOptions, bool* pbOptionsGood);
    // Sends one framed message over a connection of its own (TCP or TLS).
    bool SendStream(const SyslogOptions& options, uint32_t nAddress, LONG nPort,
                    const std::string& strMessage);

    bool m_bInitialized = false;
    ISentrelNotifyHost* m_pHost = nullptr;
    SOCKET m_socket;
    SyslogStamp m_origin; // host name and process of the headers, from Initialize
};
