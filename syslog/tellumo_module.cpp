// Tellumo's class table and its entry in the host's list of notification types.
#include "notifier_module.h"
#include "syslog.h"

namespace sentrel {

const NotifierModule g_notifierModule = {
    &CLSID_SysLog,
    &CreateComponent<SysLog>,
    101,
    {"SysLog", "{C89F80D2-B3F1-11D4-804A-0001025EB176}", "Send a Syslog message", "Syslog",
     "Calvaro, Inc.", true},
};

} // namespace sentrel
