#include "setup/frame/wizards.h"

#include <initializer_list>

#include "formats/generation.h"

namespace nuva {
namespace {

// The states of the two wizards. States without a page (U3, U4, U8, R2)
// decide from what the wizard holds.
enum class UpdateState { kU1, kU2, kU3, kU3a, kU4, kU5, kU6, kU7, kU8, kU9, kU10 };
enum class BackupRestoreState { kB0, kB1, kB2, kB3, kR1, kR2, kR2a, kR3, kR4 };

// Where a page's result leads: another state, or the end of the wizard with
// a value.
template <typename State>
struct Step {
    bool ends = false;
    int value = 0;
    State state{};
};

template <typename State>
struct Arrow {
    int result;
    Step<State> next;
};

// One row of a state table: the listed results, then "anything else".
template <typename State>
Step<State> Follow(int result, std::initializer_list<Arrow<State>> arrows, Step<State> otherwise) {
    for (const Arrow<State>& arrow : arrows) {
        if (arrow.result == result) {
            return arrow.next;
        }
    }
    return otherwise;
}

using U = UpdateState;
using B = BackupRestoreState;
constexpr Step<U> Go(U state) {
    return {false, 0, state};
}
constexpr Step<B> Go(B state) {
    return {false, 0, state};
}
constexpr Step<U> UReturn(int value) {
    return {true, value, U{}};
}
constexpr Step<B> BReturn(int value) {
    return {true, value, B{}};
}

using namespace page_result;

}  // namespace

int RunUpdateWizard(WizardPages& pages) {
    UpdateInfoPageFields page;  // backupOption starts ticked, once per call
    DeviceInfo deviceInfo;
    ImageHeader imageHeader;
    std::string imagePath;
    std::string backupPath;
    int backupDone = 0;
    int backupChosen = 0;

    Step<U> step = Go(U::kU1);
    while (!step.ends) {
        switch (step.state) {
            case U::kU1:
                step = Follow<U>(pages.ShowBackupNoticePage(),
                                 {{kNoticeNext, Go(U::kU2)},
                                  {kNoticeBack, UReturn(1)},
                                  {kConnectionLost, UReturn(4)},
                                  {kCheckFailed, UReturn(0)}},
                                 UReturn(1));
                break;
            case U::kU2:
                backupChosen = 0;
                page.backupDone = backupDone;
                step = Follow<U>(pages.ShowUpdateInfoPage(page),
                                 {{kUpdateInfoNext, Go(U::kU3)},
                                  {kUpdateInfoBack, Go(U::kU1)},
                                  {kConnectionLost, UReturn(4)},
                                  {kCancel, UReturn(1)}},
                                 UReturn(0));
                break;
            case U::kU3:
                if (page.deviceDataValid != 0) {
                    deviceInfo = page.deviceInfo;
                }
                if (page.imageDataValid != 0) {
                    imageHeader = page.header;
                    imagePath = page.imagePath;
                } else {
                    imagePath.clear();
                }
                step = ChangesGeneration(imageHeader.OsCode(), deviceInfo.OsMajorVersion) ? Go(U::kU3a)
                                                                                          : Go(U::kU4);
                break;
            case U::kU3a:
                step = Follow<U>(pages.ShowOsChangeNotice(),
                                 {{kCancel, Go(U::kU2)}, {kConnectionLost, Go(U::kU2)}}, Go(U::kU4));
                break;
            case U::kU4:
                step = page.backupOption == 1 && backupDone == 0 ? Go(U::kU5) : Go(U::kU8);
                break;
            case U::kU5: {
                int result = pages.ShowEraseCaution(kWizardModeUpdate);
                if (result == kOk) {
                    backupChosen = 1;
                }
                step = Follow<U>(result,
                                 {{kOk, Go(U::kU6)}, {kCancel, Go(U::kU2)}, {kConnectionLost, UReturn(4)}},
                                 UReturn(0));
                break;
            }
            case U::kU6:
                backupPath.clear();
                step = Follow<U>(pages.ShowBackupRequired(deviceInfo, backupPath),
                                 {{kOk, Go(U::kU7)}, {kCancel, Go(U::kU2)}, {kConnectionLost, UReturn(4)}},
                                 UReturn(0));
                break;
            case U::kU7: {
                int result = pages.ShowBackupProgress(kBackupOriginBeforeUpdate, backupPath, &deviceInfo);
                if (result == kOk) {
                    backupDone = 1;
                }
                step = Follow<U>(result, {{kOk, Go(U::kU8)}, {kConnectionLost, UReturn(4)}}, UReturn(0));
                break;
            }
            case U::kU8:
                // The caution was confirmed before the backup, with the AC
                // adapter in; it is asked again only when the adapter has
                // been pulled since. A failed query keeps the record as it
                // was rather than filling it with nothing.
                if (backupChosen == 1) {
                    DeviceInfo fresh;
                    if (pages.QueryDeviceInfo(&fresh) == 0) {
                        deviceInfo = fresh;
                        if (deviceInfo.AcOnline == 0) {
                            backupChosen = 0;
                        }
                    }
                }
                step = Go(U::kU9);
                break;
            case U::kU9:
                if (backupChosen == 1) {
                    step = Go(U::kU10);
                    break;
                }
                step = Follow<U>(pages.ShowEraseCaution(kWizardModeUpdate),
                                 {{kOk, Go(U::kU10)}, {kCancel, Go(U::kU2)}, {kConnectionLost, UReturn(4)}},
                                 UReturn(0));
                break;
            case U::kU10:
                pages.ShowUpdateProgress(kWizardModeUpdate, imagePath, deviceInfo);
                step = UReturn(0);
                break;
        }
    }
    return step.value;
}

int RunBackupRestoreWizard(WizardPages& pages) {
    std::string path;
    std::string chosenBackup;  // BackupRestoreChoiceDialog's Open result
    std::string confirmPath;   // BackupConfirmDialog's Save As result
    DeviceInfo restorePageInfo;
    DeviceInfo deviceInfo;
    ImageHeader risHeader;

    Step<B> step = Go(B::kB0);
    while (!step.ends) {
        switch (step.state) {
            case B::kB0:
                step = Follow<B>(pages.ShowBackupRestoreChoice(chosenBackup),
                                 {{kChoiceSave, Go(B::kB1)},
                                  {kChoiceRestore, Go(B::kR1)},
                                  {kConnectionLost, BReturn(4)},
                                  {kCancel, BReturn(1)}},
                                 BReturn(0));
                break;
            case B::kB1: {
                int result = pages.ShowBackupConfirm(confirmPath);
                if (result == kOk) {
                    path = confirmPath;
                }
                step = Follow<B>(result,
                                 {{kOk, Go(B::kB2)}, {kCancel, Go(B::kB0)}, {kConnectionLost, BReturn(4)}},
                                 BReturn(0));
                break;
            }
            case B::kB2:
                step = Follow<B>(pages.ShowEraseCaution(kWizardModeUpdate),
                                 {{kOk, Go(B::kB3)}, {kCancel, Go(B::kB0)}, {kConnectionLost, BReturn(4)}},
                                 BReturn(0));
                break;
            case B::kB3:
                step = Follow<B>(pages.ShowBackupProgress(kBackupOriginPlain, path, nullptr),
                                 {{kOk, Go(B::kB0)}, {kConnectionLost, BReturn(4)}}, BReturn(0));
                break;
            case B::kR1: {
                path = chosenBackup;
                int result = pages.ShowRestoreInfoPage(path, restorePageInfo);
                if (result == kRestoreInfoRestore) {
                    deviceInfo = restorePageInfo;
                }
                step = Follow<B>(result,
                                 {{kRestoreInfoRestore, Go(B::kR2)},
                                  {kRestoreInfoCancel, Go(B::kB0)},
                                  {kCancel, Go(B::kB0)},
                                  {kConnectionLost, BReturn(4)}},
                                 BReturn(0));
                break;
            }
            case B::kR2:
                step = pages.CheckImageFile(path, risHeader) != 0 &&
                               ChangesGeneration(risHeader.OsCode(), deviceInfo.OsMajorVersion)
                           ? Go(B::kR2a)
                           : Go(B::kR3);
                break;
            case B::kR2a:
                step = Follow<B>(pages.ShowOsChangeNotice(),
                                 {{kCancel, Go(B::kR1)}, {kConnectionLost, Go(B::kR1)}}, Go(B::kR3));
                break;
            case B::kR3:
                step = Follow<B>(pages.ShowEraseCaution(kWizardModeRestore),
                                 {{kOk, Go(B::kR4)}, {kCancel, Go(B::kR1)}, {kConnectionLost, BReturn(4)}},
                                 BReturn(0));
                break;
            case B::kR4:
                pages.ShowUpdateProgress(kWizardModeRestore, path, deviceInfo);
                step = BReturn(0);
                break;
        }
    }
    return step.value;
}

}  // namespace nuva
