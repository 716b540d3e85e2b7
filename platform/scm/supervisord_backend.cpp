// The real manager: the supervisord of a machine, over XML-RPC at
// http://ADDRESS:PORT/RPC2. Its programs are the services ("group:name" for a program
// whose group has another name). Starts and stops are sent without waiting
// (wait=false), as the platform's calls return once the manager has accepted them; so no
// request waits for startsecs or stopwaitsecs, and the transport timeout only guards
// against a manager that does not answer.
#include <chrono>
#include <map>
#include <mutex>

#include <winplat/winsvc.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations" // std::auto_ptr in the headers
#include <xmlrpc-c/client.hpp>
#include <xmlrpc-c/client_transport.hpp>
#include <xmlrpc-c/girerr.hpp>
#pragma GCC diagnostic pop

#include "backend.h"

namespace winplat::scm {
namespace {

// supervisord's process states and fault codes.
enum ProcessState {
    kStopped = 0,
    kStarting = 10,
    kRunning = 20,
    kBackoff = 30,
    kStopping = 40,
    kExited = 100,
    kFatal = 200,
};

enum Fault {
    kShutdownState = 6,
    kBadName = 10,
    kNoFile = 20,
    kNotExecutable = 21,
    kFailed = 30,
    kAbnormalTermination = 40,
    kSpawnError = 50,
    kAlreadyStarted = 60,
    kNotRunning = 70,
};

constexpr DWORD kShutdownInProgress = 1115; // ERROR_SHUTDOWN_IN_PROGRESS

// A fault of supervisord as the Win32 error a caller of the platform expects.
DWORD ErrorFromFault(int code) {
    switch (code) {
    case kBadName:
        return ERROR_SERVICE_DOES_NOT_EXIST;
    case kAlreadyStarted:
        return ERROR_SERVICE_ALREADY_RUNNING;
    case kNotRunning:
        return ERROR_SERVICE_NOT_ACTIVE;
    case kNoFile:
        return ERROR_PATH_NOT_FOUND;
    case kNotExecutable:
        return ERROR_ACCESS_DENIED;
    case kSpawnError:
        return ERROR_SERVICE_NO_THREAD;
    case kAbnormalTermination:
        return ERROR_PROCESS_ABORTED;
    case kFailed:
        return ERROR_EXCEPTION_IN_SERVICE;
    case kShutdownState:
        return kShutdownInProgress;
    default:
        return RPC_S_CALL_FAILED;
    }
}

// Service status of one process-info struct.
ServiceInfo InfoFromStruct(const xmlrpc_c::value& value) {
    std::map<std::string, xmlrpc_c::value> fields = xmlrpc_c::value_struct(value);
    auto text = [&](const char* key) {
        auto it = fields.find(key);
        return it != fields.end() && it->second.type() == xmlrpc_c::value::TYPE_STRING
                   ? std::string(xmlrpc_c::value_string(it->second))
                   : std::string();
    };
    auto number = [&](const char* key) {
        auto it = fields.find(key);
        return it != fields.end() && it->second.type() == xmlrpc_c::value::TYPE_INT
                   ? int(xmlrpc_c::value_int(it->second))
                   : 0;
    };
    ServiceInfo info;
    std::string name = text("name");
    std::string group = text("group");
    info.name = group.empty() || group == name ? name : group + ":" + name;
    info.displayName = info.name;
    SERVICE_STATUS& status = info.status;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    switch (number("state")) {
    case kStarting:
    case kBackoff:
        status.dwCurrentState = SERVICE_START_PENDING;
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP; // supervisord stops these too
        break;
    case kRunning:
        status.dwCurrentState = SERVICE_RUNNING;
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
        break;
    case kStopping:
        status.dwCurrentState = SERVICE_STOP_PENDING;
        break;
    case kExited:
        status.dwCurrentState = SERVICE_STOPPED;
        if (int exitStatus = number("exitstatus")) {
            status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
            status.dwServiceSpecificExitCode = static_cast<DWORD>(exitStatus);
        }
        break;
    case kFatal:
        status.dwCurrentState = SERVICE_STOPPED;
        status.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
        break;
    default: // STOPPED, UNKNOWN
        status.dwCurrentState = SERVICE_STOPPED;
        break;
    }
    return info;
}

bool IsFaultStruct(const xmlrpc_c::value& value, int& code) {
    if (value.type() != xmlrpc_c::value::TYPE_STRUCT)
        return false;
    std::map<std::string, xmlrpc_c::value> fields = xmlrpc_c::value_struct(value);
    auto it = fields.find("faultCode");
    if (it == fields.end())
        return false;
    code =
        it->second.type() == xmlrpc_c::value::TYPE_INT ? int(xmlrpc_c::value_int(it->second)) : 0;
    return true;
}

// One result of system.multicall: the value itself (or wrapped in a one-element array,
// as the standard has it) or a fault struct.
struct CallResult {
    static CallResult Failed(DWORD error) {
        CallResult result;
        result.error = error;
        return result;
    }
    DWORD error = ERROR_SUCCESS; // transport or mapping failure
    int fault = 0;               // supervisord's fault code, 0 for none
    xmlrpc_c::value value;
};

class SupervisordBackend final : public Backend {
public:
    explicit SupervisordBackend(const MachineConfig& config)
        : m_config(config), m_url(SupervisordUrl(config)) {}

