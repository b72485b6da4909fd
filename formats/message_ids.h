// Private window messages of the desktop program. All are posted, never sent;
// the long operations report through them to whatever sink shows the run.
#pragma once

#include <cstdint>

namespace nuva {

inline constexpr uint32_t WM_APP = 0x8000;
inline constexpr uint32_t WM_OVERALL_PROGRESS = WM_APP + 300;  // wParam done, lParam total (all parts)
inline constexpr uint32_t WM_FILE_PROGRESS = WM_APP + 301;     // wParam done, lParam total (this part)
inline constexpr uint32_t WM_APP_STARTCHECK = WM_APP + 0x136;
inline constexpr uint32_t WM_RUN_FAILED = WM_APP + 0x137;
inline constexpr uint32_t WM_VERIFY_FAILED = WM_APP + 0x138;
inline constexpr uint32_t WM_RUN_COMPLETE = WM_APP + 0x139;

static_assert(WM_OVERALL_PROGRESS == 0x812C && WM_FILE_PROGRESS == 0x812D);
static_assert(WM_APP_STARTCHECK == 0x8136 && WM_RUN_FAILED == 0x8137);
static_assert(WM_VERIFY_FAILED == 0x8138 && WM_RUN_COMPLETE == 0x8139);

}  // namespace nuva
