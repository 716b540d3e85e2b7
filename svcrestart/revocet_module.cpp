// Revocet's class table and its entry in the host's list of notification types.
#include "notifier_module.h"
#include "svc_restart.h"

namespace sentrel {

const NotifierModule g_notifierModule = {
    &CLSID_SvcRestart,
    &CreateComponent<SvcRestart>,
    102,
    {"ServiceRestart", "{F28C09E9-D135-4E93-AD37-73CCA41E8D2A}",
     "Start or Stop an NT Service on a Remote Host.", "Service Restart", "Calvaro, Inc.",
     // Unregistering removes the entry too, so the host never lists a type it cannot create.
     true},
};

} // namespace sentrel
