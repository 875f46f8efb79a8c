#include "sim/dll/scenario_file.h"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <vector>

namespace {

struct FaultKindEntry {
    FaultKind kind;
    const char* name;
};

constexpr FaultKindEntry FAULT_KINDS[] = {
    {FaultKind::DropReply, "DropReply"},
    {FaultKind::LateReply, "LateReply"},
    {FaultKind::CutReply, "CutReply"},
    {FaultKind::StrayBytesFirst, "StrayBytesFirst"},
    {FaultKind::PreviousBlockNumber, "PreviousBlockNumber"},
    {FaultKind::NotReadyStatus, "NotReadyStatus"},
    {FaultKind::EmptyReply, "EmptyReply"},
    {FaultKind::WrongOpcode, "WrongOpcode"},
    {FaultKind::CorruptRequest, "CorruptRequest"},
    {FaultKind::Unplug, "Unplug"},
    {FaultKind::GarbageStream, "GarbageStream"},
};

// A problem with one line; the parser adds the line number.
struct LineError {
    std::string message;
};

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto start = text.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) {
            break;
        }
        auto end = text.find_first_of(" \t", start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    return words;
}

std::uint64_t Unsigned(std::string_view text, std::uint64_t max, const char* what) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        throw LineError{std::string(what) + " must be a whole number, not \"" + std::string(text) +
                        "\""};
    }
    if (value > max) {
        throw LineError{std::string(what) + " must be at most " + std::to_string(max)};
    }
    return value;
}

// A decimal number with at most `decimals` digits after the point, scaled by 10^decimals.
std::uint64_t Scaled(std::string_view text, int decimals, const char* what) {
    const auto point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    const bool wellFormed = !whole.empty() &&
                            (point == std::string_view::npos || !fraction.empty()) &&
                            fraction.size() <= static_cast<std::size_t>(decimals) &&
                            whole.find_first_not_of("0123456789") == std::string_view::npos &&
                            fraction.find_first_not_of("0123456789") == std::string_view::npos;
    if (!wellFormed) {
        throw LineError{std::string(what) + " must be a number with at most " +
                        std::to_string(decimals) + " decimals, not \"" + std::string(text) + "\""};
    }
    std::uint64_t scale = 1;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10;
    }
    const std::uint64_t wholeValue =
        Unsigned(whole, std::numeric_limits<std::uint64_t>::max() / scale / 2, what);
    std::uint64_t fractionValue = 0;
    std::uint64_t digitScale = scale;
    for (const char digit : fraction) {
        digitScale /= 10;
        fractionValue += static_cast<std::uint64_t>(digit - '0') * digitScale;
    }
    return wholeValue * scale + fractionValue;
}

std::int64_t Milliseconds(std::string_view text, const char* what) {
    // Nanosecond resolution: six decimals of a millisecond.
    return static_cast<std::int64_t>(Scaled(text, 6, what));
}

bool YesNo(std::string_view text, const char* what) {
    if (text == "yes") {
        return true;
    }
    if (text == "no") {
        return false;
    }
    throw LineError{std::string(what) + " must be yes or no, not \"" + std::string(text) + "\""};
}

