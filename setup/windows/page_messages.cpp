#include "setup/windows/page_messages.h"

#include <QtGlobal>

#include "formats/message_ids.h"
#include "setup/frame/contents_sum_task.h"

namespace nuva {

void RegisterPageMessages() {
    static const bool registered = [] {
        for (uint32_t message : {WM_OVERALL_PROGRESS, WM_FILE_PROGRESS, WM_APP_STARTCHECK, WM_RUN_FAILED,
                                 WM_VERIFY_FAILED, WM_RUN_COMPLETE, kContentsSummedMessage}) {
            int type = QEvent::registerEventType(static_cast<int>(message));
            if (type != static_cast<int>(message)) {
                qFatal("Event type 0x%x for message 0x%x is taken", type, message);
            }
        }
        return true;
    }();
    Q_UNUSED(registered);
}

bool IsPageMessageType(uint32_t message) {
    return message >= QEvent::User && message <= QEvent::MaxUser;
}

}  // namespace nuva
