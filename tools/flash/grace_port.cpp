#include "tools/flash/grace_port.h"

#include <utility>

#include "setup/link/handover.h"
#include "setup/link/link_monitor.h"

namespace nuva {

std::vector<std::string> GracePort::TakeNotes() {
    std::lock_guard lock(mutex_);
    return std::exchange(notes_, {});
}

uint32_t GracePort::TransferImageParts(MessageSink* window, const std::string& imagePath, UpdateHandoff& plan,
                                       uint32_t handheldMemoryConfig) {
    if (grace_.count() <= 0) {
        return rapi_.TransferImageParts(window, imagePath, plan, handheldMemoryConfig);
    }
    LinkGrace grace;
    grace.window = grace_;
    grace.note = [this](const std::string& text) {
        std::lock_guard lock(mutex_);
        notes_.push_back(text);
    };
    return nuva::TransferImageParts(window, imagePath, plan, handheldMemoryConfig, g_connected, grace);
}

}  // namespace nuva