    DWORD Connect(DWORD access) override {
        // supervisord knows one user, who may do everything.
        CallResult result = Call("supervisor.getState", {}, false);
        if (result.error)
            return result.error;
        return result.fault ? RPC_S_CALL_FAILED : ERROR_SUCCESS;
    }

    DWORD OpenService(const std::string& name, DWORD access, std::string& keyName) override {
        ServiceInfo info;
        if (DWORD error = Info(name, info))
            return error;
        keyName = name;
        return ERROR_SUCCESS;
    }

    DWORD Query(const std::string& name, SERVICE_STATUS& status) override {
        ServiceInfo info;
        if (DWORD error = Info(name, info))
            return error;
        status = info.status;
        return ERROR_SUCCESS;
    }

    DWORD Start(const std::string& name) override {
        CallResult result =
            Call("supervisor.startProcess",
                 {xmlrpc_c::value_string(name), xmlrpc_c::value_boolean(false)}, true);
        if (result.error)
            return result.error;
        return result.fault ? ErrorFromFault(result.fault) : ERROR_SUCCESS;
    }

    DWORD Control(const std::string& name, DWORD control, SERVICE_STATUS& status,
                  bool& statusValid) override {
        if (control != SERVICE_CONTROL_STOP) {
            // supervisord takes no other control; interrogating is a status query.
            ServiceInfo info;
            if (DWORD error = Info(name, info))
                return error;
            status = info.status;
            statusValid = true;
            return CheckControlAccepted(status, control);
        }
        // The stop and the status after it in one request.
        std::vector<CallResult> results =
            MultiCall({{"supervisor.stopProcess",
                        {xmlrpc_c::value_string(name), xmlrpc_c::value_boolean(false)}},
                       {"supervisor.getProcessInfo", {xmlrpc_c::value_string(name)}}},
                      true);
        if (results.size() != 2)
            return results.empty() ? RPC_S_CALL_FAILED : results.front().error;
        const CallResult& stop = results[0];
        const CallResult& info = results[1];
        if (!info.fault && !info.error) {
            status = InfoFromStruct(info.value).status;
            statusValid = true;
        }
        if (!stop.fault)
            return ERROR_SUCCESS;
        if (stop.fault == kNotRunning && statusValid)
            return CheckControlAccepted(status, control); // stopped, or already stopping
        return ErrorFromFault(stop.fault);
    }

    DWORD List(DWORD resumeIndex, std::vector<ServiceInfo>& services) override {
        CallResult result = Call("supervisor.getAllProcessInfo", {}, false);
        if (result.error)
            return result.error;
        if (result.fault)
            return ErrorFromFault(result.fault);
        try {
            for (const xmlrpc_c::value& item :
                 xmlrpc_c::value_array(result.value).vectorValueValue())
                services.push_back(InfoFromStruct(item));
        } catch (const std::exception&) {
            return RPC_S_CALL_FAILED;
        }
        return ERROR_SUCCESS;
    }

private:
    struct Request {
        std::string method;
        std::vector<xmlrpc_c::value> params;
    };

