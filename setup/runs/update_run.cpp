#include "setup/runs/update_run.h"

#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "formats/update_handoff.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/update_plan.h"
#include "setup/link/agent_calls.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"

namespace nuva {
namespace {

uint32_t g_updateDeviceTexts = 0;

constexpr uint32_t kAgentAttempts = 5;
constexpr uint32_t kWorkerSettleMs = 5000;
constexpr uint32_t kAgentRetryMs = 2000;
constexpr uint32_t kBeforeCompleteMs = 1000;

bool KnownMemoryConfig(uint32_t memoryConfig) {
    return memoryConfig == kMemoryConfigAdvanced || memoryConfig == kMemoryConfigBasic;
}

}  // namespace

int RunUpdateWorker(WorkerContext& context, HandheldPort& device, const UpdateWorkerInput& input) {
    auto fail = [&](uint32_t message) {
        context.Post(message, 0, 0);
        return -1;
    };
    const std::string imagePath = input.imagePath;
    if (!context.Pause(kWorkerSettleMs)) {
        return -1;
    }
    bool installed = false;
    for (uint32_t attempt = 0; attempt < kAgentAttempts && device.IsConnected(); ++attempt) {
        if (device.InstallAgent() == 0) {
            installed = true;
            break;
        }
        if (!context.Pause(kAgentRetryMs)) {
            return -1;
        }
    }
    if (!installed || !device.IsConnected()) {
        return fail(WM_RUN_FAILED);
    }
    // The handheld has restarted since the wizard read it: ask again.
    DeviceInfo fresh;
    if (device.QueryDeviceInfo(&fresh) != 0) {
        return fail(WM_RUN_FAILED);
    }
    UpdateHandoff plan =
        PlanImageWrite(input.header, fresh.OsMajorVersion,
                       input.mode == RunMode::kUpdate ? PlanMode::kUpdate : PlanMode::kRestore);
    if (context.StopRequested()) {
        return -1;
    }
    uint32_t transferred = device.TransferImageParts(context.Sink(), imagePath, plan, fresh.MemoryConfig);
    if (transferred == kPartNotConfirmed) {
        return fail(WM_VERIFY_FAILED);
    }
    if (transferred != 0 || !device.IsConnected() || context.StopRequested()) {
        return fail(WM_RUN_FAILED);
    }
    device.RemoveStartupShortcuts();
    if (!device.IsConnected()) {
        return fail(WM_RUN_FAILED);
    }
    if (device.PlaceReflash() != 0 || device.WriteUpdateInfo(plan) != 0) {
        return fail(WM_RUN_FAILED);
    }
    if (!context.Pause(kBeforeCompleteMs)) {
        return -1;
    }
    context.Post(WM_RUN_COMPLETE, 0, 0);
    return 0;
}

UpdateRunController::UpdateRunController(PageView& view, HandheldPort& device, WorkerSlot& worker,
                                         RunMode mode, std::string imagePath, const DeviceInfo& deviceInfo)
    : ProgressPage(view, device, worker),
      mode_(mode),
      imagePath_(std::move(imagePath)),
      deviceInfo_(deviceInfo) {}

uint32_t UpdateRunController::DeviceTextCounter() {
    return g_updateDeviceTexts;
}

void UpdateRunController::Init() {
    using namespace run_control;
    namespace s = string_id;
    view_.SetBar(kOverallBar, 0);
    view_.SetBar(kFileBar, 0);
    doneBefore_ = doneInFile_ = 0;
    bool update = mode_ == RunMode::kUpdate;
    view_.SetTitle(LoadString(update ? s::kUpdateTitle : s::kRestoreTitle));
    view_.SetText(kHeading, LoadString(update ? s::kUpdateHeading : s::kRestoreHeading));
    view_.SetText(kExplanation, LoadString(update ? s::kUpdateExplanation : s::kRestoreExplanation));
    ArmStartTimer();
}

void UpdateRunController::StartStep() {
    if (CheckImageFile(imagePath_, header_) == 0) {
        ShowMessage(view_, MessageBoxKind::kImageCorrupt);
        view_.EndDialog(2);
        return;
    }
    if (PrepareUpdateRun()) {
        BeginWaiting();
    }
}

bool UpdateRunController::PrepareUpdateRun() {
    if (!device_.IsConnected()) {
        ShowConnectionLost(view_, 0);
        view_.EndDialog(4);
        return false;
    }
    // When the agent cannot be installed now the worker tries again later.
    if (device_.InstallAgent() == 0) {
        DeviceInfo scratch;
        if (device_.QueryDeviceInfo(&scratch) != 0) {
            ShowWrongModel(view_);
            view_.EndDialog(2);
            return false;
        }
    }
    device_.ColdResetDevice();
    return true;
}

std::function<void(WorkerContext&)> UpdateRunController::WorkerBody() {
    UpdateWorkerInput input{imagePath_, header_, mode_};
    HandheldPort& device = device_;
    return [input, &device](WorkerContext& context) { RunUpdateWorker(context, device, input); };
}

void UpdateRunController::ShowRunControls() {
    view_.ShowControl(run_control::kOverallBar, true);
    view_.ShowControl(run_control::kFileBar, true);
    view_.ShowControl(run_control::kStatusLine, true);
}

void UpdateRunController::OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) {
    switch (message) {
        case WM_OVERALL_PROGRESS:
        case WM_FILE_PROGRESS:
            OnProgress(message, wParam, lParam);
            break;
        case WM_RUN_COMPLETE:
            OnComplete();
            break;
        case WM_RUN_FAILED:
        case WM_VERIFY_FAILED:
            OnFailed(message);
            break;
        default:
            break;
    }
}

