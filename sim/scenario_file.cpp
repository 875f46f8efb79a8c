#include "sim/scenario_file.h"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>
#include <stdexcept>
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

// How a key's value is read.
enum class Parser {
    YesNo,
    // A whole number up to the largest the field holds.
    Number,
    // The same, but not 0.
    NonZeroNumber,
    // A number with one decimal, kept in tenths, up to the largest the field holds.
    Tenths,
    // Milliseconds with up to six decimals, kept in nanoseconds.
    Milliseconds,
    // Bytes as two hex digits each; may be empty, as a tester may answer with no payload.
    HexBytes,
};

// The scenario's field a key sets.
using Field = std::variant<bool*, std::uint8_t*, std::uint16_t*, std::uint32_t*, std::int64_t*,
                           std::vector<std::uint8_t>*>;

struct Key {
    std::string_view name;
    Parser parser;
    Field (*field)(SimScenario&);
};

// Every key but device, devices and fault, whose lines do more than set one field: its name, how
// its value is read, and the scenario's field it sets.
#define SCENARIO_FIELD(member) [](SimScenario& s) -> Field { return &s.member; }
constexpr Key KEYS[] = {
    {"count-query-fails", Parser::YesNo, SCENARIO_FIELD(countQueryFails)},
    {"hardware-code", Parser::Number, SCENARIO_FIELD(tester.hardwareCode)},
    {"firmware-version", Parser::Tenths, SCENARIO_FIELD(tester.firmwareTenths)},
    {"answers-identify", Parser::YesNo, SCENARIO_FIELD(tester.answersIdentify)},
    {"answers-probe", Parser::YesNo, SCENARIO_FIELD(tester.answersProbe)},
    {"probe-reply", Parser::HexBytes, SCENARIO_FIELD(tester.probeReply)},
    {"answers-enter-bootloader", Parser::YesNo, SCENARIO_FIELD(tester.answersEnterBootloader)},
    {"starts-in-bootloader", Parser::YesNo, SCENARIO_FIELD(tester.startsInBootloader)},
    {"bootloader-identify-reply", Parser::HexBytes, SCENARIO_FIELD(tester.bootloaderIdentifyReply)},
    {"ready-status", Parser::Number, SCENARIO_FIELD(tester.readyStatus)},
    {"answer-ms", Parser::Milliseconds, SCENARIO_FIELD(tester.answerNs)},
    {"bootloader-start-ms", Parser::Milliseconds, SCENARIO_FIELD(tester.bootloaderStartNs)},
    {"erase-ms", Parser::Milliseconds, SCENARIO_FIELD(tester.eraseNs)},
    {"restart-after-programming-ms", Parser::Milliseconds,
     SCENARIO_FIELD(tester.restartAfterProgrammingNs)},
    {"baud-rate", Parser::NonZeroNumber, SCENARIO_FIELD(timing.baudRate)},
    {"latency-ms", Parser::Milliseconds, SCENARIO_FIELD(timing.latencyNs)},
    {"chip-packet-bytes", Parser::NonZeroNumber, SCENARIO_FIELD(timing.chipPacketBytes)},
    {"read-overrun-ms", Parser::Milliseconds, SCENARIO_FIELD(timing.readOverrunNs)},
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

// A whole number read by `parser` into a field of type T, whose largest value is the limit.
template <typename T>
T NumberFor(Parser parser, std::string_view value, const char* what) {
    constexpr std::uint64_t max = std::numeric_limits<T>::max();
    switch (parser) {
        case Parser::Number:
            return static_cast<T>(Unsigned(value, max, what));
        case Parser::NonZeroNumber: {
            const std::uint64_t number = Unsigned(value, max, what);
            if (number == 0) {
                throw LineError{std::string(what) + " must not be 0"};
            }
            return static_cast<T>(number);
        }
        case Parser::Tenths: {
            const std::uint64_t tenths = Scaled(value, 1, what);
            if (tenths > max) {
                throw LineError{std::string(what) + " must be at most " + std::to_string(max / 10) +
                                "." + std::to_string(max % 10)};
            }
            return static_cast<T>(tenths);
        }
        default:
            throw std::logic_error(std::string(what) + ": no number parser");
    }
}

void SetField(const Key& key, SimScenario& scenario, std::string_view value) {
    const std::string name(key.name);
    const char* what = name.c_str();
    std::visit(
        [&](auto* field) {
            using T = std::remove_pointer_t<decltype(field)>;
            if constexpr (std::is_same_v<T, bool>) {
                if (key.parser != Parser::YesNo) {
                    throw std::logic_error(name + ": a yes-or-no field");
                }
                *field = YesNo(value, what);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                if (key.parser != Parser::Milliseconds) {
                    throw std::logic_error(name + ": a duration field");
                }
                *field = Milliseconds(value, what);
            } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
                if (key.parser != Parser::HexBytes) {
                    throw std::logic_error(name + ": a byte-list field");
                }
                *field = HexBytes(value, what);
            } else {
                *field = NumberFor<T>(key.parser, value, what);
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
            // Only reply bytes may be left empty: a tester may answer with an empty payload.
            if (value.empty() && known->parser != Parser::HexBytes) {
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
