// A handheld program for the machine's tests, built as a shared object that
// links against nothing: its core library calls are bound when the machine
// loads it from the file store.
//
// WinMain reads the script \test\script.txt (one command a line), deletes
// it, so that a restart does not run it again, and does what it says:
//   write <path> <text>   create the file with the text
//   fill <hex colour>     fill the screen through the frame buffer
//   box <caption>|<text>  show a message box and wait for OK
//   restart-line          restart through the platform's restart line
//   reboot                restart through IOCTL_HAL_REBOOT
//   cold-words            clear the cold-start words of the reserved block
//   status-mode           leave flash chip 0 and 1 in read-status mode
//   masked-sleep          mask interrupts and sleep
//   exit <decimal>        return from WinMain with that code
// After a command that must not return, it writes \test\survived.txt.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

namespace {

constexpr DWORD kReservedBlock = NUVA_RESERVED_RAM_ADVANCED;

// NUVA_KADDR without its C-style casts.
template <class T>
volatile T* Kaddr(uint32_t address) {
    return reinterpret_cast<volatile T*>(uintptr_t{address});
}

void Widen(const char* text, size_t length, WCHAR* out) {
    for (size_t i = 0; i < length; ++i) {
        out[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
    }
    out[length] = 0;
}

void WriteText(const char* path, size_t pathLength, const char* text, size_t textLength) {
    WCHAR widePath[260];
    if (pathLength >= 260) {
        return;
    }
    Widen(path, pathLength, widePath);
    HANDLE file =
        CreateFileW(widePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1))) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(textLength), &written, nullptr);
    CloseHandle(file);
}

void Survived() {
    WriteText("\\test\\survived.txt", 18, "yes", 3);
}

}  // namespace

extern "C" NUVA_EXPORT int WinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const WCHAR scriptPath[] = u"\\test\\script.txt";
    HANDLE file = CreateFileW(scriptPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1))) {
        return 2;
    }
    char script[4096];
    DWORD length = 0;
    ReadFile(file, script, sizeof script - 1, &length, nullptr);
    CloseHandle(file);
    DeleteFileW(scriptPath);
    script[length] = 0;

    for (char* line = script; *line != 0;) {
        char* end = std::strchr(line, '\n');
        if (end != nullptr) {
            *end = 0;
        }
        char* argument = std::strchr(line, ' ');
        if (argument != nullptr) {
            *argument++ = 0;
        }
        if (std::strcmp(line, "write") == 0 && argument != nullptr) {
            char* text = std::strchr(argument, ' ');
            size_t pathLength =
                text != nullptr ? static_cast<size_t>(text - argument) : std::strlen(argument);
            const char* body = text != nullptr ? text + 1 : "";
            WriteText(argument, pathLength, body, std::strlen(body));
        } else if (std::strcmp(line, "fill") == 0 && argument != nullptr) {
            auto colour = static_cast<USHORT>(std::strtoul(argument, nullptr, 16));
            for (DWORD i = 0; i < NUVA_SCREEN_WIDTH * NUVA_SCREEN_HEIGHT; ++i) {
                WRITE_REGISTER_USHORT(Kaddr<USHORT>(NUVA_FRAME_BUFFER + 2 * i), colour);
            }
        } else if (std::strcmp(line, "box") == 0 && argument != nullptr) {
            char* bar = std::strchr(argument, '|');
            if (bar != nullptr) {
                *bar = 0;
                WCHAR caption[128];
                WCHAR text[128];
                Widen(argument, std::strlen(argument) < 127 ? std::strlen(argument) : 127, caption);
                Widen(bar + 1, std::strlen(bar + 1) < 127 ? std::strlen(bar + 1) : 127, text);
                MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR);
            }
        } else if (std::strcmp(line, "restart-line") == 0) {
            WRITE_REGISTER_ULONG(Kaddr<ULONG>(NUVA_REG_RESTART_ARM), NUVA_RESTART_BIT);
            ULONG fire = READ_REGISTER_ULONG(Kaddr<ULONG>(NUVA_REG_RESTART_FIRE));
            WRITE_REGISTER_ULONG(Kaddr<ULONG>(NUVA_REG_RESTART_FIRE), fire | NUVA_RESTART_BIT);
            Survived();
        } else if (std::strcmp(line, "reboot") == 0) {
            KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
            Survived();
        } else if (std::strcmp(line, "cold-words") == 0) {
            for (DWORD offset : {NUVA_COLD_START_WORD_1, NUVA_COLD_START_WORD_2}) {
                for (DWORD i = 0; i < 4; ++i) {
                    WRITE_REGISTER_UCHAR(Kaddr<UCHAR>(kReservedBlock + offset + i), 0);
                }
            }
        } else if (std::strcmp(line, "status-mode") == 0) {
            WRITE_REGISTER_ULONG(Kaddr<ULONG>(NUVA_FLASH_UNCACHED), 0x00700070);
            GetTickCount();
            Survived();
        } else if (std::strcmp(line, "masked-sleep") == 0) {
            INTERRUPTS_OFF();
            Sleep(10);
            Survived();
        } else if (std::strcmp(line, "exit") == 0 && argument != nullptr) {
            return std::atoi(argument);
        }
        if (end == nullptr) {
            break;
        }
        line = end + 1;
    }
    return 0;
}
