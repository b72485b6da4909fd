// The two Pocket PC generations as the formats carry them: an image or backup
// is for Pocket PC 2003 when its ImageOsCode is 3 and for Pocket PC 2002
// otherwise (2, or the 0 of an early image); a handheld runs Pocket PC 2002
// when its OS major version is 3 and Pocket PC 2003 when it is 4. Writing an
// image of the other generation erases the built-in storage.
#pragma once

#include <cstdint>

#include "formats/image_header.h"

namespace nuva {

// True when the handheld already runs the OS family an image is for: OS major
// 4 for a code-3 image, OS major 3 for any other code.
inline bool KeepsBuiltInStorage(uint8_t imageOsCode, uint32_t deviceOsMajor) {
    return imageOsCode == kOsCode2003 ? deviceOsMajor == 4 : deviceOsMajor == 3;
}

// True when writing the image moves the handheld between the generations.
// The user is warned exactly when the built-in storage is going to be erased,
// so an image of an unknown code counts as Pocket PC 2002 here as it does in
// the plan.
inline bool ChangesGeneration(uint8_t imageOsCode, uint32_t deviceOsMajor) {
    return !KeepsBuiltInStorage(imageOsCode, deviceOsMajor);
}

}  // namespace nuva
