// The contract between the host and the notification plug-ins.
#pragma once

#include <winplat/objbase.h>

inline constexpr IID IID_ISentrelNotification = {
    0x5512E7A0, 0x8B31, 0x11D4, {0x80, 0x3D, 0x00, 0x01, 0x02, 0x5E, 0xB1, 0x76}};
inline constexpr IID IID_ISentrelNotificationConfig = {
    0x5512E7A1, 0x8B31, 0x11D4, {0x80, 0x3D, 0x00, 0x01, 0x02, 0x5E, 0xB1, 0x76}};
inline constexpr IID IID_ISentrelNotificationWeb = {
    0x8658B6A0, 0x9869, 0x11D4, {0x80, 0x44, 0x00, 0x01, 0x02, 0x5E, 0xB1, 0x76}};
inline constexpr IID IID_ISentrelNotifyHost = {
    0x6D4EE320, 0x8E4B, 0x11D4, {0x80, 0x3D, 0x00, 0x01, 0x02, 0x5E, 0xB1, 0x76}};

// Implemented by every notification plug-in object: the alert road.
struct ISentrelNotification : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(IUnknown* pSentrelUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnInitialize() = 0;
    virtual HRESULT STDMETHODCALLTYPE Notify(BSTR bstrNotificationPathName) = 0;

protected:
    ~ISentrelNotification() = default;
};

// Desktop configuration: modal settings dialogs.
struct ISentrelNotificationConfig : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE NewInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) = 0;
    virtual HRESULT STDMETHODCALLTYPE EditInstanceDialog(BSTR bstrDirectory, BSTR* pbstrName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIcon(HINSTANCE* phInstance, unsigned int* pnIconId) = 0;

protected:
    ~ISentrelNotificationConfig() = default;
};

// Web configuration: HTML pages and posted forms.
struct ISentrelNotificationWeb : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetNewPage(BSTR bstrDirectory, BSTR* pbstrHtml) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEditPage(BSTR bstrInstancePath, BSTR* pbstrHtml) = 0;
    virtual HRESULT STDMETHODCALLTYPE ApplyPostedForm(BSTR bstrDirectory, BSTR bstrFormData) = 0;

protected:
    ~ISentrelNotificationWeb() = default;
};

// Implemented by the host: the callbacks a plug-in uses during an alert.
struct ISentrelNotifyHost : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ExpandVariables(BSTR* pbstrText) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteLog(LONG nLevel, BSTR bstrText) = 0;

protected:
    ~ISentrelNotifyHost() = default;
};