    DWORD Info(const std::string& name, ServiceInfo& info) {
        CallResult result =
            Call("supervisor.getProcessInfo", {xmlrpc_c::value_string(name)}, false);
        if (result.error)
            return result.error;
        if (result.fault)
            return ErrorFromFault(result.fault);
        try {
            info = InfoFromStruct(result.value);
        } catch (const std::exception&) {
            return RPC_S_CALL_FAILED;
        }
        return ERROR_SUCCESS;
    }

    CallResult Call(const std::string& method, std::vector<xmlrpc_c::value> params, bool control) {
        xmlrpc_c::paramList list;
        for (auto& param : params)
            list.add(param);
        return Send(method, list, control);
    }

    std::vector<CallResult> MultiCall(const std::vector<Request>& requests, bool control) {
        std::vector<xmlrpc_c::value> calls;
        for (const Request& request : requests) {
            std::map<std::string, xmlrpc_c::value> call;
            call["methodName"] = xmlrpc_c::value_string(request.method);
            call["params"] = xmlrpc_c::value_array(request.params);
            calls.push_back(xmlrpc_c::value_struct(call));
        }
        xmlrpc_c::paramList list;
        list.add(xmlrpc_c::value_array(calls));
        CallResult whole = Send("system.multicall", list, control);
        if (whole.error || whole.fault)
            return {CallResult::Failed(whole.error ? whole.error : ErrorFromFault(whole.fault))};
        std::vector<CallResult> results;
        try {
            for (xmlrpc_c::value item : xmlrpc_c::value_array(whole.value).vectorValueValue()) {
                CallResult one;
                if (!IsFaultStruct(item, one.fault)) {
                    if (item.type() == xmlrpc_c::value::TYPE_ARRAY) {
                        auto wrapped = xmlrpc_c::value_array(item).vectorValueValue();
                        if (wrapped.size() == 1)
                            item = wrapped.front();
                    }
                    one.value = item;
                }
                results.push_back(one);
            }
        } catch (const std::exception&) {
            return {CallResult::Failed(RPC_S_CALL_FAILED)};
        }
        return results;
    }

    // Transport failures: the manager cannot be reached (1722), refuses the credentials (5),
    // or does not answer in time, which for a start or stop is the service's timeout (1053).
    CallResult Send(const std::string& method, const xmlrpc_c::paramList& params, bool control) {
        std::lock_guard lock(m_mutex); // one request at a time on this connection
        CallResult result;
        auto begin = std::chrono::steady_clock::now();
        try {
            if (!m_client) {
                m_transport = std::make_unique<xmlrpc_c::clientXmlTransport_curl>(
                    xmlrpc_c::clientXmlTransport_curl::constrOpt()
                        .timeout(m_config.timeoutMs)
                        .proxy("") // straight to the manager, whatever the environment says
                        .user_agent("winplat-scm"));
                m_client = std::make_unique<xmlrpc_c::client_xml>(m_transport.get());
            }
            xmlrpc_c::carriageParm_curl0 carriage(m_url);
            if (!m_config.userName.empty() || !m_config.password.empty())
                carriage.setBasicAuth(m_config.userName, m_config.password);
            xmlrpc_c::rpcPtr rpc(method, params);
            rpc->call(m_client.get(), &carriage);
            if (rpc->isSuccessful())
                result.value = rpc->getResult();
            else
                result.fault = rpc->getFault().getCode();
        } catch (const std::exception& failure) {
            std::string what = failure.what();
            auto elapsed = std::chrono::steady_clock::now() - begin;
            if (what.find("HTTP response code is 401") != std::string::npos ||
                what.find("HTTP response code is 403") != std::string::npos)
                result.error = ERROR_ACCESS_DENIED;
            else if (control && elapsed >= std::chrono::milliseconds(m_config.timeoutMs))
                result.error = ERROR_SERVICE_REQUEST_TIMEOUT;
            else
                result.error = RPC_S_SERVER_UNAVAILABLE;
        }
        return result;
    }

    MachineConfig m_config;
    std::string m_url;
    std::mutex m_mutex;
    std::unique_ptr<xmlrpc_c::clientXmlTransport_curl> m_transport;
    std::unique_ptr<xmlrpc_c::client_xml> m_client;
};

} // namespace

std::unique_ptr<Backend> MakeSupervisordBackend(const MachineConfig& config) {
    return std::make_unique<SupervisordBackend>(config);
}

} // namespace winplat::scm