void UpdateRunController::OnProgress(uint32_t message, uint32_t wParam, uint32_t lParam) {
    if (message == WM_OVERALL_PROGRESS) {
        overallTotal_ = lParam;
        doneBefore_ = wParam;
        doneInFile_ = 0;
        view_.SetBar(run_control::kOverallBar, PercentOf(wParam, lParam));
        return;
    }
    doneInFile_ = wParam;
    view_.SetBar(run_control::kFileBar, PercentOf(wParam, lParam));
    uint32_t percent = PercentOf(doneInFile_ + doneBefore_, overallTotal_);
    view_.SetText(
        run_control::kStatusLine,
        FormatWithArguments("%s%d %%", {FormatArg::kString, FormatArg::kInt},
                            LoadString(string_id::kCopyingFiles).c_str(), static_cast<int>(percent)));
    // Every fifth message (the program's first included) mirrors a short text
    // on the handheld's screen; each is a remote call that repaints it all.
    if (KnownMemoryConfig(deviceInfo_.MemoryConfig) && g_updateDeviceTexts % 5 == 0) {
        uint32_t text =
            mode_ == RunMode::kUpdate ? string_id::kDeviceTextUpdateCopy : string_id::kDeviceTextRestoreCopy;
        device_.ShowDeviceText(LoadString(text), kFrameBufferAddress, 0);
    }
    ++g_updateDeviceTexts;
}

bool UpdateRunController::ChangesGeneration() const {
    return nuva::ChangesGeneration(header_.OsCode(), deviceInfo_.OsMajorVersion);
}

void UpdateRunController::OnComplete() {
    using namespace run_control;
    namespace s = string_id;
    KillActiveTimer();
    view_.ShowControl(kOverallBar, false);
    view_.ShowControl(kFileBar, false);
    view_.ShowControl(kStatusLine, false);
    bool update = mode_ == RunMode::kUpdate;
    view_.SetTitle(LoadString(update ? s::kUpdateDoneTitle : s::kRestoreDoneTitle));
    view_.SetText(kHeading, LoadString(s::kCopyComplete));
    view_.SetText(kExplanation, LoadString(update ? s::kUpdateFinishing : s::kRestoreFinishing));
    device_.WarmResetDevice(kWarmResetCleanup);
    view_.SetText(kFinalButton, LoadString(ChangesGeneration() ? s::kNextButton : s::kExitButton));
    view_.ShowControl(kFinalButton, true);
    view_.EnableControl(kFinalButton, true);
}

void UpdateRunController::OnCommand(uint32_t control) {
    if (control == run_control::kFinalButton) {
        OnFinalButton();
    }
}

void UpdateRunController::OnFinalButton() {
    if (ChangesGeneration()) {
        view_.HidePage();
        ShowCompletionNotice(view_, static_cast<int>(mode_), header_.OsCode() == kOsCode2002);
    }
    view_.EndDialog(1);
}

void UpdateRunController::OnFailed(uint32_t message) {
    KillActiveTimer();
    if (device_.IsConnected() && device_.InstallAgent() == 0) {
        device_.ColdResetDevice();
    }
    uint32_t text = message == WM_VERIFY_FAILED ? string_id::kReflashCorrupt : string_id::kCopyIncomplete;
    view_.MessageBox(LoadString(text), LoadString(string_id::kCaution));
    view_.EndDialog(2);
}

void UpdateRunController::OnClose() {
    view_.EndDialog(0);
}

}  // namespace nuva