std::vector<std::uint8_t> HexBytes(std::string_view text, const char* what) {
    std::vector<std::uint8_t> bytes;
    for (const std::string_view word : Words(text)) {
        unsigned value = 0;
        const char* end = word.data() + word.size();
        const auto [ptr, ec] = std::from_chars(word.data(), end, value, 16);
        if (word.size() != 2 || ec != std::errc() || ptr != end) {
            throw LineError{std::string(what) + " takes bytes as two hex digits each, not \"" +
                            std::string(word) + "\""};
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

bool StartsWithTesterPrefix(std::string_view serial) {
    return serial.substr(0, 4) == "ZVKD";
}

SimDevice Device(std::string_view value) {
    const std::vector<std::string_view> words = Words(value);
    if (words.empty()) {
        throw LineError{"device needs a serial number"};
    }
    SimDevice device;
    device.serial = std::string(words[0]);
    device.isTester = StartsWithTesterPrefix(device.serial);
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "open-fails") {
            device.openFails = true;
        } else if (words[i] == "serial-query-fails") {
            device.serialQueryFails = true;
        } else if (words[i] == "tester") {
            device.isTester = true;
        } else if (words[i] == "not-tester") {
            device.isTester = false;
        } else {
            throw LineError{"unknown device flag \"" + std::string(words[i]) +
                            "\" (open-fails, serial-query-fails, tester, not-tester)"};
        }
    }
    return device;
}

std::pair<std::uint32_t, LineFault> Fault(std::string_view value) {
    const std::vector<std::string_view> words = Words(value);
    if (words.size() < 2) {
        throw LineError{"fault needs a request number and a kind"};
    }
    const auto request =
        static_cast<std::uint32_t>(Unsigned(words[0], 0xFFFFFFFFu, "the request number"));
    LineFault fault;
    bool known = false;
    for (const FaultKindEntry& entry : FAULT_KINDS) {
        if (words[1] == entry.name) {
            fault.kind = entry.kind;
            known = true;
        }
    }
    if (!known) {
        throw LineError{"unknown fault kind \"" + std::string(words[1]) + "\""};
    }
    if (words.size() == 3 && fault.kind == FaultKind::LateReply) {
        fault.lateByNs = Milliseconds(words[2], "the delay");
    } else if (words.size() > 2) {
        throw LineError{fault.kind == FaultKind::LateReply
                            ? "LateReply takes one delay in milliseconds"
                            : std::string(words[1]) + " takes no further value"};
    }
    return {request, fault};
}

using Setter = std::function<void(SimScenario&, std::string_view)>;

const std::map<std::string, Setter, std::less<>>& Setters() {
    static const std::map<std::string, Setter, std::less<>> setters = {
        {"count-query-fails",
         [](SimScenario& s, std::string_view v) {
             s.countQueryFails = YesNo(v, "count-query-fails");
         }},
        {"hardware-code",
         [](SimScenario& s, std::string_view v) {
             s.tester.hardwareCode = static_cast<std::uint8_t>(Unsigned(v, 255, "hardware-code"));
         }},
        {"firmware-version",
         [](SimScenario& s, std::string_view v) {
             const std::uint64_t tenths = Scaled(v, 1, "firmware-version");
             if (tenths > 255) {
                 throw LineError{"firmware-version must be at most 25.5"};
             }
             s.tester.firmwareTenths = static_cast<std::uint8_t>(tenths);
         }},
        {"answers-identify",
         [](SimScenario& s, std::string_view v) {
             s.tester.answersIdentify = YesNo(v, "answers-identify");
         }},
        {"answers-probe",
         [](SimScenario& s, std::string_view v) {
             s.tester.answersProbe = YesNo(v, "answers-probe");
         }},
        {"probe-reply",
         [](SimScenario& s, std::string_view v) {
             s.tester.probeReply = HexBytes(v, "probe-reply");
         }},
        {"answers-enter-bootloader",
         [](SimScenario& s, std::string_view v) {
             s.tester.answersEnterBootloader = YesNo(v, "answers-enter-bootloader");
         }},
        {"starts-in-bootloader",
         [](SimScenario& s, std::string_view v) {
             s.tester.startsInBootloader = YesNo(v, "starts-in-bootloader");
         }},
        {"bootloader-identify-reply",
         [](SimScenario& s, std::string_view v) {
             s.tester.bootloaderIdentifyReply = HexBytes(v, "bootloader-identify-reply");
         }},
        {"ready-status",
         [](SimScenario& s, std::string_view v) {
             s.tester.readyStatus = static_cast<std::uint16_t>(Unsigned(v, 0xFFFF, "ready-status"));
         }},
        {"answer-ms", [](SimScenario& s,
                         std::string_view v) { s.tester.answerNs = Milliseconds(v, "answer-ms"); }},
        {"bootloader-start-ms",
         [](SimScenario& s, std::string_view v) {
             s.tester.bootloaderStartNs = Milliseconds(v, "bootloader-start-ms");
         }},
        {"erase-ms", [](SimScenario& s,
                        std::string_view v) { s.tester.eraseNs = Milliseconds(v, "erase-ms"); }},
        {"restart-after-programming-ms",
         [](SimScenario& s, std::string_view v) {
             s.tester.restartAfterProgrammingNs = Milliseconds(v, "restart-after-programming-ms");
         }},
        {"baud-rate",
         [](SimScenario& s, std::string_view v) {
             s.timing.baudRate = static_cast<std::uint32_t>(Unsigned(v, 0xFFFFFFFFu, "baud-rate"));
             if (s.timing.baudRate == 0) {
                 throw LineError{"baud-rate must not be 0"};
             }
         }},
        {"latency-ms",
         [](SimScenario& s, std::string_view v) {
             s.timing.latencyNs = Milliseconds(v, "latency-ms");
         }},
        {"chip-packet-bytes",
         [](SimScenario& s, std::string_view v) {
             s.timing.chipPacketBytes =
                 static_cast<std::uint32_t>(Unsigned(v, 0xFFFFFFFFu, "chip-packet-bytes"));
             if (s.timing.chipPacketBytes == 0) {
                 throw LineError{"chip-packet-bytes must not be 0"};
             }
         }},
        {"read-overrun-ms",
         [](SimScenario& s, std::string_view v) {
             s.timing.readOverrunNs = Milliseconds(v, "read-overrun-ms");
         }},
    };
    return setters;
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
    for (const FaultKindEntry& entry : FAULT_KINDS) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "?";
}

std::optional<SimScenario> ParseScenarioText(std::string_view text, std::string& error) {
    SimScenario scenario;
    std::set<std::string, std::less<>> seen;
    bool devicesNamed = false;
    bool devicesNone = false;
    int number = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        auto end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = Trim(text.substr(at, end - at));
        at = end + 1;
        ++number;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        try {
            const auto equals = line.find('=');
            if (equals == std::string_view::npos) {
                throw LineError{"expected key = value"};
            }
            const std::string_view key = Trim(line.substr(0, equals));
            const std::string_view value = Trim(line.substr(equals + 1));
            if (key == "device") {
                if (devicesNone) {
                    throw LineError{"device after devices = none"};
                }
                if (!devicesNamed) {
                    scenario.devices.clear();
                    devicesNamed = true;
                }
                scenario.devices.push_back(Device(value));
                continue;
            }
            if (key == "fault") {
                scenario.faults.insert(Fault(value));
                continue;
            }
            if (!seen.insert(std::string(key)).second) {
                throw LineError{"\"" + std::string(key) + "\" given twice"};
            }
            if (key == "devices") {
                if (value != "none" || devicesNamed) {
                    throw LineError{"devices takes only the value none, instead of device lines"};
                }
                scenario.devices.clear();
                devicesNone = true;
                continue;
            }
            const auto setter = Setters().find(key);
            if (setter == Setters().end()) {
                throw LineError{"unknown key \"" + std::string(key) + "\""};
            }
            // Only reply bytes may be left empty: a tester may answer with an empty payload.
            if (value.empty() && key != "bootloader-identify-reply" && key != "probe-reply") {
                throw LineError{"\"" + std::string(key) + "\" needs a value"};
            }
            setter->second(scenario, value);
        } catch (const LineError& e) {
            error = "line " + std::to_string(number) + ": " + e.message;
            return std::nullopt;
        }
    }
    return scenario;
}

std::optional<SimScenario> ReadScenarioFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read the scenario file " + path;
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::optional<SimScenario> scenario = ParseScenarioText(text.str(), error);
    if (!scenario) {
        error = path + ", " + error;
    }
    return scenario;
}
