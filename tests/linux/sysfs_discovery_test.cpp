// Discovery of the FTDI ttys in sysfs and the device library's listing of them, on fake trees
// laid out as the kernel lays them out.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "link/d2xx.h"
#include "linux/sysfs_tty_ports.h"
#include "linux/tty_d2xx.h"
#include "tests/linux/fake_sysfs.h"

namespace {

std::vector<std::string> Names(const std::vector<TtyPort>& ports) {
    std::vector<std::string> names;
    for (const TtyPort& port : ports) {
        names.push_back(port.name);
    }
    return names;
}

std::uint32_t CountDevices() {
    std::uint32_t count = 0;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    return count;
}

FT_STATUS SerialByIndex(std::uint32_t index, char* buffer) {
    return FT_ListDevices(reinterpret_cast<void*>(static_cast<std::uintptr_t>(index)), buffer,
                          FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
}

std::string SerialOf(std::uint32_t index) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(SerialByIndex(index, buffer), FT_OK);
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

class SysfsDiscovery : public ::testing::Test {
  protected:
    void SetUp() override { tree.UseForDiscovery(); }
    FakeSysfs tree;
};

TEST_F(SysfsDiscovery, ListsPortsInTheNaturalOrderOfTheirNames) {
    // Made in an order that neither the plain string order nor the making order would fix.
    tree.AddUsbTty("ttyUSB10", "1-4", "ZVKD0010");
    tree.AddUsbTty("ttyUSB2", "1-2", "ZVKD0002");
    tree.AddUsbTty("ttyUSB1", "1-3", "FT000001");
    EXPECT_EQ(Names(ScanFtdiTtyPorts()),
              (std::vector<std::string>{"ttyUSB1", "ttyUSB2", "ttyUSB10"}));
    ASSERT_EQ(CountDevices(), 3u);
    EXPECT_EQ(SerialOf(0), "FT000001");
    EXPECT_EQ(SerialOf(1), "ZVKD0002");
    EXPECT_EQ(SerialOf(2), "ZVKD0010");
}

TEST_F(SysfsDiscovery, PassesOverTtysOfOtherDriversAndTtysWithoutADevice) {
    tree.AddPlatformTty("ttyS0", "serial8250");
    tree.AddVirtualTty("tty0");
    tree.AddUsbTty("ttyACM0", "1-1", "ZVKD0099", "cdc_acm");
    tree.AddUsbTty("ttyUSB0", "1-2", "ZVKD0098", "pl2303");
    tree.AddUsbTty("ttyUSB1", "1-3", "ZVKD0001");
    EXPECT_EQ(Names(ScanFtdiTtyPorts()), (std::vector<std::string>{"ttyUSB1"}));
    ASSERT_EQ(CountDevices(), 1u);
    EXPECT_EQ(SerialOf(0), "ZVKD0001");
}

TEST_F(SysfsDiscovery, ReadsTheSerialNumberOfTheUsbDeviceTwoLevelsAboveThePort) {
    tree.AddUsbTty("ttyUSB0", "1-2", "ZVKD0001");
    const std::vector<TtyPort> ports = ScanFtdiTtyPorts();
    ASSERT_EQ(ports.size(), 1u);
    // Written with the line feed the kernel ends its attributes with.
    EXPECT_EQ(ports[0].serial, "ZVKD0001");
}

TEST_F(SysfsDiscovery, APortWithoutASerialNumberIsListedWithAnEmptyOne) {
    tree.AddUsbTty("ttyUSB0", "1-2", std::nullopt);
    tree.AddUsbTty("ttyUSB1", "1-3", "ZVKD0001");
    ASSERT_EQ(CountDevices(), 2u);
    EXPECT_EQ(SerialOf(0), "");
    EXPECT_EQ(SerialOf(1), "ZVKD0001");
}

TEST_F(SysfsDiscovery, NodesStandUnderTheDevRootGivenInTheEnvironment) {
    tree.AddUsbTty("ttyUSB3", "1-2", "ZVKD0001");
    ASSERT_EQ(CountDevices(), 1u);
    EXPECT_EQ(TtyNodeOfDevice(0), tree.DevRoot() + "/ttyUSB3");
    EXPECT_EQ(TtyNodeOfDevice(1), "");
}

TEST_F(SysfsDiscovery, TheSysfsRootFromTheEnvironmentDecidesWhatIsFound) {
    tree.AddUsbTty("ttyUSB0", "1-2", "ZVKD0001");
    FakeSysfs other;
    other.AddUsbTty("ttyUSB0", "1-2", "ZVKD0002");
    other.AddUsbTty("ttyUSB1", "1-3", "ZVKD0003");
    ASSERT_EQ(CountDevices(), 1u);
    other.UseForDiscovery();
    ASSERT_EQ(CountDevices(), 2u);
    EXPECT_EQ(SerialOf(0), "ZVKD0002");
    EXPECT_EQ(TtyNodeOfDevice(1), other.DevRoot() + "/ttyUSB1");
}

TEST_F(SysfsDiscovery, NoTtyClassMeansNoDevices) {
    FakeSysfs empty;
    std::filesystem::remove_all(empty.SysRoot() + "/class");
    empty.UseForDiscovery();
    EXPECT_TRUE(ScanFtdiTtyPorts().empty());
    std::uint32_t count = 7;
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(SysfsDiscovery, TheByIndexQueryReadsTheLastListingNotAFreshScan) {
    tree.AddUsbTty("ttyUSB0", "1-2", "ZVKD0001");
    ASSERT_EQ(CountDevices(), 1u);
    tree.AddUsbTty("ttyUSB1", "1-3", "ZVKD0002");
    char buffer[64] = {};
    EXPECT_EQ(SerialByIndex(1, buffer), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(TtyNodeOfDevice(1), "");
    ASSERT_EQ(CountDevices(), 2u);
    EXPECT_EQ(SerialOf(1), "ZVKD0002");
}

TEST_F(SysfsDiscovery, ABadIndexIsNotFoundAndLeavesTheBufferAlone) {
    tree.AddUsbTty("ttyUSB0", "1-2", "ZVKD0001");
    ASSERT_EQ(CountDevices(), 1u);
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(SerialByIndex(1, buffer), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(SerialByIndex(0xFFFFFFFFu, buffer), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(64, 'x'));
}

TEST_F(SysfsDiscovery, ALongSerialNumberIsCutToFillSixtyFourBytesAndNoMore) {
    tree.AddUsbTty("ttyUSB0", "1-2", "ZVKD" + std::string(120, '7'));
    ASSERT_EQ(CountDevices(), 1u);
    char buffer[80];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(SerialByIndex(0, buffer), FT_OK);
    EXPECT_EQ(std::string(buffer), "ZVKD" + std::string(59, '7'));
    EXPECT_EQ(std::string(buffer + 64, 16), std::string(16, 'x'));
}

TEST_F(SysfsDiscovery, CallsTheLibraryDoesNotKnowAreRefused) {
    EXPECT_EQ(FT_ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
    EXPECT_EQ(SerialByIndex(0, nullptr), FT_INVALID_PARAMETER);
    std::uint32_t count = 0;
    // By description rather than by serial number: not a query this library serves.
    EXPECT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_BY_INDEX | 2), FT_INVALID_PARAMETER);
}

struct NameOrderCase {
    const char* label;
    const char* before;
    const char* after;
};

// Named by the label in test output, not dumped as bytes.
void PrintTo(const NameOrderCase& c, std::ostream* os) {
    *os << c.label;
}

class TtyNameOrder : public ::testing::TestWithParam<NameOrderCase> {};

TEST_P(TtyNameOrder, ComesFirst) {
    EXPECT_TRUE(TtyNameLess(GetParam().before, GetParam().after));
    EXPECT_FALSE(TtyNameLess(GetParam().after, GetParam().before));
}

INSTANTIATE_TEST_SUITE_P(
    Names, TtyNameOrder,
    ::testing::Values(NameOrderCase{"OneDigitBeforeTwo", "ttyUSB2", "ttyUSB10"},
                      NameOrderCase{"ByValueNotByFirstDigit", "ttyUSB9", "ttyUSB10"},
                      NameOrderCase{"SameLengthByDigits", "ttyUSB10", "ttyUSB11"},
                      NameOrderCase{"PrefixFirst", "ttyUSB", "ttyUSB0"},
                      NameOrderCase{"LettersBeforeNumbersDecide", "ttyACM5", "ttyUSB0"},
                      NameOrderCase{"EqualValuesByTheirText", "ttyUSB01", "ttyUSB1"}),
    ::testing::PrintToStringParamName());

TEST(TtyNameOrderEquality, ANameIsNotBeforeItself) {
    EXPECT_FALSE(TtyNameLess("ttyUSB3", "ttyUSB3"));
}

}  // namespace
