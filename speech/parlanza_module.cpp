// Parlanza's class table and its entry in the host's list of notification types.
#include "notifier_module.h"
#include "tts_notification.h"

namespace sentrel {

const NotifierModule g_notifierModule = {
    &CLSID_TTSNotification,
    &CreateComponent<TTSNotification>,
    102,
    {"TextSpeech", "{44440FAF-3359-11D5-8075-00E0295E9283}", "Text To Speech Notification",
     "TextSpeech", "Calvaro, Inc", true},
};

} // namespace sentrel
