#include "sim/scenario_file.h"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <type_traits>
#include <variant>
#include <vector>

namespace {

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
    const std::optional<FaultKind> kind = FaultKindNamed(words[1]);
    if (!kind) {
        throw LineError{"unknown fault kind \"" + std::string(words[1]) + "\""};
    }
    LineFault fault;
    fault.kind = *kind;
    if (words.size() == 3 && fault.kind == FaultKind::LateReply) {
        fault.lateByNs = Milliseconds(words[2], "the delay");
    } else if (words.size() > 2) {
        throw LineError{std::string(words[1]) + (fault.kind == FaultKind::LateReply
                                                     ? " takes one delay in milliseconds"
                                                     : " takes no further value")};
    }
    return {request, fault};
}

// How a whole-number field's value is read; for every other field its type alone decides: yes or
// no, milliseconds with up to six decimals kept in nanoseconds, or bytes as two hex digits each.
enum class Limit {
    // Up to the largest the field holds.
    FieldMax,
    // The same, but not 0.
    NonZero,
    // A number with one decimal, kept in tenths, up to the largest the field holds.
    Tenths,
};

// The scenario's field a key sets.
using Field = std::variant<bool*, std::uint8_t*, std::uint16_t*, std::uint32_t*, std::int64_t*,
                           std::vector<std::uint8_t>*>;

struct Key {
    std::string_view name;
    Field (*field)(SimScenario&);
    Limit limit = Limit::FieldMax;
};

// Every key but device, devices and fault, whose lines do more than set one field: its name, the
// scenario's field it sets, and for a whole number how it is read.
#define SCENARIO_FIELD(member) [](SimScenario& s) -> Field { return &s.member; }
constexpr Key KEYS[] = {
    {"count-query-fails", SCENARIO_FIELD(countQueryFails)},
    {"hardware-code", SCENARIO_FIELD(tester.hardwareCode)},
    {"firmware-version", SCENARIO_FIELD(tester.firmwareTenths), Limit::Tenths},
    {"answers-identify", SCENARIO_FIELD(tester.answersIdentify)},
    {"answers-probe", SCENARIO_FIELD(tester.answersProbe)},
    {"probe-reply", SCENARIO_FIELD(tester.probeReply)},
    {"answers-enter-bootloader", SCENARIO_FIELD(tester.answersEnterBootloader)},
    {"starts-in-bootloader", SCENARIO_FIELD(tester.startsInBootloader)},
    {"bootloader-identify-reply", SCENARIO_FIELD(tester.bootloaderIdentifyReply)},
    {"ready-status", SCENARIO_FIELD(tester.readyStatus)},
    {"answer-ms", SCENARIO_FIELD(tester.answerNs)},
    {"bootloader-start-ms", SCENARIO_FIELD(tester.bootloaderStartNs)},
    {"erase-ms", SCENARIO_FIELD(tester.eraseNs)},
    {"restart-after-programming-ms", SCENARIO_FIELD(tester.restartAfterProgrammingNs)},
    {"baud-rate", SCENARIO_FIELD(timing.baudRate), Limit::NonZero},
    {"latency-ms", SCENARIO_FIELD(timing.latencyNs)},
    {"chip-packet-bytes", SCENARIO_FIELD(timing.chipPacketBytes), Limit::NonZero},
    {"read-overrun-ms", SCENARIO_FIELD(timing.readOverrunNs)},
};
#undef SCENARIO_FIELD

const Key* FindKey(std::string_view name) {
    for (const Key& key : KEYS) {
        if (key.name == name) {
            return &key;
        }
    }
    return nullptr;
}

// A whole number read as `limit` says into a field of type T, whose largest value bounds it.
template <typename T>
T NumberFor(Limit limit, std::string_view value, const char* what) {
    constexpr std::uint64_t max = std::numeric_limits<T>::max();
    if (limit == Limit::Tenths) {
        const std::uint64_t tenths = Scaled(value, 1, what);
        if (tenths > max) {
            throw LineError{std::string(what) + " must be at most " + std::to_string(max / 10) +
                            "." + std::to_string(max % 10)};
        }
        return static_cast<T>(tenths);
    }
    const std::uint64_t number = Unsigned(value, max, what);
    if (limit == Limit::NonZero && number == 0) {
        throw LineError{std::string(what) + " must not be 0"};
    }
    return static_cast<T>(number);
}

// Only reply bytes may be left empty: a tester may answer with an empty payload.
bool MayBeEmpty(const Key& key, SimScenario& scenario) {
    return std::holds_alternative<std::vector<std::uint8_t>*>(key.field(scenario));
}

void SetField(const Key& key, SimScenario& scenario, std::string_view value) {
    const std::string name(key.name);
    const char* what = name.c_str();
    std::visit(
        [&](auto* field) {
            using T = std::remove_pointer_t<decltype(field)>;
            if constexpr (std::is_same_v<T, bool>) {
                *field = YesNo(value, what);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                *field = Milliseconds(value, what);
            } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
                // May be empty, as a tester may answer with no payload.
                *field = HexBytes(value, what);
            } else {
                *field = NumberFor<T>(key.limit, value, what);
            }
        },
        key.field(scenario));
}

}  // namespace

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
            const Key* known = FindKey(key);
            if (known == nullptr) {
                throw LineError{"unknown key \"" + std::string(key) + "\""};
            }
            if (value.empty() && !MayBeEmpty(*known, scenario)) {
                throw LineError{"\"" + std::string(key) + "\" needs a value"};
            }
            SetField(*known, scenario, value);
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
