#include "setup/runs/backup_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "formats/byte_sum.h"
#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/update_plan.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"

namespace nuva {
namespace {

uint32_t g_backupDeviceTexts = 0;

bool KnownMemoryConfig(uint32_t memoryConfig) {
    return memoryConfig == kMemoryConfigAdvanced || memoryConfig == kMemoryConfigBasic;
}

// Writes all of `size` bytes or fails.
bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// The RisFile being written: a temporary file that becomes `path` only when
// complete, and is deleted otherwise.
class PendingFile {
  public:
    explicit PendingFile(std::string path) : path_(std::move(path)), temp_(path_ + ".part") {
        fd_ = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    ~PendingFile() {
        if (fd_ >= 0) {
            ::close(fd_);
            ::unlink(temp_.c_str());
        }
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool Open() const { return fd_ >= 0; }
    bool Write(const uint8_t* data, size_t size) { return WriteAll(fd_, data, size); }
    bool WriteAt(off_t offset, const uint8_t* data, size_t size) {
        return ::lseek(fd_, offset, SEEK_SET) == offset && WriteAll(fd_, data, size);
    }
    // Makes the file `path`: flushed, closed and renamed.
    bool Commit() {
        bool ok = ::fsync(fd_) == 0;
        ok = ::close(fd_) == 0 && ok;
        fd_ = -1;
        if (!ok || ::rename(temp_.c_str(), path_.c_str()) != 0) {
            ::unlink(temp_.c_str());
            return false;
        }
        return true;
    }

  private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
};

}  // namespace

uint32_t SaveRomImage(HandheldPort& device, MessageSink* window, const std::string& path,
                      const UpdateHandoff& plan, const DeviceInfo& info, WorkerContext* context) {
    std::vector<uint8_t> buffer(2 * kBackupBlockBytes);
    PendingFile file(path);
    if (!file.Open()) {
        return kResultFail;
    }
    const std::vector<uint8_t> zeros(kImageHeaderSize, 0);
    if (!file.Write(zeros.data(), zeros.size())) {
        return kResultFail;
    }
    uint32_t offset = 0;
    uint32_t sum = 0;
    uint32_t block = 0;
    bool failed = false;
    while (offset < plan.TotalBytes) {
        if (context != nullptr && context->StopRequested()) {
            failed = true;
            break;
        }
        uint32_t n =
            plan.TotalBytes - offset < kBackupBlockBytes ? plan.TotalBytes - offset : kBackupBlockBytes;
        // The flash seen through the handheld's uncached window at 0xA0000000.
        uint32_t address = plan.FlashOffset + offset - 0x60000000u;
        bool read = false;
        for (uint32_t attempt = 0; attempt < kBackupReadAttempts && !read; ++attempt) {
            read = device.ReadDeviceFlash(address, buffer.data(), n) == 0;
        }
        if (!read) {
            failed = true;
            break;
        }
        sum = ByteSum(buffer.data(), n, sum);
        if (!file.Write(buffer.data(), n)) {
            failed = true;  // the disk is full or the medium went away
            break;
        }
        offset += n;
        if (block % 2 == 0) {
            PostIfAlive(window, WM_OVERALL_PROGRESS, offset, plan.TotalBytes);
        }
        ++block;
    }
    PostIfAlive(window, WM_OVERALL_PROGRESS, offset, plan.TotalBytes);
    if (failed) {
        return kResultFail;
    }
    auto header = BuildRisHeader(info, plan.TotalBytes, sum);
    if (!file.WriteAt(0, header.data(), header.size()) || !file.Commit()) {
        return kResultFail;
    }
    return kResultOk;
}

int RunBackupWorker(WorkerContext& context, HandheldPort& device, const std::string& path,
                    const DeviceInfo& info) {
    DeviceInfo record = info;
    if (!KnownMemoryConfig(record.MemoryConfig) && device.QueryDeviceInfo(&record) != 0) {
        context.Post(WM_RUN_FAILED, 0, 0);
        return -1;
    }
    UpdateHandoff plan;
    BuildUpdatePlan(PlanVariantForDevice(record), plan);
    if (SaveRomImage(device, context.Sink(), path, plan, record, &context) != 0 || !device.IsConnected()) {
        context.Post(WM_RUN_FAILED, 0, 0);
        return -1;
    }
    context.Post(WM_RUN_COMPLETE, 0, 0);
    return 0;
}

BackupRunController::BackupRunController(PageView& view, HandheldPort& device, WorkerSlot& worker,
                                         BackupOrigin origin, std::string path, const DeviceInfo& deviceInfo)
    : ProgressPage(view, device, worker), origin_(origin), path_(std::move(path)), deviceInfo_(deviceInfo) {}

uint32_t BackupRunController::DeviceTextCounter() {
    return g_backupDeviceTexts;
}

void BackupRunController::Init() {
    bool beforeUpdate = origin_ == BackupOrigin::kBeforeUpdate;
    view_.SetTitle(
        LoadString(beforeUpdate ? string_id::kBackupTitleBeforeUpdate : string_id::kBackupTitlePlain));
    view_.SetBar(run_control::kOverallBar, 0);
    bytesSaved_ = 0;
    ArmStartTimer();
}

void BackupRunController::StartStep() {
    if (!device_.IsConnected()) {
        ShowConnectionLost(view_, 0);
        view_.EndDialog(4);
        return;
    }
    if (device_.InstallAgent() == 0 && device_.QueryDeviceInfo(&deviceInfo_) != 0) {
        ShowWrongModel(view_);
        view_.EndDialog(2);
        return;
    }
    BeginWaiting();
}

std::function<void(WorkerContext&)> BackupRunController::WorkerBody() {
    HandheldPort& device = device_;
    return [&device, path = path_, info = deviceInfo_](WorkerContext& context) {
        RunBackupWorker(context, device, path, info);
    };
}

void BackupRunController::ShowRunControls() {
    view_.ShowControl(run_control::kOverallBar, true);
    view_.ShowControl(run_control::kStatusLine, true);
}

void BackupRunController::OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) {
    bool plain = origin_ == BackupOrigin::kPlainBackup;
    if (message == WM_OVERALL_PROGRESS) {
        overallTotal_ = lParam;
        bytesSaved_ = wParam;
        uint32_t percent = PercentOf(wParam, lParam);
        view_.SetText(run_control::kStatusLine,
                      FormatText(string_id::kBackupProgressFormat, static_cast<int>(percent)));
        view_.SetBar(run_control::kOverallBar, percent);
        if (KnownMemoryConfig(deviceInfo_.MemoryConfig) && g_backupDeviceTexts % 5 == 0) {
            device_.ShowDeviceText(
                LoadString(plain ? string_id::kDeviceTextPlainBackup : string_id::kDeviceTextBackup),
                kFrameBufferAddress, 0);
        }
        ++g_backupDeviceTexts;
    } else if (message == WM_RUN_COMPLETE) {
        KillActiveTimer();
        if (KnownMemoryConfig(deviceInfo_.MemoryConfig)) {
            device_.ShowDeviceText(
                LoadString(plain ? string_id::kDeviceTextPlainBackupDone : string_id::kDeviceTextBackupDone),
                kFrameBufferAddress, 0);
        }
        view_.OpenDialog(dialog_id::kBackupComplete, [this](PageView& view) {
            return std::make_unique<BackupCompleteController>(view, device_);
        });
        view_.EndDialog(1);
    } else if (message == WM_RUN_FAILED) {
        KillActiveTimer();
        if (device_.IsConnected()) {
            device_.WarmResetDevice(0);
        }
        ShowMessage(view_, MessageBoxKind::kCopyIncomplete);
        view_.EndDialog(2);
    }
}

BackupCompleteController::BackupCompleteController(PageView& view, HandheldPort& device)
    : view_(view), device_(device) {}

void BackupCompleteController::Init() {
    view_.EnableControl(run_control::kOkButton, false);
    view_.ArmTimer(kRestartTimer, kRestartDelayMs);
}

void BackupCompleteController::OnTimer(uint32_t id) {
    if (id == kRestartTimer) {
        view_.KillTimer(kRestartTimer);
        StartCheck();
        return;
    }
    if (id == kWatchTimer) {
        if (device_.IsConnected() && ticks_ > 5) {
            view_.KillTimer(kWatchTimer);
            okEnabled_ = true;
            view_.EnableControl(run_control::kOkButton, true);
        }
        ++ticks_;
    }
}

void BackupCompleteController::StartCheck() {
    if (device_.IsConnected()) {
        if (device_.InstallAgent() != 0) {
            view_.EndDialog(3);
            return;
        }
        device_.WarmResetDevice(0);
    }
    ticks_ = 0;
    view_.ArmTimer(kWatchTimer, kWatchTimerMs);
}

void BackupCompleteController::OnCommand(uint32_t control) {
    if (control != run_control::kOkButton) {
        return;
    }
    if (okEnabled_) {
        view_.EndDialog(1);
    }
}

void BackupCompleteController::OnEscape() {
    view_.EndDialog(2);
}

}  // namespace nuva
