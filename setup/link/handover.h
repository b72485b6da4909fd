// What the desktop leaves on the handheld for the flasher before the restart
// that ends an update or a restore: the image parts under \TEMP\, each
// confirmed by the handheld's own byte sum; the flasher in the start-up
// folder (with the two start-up shortcuts gone, so that nothing else starts
// beside it); and the hand-over file "\temp\updinfo.ini" that tells the
// flasher where every part goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "formats/update_handoff.h"
#include "platform/rapi/rapi.h"
#include "setup/link/message_sink.h"
#include "setup/link/transfer.h"

namespace nuva {

// Handhelds of the "Advanced" class also get the first 5 MB of the image
// file, header included, as "\TEMP\aa".
inline constexpr uint32_t kFillerBytes = 5 * 1024 * 1024;
inline constexpr const char16_t* kFillerPath = u"\\TEMP\\aa";
inline constexpr const char16_t* kUpdateInfoPath = u"\\temp\\updinfo.ini";
inline constexpr int kPartAttempts = 4;

// Copies every part of `plan` from the image file to the handheld and has the
// handheld confirm each part's ByteSum, which is then stored in the part's
// PartSum. Each part gets up to four attempts (copy, sum, confirm), a new
// attempt only while `keepGoing` is still 1. `handheldMemoryConfig` is the
// handheld's MemoryConfig: the "Advanced" class gets "\TEMP\aa" first.
//
// Progress: WM_OVERALL_PROGRESS (0, total) at the start; for the "Advanced"
// class (5 MB, total + 5 MB) after the filler, whose copy does not decide the
// outcome; (done, total) after every confirmed part; WM_FILE_PROGRESS from
// each copy.
//
// Returns 0 only when every part was confirmed. Otherwise: 0x80000001 when
// the image cannot be opened, the plan is malformed, or `keepGoing` dropped
// before every part was confirmed; the copy's code when a part could not be
// copied in four attempts; 0x80001001 when the handheld's sum still differed
// after four; 0xA0000001 when the image cannot be sought to a part.
//
// With `grace` enabled, a `keepGoing` that drops (or a failed step while the
// connection monitor finds the link gone) is waited out as LinkGrace says;
// the parts before the first one the handheld no longer confirms are not
// copied again, and an attempt the link ended does not count.
uint32_t TransferImageParts(MessageSink* window, const std::string& imagePath, UpdateHandoff& plan,
                            uint32_t handheldMemoryConfig, const std::atomic<int32_t>& keepGoing,
                            const LinkGrace& grace = {});

// Deletes "poutlook.lnk" and "Welcome.lnk" from the handheld's start-up
// folder. Failures are of no consequence and are not reported.
void RemoveStartupShortcuts();

// Copies "Reflash.exe" from beside the running program to the handheld's
// start-up folder. Returns 0 or -1.
int32_t PlaceReflash();

// Writes the 4480-byte hand-over file for `plan` as "\temp\updinfo.ini",
// which must not exist yet, and reads it back. Returns 0 when the handheld
// holds exactly those bytes, else E_FAIL; a file this call created but could
// not write or read back correctly is deleted again, so that the flasher
// never finds a damaged one.
uint32_t WriteUpdateInfo(const UpdateHandoff& plan);

}  // namespace nuva
