// The adapter table, the address lists and the Allow/Block rule on adapters given by the test.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostid/AllowRule.h"
#include "hostid/NetX.h"

namespace tandor {
namespace {

SystemAdapter Adapter(std::vector<std::uint8_t> mac, std::vector<std::string> ips,
                      int type = adaptertype::Ethernet) {
  SystemAdapter adapter;
  adapter.Name = "eth";
  adapter.Description = "Test adapter";
  adapter.Type = type;
  adapter.HardwareAddress = std::move(mac);
  adapter.IpAddresses = std::move(ips);
  return adapter;
}

AdapterSource Machine(std::vector<SystemAdapter> adapters) {
  return [adapters] { return adapters; };
}

const std::vector<std::uint8_t> MacA = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const std::vector<std::uint8_t> MacB = {0x00, 0x0C, 0x29, 0xAB, 0xCD, 0xEF};

TEST(NetX, BuildsTheTableInTheSystemsOrder) {
  std::string description = "  Test";
  description += '\0';
  description += " adapter  ";
  SystemAdapter first = Adapter(MacB, {std::string("192.168.0.5\0junk", 16)});
  first.Description = description;
  AdapterTable table =
      ReadNetworkAdapters(Machine({first, Adapter({}, {"10.0.0.1"}, adaptertype::Ppp)}));
  ASSERT_EQ(table.Count, 2);
  EXPECT_EQ(table.Adapters[0].TypeName, "Ethernet adapter");
  EXPECT_EQ(table.Adapters[0].Description, "Test adapter");
  EXPECT_EQ(table.Adapters[0].MacAddress, "00-0C-29-AB-CD-EF");
  EXPECT_EQ(table.Adapters[0].IpAddresses, std::vector<std::string>{"192.168.0.5"});
  EXPECT_EQ(table.Adapters[1].TypeName, "PPP adapter");
  EXPECT_EQ(table.Adapters[1].MacAddress, "");
  EXPECT_EQ(AdapterTypeName(71), "Other adapter");
  EXPECT_EQ(FormatMacAddress({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), "01-02-03-04-05-06-07-08");
}

TEST(NetX, JoinsAddressListsWithTheSeparator) {
  struct Case {
    const char* label;
    std::vector<SystemAdapter> adapters;
    char separator;
    std::string macs;
    std::string ips;
  };
  const Case cases[] = {
      {"two adapters, two addresses on the first",
       {Adapter(MacA, {"192.168.0.5", "fe80::1"}), Adapter(MacB, {"10.0.0.7"})},
       ',',
       "00-1A-2B-3C-4D-5E,00-0C-29-AB-CD-EF",
       "192.168.0.5,fe80::1,10.0.0.7"},
      {"adapters without address or IP add nothing",
       {Adapter({}, {"10.0.0.1"}), Adapter(MacA, {}), Adapter(MacB, {""})},
       ',',
       "00-1A-2B-3C-4D-5E,00-0C-29-AB-CD-EF",
       "10.0.0.1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetMacAddressList(c.separator, Machine(c.adapters)), c.macs) << c.label;
    EXPECT_EQ(GetIpAddressList(c.separator, Machine(c.adapters)), c.ips) << c.label;
  }
}

TEST(AllowRule, DecidesByTheMachinesAddresses) {
  const std::vector<SystemAdapter> one = {Adapter(MacA, {"192.168.0.5"})};
  const std::vector<SystemAdapter> two = {Adapter(MacB, {}), Adapter(MacA, {})};
  const std::vector<SystemAdapter> none = {};
  struct Case {
    const char* label;
    std::string allow;
    std::string block;
    const std::vector<SystemAdapter>& machine;
    bool result;
  };
  const Case cases[] = {
      {"no lists", "", "", one, true},
      {"both lists, this machine in neither", "AA-BB-CC-DD-EE-FF", "11-22-33-44-55-66", one, false},
      {"both lists, this machine in allow", "00-1A-2B-3C-4D-5E", "11-22-33-44-55-66", one, false},
      {"allowed inside other text", "PC7=00-1A-2B-3C-4D-5E; PC8=rest", "", one, true},
      {"colons never match", "00:1A:2B:3C:4D:5E", "", one, false},
      {"second adapter allowed", "00-1A-2B-3C-4D-5E", "", two, true},
      {"blocked in lower case", "", "x 00-1a-2b-3c-4d-5e y", one, false},
      {"allow-only, no adapters", "00-1A-2B-3C-4D-5E", "", none, false},
      {"block-only, no adapters", "", "00-1A-2B-3C-4D-5E", none, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Allow(c.allow, c.block, Machine(c.machine)), c.result) << c.label;
}

TEST(NetworkAdapters, TheMachinesOwnListLeavesOutLoopbackAndZeroAddresses) {
  for (const SystemAdapter& adapter : ListSystemAdapters()) {
    EXPECT_NE(adapter.Type, adaptertype::Loopback) << adapter.Name;
    EXPECT_NE(adapter.Name, "lo");
    if (!adapter.HardwareAddress.empty()) {
      bool allZero = true;
      for (std::uint8_t byte : adapter.HardwareAddress) allZero = allZero && byte == 0;
      EXPECT_FALSE(allZero) << adapter.Name;
    }
    for (const std::string& ip : adapter.IpAddresses) {
      EXPECT_NE(ip, "127.0.0.1");
      EXPECT_NE(ip, "::1");
    }
  }
}

}  // namespace
}  // namespace tandor
