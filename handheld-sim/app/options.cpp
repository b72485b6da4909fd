#include "handheld-sim/app/options.h"

#include <charconv>
#include <cmath>

namespace nuva::sim::app {

std::optional<uint64_t> ParseNumber(const std::string& text, uint64_t max) {
    std::string_view digits = text;
    int base = 10;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

std::string ControlSocketPath(const std::string& stateDir) {
    return (stateDir.empty() || stateDir.back() != '/' ? stateDir + "/" : stateDir) + "control.sock";
}

namespace {

std::optional<std::array<uint8_t, 16>> ParseUuid(const std::string& text) {
    if (text.size() != 32) {
        return std::nullopt;
    }
    std::array<uint8_t, 16> uuid{};
    for (size_t i = 0; i < 16; ++i) {
        auto byte = ParseNumber("0x" + text.substr(2 * i, 2), 0xFF);
        if (!byte) {
            return std::nullopt;
        }
        uuid[i] = static_cast<uint8_t>(*byte);
    }
    return uuid;
}

}  // namespace

std::optional<HandheldOptions> ParseHandheldOptions(const std::vector<std::string>& args,
                                                    std::string& error) {
    HandheldOptions options;
    options.factory.uuid = SupportedUuid(true);
    bool uuidGiven = false;
    bool unsupported = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string* {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return nullptr;
            }
            return &args[++i];
        };
        const std::string* v = nullptr;
        if (arg == "--state") {
            if ((v = value()) == nullptr) {
                return std::nullopt;
            }
            options.stateDir = *v;
        } else if (arg == "--rom") {
            if ((v = value()) == nullptr) {
                return std::nullopt;
            }
            options.romImage = *v;
        } else if (arg == "--class") {
            if ((v = value()) == nullptr) {
                return std::nullopt;
            }
            if (*v != "advanced" && *v != "basic") {
                error = "--class takes advanced or basic, not '" + *v + "'";
                return std::nullopt;
            }
            options.factory.advanced = *v == "advanced";
            options.factoryGiven = true;
        } else if (arg == "--uuid") {
            if ((v = value()) == nullptr) {
                return std::nullopt;
            }
            auto uuid = ParseUuid(*v);
            if (!uuid) {
                error = "--uuid takes 32 hexadecimal digits, not '" + *v + "'";
                return std::nullopt;
            }
            options.factory.uuid = *uuid;
            uuidGiven = true;
            options.factoryGiven = true;
        } else if (arg == "--unsupported") {
            unsupported = true;
            options.factory.uuid = SupportedUuid(false);
            options.factoryGiven = true;
        } else if (arg == "--language") {
            if ((v = value()) == nullptr) {
                return std::nullopt;
            }
            auto language = ParseNumber(*v, 0xFFFF);
            if (!language) {
                error = "--language takes a language identifier such as 0x0409, not '" + *v + "'";
                return std::nullopt;
            }
            options.factory.language = static_cast<uint16_t>(*language);
            options.factoryGiven = true;
        } else if (arg == "--boot-time") {
            if ((v = value()) == nullptr) {
                return std::nullopt;
            }
            double seconds = 0;
            auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), seconds);
            if (v->empty() || ec != std::errc() || end != v->data() + v->size() || !std::isfinite(seconds) ||
                seconds < 0 || seconds > 3600) {
                error = "--boot-time takes seconds from 0 to 3600, not '" + *v + "'";
                return std::nullopt;
            }
            options.factory.bootMs = static_cast<uint32_t>(std::lround(seconds * 1000));
            options.factoryGiven = true;
        } else {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        }
    }
    if (options.stateDir.empty()) {
        error = "--state DIR is required";
        return std::nullopt;
    }
    if (uuidGiven && unsupported) {
        error = "--uuid and --unsupported exclude each other";
        return std::nullopt;
    }
    return options;
}

std::optional<CtlOptions> ParseCtlOptions(const std::vector<std::string>& args, std::string& error) {
    CtlOptions options;
    size_t i = 0;
    if (args.size() >= 2 && args[0] == "--state") {
        options.stateDir = args[1];
        i = 2;
    }
    if (options.stateDir.empty()) {
        error = "ctl needs --state DIR before the subcommand";
        return std::nullopt;
    }
    if (i >= args.size()) {
        error = "ctl needs a subcommand";
        return std::nullopt;
    }
    options.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    return options;
}

}  // namespace nuva::sim::app
